#pragma once
// The bearer tokens a server accepts, each with the companies it may reach and the name
// the log and the audit trail give it (never the token itself). A token is configured in
// clear or as a slow hash (TokenHash.h). Checking a token in clear takes the same time
// whatever the presented token shares with a configured one; a hashed one is checked once
// (slowly, off the connection loop: check()) and its outcome remembered under a keyed
// digest, so later requests with it cost no more than a token in clear.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>
#include <deque>
#include <mutex>

#include "server/rpc/CompanyScope.h"

namespace srv {

class AccessTokens {
public:
    // What a token gives its caller.
    struct Grant {
        CompanyScope scope;
        QString name; // empty: no authentication configured
    };
    enum class Lookup { Granted, Refused, Unchecked };

    AccessTokens() = default;
    // companies: the tokens limited to some companies (CDEMPRESA); the others reach every one.
    // names: each token's name; a token without one is named by its place in the list ("token#2").
    // A token written as a hash that is malformed admits nobody.
    explicit AccessTokens(const QStringList& tokens, const QHash<QString, QStringList>& companies = {},
                          const QHash<QString, QString>& names = {});

    // No tokens configured: every request is accepted (loopback only, see ServerConfig).
    bool required() const { return !m_tokens.isEmpty(); }

    // Quick, from the request's Authorization header ("Bearer <token>"): Granted with *grant
    // set, Refused, or Unchecked when only check(*presented) can tell (a hashed token not
    // seen yet).
    Lookup lookup(const QByteArray& authorization, const Grant** grant, QByteArray* presented) const;
    // Slow: compares a presented token with every hashed one and remembers the outcome; the
    // grant, or null. Safe from any thread.
    const Grant* check(const QByteArray& presented) const;

    // Both in one, for callers that may wait.
    const Grant* grantFor(const QByteArray& authorization) const;
    const CompanyScope* scopeFor(const QByteArray& authorization) const
    {
        const Grant* g = grantFor(authorization);
        return g ? &g->scope : nullptr;
    }

private:
    struct Token {
        QByteArray digest; // in clear: its SHA-256 (equal lengths, nothing kept in clear)
        QString hashed; // hashed: the configured hash
        Grant grant;
    };
    QByteArray keyed(const QByteArray& presented) const;
    void remember(const QByteArray& key, int index) const;

    QList<Token> m_tokens;
    bool m_anyHashed = false;
    Grant m_everyone;
    QByteArray m_key; // this process's key for the digests remembered
    mutable std::mutex m_mutex;
    mutable QHash<QByteArray, int> m_checked; // keyed digest -> token index, -1 refused
    mutable std::deque<QByteArray> m_refusedOrder; // the refused ones, oldest first (bounded)
};

} // namespace srv
