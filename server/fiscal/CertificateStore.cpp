#include "server/fiscal/CertificateStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QString normalSerial(const QString& serial)
{
    QString out;
    for (const QChar c : serial)
        if (c.isLetterOrNumber())
            out.append(c.toUpper());
    while (out.size() > 1 && out.startsWith(QLatin1Char('0')))
        out.remove(0, 1);
    return out;
}

int chooseCertificate(const QList<std::shared_ptr<const nfe::Certificate>>& certificates, const QString& serial,
                      const QString& issuerCnpj, const QDateTime& now)
{
    const QString wanted = normalSerial(serial);
    if (!wanted.isEmpty())
        for (int i = 0; i < certificates.size(); ++i)
            if (normalSerial(certificates.at(i)->serialNumber()) == wanted)
                return i;
    int best = -1;
    for (int i = 0; i < certificates.size(); ++i) {
        const nfe::Certificate& c = *certificates.at(i);
        if (issuerCnpj.isEmpty() || c.cnpj() != issuerCnpj)
            continue;
        if (best < 0) {
            best = i;
            continue;
        }
        const nfe::Certificate& b = *certificates.at(best);
        const bool valid = c.notBefore() <= now && now <= c.notAfter();
        const bool bestValid = b.notBefore() <= now && now <= b.notAfter();
        if (valid != bestValid ? valid : c.notAfter() > b.notAfter())
            best = i;
    }
    return best;
}

bool CertificateStore::hasFile(const QString& serial) const
{
    // The serial names a file: it may only be a plain name in the folder.
    if (m_folder.isEmpty() || serial.isEmpty() || serial.contains(QLatin1Char('/')) ||
        serial.contains(QLatin1Char('\\')) || serial.contains(QLatin1String("..")) || serial.contains(QChar(0)))
        return false;
    return QFileInfo(QDir(m_folder).filePath(serial + QStringLiteral(".pfx"))).isFile();
}

std::shared_ptr<const LoadedCertificate> CertificateStore::fromFile(const QString& serial, QString* error)
{
    {
        QMutexLocker lock(&m_mutex);
        if (auto loaded = m_cache.value(serial))
            return loaded;
    }
    QFile f(QDir(m_folder).filePath(serial + QStringLiteral(".pfx")));
    if (!f.open(QIODevice::ReadOnly)) {
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
    return l;
}

std::shared_ptr<const LoadedCertificate> CertificateStore::fromToken(const QString& serial, const QString& issuerCnpj,
                                                                     QString* error)
{
    Pkcs11Token::Listing listing;
    if (!m_token->list(&listing, error))
        return nullptr;
    const int chosen = chooseCertificate(listing.certificates, serial, issuerCnpj, QDateTime::currentDateTimeUtc());
    if (chosen < 0) {
        *error = QStringLiteral("Nenhum certificado digital para a inscrição (série %1, CNPJ %2) no %3%4.")
                     .arg(serial.isEmpty() ? QStringLiteral("não cadastrada") : serial, issuerCnpj, m_token->name(),
                          m_folder.isEmpty() ? QString() : QStringLiteral(" nem na pasta dos certificados A1"));
        return nullptr;
    }
    auto l = std::make_shared<LoadedCertificate>();
    l->certificate = listing.certificates.at(chosen);
    // Its dates first: an expired certificate is told as such, without asking for the PIN.
    if (l->certificate->notAfter() < QDateTime::currentDateTimeUtc() ||
        l->certificate->notBefore() > QDateTime::currentDateTimeUtc())
        return l;
    l->token = m_token->withKey(l->certificate->der(), error);
    if (!l->token) {
        qWarning("cce server: %s", qPrintable(*error));
        return nullptr;
    }
    l->certificate = l->token->certificate;
    return l;
}

std::shared_ptr<const LoadedCertificate> CertificateStore::forIssuer(const QString& serial, const QString& issuerCnpj,
                                                                     QString* error)
{
    std::shared_ptr<const LoadedCertificate> loaded;
    if (hasFile(serial) || !m_token) {
        if (!hasFile(serial)) {
            *error = serial.isEmpty()
                         ? QStringLiteral("Inscrição estadual sem certificado digital cadastrado.")
                         : QStringLiteral("Certificado digital %1 não encontrado no servidor.").arg(serial);
            return nullptr;
        }
        loaded = fromFile(serial, error);
    } else {
        loaded = fromToken(serial, issuerCnpj, error);
    }
    if (!loaded)
        return nullptr;
    const QString name = serial.isEmpty() ? loaded->certificate->serialNumber() : serial;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (loaded->certificate->notAfter() < now) {
        *error = QStringLiteral("Certificado digital %1 vencido em %2.")
                     .arg(name, brasiliaDate(loaded->certificate->notAfter()));
        return nullptr;
    }
    if (loaded->certificate->notBefore() > now) {
        *error = QStringLiteral("Certificado digital %1 ainda não é válido.").arg(name);
        return nullptr;
    }
    if (loaded->certificate->cnpj().left(8) != issuerCnpj.left(8)) {
        *error = QStringLiteral("Certificado digital %1 é de outro CNPJ (%2), não do emitente da nota.")
                     .arg(name, loaded->certificate->cnpj());
        return nullptr;
    }
    return loaded;
}

} // namespace srv::fiscal
