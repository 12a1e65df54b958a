#include "server/fiscal/FiscalConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <sys/stat.h>

namespace srv::fiscal {

bool readPinFile(const QString& path, QByteArray* pin, QString* error)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("O arquivo do PIN do token (%1) não existe.").arg(path);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        *error = QStringLiteral("O arquivo do PIN do token (%1) pode ser lido por outros usuários: deixe-o com "
                                "permissão 0600 (chmod 600).")
                     .arg(path);
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("O arquivo do PIN do token (%1) não pôde ser lido.").arg(path);
        return false;
    }
    *pin = f.read(1024).trimmed();
    if (pin->isEmpty()) {
        *error = QStringLiteral("O arquivo do PIN do token (%1) está vazio.").arg(path);
        return false;
    }
    return true;
}

bool FiscalConfig::loadFile(const QString& iniPath, QString* error)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    const QDir base = QFileInfo(iniPath).absoluteDir();
    auto path = [&base](const QString& p) { return p.isEmpty() ? p : QDir::cleanPath(base.absoluteFilePath(p)); };

    ini.beginGroup(QStringLiteral("fiscal"));
    certificateFolder = path(ini.value(QStringLiteral("certificates"), certificateFolder).toString());
    trustStore = path(ini.value(QStringLiteral("trust_store"), trustStore).toString());
    // A library named without a folder is found where the system looks for libraries.
    const QString module = ini.value(QStringLiteral("pkcs11_module"), token.module).toString().trimmed();
    token.module = module.contains(QLatin1Char('/')) ? path(module) : module;
    token.label = ini.value(QStringLiteral("pkcs11_token"), token.label).toString().trimmed();
    token.pinFile = path(ini.value(QStringLiteral("pkcs11_pin_file"), token.pinFile).toString().trimmed());
    if (token.configured() || !token.label.isEmpty() || !token.pinFile.isEmpty()) {
        if (!token.configured() || token.label.isEmpty() || token.pinFile.isEmpty()) {
            *error =
                QStringLiteral("[fiscal] pkcs11_module, pkcs11_token e pkcs11_pin_file vão juntos: informe os três "
                               "para usar um token (A3).");
            return false;
        }
        QByteArray pin;
        const bool readable = readPinFile(token.pinFile, &pin, error);
        pin.fill('\0');
        if (!readable) {
            error->prepend(QStringLiteral("[fiscal] pkcs11_pin_file: "));
            return false;
        }
    }
    certificatePassword = ini.value(QStringLiteral("certificate_password"), certificatePassword).toString();
    const QString passwordFile = path(ini.value(QStringLiteral("certificate_password_file")).toString());
    if (!passwordFile.isEmpty()) {
        QFile f(passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Arquivo de senha dos certificados não pôde ser lido: %1").arg(passwordFile);
            return false;
        }
        certificatePassword = QString::fromUtf8(f.readAll()).trimmed();
    }
    bool ok = true;
    timeoutMs = ini.value(QStringLiteral("timeout_ms"), timeoutMs).toInt(&ok);
    if (!ok || timeoutMs < 1000 || timeoutMs > 120000) {
        *error = QStringLiteral("[fiscal] timeout_ms deve estar entre 1000 e 120000.");
        return false;
    }
    claimWindowMs = ini.value(QStringLiteral("claim_window_ms"), claimWindowMs).toInt(&ok);
    if (!ok || (claimWindowMs != 0 && (claimWindowMs < 1000 || claimWindowMs > 600000))) {
        *error = QStringLiteral("[fiscal] claim_window_ms deve estar entre 1000 e 600000.");
        return false;
    }
    syncPauseMs = ini.value(QStringLiteral("sync_pause_ms"), syncPauseMs).toInt(&ok);
    if (!ok || syncPauseMs < 0 || syncPauseMs > 60000) {
        *error = QStringLiteral("[fiscal] sync_pause_ms deve estar entre 0 e 60000.");
        return false;
    }
    syncIntervalHours = ini.value(QStringLiteral("sync_interval_hours"), syncIntervalHours).toInt(&ok);
    if (!ok || syncIntervalHours < 0 || syncIntervalHours > 24 * 365) {
        *error = QStringLiteral("[fiscal] sync_interval_hours deve estar entre 0 e 8760.");
        return false;
    }
    foldAccents =
        ini.value(QStringLiteral("fold_accents")).toString().toUpper().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString& s : foldAccents)
        s = s.trimmed();
    ini.endGroup();

    ini.beginGroup(QStringLiteral("authority"));
    for (const QString& key : ini.childKeys())
        endpoints.insert(key, ini.value(key).toString());
    ini.endGroup();
    for (auto it = endpoints.constBegin(); it != endpoints.constEnd(); ++it)
        if (!it.value().startsWith(QLatin1String("https://"))) {
            *error = QStringLiteral("[authority] %1: o endereço da SEFAZ deve ser https://.").arg(it.key());
            return false;
        }
    return true;
}

QString FiscalConfig::endpoint(const QString& authority, const QString& tpAmb, const QString& service) const
{
    const QString own = authority + QLatin1Char('.') + tpAmb + QLatin1Char('.') + service;
    if (endpoints.contains(own))
        return endpoints.value(own);
    return endpoints.value(QStringLiteral("*.") + tpAmb + QLatin1Char('.') + service);
}

} // namespace srv::fiscal
