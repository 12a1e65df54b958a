#include "server/mail/LetterMessage.h"

#include <QStringList>

namespace srv::mail {

namespace {

QString keyInGroups(const QString& key)
{
    QStringList groups;
    for (qsizetype i = 0; i < key.size(); i += 4)
        groups << key.mid(i, 4);
    return groups.join(QLatin1Char(' '));
}

// The event's ";" stands for a line break, as on the printed letter.
QString correctionLines(const QString& text)
{
    QStringList lines;
    for (const QString& part : QString(text)
                                   .replace(QStringLiteral("\r\n"), QStringLiteral(";"))
                                   .replace(QLatin1Char('\n'), QLatin1Char(';'))
                                   .split(QLatin1Char(';')))
        if (!part.trimmed().isEmpty())
            lines << part.trimmed();
    return lines.join(QLatin1Char('\n'));
}

QString issuer(const LetterMail& l)
{
    if (l.branchName.isEmpty())
        return l.companyName;
    return l.companyName.isEmpty() ? l.branchName : l.companyName + QStringLiteral(" - ") + l.branchName;
}

} // namespace

QString attachmentStem(const LetterMail& letter)
{
    return QStringLiteral("%1-%2-procEventoNFe").arg(letter.chNFe).arg(letter.seq.toInt());
}

MailMessage letterMessage(const LetterMail& l, bool carrier, const QStringList& to, const QString& from,
                          const QByteArray& pdf)
{
    MailMessage m;
    m.reference = QStringLiteral("%1-%2-%3")
                      .arg(l.chNFe, l.seq, carrier ? QStringLiteral("transportadora") : QStringLiteral("destinatario"));
    m.fromAddress = from;
    m.fromName = l.companyName;
    m.to = to;
    m.subject = QStringLiteral("Carta de Correção Eletrônica nº %1 da NF-e nº %2 - %3")
                    .arg(l.seq, l.nrNotaFiscal, l.companyName);

    QStringList body;
    body << QStringLiteral("Prezados,") << QString();
    QString intro = QStringLiteral("Segue a Carta de Correção Eletrônica (CC-e) nº %1 da NF-e nº %2, série %3, "
                                   "emitida por %4")
                        .arg(l.seq, l.nrNotaFiscal, l.serie, issuer(l));
    if (!l.protocol.isEmpty())
        intro += QStringLiteral(", registrada pela SEFAZ com o protocolo %1").arg(l.protocol);
    if (!l.protocol.isEmpty() && !l.registeredAt.isEmpty())
        intro += QStringLiteral(" em %1 (horário do estado emitente)").arg(l.registeredAt);
    body << intro + QLatin1Char('.');
    if (l.tpAmb == QLatin1String("2"))
        body << QStringLiteral("Emitida em ambiente de homologação, sem valor fiscal.");
    body << QString() << QStringLiteral("Chave de acesso: %1").arg(keyInGroups(l.chNFe)) << QString()
         << QStringLiteral("Correção:") << correctionLines(l.correction) << QString()
         << QStringLiteral("Em anexo, o XML do evento (procEventoNFe) e a carta de correção em PDF.") << QString()
         << issuer(l) << QStringLiteral("Mensagem enviada automaticamente; não é preciso respondê-la.");
    m.body = body.join(QLatin1Char('\n')) + QLatin1Char('\n');

    const QString stem = attachmentStem(l);
    m.attachments << Attachment{stem + QStringLiteral(".xml"), "application/xml", l.procEvento}
                  << Attachment{stem + QStringLiteral(".pdf"), "application/pdf", pdf};
    return m;
}

} // namespace srv::mail
