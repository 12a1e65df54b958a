#include "server/app/CertificateSurvey.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include "nfe/Signer.h"

namespace srv {

QList<CertificateState> surveyCertificates(const QString& folder, const QString& password)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
        return {CertificateState{QString(), QStringLiteral("a pasta %1 não existe ou não pode ser lida").arg(folder),
                                 QDateTime(), 0}};
    QList<CertificateState> out;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QFileInfo& file : dir.entryInfoList({QStringLiteral("*.pfx")}, QDir::Files, QDir::Name)) {
        CertificateState s;
        s.name = file.completeBaseName();
        QFile f(file.filePath());
        if (!f.open(QIODevice::ReadOnly)) {
            s.problem = QStringLiteral("o arquivo não pode ser lido (permissões)");
            out << s;
            continue;
        }
        QString error;
        const std::shared_ptr<const nfe::Certificate> cert =
            nfe::Certificate::fromPkcs12(f.readAll(), password, &error);
        if (!cert) {
            s.problem = error;
        } else {
            s.notAfter = cert->notAfter();
            s.daysLeft = int(now.secsTo(s.notAfter) / 86400);
            if (s.notAfter < now)
                s.daysLeft = -int(s.notAfter.secsTo(now) / 86400) - 1;
        }
        out << s;
    }
    return out;
}

QList<CertificateState> CertificateSurvey::states()
{
    QMutexLocker lock(&m_mutex);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!m_takenAt.isValid() || m_takenAt.secsTo(now) >= 60) {
        m_states = surveyCertificates(m_folder, m_password);
        m_takenAt = now;
    }
    return m_states;
}

} // namespace srv
