#pragma once
// The certificates of the state registrations, A1 and A3 side by side: an A1 file
// <folder>/<NRSERIECERTIFIC>.pfx, read once and held in memory (never written anywhere),
// else a certificate of the token (A3) of that serial number, else the token's of the
// issuer's CNPJ; with their checks before any sending.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>

#include "nfe/Signer.h"
#include "server/fiscal/Pkcs11Token.h"

namespace srv::fiscal {

struct LoadedCertificate {
    std::shared_ptr<const nfe::Certificate> certificate;
    QByteArray pkcs12; // A1, for the TLS client side: today's algorithms, the file's chain included
    QString password;
    std::shared_ptr<const TokenCertificate> token; // A3: the key stays on the token
};

// A certificate this close to its end is named every time it signs.
constexpr int kExpiryNoticeDays = 30;
// "Atenção: o certificado digital ... vence em dd/MM/yyyy ..." when the certificate ends within
// kExpiryNoticeDays of now; "" otherwise.
QString expiryNotice(const QString& serial, const nfe::Certificate& certificate, const QDateTime& now);
// The instant's day in Brasília's legal time, "dd/MM/yyyy".
QString brasiliaDate(const QDateTime& instant);

// The serial number as compared: hexadecimal digits, upper case, no leading zeros.
QString normalSerial(const QString& serial);
// Of a token's certificates, the registration's: the one of its serial number, else one of
// the issuer's CNPJ; among several, one valid at now before others, the latest to end
// first. -1 when none. A branch that signs with its head office's certificate names it by
// its serial number: a mere CNPJ base would pick among certificates at random.
int chooseCertificate(const QList<std::shared_ptr<const nfe::Certificate>>& certificates, const QString& serial,
                      const QString& issuerCnpj, const QDateTime& now);

class CertificateStore {
public:
    CertificateStore(QString folder, QString password, std::shared_ptr<Pkcs11Token> token = nullptr)
        : m_folder(std::move(folder)), m_password(std::move(password)), m_token(std::move(token))
    {}

    // The certificate of a registration, checked for the issuer (its CNPJ base must be the
    // issuer's) and its validity now; nullptr with a Portuguese reason in *error.
    std::shared_ptr<const LoadedCertificate> forIssuer(const QString& serial, const QString& issuerCnpj,
                                                       QString* error);
    // Whether the registration's certificate is the A1 file of that serial (no token asked).
    bool hasFile(const QString& serial) const;

private:
    std::shared_ptr<const LoadedCertificate> fromFile(const QString& serial, QString* error);
    std::shared_ptr<const LoadedCertificate> fromToken(const QString& serial, const QString& issuerCnpj,
                                                       QString* error);

    QString m_folder, m_password;
    std::shared_ptr<Pkcs11Token> m_token;
    QMutex m_mutex;
    QHash<QString, std::shared_ptr<const LoadedCertificate>> m_cache;
};

} // namespace srv::fiscal
