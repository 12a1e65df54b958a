#pragma once
// The bearer tokens a server accepts, each with the companies it may reach and the name
// the log and the audit trail give it (never the token itself). Checking takes the same
// time whatever the presented token shares with a configured one, so timing gives
// nothing away.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include "server/rpc/CompanyScope.h"

namespace srv {

class AccessTokens {
public:
    // What a token gives its caller.
    struct Grant {
        CompanyScope scope;
        QString name; // empty: no authentication configured
    };

    AccessTokens() = default;
    // companies: the tokens limited to some companies (CDEMPRESA); the others reach every one.
    // names: each token's name; a token without one is named by its place in the list ("token#2").
    explicit AccessTokens(const QStringList& tokens, const QHash<QString, QStringList>& companies = {},
                          const QHash<QString, QString>& names = {});

    // No tokens configured: every request is accepted (loopback only, see ServerConfig).
    bool required() const { return !m_tokens.isEmpty(); }

    // authorization is the request's Authorization header ("Bearer <token>").
    bool accepts(const QByteArray& authorization) const { return grantFor(authorization) != nullptr; }
    // The caller's grant, or null when the token is refused. Lives as long as this object.
    const Grant* grantFor(const QByteArray& authorization) const;
    const CompanyScope* scopeFor(const QByteArray& authorization) const
    {
        const Grant* g = grantFor(authorization);
        return g ? &g->scope : nullptr;
    }

private:
    struct Token {
        QByteArray digest; // SHA-256: equal lengths, nothing stored in clear
        Grant grant;
    };
    QList<Token> m_tokens;
    Grant m_everyone;
};

} // namespace srv
