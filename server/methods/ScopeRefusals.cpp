#include "server/methods/ScopeRefusals.h"

#include "server/methods/Messages.h"
#include "server/rpc/CompanyScope.h"
#include "server/store/InvoiceStore.h"
#include "server/store/ParameterStore.h"

namespace srv::methods {

QString companyScopeRefusal(const QString& company)
{
    return CompanyScope::current().allows(company) ? QString() : msg::acessoEmpresa(company.trimmed());
}

namespace {
// The first of the companies that the caller may not reach.
QString firstOutside(const QStringList& companies)
{
    for (const QString& company : companies) {
        const QString refusal = companyScopeRefusal(company);
        if (!refusal.isEmpty())
            return refusal;
    }
    return QString();
}
} // namespace

QString branchScopeRefusal(Store& store, const QString& filial)
{
    if (CompanyScope::current().everyCompany())
        return QString();
    return firstOutside(ParameterStore(store).companiesOfBranch(filial));
}

QString invoiceScopeRefusal(Store& store, const QString& filial, const QString& lancto)
{
    return invoicesScopeRefusal(store, {{filial, lancto}});
}

QString invoicesScopeRefusal(Store& store, const QList<QPair<QString, QString>>& invoices)
{
    if (CompanyScope::current().everyCompany() || invoices.isEmpty())
        return QString();
    return firstOutside(InvoiceStore(store).companiesOf(invoices));
}

} // namespace srv::methods
