#include "server/rpc/AccessTokens.h"

#include <QCryptographicHash>

namespace srv {

namespace {

QByteArray digest(const QByteArray& token) { return QCryptographicHash::hash(token, QCryptographicHash::Sha256); }

// Looks at every byte whatever the outcome.
bool sameDigest(const QByteArray& a, const QByteArray& b)
{
    unsigned char diff = static_cast<unsigned char>(a.size() ^ b.size());
    const qsizetype n = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

AccessTokens::AccessTokens(const QStringList& tokens)
{
    for (const QString& t : tokens) {
        const QByteArray token = t.trimmed().toUtf8();
        if (!token.isEmpty())
            m_digests.append(digest(token));
    }
}

bool AccessTokens::accepts(const QByteArray& authorization) const
{
    if (!required())
        return true;
    static const QByteArray scheme("bearer ");
    const QByteArray header = authorization.trimmed();
    if (header.size() <= scheme.size() || header.left(scheme.size()).toLower() != scheme)
        return false;
    const QByteArray token = header.mid(scheme.size()).trimmed();
    if (token.isEmpty())
        return false;
    const QByteArray presented = digest(token);
    bool accepted = false;
    for (const QByteArray& d : m_digests)
        accepted |= sameDigest(presented, d); // no early exit: every token is compared
    return accepted;
}

} // namespace srv
