#pragma once
// The bearer tokens a server accepts. Checking takes the same time whatever the
// presented token shares with a configured one, so timing gives nothing away.
#include <QByteArray>
#include <QList>
#include <QStringList>

namespace srv {

class AccessTokens {
public:
    AccessTokens() = default;
    explicit AccessTokens(const QStringList& tokens);

    // No tokens configured: every request is accepted (loopback only, see ServerConfig).
    bool required() const { return !m_digests.isEmpty(); }

    // authorization is the request's Authorization header ("Bearer <token>").
    bool accepts(const QByteArray& authorization) const;

private:
    QList<QByteArray> m_digests; // SHA-256 of each token: equal lengths, nothing stored in clear
};

} // namespace srv
