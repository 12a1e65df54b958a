#include "nfe/Pkcs12.h"

#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

namespace nfe {

namespace {

QByteArray der(X509* cert)
{
    unsigned char* buf = nullptr;
    const int len = i2d_X509(cert, &buf);
    const QByteArray out = len > 0 ? QByteArray(reinterpret_cast<const char*>(buf), len) : QByteArray();
    OPENSSL_free(buf);
    return out;
}

// RC2 and friends live in OpenSSL 3's legacy provider; loaded once, beside the default
// one (loading any provider by hand stops the default from loading itself).
bool loadLegacy()
{
    static std::once_flag once;
    static bool loaded = false;
    std::call_once(once, [] {
        loaded = OSSL_PROVIDER_load(nullptr, "default") && OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
    });
    return loaded;
}

struct Parsed {
    EVP_PKEY* key = nullptr;
    X509* leaf = nullptr;
    STACK_OF(X509) * chain = nullptr;
    ~Parsed()
    {
        EVP_PKEY_free(key);
        X509_free(leaf);
        sk_X509_pop_free(chain, X509_free);
    }
};

enum class Fault { None, NotPkcs12, Password, Unsupported, Contents };

Fault parse(PKCS12* p12, const QByteArray& pwd, Parsed* out)
{
    // The MAC says whether the password is right before anything is decrypted: a mismatch
    // leaves no error behind, a digest this library cannot compute does. An empty password
    // may have been written as none at all.
    ERR_clear_error();
    if (PKCS12_mac_present(p12) && !PKCS12_verify_mac(p12, pwd.constData(), int(pwd.size())) &&
        !(pwd.isEmpty() && PKCS12_verify_mac(p12, nullptr, 0))) {
        const unsigned long e = ERR_peek_last_error();
        ERR_clear_error();
        return e == 0 ? Fault::Password : Fault::Unsupported;
    }
    const bool ok = PKCS12_parse(p12, pwd.constData(), &out->key, &out->leaf, &out->chain) == 1;
    ERR_clear_error();
    if (!ok)
        return Fault::Unsupported;
    return out->key && out->leaf ? Fault::None : Fault::Contents;
}

} // namespace

bool readPkcs12(const QByteArray& file, const QString& password, Pkcs12* out, QString* reason)
{
    const QByteArray pwd = password.toUtf8();
    BIO* bio = BIO_new_mem_buf(file.constData(), int(file.size()));
    PKCS12* p12 = bio ? d2i_PKCS12_bio(bio, nullptr) : nullptr;
    BIO_free(bio);
    ERR_clear_error();
    if (!p12) {
        *reason = QStringLiteral("formato não reconhecido (o arquivo não é um certificado A1 .pfx/.p12)");
        return false;
    }
    Parsed parsed;
    Fault fault = parse(p12, pwd, &parsed);
    if (fault == Fault::Unsupported && loadLegacy()) {
        out->legacy = true;
        fault = parse(p12, pwd, &parsed);
    }
    PKCS12_free(p12);
    switch (fault) {
    case Fault::None: break;
    case Fault::NotPkcs12: // not reached: told apart above
    case Fault::Unsupported:
        *reason = QStringLiteral("formato com algoritmos não suportados; exporte o certificado novamente (AES-256)");
        return false;
    case Fault::Password: *reason = QStringLiteral("senha incorreta"); return false;
    case Fault::Contents:
        *reason = QStringLiteral("o arquivo não contém a chave privada e o certificado do titular");
        return false;
    }

    out->leaf = der(parsed.leaf);
    out->chain.clear();
    for (int i = 0; i < sk_X509_num(parsed.chain); ++i)
        out->chain << der(sk_X509_value(parsed.chain, i));
    // Written again with today's algorithms: the TLS client and the signer read it as is.
    PKCS12* modern = PKCS12_create(pwd.constData(), nullptr, parsed.key, parsed.leaf, parsed.chain, NID_aes_256_cbc,
                                   NID_aes_256_cbc, PKCS12_DEFAULT_ITER, -1, 0);
    if (modern &&
        PKCS12_set_mac(modern, pwd.constData(), int(pwd.size()), nullptr, 0, PKCS12_DEFAULT_ITER, EVP_sha256()) != 1) {
        PKCS12_free(modern);
        modern = nullptr;
    }
    unsigned char* buf = nullptr;
    const int len = modern ? i2d_PKCS12(modern, &buf) : -1;
    PKCS12_free(modern);
    ERR_clear_error();
    if (len <= 0 || out->leaf.isEmpty()) {
        OPENSSL_free(buf);
        *reason = QStringLiteral("a chave privada não pôde ser preparada para uso");
        return false;
    }
    out->modern = QByteArray(reinterpret_cast<const char*>(buf), len);
    OPENSSL_free(buf);
    return true;
}

} // namespace nfe
