#pragma once
// Every A1 certificate of the configured folder read with the configured password, and every
// certificate of the configured token (A3, read without its PIN): which can be read, and how
// many days each has left. For the configuration check, the certificate list, the health page
// and the metrics; what a certificate holds (its key) goes nowhere.
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>
#include <memory>

#include "nfe/Signer.h"
#include "server/fiscal/FiscalConfig.h"

namespace srv {

struct CertificateState {
    // A1: the file's name without ".pfx" (the registration's NRSERIECERTIFIC); A3: the
    // certificate's serial number.
    QString name;
    QString source; // empty for the folder's files; "token "LABEL"" for the token's
    QString problem; // empty when it was read
    QString subject, serial; // its holder's common name and serial number, once read
    QDateTime notAfter;
    int daysLeft = 0; // negative once expired
    std::shared_ptr<const nfe::Certificate> certificate; // A3 only: read, it cannot sign
};

// Reads the folder now. A folder that cannot be read gives one state named "" with the reason.
QList<CertificateState> surveyCertificates(const QString& folder, const QString& password);
// Reads the token now (the process's one session: see fiscal::Pkcs11Token), without its PIN.
// A token that cannot be read, or whose PIN is blocked, gives one state named "" with the reason.
QList<CertificateState> surveyToken(const fiscal::TokenSettings& token);

// The survey again no more often than once a minute: the pages may be asked every few seconds.
class CertificateSurvey {
public:
    CertificateSurvey(QString folder, QString password, fiscal::TokenSettings token = {})
        : m_folder(std::move(folder)), m_password(std::move(password)), m_token(std::move(token))
    {}
    bool configured() const { return !m_folder.isEmpty() || m_token.configured(); }
    QList<CertificateState> states();

private:
    const QString m_folder, m_password;
    const fiscal::TokenSettings m_token;
    QMutex m_mutex;
    QDateTime m_takenAt;
    QList<CertificateState> m_states;
};

} // namespace srv
