#include "server/rpc/CompanyScope.h"

namespace srv {

namespace {
const CompanyScope& unrestricted()
{
    static const CompanyScope scope;
    return scope;
}
thread_local const CompanyScope* t_current = nullptr;
} // namespace

CompanyScope::CompanyScope(const QStringList& companies) : m_limited(true)
{
    for (const QString& c : companies)
        if (!c.trimmed().isEmpty())
            m_companies.insert(c.trimmed());
}

const CompanyScope& CompanyScope::current() { return t_current ? *t_current : unrestricted(); }

CompanyScopeGuard::CompanyScopeGuard(const CompanyScope& scope) : m_previous(t_current) { t_current = &scope; }

CompanyScopeGuard::~CompanyScopeGuard() { t_current = m_previous; }

} // namespace srv
