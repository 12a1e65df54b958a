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

AccessTokens::AccessTokens(const QStringList& tokens, const QHash<QString, QStringList>& companies,
                           const QHash<QString, QString>& names)
{
    for (const QString& t : tokens) {
        const QString trimmed = t.trimmed();
        if (trimmed.isEmpty())
            continue;
        const auto limited = companies.constFind(trimmed);
        const QString name = names.value(trimmed, QStringLiteral("token#%1").arg(m_tokens.size() + 1));
        m_tokens.append(
            Token{digest(trimmed.toUtf8()),
                  Grant{limited == companies.constEnd() ? CompanyScope() : CompanyScope(limited.value()), name}});
    }
}

const AccessTokens::Grant* AccessTokens::grantFor(const QByteArray& authorization) const
{
    if (!required())
        return &m_everyone;
    static const QByteArray scheme("bearer ");
    const QByteArray header = authorization.trimmed();
    if (header.size() <= scheme.size() || header.left(scheme.size()).toLower() != scheme)
        return nullptr;
    const QByteArray token = header.mid(scheme.size()).trimmed();
    if (token.isEmpty())
        return nullptr;
    const QByteArray presented = digest(token);
    const Grant* found = nullptr;
    for (const Token& t : m_tokens)
        if (sameDigest(presented, t.digest) && !found) // no early exit: every token is compared
            found = &t.grant;
    return found;
}

} // namespace srv
