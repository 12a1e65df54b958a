#include "tests/support/TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QDir>
#include <QFile>

namespace cce_test {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

Key makeKey(TestPki::Keys kind)
{
    return Key(kind == TestPki::Keys::Ec ? EVP_EC_gen("P-256") : EVP_RSA_gen(2048), EVP_PKEY_free);
}

void extend(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// issuer null: self-signed (an authority).
Cert makeCert(EVP_PKEY* key, const char* cn, const char* org, X509* issuer, EVP_PKEY* issuerKey, long fromDays,
              long toDays, const char* san, bool client, long serial)
{
    Cert cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BR"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(org), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    if (!issuer) {
        extend(cert.get(), nullptr, NID_basic_constraints, "critical,CA:TRUE");
        extend(cert.get(), nullptr, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        extend(cert.get(), issuer, NID_basic_constraints, "CA:FALSE");
        extend(cert.get(), issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        extend(cert.get(), issuer, NID_ext_key_usage, client ? "clientAuth" : "serverAuth");
        if (san)
            extend(cert.get(), issuer, NID_subject_alt_name, san);
    }
    X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256());
    return cert;
}

bool writePem(const QString& path, X509* cert)
{
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!f)
        return false;
    const bool ok = PEM_write_X509(f, cert) == 1;
    std::fclose(f);
    return ok;
}

bool writeKey(const QString& path, EVP_PKEY* key)
{
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "w");
    if (!f)
        return false;
    const bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(f);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return ok;
}

} // namespace

TestPki::TestPki(const QString& dir, Keys keys)
{
    QDir().mkpath(dir);
    const QDir d(dir);
    const char* san = "DNS:localhost,IP:127.0.0.1";
    Key caKey = makeKey(keys), otherCaKey = makeKey(keys), serverK = makeKey(keys), clientK = makeKey(keys),
        expiredK = makeKey(keys), endingK = makeKey(keys), strangerK = makeKey(keys);
    if (!caKey || !otherCaKey || !serverK || !clientK || !expiredK || !endingK || !strangerK)
        return;
    Cert ca = makeCert(caKey.get(), "AC de Teste", "Empresa Demo", nullptr, nullptr, -1, 3650, nullptr, false, 1);
    Cert otherCa = makeCert(otherCaKey.get(), "AC Estranha", "Outra", nullptr, nullptr, -1, 3650, nullptr, false, 1);
    Cert server = makeCert(serverK.get(), "localhost", "Empresa Demo", ca.get(), caKey.get(), -1, 365, san, false, 2);
    Cert client = makeCert(clientK.get(), "estacao-01.filial-sp", "Empresa Demo", ca.get(), caKey.get(), -1, 365,
                           nullptr, true, 3);
    Cert expired = makeCert(expiredK.get(), "localhost", "Empresa Demo", ca.get(), caKey.get(), -30, -1, san, false, 4);
    Cert ending = makeCert(endingK.get(), "localhost", "Empresa Demo", ca.get(), caKey.get(), -1, 20, san, false, 5);
    Cert stranger =
        makeCert(strangerK.get(), "localhost", "Outra", otherCa.get(), otherCaKey.get(), -1, 365, san, false, 2);

    const QString ca_ = d.filePath("ca.pem");
    serverPem = d.filePath("server.pem");
    serverKey = d.filePath("server.key");
    clientPem = d.filePath("client.pem");
    clientKey = d.filePath("client.key");
    expiredPem = d.filePath("expired.pem");
    expiredKey = d.filePath("expired.key");
    endingPem = d.filePath("ending.pem");
    endingKey = d.filePath("ending.key");
    strangerPem = d.filePath("stranger.pem");
    strangerKey = d.filePath("stranger.key");
    if (!writePem(ca_, ca.get()) || !writePem(serverPem, server.get()) || !writeKey(serverKey, serverK.get()) ||
        !writePem(clientPem, client.get()) || !writeKey(clientKey, clientK.get()) ||
        !writePem(expiredPem, expired.get()) || !writeKey(expiredKey, expiredK.get()) ||
        !writePem(endingPem, ending.get()) || !writeKey(endingKey, endingK.get()) ||
        !writePem(strangerPem, stranger.get()) || !writeKey(strangerKey, strangerK.get()))
        return;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(server.get(), EVP_sha256(), md, &n);
    serverSha256 = QByteArray(reinterpret_cast<const char*>(md), int(n)).toHex();
    caPem = ca_;
}

} // namespace cce_test
