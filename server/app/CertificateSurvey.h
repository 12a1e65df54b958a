#pragma once
// Every A1 certificate of the configured folder read with the configured password: which
// can be read, and how many days each has left. For the configuration check, the health
// page and the metrics; what a certificate holds (its key, its holder) goes nowhere.
#include <QDateTime>
#include <QList>
#include <QMutex>
#include <QString>

namespace srv {

struct CertificateState {
    QString name; // the file's name without ".pfx": the registration's NRSERIECERTIFIC
    QString problem; // empty when it was read
    QDateTime notAfter;
    int daysLeft = 0; // negative once expired
};

// Reads the folder now. A folder that cannot be read gives one state named "" with the reason.
QList<CertificateState> surveyCertificates(const QString& folder, const QString& password);

// The survey again no more often than once a minute: the pages may be asked every few seconds.
class CertificateSurvey {
public:
    CertificateSurvey(QString folder, QString password) : m_folder(std::move(folder)), m_password(std::move(password))
    {}
    bool configured() const { return !m_folder.isEmpty(); }
    QList<CertificateState> states();

private:
    const QString m_folder, m_password;
    QMutex m_mutex;
    QDateTime m_takenAt;
    QList<CertificateState> m_states;
};

} // namespace srv
