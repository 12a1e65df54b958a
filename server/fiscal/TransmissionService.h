#pragma once
// The transmission of correction letters to the tax authority: the marked invoices'
// latest letters, read from the database, become signed events in batches per authority
// (at most 20, one state and one certificate each; signed first, so that a key that fails,
// a token removed, leaves each letter as it was), claimed before anything is sent,
// checked against the schema, sent, and each letter's outcome stored before the answer.
// A letter is accepted only on the authority's word about that very event; a letter whose
// answer was lost stays in doubt and is reconciled (NFeConsultaProtocolo4) before it is ever
// sent again, and so is the first letter of an invoice the authority never answered about,
// since other systems may have registered letters on it (RegistryReconciler).
#include <QElapsedTimer>
#include <QSemaphore>
#include <QVariant>
#include <memory>

#include "core/values/Packet.h"
#include "nfe/Schema.h"
#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/CertificateStore.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/fiscal/RegistryReconciler.h"
#include "server/fiscal/Transmitter.h"
#include "server/store/BatchStore.h"

namespace srv::fiscal {

class TransmissionService : public Transmitter {
public:
    // authority: the client of the real services, or a stand-in's in tests.
    TransmissionService(Store& store, FiscalConfig config, std::shared_ptr<Authority> authority);

    // TransmiteCCe: ["S", lines], ["N", "CCE_DEVE_SELECAO"], ["N", lines] or an error text.
    QVariant transmit(const fw::DataPacket& notas, const QString& company, const QString& condUso) override;

    // A letter claimed this recently may still be on its way from another call: left alone.
    void setInFlightWindowMs(int ms) { m_inFlightMs = ms; }

    // Settles up to limit letters left in doubt, of every company, without anyone asking:
    // each is reconciled with the authority as a transmission would; one the authority has
    // not registered is pending again (the user transmits it when he wants). A letter whose
    // call may still be under way, or that the authority cannot answer for now, stays in doubt.
    struct Settled {
        int adopted = 0, released = 0, unsettled = 0, underWay = 0;
    };
    Settled reconcileInDoubt(int limit);

private:
    struct Pending;
    // Free: the letter may go as it is; Settled: the registry decided it (line set);
    // Unknown: the registry could not be read (line set).
    enum class Reconciled { Free, Settled, Unknown };
    Reconciled readRegistry(Pending& p, QElapsedTimer& clock);
    void sendGroup(QList<Pending*> group, const QString& company, const QString& condUso, QElapsedTimer& clock,
                   QStringList* notices);

    Store& m_store;
    BatchStore m_batches;
    RegistryReconciler m_reconciler;
    FiscalConfig m_config;
    CertificateStore m_certificates;
    std::shared_ptr<Authority> m_authority;
    std::shared_ptr<const nfe::Schema> m_schema;
    QString m_schemaError;
    int m_budgetMs = 90000; // the longest a call may take; below the client's own timeout
    int m_inFlightMs = 90000;
    // Transmissions wait on the authority: only a few at once, so that they never take
    // the workers that lists and letter saves need.
    QSemaphore m_slots{2};
};

} // namespace srv::fiscal
