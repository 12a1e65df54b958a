#include "server/mail/MailService.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <mutex>

#include "nfe/Status.h"
#include "server/mail/LetterMessage.h"
#include "server/mail/OutboxTransport.h"
#include "server/mail/SmtpTransport.h"
#include "vocabulary/Flags.h"

namespace srv::mail {

namespace {

Delivery refused(const QString& reason) { return Delivery{Delivery::Outcome::Refused, reason}; }

QString sentence(QString reason)
{
    if (!reason.isEmpty())
        reason[0] = reason.at(0).toUpper();
    return reason;
}

QString recipientLabel(const LetterMail& l)
{
    const QString kind = l.recipientKind == QLatin1String("C")   ? QStringLiteral("cliente")
                         : l.recipientKind == QLatin1String("F") ? QStringLiteral("fornecedor")
                                                                 : QStringLiteral("filial");
    QString label = QStringLiteral("%1 %2").arg(kind, l.recipientCode);
    if (!l.recipientName.isEmpty())
        label += QStringLiteral(" - ") + l.recipientName;
    return label;
}

// A registry field may hold several addresses separated by ";" or ",".
QStringList addresses(const QString& field, QString* invalid)
{
    QStringList out;
    for (const QString& a : field.split(QRegularExpression(QStringLiteral("[;,\\s]+")), Qt::SkipEmptyParts)) {
        if (!isMailAddress(a)) {
            *invalid = a.left(60);
            return {};
        }
        if (!out.contains(a, Qt::CaseInsensitive))
            out << a;
    }
    return out;
}

const QString kDefaultFrom = QStringLiteral("cce@localhost");

} // namespace

MailService::MailService(Store& store, MailConfig config, std::unique_ptr<MailTransport> transport,
                         std::unique_ptr<LetterPdf> pdf)
    : m_letters(store), m_config(std::move(config)), m_transport(std::move(transport)), m_pdf(std::move(pdf))
{}

std::unique_ptr<MailService> MailService::fromConfig(Store& store, const MailConfig& config, const TransportWrap& wrap)
{
    std::unique_ptr<MailTransport> transport;
    if (config.smtp())
        transport = std::make_unique<SmtpTransport>(config);
    else
        transport = std::make_unique<OutboxTransport>(config.outbox, config.timeoutMs);
    if (wrap)
        transport = wrap(std::move(transport));
    return std::make_unique<MailService>(store, config, std::move(transport), std::make_unique<ReportLetterPdf>(store));
}

Delivery MailService::send(const LetterMail& l, bool carrier)
{
    if (!nfe::status::eventRegistered(l.status))
        return refused(QStringLiteral("a carta de correção %1 não foi aceita pela SEFAZ; somente cartas aceitas são "
                                      "enviadas por e-mail.")
                           .arg(l.seq));
    if (!QRegularExpression(QStringLiteral("^[0-9]{44}$")).match(l.chNFe).hasMatch())
        return refused(QStringLiteral("a nota fiscal não tem uma chave de acesso válida."));
    if (l.procEvento.isEmpty())
        return refused(QStringLiteral("o XML do evento autorizado (procEventoNFe) da carta de correção %1 não está "
                                      "guardado no servidor.")
                           .arg(l.seq));

    QString field, invalid;
    if (carrier) {
        if (l.carrierDocument.isEmpty())
            return refused(QStringLiteral("a nota fiscal não tem transportadora."));
        if (!l.carrierRegistered)
            return refused(QStringLiteral("a transportadora %1 não está cadastrada.").arg(l.carrierDocument));
        field = l.carrierEmail;
        if (field.isEmpty())
            return refused(QStringLiteral("a transportadora %1 - %2 não tem e-mail cadastrado.")
                               .arg(l.carrierDocument, l.carrierName));
    } else {
        if (l.recipientCode.isEmpty() || !l.recipientRegistered)
            return refused(QStringLiteral("o destinatário (%1) não está cadastrado.").arg(recipientLabel(l)));
        field = l.recipientEmail;
        if (field.isEmpty())
            return refused(QStringLiteral("o destinatário (%1) não tem e-mail cadastrado.").arg(recipientLabel(l)));
    }
    const QStringList to = addresses(field, &invalid);
    if (to.isEmpty())
        return refused(QStringLiteral("o e-mail cadastrado %1 (%2) não é um endereço válido.")
                           .arg(carrier ? QStringLiteral("da transportadora") : QStringLiteral("do destinatário"),
                                invalid.isEmpty() ? field.left(60) : invalid));

    QByteArray pdf;
    QString error;
    if (!m_pdf->render(l, &pdf, &error))
        return refused(QStringLiteral("não foi possível gerar o PDF da carta de correção: %1").arg(error));
    const QString from = m_config.from.isEmpty() ? kDefaultFrom : m_config.from;
    Delivery d = m_transport->deliver(letterMessage(l, carrier, to, from, pdf));
    if (d.outcome != Delivery::Outcome::Accepted)
        return d;
    // The message is gone; only now is it recorded, in a transaction of its own.
    if (!m_letters.markSent(l.cdFilial, l.nrLanctoNF, l.seq, carrier))
        return refused(QStringLiteral("o e-mail foi enviado, mas a carta de correção %1 mudou de situação e o envio "
                                      "não foi registrado.")
                           .arg(l.seq));
    return d;
}

QString MailService::sendLetter(const QString& cdFilial, const QString& nrLanctoNF, const QString& nrSeqCCe,
                                bool carrier)
{
    const std::optional<LetterMail> l = m_letters.letter(cdFilial, nrLanctoNF, nrSeqCCe);
    if (!l)
        return QStringLiteral("Carta de correção %1 da nota fiscal (filial %2, lançamento %3) não encontrada.")
            .arg(nrSeqCCe, cdFilial, nrLanctoNF);
    const Delivery d = send(*l, carrier);
    if (d.outcome == Delivery::Outcome::Accepted)
        return QString();
    m_letters.recordFailure(l->cdFilial, l->nrLanctoNF, l->seq, carrier, d.reason);
    return sentence(d.reason);
}

QList<Mailer::Failure> MailService::sendPending(const QList<QPair<QString, QString>>& invoices)
{
    QList<Failure> failures;
    QElapsedTimer clock; // the waiting counts too: the caller's patience is one
    clock.start();
    // A second call meanwhile would send the same messages again: it waits its turn, for
    // a while, and then says why it sent nothing.
    if (!m_pending.tryLock(qMin(10000, m_config.batchTimeMs))) {
        for (const MailStore::PendingMail& p : m_letters.pendingRecipientMails(invoices))
            failures << Failure{p.cdFilial, p.nrLanctoNF,
                                QStringLiteral("não enviado: há outro envio de e-mails pendentes em andamento neste "
                                               "servidor; tente novamente em instantes.")};
        return failures;
    }
    std::unique_lock<QMutex> lock(m_pending, std::adopt_lock);
    const QList<MailStore::PendingMail> pending = m_letters.pendingRecipientMails(invoices);
    QString stopped; // nothing more can go in this call, and why
    for (const MailStore::PendingMail& p : pending) {
        if (stopped.isEmpty() && clock.elapsed() > m_config.batchTimeMs)
            stopped = QStringLiteral("não enviado: o tempo deste envio se esgotou; envie os pendentes novamente.");
        if (!stopped.isEmpty()) {
            failures << Failure{p.cdFilial, p.nrLanctoNF, stopped};
            continue;
        }
        const std::optional<LetterMail> l = m_letters.letter(p.cdFilial, p.nrLanctoNF, p.seq);
        if (!l || l->emailFlag != cce::email::kPending)
            continue; // sent meanwhile by a call for this invoice alone
        const Delivery d = send(*l, false);
        if (d.outcome == Delivery::Outcome::Accepted)
            continue;
        m_letters.recordFailure(l->cdFilial, l->nrLanctoNF, l->seq, false, d.reason);
        failures << Failure{p.cdFilial, p.nrLanctoNF, d.reason};
        if (d.outcome == Delivery::Outcome::Unavailable)
            stopped = d.reason + QStringLiteral(" Não enviado.");
    }
    return failures;
}

} // namespace srv::mail
