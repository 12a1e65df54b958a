#include "server/app/CertificateSurvey.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>

#include "server/fiscal/CertificateStore.h"
#include "server/fiscal/Pkcs11Token.h"

namespace srv {

namespace {

int daysLeft(const QDateTime& notAfter, const QDateTime& now)
{
    return notAfter < now ? -int(notAfter.secsTo(now) / 86400) - 1 : int(now.secsTo(notAfter) / 86400);
}

} // namespace

QList<CertificateState> surveyCertificates(const QString& folder, const QString& password)
{
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
        return {CertificateState{QString(),
                                 QString(),
                                 QStringLiteral("a pasta %1 não existe ou não pode ser lida").arg(folder),
                                 {},
                                 {},
                                 {},
                                 0,
                                 nullptr}};
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
            s.subject = cert->subject();
            s.serial = cert->serialNumber();
            s.notAfter = cert->notAfter();
            s.daysLeft = daysLeft(s.notAfter, now);
        }
        out << s;
    }
    return out;
}

QList<CertificateState> surveyToken(const fiscal::TokenSettings& token)
{
    const std::shared_ptr<fiscal::Pkcs11Token> t = fiscal::Pkcs11Token::shared(token);
    auto problem = [&t](const QString& why) {
        CertificateState s;
        s.source = t->name();
        s.problem = why;
        return s;
    };
    fiscal::Pkcs11Token::Listing listing;
    QString error;
    if (!t->list(&listing, &error))
        return {problem(error)};
    QList<CertificateState> out;
    if (listing.pinLocked)
        out << problem(t->pinLockedReason());
    // One more wrong PIN would block it: the server does not present it (see Pkcs11Token).
    else if (listing.pinFinalTry)
        out << problem(t->pinFinalTryReason());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto& c : std::as_const(listing.certificates))
        out << CertificateState{c->serialNumber(),
                                t->name(),
                                QString(),
                                c->subject(),
                                c->serialNumber(),
                                c->notAfter(),
                                daysLeft(c->notAfter(), now),
                                c};
    return out;
}

QList<CertificateState> CertificateSurvey::states()
{
    QMutexLocker lock(&m_mutex);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!m_takenAt.isValid() || m_takenAt.secsTo(now) >= 60) {
        m_states.clear();
        if (!m_folder.isEmpty())
            m_states = surveyCertificates(m_folder, m_password);
        if (m_token.configured())
            m_states += surveyToken(m_token);
        m_takenAt = now;
    }
    return m_states;
}

} // namespace srv
