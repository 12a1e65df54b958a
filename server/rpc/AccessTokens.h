#pragma once
// The bearer tokens a server accepts, each with the companies it may reach. Checking
// takes the same time whatever the presented token shares with a configured one, so
// timing gives nothing away.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include "server/rpc/CompanyScope.h"

namespace srv {

class AccessTokens {
public:
    AccessTokens() = default;
    // companies: the tokens limited to some companies (CDEMPRESA); the others reach every one.
    explicit AccessTokens(const QStringList& tokens, const QHash<QString, QStringList>& companies = {});

    // No tokens configured: every request is accepted (loopback only, see ServerConfig).
    bool required() const { return !m_tokens.isEmpty(); }

    // authorization is the request's Authorization header ("Bearer <token>").
    bool accepts(const QByteArray& authorization) const { return scopeFor(authorization) != nullptr; }
    // The caller's scope, or null when the token is refused. Lives as long as this object.
    const CompanyScope* scopeFor(const QByteArray& authorization) const;

private:
    struct Token {
        QByteArray digest; // SHA-256: equal lengths, nothing stored in clear
        CompanyScope scope;
    };
    QList<Token> m_tokens;
    CompanyScope m_everyCompany;
};

} // namespace srv
