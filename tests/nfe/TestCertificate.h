#pragma once
// A throw-away A1 certificate for the tests: an RSA key and a self-signed certificate
// whose common name ends in ":<CNPJ>", as ICP-Brasil writes it, packed as PKCS#12.
#include <QByteArray>
#include <QString>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace cce_test {

inline QByteArray makePkcs12(const QString& cnpj, const QString& password, int validDays = 365, int fromDaysAgo = 1)
{
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -long(fromDaysAgo) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), long(validDays - fromDaysAgo) * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    const QByteArray cn = (QStringLiteral("EMPRESA DE TESTE LTDA:") + cnpj).toUtf8();
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("BR"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.constData()), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    const QByteArray pwd = password.toUtf8();
    PKCS12* p12 = PKCS12_create(pwd.constData(), "teste", key, cert, nullptr, 0, 0, 0, 0, 0);
    unsigned char* der = nullptr;
    const int len = i2d_PKCS12(p12, &der);
    QByteArray out(reinterpret_cast<const char*>(der), len);
    OPENSSL_free(der);
    PKCS12_free(p12);
    X509_free(cert);
    EVP_PKEY_free(key);
    return out;
}

} // namespace cce_test
