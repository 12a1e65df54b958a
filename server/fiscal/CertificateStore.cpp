#include "server/fiscal/CertificateStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QTimeZone>

namespace srv::fiscal {

QString brasiliaDate(const QDateTime& instant)
{
    // Certificates' dates are told in Brasília's legal time, whatever this machine's zone.
    static const QTimeZone brasilia(QByteArrayLiteral("America/Sao_Paulo"));
    return instant.toTimeZone(brasilia.isValid() ? brasilia : QTimeZone(-3 * 3600))
        .toString(QStringLiteral("dd/MM/yyyy"));
}

QString expiryNotice(const QString& serial, const nfe::Certificate& c, const QDateTime& now)
{
    const qint64 secs = now.secsTo(c.notAfter());
    if (secs >= qint64(kExpiryNoticeDays) * 86400)
        return QString();
    const qint64 days = (secs + 86399) / 86400; // a part of a day counts as a day left
    return QStringLiteral("Atenção: o certificado digital %1 (%2) vence em %3%4; renove-o antes disso.")
        .arg(serial, c.cnpj(), brasiliaDate(c.notAfter()),
             secs < 86400 ? QStringLiteral(", em menos de um dia") : QStringLiteral(", daqui a %1 dias").arg(days));
}

std::shared_ptr<const LoadedCertificate> CertificateStore::forIssuer(const QString& serial, const QString& issuerCnpj,
                                                                     QString* error)
{
    // The serial names a file: it may only be a plain name in the folder.
    if (serial.isEmpty() || serial.contains(QLatin1Char('/')) || serial.contains(QLatin1Char('\\')) ||
        serial.contains(QLatin1String("..")) || serial.contains(QChar(0))) {
        *error = QStringLiteral("Inscrição estadual sem certificado digital cadastrado.");
        return nullptr;
    }
    std::shared_ptr<const LoadedCertificate> loaded;
    {
        QMutexLocker lock(&m_mutex);
        loaded = m_cache.value(serial);
    }
    if (!loaded) {
        QFile f(QDir(m_folder).filePath(serial + QStringLiteral(".pfx")));
        if (m_folder.isEmpty() || !f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Certificado digital %1 não encontrado no servidor.").arg(serial);
            return nullptr;
        }
        auto l = std::make_shared<LoadedCertificate>();
        l->password = m_password;
        l->certificate = nfe::Certificate::fromPkcs12(f.readAll(), m_password, error, serial);
        if (!l->certificate) {
            qWarning("cce server: %s", qPrintable(*error));
            return nullptr;
        }
        // The file as read may use algorithms the TLS client refuses; this copy does not.
        l->pkcs12 = l->certificate->pkcs12();
        QMutexLocker lock(&m_mutex);
        m_cache.insert(serial, l);
        loaded = l;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (loaded->certificate->notAfter() < now) {
        *error = QStringLiteral("Certificado digital %1 vencido em %2.")
                     .arg(serial, brasiliaDate(loaded->certificate->notAfter()));
        return nullptr;
    }
    if (loaded->certificate->notBefore() > now) {
        *error = QStringLiteral("Certificado digital %1 ainda não é válido.").arg(serial);
        return nullptr;
    }
    if (loaded->certificate->cnpj().left(8) != issuerCnpj.left(8)) {
        *error = QStringLiteral("Certificado digital %1 é de outro CNPJ (%2), não do emitente da nota.")
                     .arg(serial, loaded->certificate->cnpj());
        return nullptr;
    }
    return loaded;
}

} // namespace srv::fiscal
