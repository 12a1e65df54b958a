#include "server/rpc/TokenHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <QStringList>

namespace srv::tokenhash {

namespace {

constexpr QLatin1String kScheme{"scrypt$"};
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
// Bounds a configuration may ask for: at least 2^14 (the least scrypt's authors advise for
// logins) and at most 2^20 with r 8 (1 GiB), so a hash cannot ask the server for more.
constexpr int kMinLogN = 14, kMaxLogN = 20;

struct Parts {
    int logN = 0, r = 0, p = 0;
    QByteArray salt, hash;
};

QByteArray decode(const QString& text)
{
    const auto r = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    return r ? *r : QByteArray();
}

bool parse(const QString& text, Parts* out, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const QStringList f = text.trimmed().split(QLatin1Char('$'));
    if (f.size() != 6 || f[0] != QLatin1String("scrypt"))
        return fail(QStringLiteral("hash de token malformado: o formato é scrypt$N$r$p$sal$hash "
                                   "(gere-o com cce-server --hash-token)"));
    bool ok1 = false, ok2 = false, ok3 = false;
    out->logN = f[1].toInt(&ok1);
    out->r = f[2].toInt(&ok2);
    out->p = f[3].toInt(&ok3);
    out->salt = decode(f[4]);
    out->hash = decode(f[5]);
    if (!ok1 || !ok2 || !ok3 || out->logN < kMinLogN || out->logN > kMaxLogN || out->r < 1 || out->r > 16 ||
        out->p < 1 || out->p > 4)
        return fail(QStringLiteral("hash de token com parâmetros fora dos limites (N de 2^%1 a 2^%2, r de 1 a 16, "
                                   "p de 1 a 4)")
                        .arg(kMinLogN)
                        .arg(kMaxLogN));
    if (out->salt.size() < 8 || out->hash.size() != kHashBytes)
        return fail(QStringLiteral("hash de token com sal ou hash de tamanho inválido"));
    return true;
}

QByteArray derive(const QByteArray& token, const Parts& parts, int length)
{
    QByteArray out(length, Qt::Uninitialized);
    const uint64_t n = uint64_t(1) << parts.logN;
    // scrypt needs 128 * r * N bytes (and p times a little more); allow that and no more.
    const uint64_t maxMem = 128 * uint64_t(parts.r) * (n + uint64_t(parts.p)) + (uint64_t(1) << 20);
    if (EVP_PBE_scrypt(token.constData(), size_t(token.size()),
                       reinterpret_cast<const unsigned char*>(parts.salt.constData()), size_t(parts.salt.size()), n,
                       uint64_t(parts.r), uint64_t(parts.p), maxMem, reinterpret_cast<unsigned char*>(out.data()),
                       size_t(length)) != 1)
        return QByteArray();
    return out;
}

QString base64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64(QByteArray::OmitTrailingEquals)); }

} // namespace

bool looksHashed(const QString& text) { return text.trimmed().startsWith(kScheme); }

bool isValid(const QString& hashed, QString* error)
{
    Parts parts;
    return parse(hashed, &parts, error);
}

QString make(const QByteArray& token, int logN)
{
    Parts parts;
    parts.logN = logN;
    parts.r = 8;
    parts.p = 1;
    parts.salt.resize(kSaltBytes);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(parts.salt.data()), kSaltBytes) != 1)
        return QString();
    const QByteArray hash = derive(token, parts, kHashBytes);
    if (hash.isEmpty())
        return QString();
    return QStringLiteral("scrypt$%1$%2$%3$%4$%5")
        .arg(parts.logN)
        .arg(parts.r)
        .arg(parts.p)
        .arg(base64(parts.salt), base64(hash));
}

bool matches(const QString& hashed, const QByteArray& token)
{
    Parts parts;
    if (!parse(hashed, &parts, nullptr))
        return false;
    const QByteArray derived = derive(token, parts, int(parts.hash.size()));
    return derived.size() == parts.hash.size() &&
           CRYPTO_memcmp(derived.constData(), parts.hash.constData(), size_t(derived.size())) == 0;
}

} // namespace srv::tokenhash
