#include "server/rpc/AccessTokens.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include "server/rpc/TokenHash.h"

namespace srv {

namespace {

// Wrong tokens remembered, so one repeated costs no slow check; beyond, the oldest go.
constexpr size_t kRefusedRemembered = 4096;

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

QByteArray presentedToken(const QByteArray& authorization)
{
    static const QByteArray scheme("bearer ");
    const QByteArray header = authorization.trimmed();
    if (header.size() <= scheme.size() || header.left(scheme.size()).toLower() != scheme)
        return QByteArray();
    return header.mid(scheme.size()).trimmed();
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
        Token token;
        token.grant = Grant{limited == companies.constEnd() ? CompanyScope() : CompanyScope(limited.value()),
                            names.value(trimmed, QStringLiteral("token#%1").arg(m_tokens.size() + 1))};
        if (tokenhash::looksHashed(trimmed)) {
            token.hashed = trimmed;
            m_anyHashed = true;
        } else {
            token.digest = digest(trimmed.toUtf8());
        }
        m_tokens.append(token);
    }
    if (m_anyHashed) {
        m_key.resize(32);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(m_key.data()), 8);
    }
}

QByteArray AccessTokens::keyed(const QByteArray& presented) const
{
    return QMessageAuthenticationCode::hash(presented, m_key, QCryptographicHash::Sha256);
}

AccessTokens::Lookup AccessTokens::lookup(const QByteArray& authorization, const Grant** grant,
                                          QByteArray* presented) const
{
    *grant = nullptr;
    if (!required()) {
        *grant = &m_everyone;
        return Lookup::Granted;
    }
    const QByteArray token = presentedToken(authorization);
    if (token.isEmpty())
        return Lookup::Refused;
    const QByteArray d = digest(token);
    for (const Token& t : m_tokens)
        if (t.hashed.isEmpty() && sameDigest(d, t.digest) && !*grant) // no early exit: every token is compared
            *grant = &t.grant;
    if (*grant)
        return Lookup::Granted;
    if (!m_anyHashed)
        return Lookup::Refused;
    const QByteArray key = keyed(token);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_checked.constFind(key);
    if (it == m_checked.constEnd()) {
        if (presented)
            *presented = token;
        return Lookup::Unchecked;
    }
    if (it.value() < 0)
        return Lookup::Refused;
    *grant = &m_tokens[it.value()].grant;
    return Lookup::Granted;
}

const AccessTokens::Grant* AccessTokens::check(const QByteArray& presented) const
{
    int found = -1;
    for (int i = 0; i < m_tokens.size(); ++i)
        if (!m_tokens[i].hashed.isEmpty() && tokenhash::matches(m_tokens[i].hashed, presented)) {
            found = i;
            break;
        }
    remember(keyed(presented), found);
    return found < 0 ? nullptr : &m_tokens[found].grant;
}

void AccessTokens::remember(const QByteArray& key, int index) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_checked.contains(key))
        return;
    m_checked.insert(key, index);
    if (index >= 0)
        return;
    m_refusedOrder.push_back(key);
    if (m_refusedOrder.size() > kRefusedRemembered) {
        m_checked.remove(m_refusedOrder.front());
        m_refusedOrder.pop_front();
    }
}

const AccessTokens::Grant* AccessTokens::grantFor(const QByteArray& authorization) const
{
    const Grant* grant = nullptr;
    QByteArray presented;
    const Lookup l = lookup(authorization, &grant, &presented);
    return l == Lookup::Unchecked ? check(presented) : grant;
}

} // namespace srv
