#pragma once
// Certificates made for a test, in a folder of its own: an authority, a server certificate
// for localhost and 127.0.0.1 it signed, a client certificate it signed, an expired server
// certificate, one that ends in 20 days, and a server certificate signed by another authority. PEM files, keys
// readable by their owner only.
#include <QByteArray>
#include <QString>

namespace cce_test {

struct TestPki {
    enum class Keys { Ec, Rsa2048 }; // EC is quick to make; RSA as most servers hold
    // Makes them all under dir; ok() says whether it could.
    explicit TestPki(const QString& dir, Keys keys = Keys::Ec);

    bool ok() const { return !caPem.isEmpty(); }

    QString caPem; // the authority the server, client and expired certificates chain to
    QString serverPem, serverKey; // CN=localhost, SAN DNS:localhost, IP:127.0.0.1
    QString clientPem, clientKey; // CN=estacao-01.filial-sp, O=Empresa Demo
    QString expiredPem, expiredKey; // like the server's, ended yesterday
    QString endingPem, endingKey; // like the server's, ends in 20 days
    QString strangerPem, strangerKey; // like the server's, from another authority
    QByteArray serverSha256; // the server certificate's SHA-256 fingerprint, hex
};

} // namespace cce_test
