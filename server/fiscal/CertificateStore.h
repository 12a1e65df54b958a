#pragma once
// The A1 certificates of the state registrations: <folder>/<NRSERIECERTIFIC>.pfx, read once
// and held in memory (never written anywhere), with their checks before any sending.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <memory>

#include "nfe/Signer.h"

namespace srv::fiscal {

struct LoadedCertificate {
    std::shared_ptr<const nfe::Certificate> certificate;
    QByteArray pkcs12; // for the TLS client side: today's algorithms, the file's chain included
    QString password;
};

// A certificate this close to its end is named every time it signs.
constexpr int kExpiryNoticeDays = 30;
// "Atenção: o certificado digital ... vence em dd/MM/yyyy ..." when the certificate ends within
// kExpiryNoticeDays of now; "" otherwise.
QString expiryNotice(const QString& serial, const nfe::Certificate& certificate, const QDateTime& now);
// The instant's day in Brasília's legal time, "dd/MM/yyyy".
QString brasiliaDate(const QDateTime& instant);

class CertificateStore {
public:
    CertificateStore(QString folder, QString password) : m_folder(std::move(folder)), m_password(std::move(password)) {}

    // The certificate of a registration, checked for the issuer (its CNPJ base must be the
    // issuer's) and its validity now; nullptr with a Portuguese reason in *error.
    std::shared_ptr<const LoadedCertificate> forIssuer(const QString& serial, const QString& issuerCnpj,
                                                       QString* error);

private:
    QString m_folder, m_password;
    QMutex m_mutex;
    QHash<QString, std::shared_ptr<const LoadedCertificate>> m_cache;
};

} // namespace srv::fiscal
