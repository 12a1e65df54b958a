#include "server/fiscal/EventSync.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QThread>

#include "nfe/Rejections.h"
#include "nfe/States.h"
#include "nfe/Status.h"
#include "server/store/RegistryStore.h"

namespace srv::fiscal {

EventSync::EventSync(Store& store, FiscalConfig config, std::shared_ptr<Authority> authority)
    : m_store(store),
      m_config(std::move(config)),
      m_certificates(m_config.certificateFolder, m_config.certificatePassword,
                     m_config.token.configured() ? Pkcs11Token::shared(m_config.token) : nullptr),
      m_authority(std::move(authority)),
      m_reconciler(store)
{}

EventSync::Summary EventSync::run(const QString& company, const QDate& since, const QString& filial,
                                  const QString& lancto, const std::function<void(const QString&)>& print)
{
    Summary s;
    const QString readSince = QDateTime::currentDateTimeUtc()
                                  .addSecs(-qint64(m_config.syncIntervalHours) * 3600)
                                  .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const QList<RegistryInvoice> invoices =
        RegistryStore(m_store).syncInvoices(company, since, filial, lancto, readSince);
    QDeadlineTimer nextCall(0);
    QHash<QString, int> unconfigured;
    for (const RegistryInvoice& i : invoices) {
        const QString who = QStringLiteral("NF %1 (%2/%3): ").arg(i.nrNotaFiscal, i.filial, i.lancto);
        const nfe::State* state = nfe::stateByUf(i.uf);
        QString error;
        if (!state || nfe::stateByIbge(i.chNFe.left(2).toInt()) != state) {
            ++s.failures;
            print(who + QStringLiteral("inscrição estadual sem UF válida ou de outra UF que a chave; não consultada."));
            continue;
        }
        const QString url = m_config.endpoint(state->authority, i.tpAmb, QStringLiteral("consulta"));
        if (url.isEmpty()) {
            // An installation may serve one environment only: told once per authority.
            const QString where = QStringLiteral("%1 (ambiente %2)").arg(state->authority, i.tpAmb);
            if (!unconfigured.contains(where))
                print(QStringLiteral("Endereço da consulta da SEFAZ %1 não configurado: suas notas não foram "
                                     "consultadas.")
                          .arg(where));
            unconfigured[where] += 1;
            ++s.unconfigured;
            continue;
        }
        const auto certificate = m_certificates.forIssuer(i.certificate, i.issuerDocument, &error);
        if (!certificate) {
            ++s.failures;
            print(who + error + QStringLiteral(" Não consultada."));
            continue;
        }
        // The authorities ask for calls spaced out; a pause between them, none before the first.
        while (!nextCall.hasExpired())
            QThread::msleep(quint64(qMax<qint64>(1, nextCall.remainingTime())));
        ++s.invoices;
        const ProtocolAnswer answer = consultProtocol(*m_authority, url, i.tpAmb, i.chNFe, *certificate, &error);
        nextCall.setRemainingTime(m_config.syncPauseMs);
        if (!answer.readable || !registryRead(answer)) {
            ++s.failures;
            print(who + QStringLiteral("consulta à SEFAZ falhou: %1")
                            .arg(answer.readable ? nfe::explainAnswer(answer.cStat, answer.xMotivo, 1000) : error));
            continue;
        }
        if (answer.cStat == nfe::status::kCancelled && i.situacao != QLatin1String("C"))
            print(who + QStringLiteral("a SEFAZ dá a NF-e como cancelada (%1 - %2); no sistema ela não está.")
                            .arg(answer.cStat, answer.xMotivo));
        const Reconciliation r = m_reconciler.reconcile(
            {i.filial, i.lancto, i.chNFe, state, state->foldAccents || m_config.foldAccents.contains(i.uf)}, answer);
        for (const QString& line : r.imported)
            print(who + line);
        for (const QString& line : r.conflicts)
            print(who + QStringLiteral("divergência: ") + line);
        switch (r.ours) {
        case Reconciliation::Ours::Adopted: ++s.adopted; break;
        case Reconciliation::Ours::Moved:
        case Reconciliation::Ours::Blocked: ++s.moved; break;
        case Reconciliation::Ours::Changed: ++s.failures; break;
        default: break;
        }
        if (!r.line.isEmpty())
            print(who + QStringLiteral("CC-e %1: %2").arg(r.oursSeq, r.line));
        s.imported += int(r.imported.size());
        s.conflicts += int(r.conflicts.size());
        s.absent += r.absent;
    }
    return s;
}

} // namespace srv::fiscal
