#include "server/fiscal/CertificateStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutexLocker>

namespace srv::fiscal {

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
        l->pkcs12 = f.readAll();
        l->password = m_password;
        l->certificate = nfe::Certificate::fromPkcs12(l->pkcs12, m_password, error);
        if (!l->certificate)
            return nullptr;
        QMutexLocker lock(&m_mutex);
        m_cache.insert(serial, l);
        loaded = l;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (loaded->certificate->notAfter() < now) {
        *error = QStringLiteral("Certificado digital %1 vencido em %2.")
                     .arg(serial, loaded->certificate->notAfter().toLocalTime().toString(QStringLiteral("dd/MM/yyyy")));
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
