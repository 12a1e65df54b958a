#pragma once
// A1 certificate files (PKCS#12) as they are found in use: made with today's algorithms or
// with the old ones (RC2-40, 3DES) that OpenSSL 3 reads only through its legacy provider,
// holding the holder's certificate, its key and often the chain of authorities above it.
// What is read is written again with today's algorithms, so that every other reader (the
// TLS client, the signer) takes it without the legacy provider.
#include <QByteArray>
#include <QList>
#include <QString>

namespace nfe {

struct Pkcs12 {
    QByteArray leaf; // the holder's certificate (DER)
    QList<QByteArray> chain; // the authorities' certificates the file holds (DER), as found
    QByteArray modern; // the same key, certificate and chain, AES-256 and SHA-256, same password
    bool legacy = false; // the file used algorithms only the legacy provider reads
};

// Reads a PKCS#12 file; false with *reason in Portuguese ("senha incorreta", "formato não
// reconhecido: ...", ...), short enough to follow "não pôde ser lido: ".
bool readPkcs12(const QByteArray& file, const QString& password, Pkcs12* out, QString* reason);

} // namespace nfe
