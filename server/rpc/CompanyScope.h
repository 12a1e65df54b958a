#pragma once
// The companies a caller may reach. A token of the configuration may be limited to a
// list of companies (CDEMPRESA); a token without a list, or no authentication at all,
// reaches every company. The transport sets the caller's scope around each method call,
// so the methods ask CompanyScope::current() instead of carrying it in every signature.
#include <QSet>
#include <QString>
#include <QStringList>

namespace srv {

class CompanyScope {
public:
    CompanyScope() = default; // every company
    explicit CompanyScope(const QStringList& companies);

    bool everyCompany() const { return !m_limited; }
    bool allows(const QString& company) const { return !m_limited || m_companies.contains(company.trimmed()); }

    // The scope of the call running on this thread; every company outside a call.
    static const CompanyScope& current();

private:
    bool m_limited = false;
    QSet<QString> m_companies;
};

// Makes a scope the current one of this thread for as long as it lives.
class CompanyScopeGuard {
public:
    explicit CompanyScopeGuard(const CompanyScope& scope);
    ~CompanyScopeGuard();
    CompanyScopeGuard(const CompanyScopeGuard&) = delete;
    CompanyScopeGuard& operator=(const CompanyScopeGuard&) = delete;

private:
    const CompanyScope* m_previous;
};

} // namespace srv
