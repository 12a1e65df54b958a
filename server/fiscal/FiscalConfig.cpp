#include "server/fiscal/FiscalConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace srv::fiscal {

bool FiscalConfig::loadFile(const QString& iniPath, QString* error)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    const QDir base = QFileInfo(iniPath).absoluteDir();
    auto path = [&base](const QString& p) { return p.isEmpty() ? p : QDir::cleanPath(base.absoluteFilePath(p)); };

    ini.beginGroup(QStringLiteral("fiscal"));
    certificateFolder = path(ini.value(QStringLiteral("certificates"), certificateFolder).toString());
    trustStore = path(ini.value(QStringLiteral("trust_store"), trustStore).toString());
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
