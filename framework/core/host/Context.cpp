#include "core/host/Context.h"

namespace fw {

namespace {
HostContext& storage()
{
    static HostContext context;
    return context;
}
} // namespace

HostContext& hostContext() { return storage(); }

void setHostContext(const HostContext& context) { storage() = context; }

} // namespace fw

QString EmprProc() { return fw::hostContext().company; }
QString FiliProc() { return fw::hostContext().branch; }

// Without a billing branch of its own the user bills from the current branch.
QString FiliProcFat()
{
    const fw::HostContext& c = fw::hostContext();
    return c.billingBranch.isEmpty() ? c.branch : c.billingBranch;
}

bool ModuFili() { return fw::hostContext().branchMode; }
int ModuloAtiv() { return fw::hostContext().module; }

QDate DataProc(const QString& branch)
{
    const fw::HostContext& c = fw::hostContext();
    const QString key = branch.trimmed();
    if (!key.isEmpty()) {
        const auto it = c.branchProcessingDates.constFind(key);
        if (it != c.branchProcessingDates.constEnd() && it->isValid())
            return *it;
    }
    return c.processingDate.isValid() ? c.processingDate : QDate::currentDate();
}

QString WebURL() { return fw::hostContext().serverHost; }
int WebPort() { return fw::hostContext().serverPort; }
