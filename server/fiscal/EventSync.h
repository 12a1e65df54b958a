#pragma once
// The authority's registry brought in on demand (cce-server --sync-events): for each
// invoice of a company that has letters, or was issued in the period, the protocol query
// (NFeConsultaProtocolo4) is asked and its answer set against the invoice's letters as the
// transmission does (RegistryReconciler). One call at a time with a pause between calls, as
// the authorities ask; an invoice read recently with nothing left in doubt is in step and not
// asked again.
#include <QDate>
#include <QString>
#include <functional>
#include <memory>

#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/CertificateStore.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/fiscal/RegistryReconciler.h"

namespace srv::fiscal {

class EventSync {
public:
    EventSync(Store& store, FiscalConfig config, std::shared_ptr<Authority> authority);

    struct Summary {
        int invoices = 0; // asked about
        int imported = 0, moved = 0, adopted = 0, conflicts = 0, absent = 0;
        int failures = 0; // invoices whose registry could not be read
        int unconfigured = 0; // invoices of an authority or environment with no query address
    };
    // filial and lancto: one invoice alone (read whatever its last reading); else every
    // invoice of the company not in step. Each finding goes to print, one line each.
    Summary run(const QString& company, const QDate& since, const QString& filial, const QString& lancto,
                const std::function<void(const QString&)>& print);

private:
    Store& m_store;
    FiscalConfig m_config;
    CertificateStore m_certificates;
    std::shared_ptr<Authority> m_authority;
    RegistryReconciler m_reconciler;
};

} // namespace srv::fiscal
