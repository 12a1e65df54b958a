#include "server/mail/OutboxTransport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <atomic>

#include "server/mail/MimeCapture.h"

namespace srv::mail {

namespace {

// A file name from the message's reference, whatever it holds.
QString fileStem(const QString& reference)
{
    QString s = reference;
    s.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return s.left(80);
}

} // namespace

Delivery OutboxTransport::deliver(const MailMessage& message)
{
    Delivery d;
    QString error;
    const QByteArray bytes = captureMessage(message, m_timeoutMs, &error);
    if (bytes.isEmpty()) {
        d.reason = error;
        return d;
    }
    if (!QDir().mkpath(m_folder)) {
        d.reason = QStringLiteral("não foi possível criar a pasta de saída de e-mails %1.").arg(m_folder);
        return d;
    }
    // Time first, so the folder lists in the order the messages left; the counter keeps two
    // messages of one millisecond apart.
    static std::atomic<unsigned> counter{0};
    const QString name = QStringLiteral("%1-%2-%3.eml")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
                             .arg(++counter % 10000, 4, 10, QLatin1Char('0'))
                             .arg(fileStem(message.reference));
    const QString path = QDir(m_folder).filePath(name);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        d.reason = QStringLiteral("não foi possível gravar o e-mail na pasta de saída %1.").arg(m_folder);
        return d;
    }
    // Whoever picks the messages up (or runs the demo) finds them in the log.
    qInfo("cce server: e-mail written to %s", qPrintable(QFileInfo(path).absoluteFilePath()));
    d.outcome = Delivery::Outcome::Accepted;
    return d;
}

} // namespace srv::mail
