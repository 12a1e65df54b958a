#pragma once
// A stand-in of the authority inside the test: reads the batches the service sends,
// answers each event as the test says (135 by default, in reverse order), keeps the
// events it registered for the protocol query, and can lose its answer.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QRegularExpression>
#include <functional>

#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/Soap.h"

class FakeAuthority : public srv::fiscal::Authority {
public:
    enum class Mode { Answer, NotSent, LoseAnswerAfterRegistering, LoseAnswerBeforeRegistering, RefuseBatch };
    Mode mode = Mode::Answer;
    bool omitKeys = false; // retEvento without chNFe/tpEvento/nSeqEvento
    bool reversed = true; // answers in an order of its own
    std::function<QString(const QString& chNFe)> cStatFor = [](const QString&) { return QStringLiteral("135"); };

    struct Registered {
        QByteArray evento, retEvento;
        QString cStat;
    };
    QHash<QString, Registered> registered; // chNFe|seq
    int batches = 0, queries = 0, eventsReceived = 0;
    QList<QByteArray> lastBatch;
    QStringList urls; // every call's address, in order

    // An event registered by someone else (another system of the company, say).
    void registerEvent(const QByteArray& signedEvento)
    {
        QMutexLocker lock(&m_mutex);
        const QString ch = value(signedEvento, "chNFe"), seq = value(signedEvento, "nSeqEvento");
        registered.insert(ch + QLatin1Char('|') + seq,
                          {signedEvento, retEvento(ch, seq, QStringLiteral("135")), QStringLiteral("135")});
    }

    srv::fiscal::AuthorityReply call(const QString& url, const QByteArray& service, const QByteArray& soap,
                                     const srv::fiscal::LoadedCertificate&) override
    {
        QMutexLocker lock(&m_mutex);
        urls << url;
        srv::fiscal::AuthorityReply r;
        if (mode == Mode::NotSent) {
            r.outcome = srv::fiscal::AuthorityReply::Outcome::NotSent;
            r.error = QStringLiteral("SEFAZ indisponível; nada foi enviado.");
            return r;
        }
        if (service == srv::fiscal::kConsultaProtocolo)
            return query(soap);
        ++batches;
        lastBatch = elements(soap, "evento");
        eventsReceived += int(lastBatch.size());
        if (mode == Mode::LoseAnswerBeforeRegistering) {
            r.outcome = srv::fiscal::AuthorityReply::Outcome::NoAnswer;
            r.error = QStringLiteral("Sem resposta da SEFAZ.");
            return r;
        }
        QList<QByteArray> answers;
        for (const QByteArray& ev : lastBatch) {
            const QString ch = value(ev, "chNFe"), seq = value(ev, "nSeqEvento");
            QString cStat = cStatFor(ch);
            if (mode == Mode::Answer || mode == Mode::LoseAnswerAfterRegistering) {
                if (registered.contains(ch + QLatin1Char('|') + seq) && cStat == QLatin1String("135"))
                    cStat = QStringLiteral("573");
            }
            const QByteArray ret = retEvento(ch, seq, cStat);
            if (cStat == QLatin1String("135"))
                registered.insert(ch + QLatin1Char('|') + seq, {ev, ret, cStat});
            answers << ret;
        }
        if (mode == Mode::LoseAnswerAfterRegistering) {
            r.outcome = srv::fiscal::AuthorityReply::Outcome::NoAnswer;
            r.error = QStringLiteral("Sem resposta da SEFAZ.");
            return r;
        }
        if (reversed)
            std::reverse(answers.begin(), answers.end());
        QByteArray body =
            "<retEnvEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><idLote>1</idLote>"
            "<tpAmb>2</tpAmb><verAplic>TESTE</verAplic><cOrgao>35</cOrgao>";
        if (mode == Mode::RefuseBatch)
            body += "<cStat>215</cStat><xMotivo>Rejeicao: Falha no schema XML</xMotivo></retEnvEvento>";
        else
            body +=
                "<cStat>128</cStat><xMotivo>Lote de Evento Processado</xMotivo>" + answers.join() + "</retEnvEvento>";
        r.outcome = srv::fiscal::AuthorityReply::Outcome::Answered;
        r.httpStatus = 200;
        r.body = wrap("NFeRecepcaoEvento4", body);
        return r;
    }

    static QString value(const QByteArray& xml, const char* tag)
    {
        const QRegularExpression re(QStringLiteral("<%1>([^<]*)</%1>").arg(QLatin1String(tag)));
        return re.match(QString::fromUtf8(xml)).captured(1);
    }
    static QList<QByteArray> elements(const QByteArray& xml, const char* tag)
    {
        QList<QByteArray> out;
        const QByteArray open = QByteArray("<") + tag + " ", close = QByteArray("</") + tag + ">";
        for (qsizetype at = xml.indexOf(open); at >= 0; at = xml.indexOf(open, at + 1)) {
            const qsizetype end = xml.indexOf(close, at);
            out << xml.mid(at, end + close.size() - at);
        }
        return out;
    }

private:
    QByteArray retEvento(const QString& ch, const QString& seq, const QString& cStat)
    {
        const bool ok = cStat == QLatin1String("135");
        QByteArray x =
            "<retEvento versao=\"1.00\"><infEvento Id=\"ID" + QByteArray::number(++m_prot + 135260000000000LL) +
            "\"><tpAmb>2</tpAmb><verAplic>TESTE</verAplic>"
            "<cOrgao>35</cOrgao><cStat>" +
            cStat.toUtf8() + "</cStat><xMotivo>" +
            (ok ? QByteArray("Evento registrado e vinculado a NF-e") : QByteArray("Rejeicao do teste")) + "</xMotivo>";
        if (!omitKeys)
            x += "<chNFe>" + ch.toUtf8() +
                 "</chNFe><tpEvento>110110</tpEvento><xEvento>Carta de Correcao</xEvento>"
                 "<nSeqEvento>" +
                 seq.toUtf8() + "</nSeqEvento>";
        if (ok)
            x += "<dhRegEvento>2026-12-08T10:00:00-03:00</dhRegEvento><nProt>1352600000" +
                 QByteArray::number(++m_prot).rightJustified(5, '0') + "</nProt>";
        return x + "</infEvento></retEvento>";
    }

    srv::fiscal::AuthorityReply query(const QByteArray& soap)
    {
        ++queries;
        const QString ch = value(soap, "chNFe");
        QByteArray body = "<retConsSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2</tpAmb>"
                          "<verAplic>TESTE</verAplic><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>"
                          "<cUF>35</cUF><chNFe>" +
                          ch.toUtf8() + "</chNFe>";
        for (auto it = registered.constBegin(); it != registered.constEnd(); ++it)
            if (it.key().startsWith(ch))
                body += "<procEventoNFe versao=\"1.00\">" + it->evento + it->retEvento + "</procEventoNFe>";
        body += "</retConsSitNFe>";
        srv::fiscal::AuthorityReply r;
        r.outcome = srv::fiscal::AuthorityReply::Outcome::Answered;
        r.httpStatus = 200;
        r.body = wrap("NFeConsultaProtocolo4", body);
        return r;
    }
    static QByteArray wrap(const char* service, const QByteArray& body)
    {
        return QByteArray("<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body>"
                          "<nfeResultMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/") +
               service + "\">" + body + "</nfeResultMsg></soap:Body></soap:Envelope>";
    }
    QMutex m_mutex;
    int m_prot = 0;
};
