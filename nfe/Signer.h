#pragma once
// Signatures of NF-e events: an A1 certificate (PKCS#12, held in memory only), the
// enveloped XMLDSig the standard asks for (reference "#Id" of infEvento, transforms
// enveloped-signature then C14N 1.0, RSA-SHA1 over SHA-1 digests, the signer's
// certificate alone in X509Certificate) and its verification. A certificate whose key stays
// on a token signs the same form, the key never read (HeldKeySignature.h).
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace nfe {

// A key kept elsewhere (a token): signs data with RSA-SHA1 (PKCS#1 v1.5) and returns the
// signature, or empty with a Portuguese reason in *error.
using HeldKey = std::function<QByteArray(const QByteArray& data, QString* error)>;

class Certificate {
public:
    // Reads an A1 certificate and its key (see Pkcs12.h: old algorithms too); nullptr with
    // "O certificado digital <name> não pôde ser lido: <reason>." in *error.
    static std::shared_ptr<const Certificate> fromPkcs12(const QByteArray& pkcs12, const QString& password,
                                                         QString* error, const QString& name = QString());
    // A certificate (DER) whose key is kept elsewhere: each signature asks key, which never
    // hands the key over. nullptr with a Portuguese reason in *error.
    static std::shared_ptr<const Certificate> withHeldKey(const QByteArray& der, const QList<QByteArray>& chain,
                                                          HeldKey key, QString* error);
    ~Certificate();
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    // The holder's CNPJ (ICP-Brasil: the subject alternative name 2.16.76.1.3.3, else the
    // digits after the last ":" of the common name); empty when none is found.
    QString cnpj() const { return m_cnpj; }
    QString subject() const { return m_subject; }
    // The certificate's serial number in hexadecimal, upper case, without leading zeros.
    QString serialNumber() const { return m_serial; }
    QDateTime notBefore() const { return m_notBefore; }
    QDateTime notAfter() const { return m_notAfter; }
    QByteArray der() const { return m_der; } // the certificate itself
    QList<QByteArray> chain() const { return m_chain; } // the authorities above it the file held (DER)
    // The key, the certificate and the chain in today's algorithms, under the same password:
    // what a TLS client presents.
    QByteArray pkcs12() const { return m_pkcs12; } // empty when the key is held elsewhere
    bool legacyFile() const { return m_legacy; } // the file needed the legacy algorithms

    struct Impl;
    const Impl& impl() const { return *m_impl; }

private:
    Certificate();
    std::unique_ptr<Impl> m_impl;
    // The holder's names, dates and serial, read from the certificate itself.
    bool readLeaf(const QByteArray& der);
    QString m_cnpj, m_subject, m_serial;
    QDateTime m_notBefore, m_notAfter;
    QByteArray m_der, m_pkcs12;
    QList<QByteArray> m_chain;
    bool m_legacy = false;
};

// Signs an unsigned <evento> (EventXml) and returns the signed bytes, or empty with *error.
QByteArray signEvento(const QByteArray& evento, const Certificate& certificate, QString* error);

struct Verification {
    bool valid = false;
    QString error; // why not (Portuguese)
    QByteArray signer; // the certificate found in the signature (DER)
    QString signerCnpj; // the holder's CNPJ in that certificate; empty when none
    bool formValid = false; // the standard's form: one reference to infEvento's Id, its transforms and
        // algorithms, one certificate
    bool digestMatches = false; // false: the signed content was altered
};

// Verifies the enveloped signature of one <evento> with the certificate it carries; checks
// that it signs its own infEvento by Id with the standard's transforms and algorithms.
// An authority tells the two faults apart: a signature of another form (formValid false)
// and a signature that does not match what it signs (valid false).
Verification verifyEvento(const QByteArray& signedEvento);

} // namespace nfe
