#include "server/mail/MailConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

namespace srv::mail {

namespace {

// QSettings reads "a,b" as a list; a password or a name may hold commas.
QString plain(const QVariant& v)
{
    return v.metaType().id() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

} // namespace

int MailConfig::effectivePort() const
{
    if (port > 0)
        return port;
    switch (security) {
    case Security::None: return 25;
    case Security::StartTls: return 587;
    case Security::Tls: return 465;
    }
    return 25;
}

QString MailConfig::url() const
{
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (security == Security::Tls ? QStringLiteral("smtps://") : QStringLiteral("smtp://")) + h + QLatin1Char(':') +
           QString::number(effectivePort());
}

bool MailConfig::loadFile(const QString& iniPath, QString* error)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    const QDir base = QFileInfo(iniPath).absoluteDir();
    auto path = [&base](const QString& p) { return p.isEmpty() ? p : QDir::cleanPath(base.absoluteFilePath(p)); };

    ini.beginGroup(QStringLiteral("mail"));
    host = plain(ini.value(QStringLiteral("host"), host)).trimmed();
    bool ok = true;
    if (ini.contains(QStringLiteral("port"))) {
        port = ini.value(QStringLiteral("port")).toInt(&ok);
        if (!ok || port < 0 || port > 65535) {
            *error = QStringLiteral("[mail] port deve ser um número de 1 a 65535.");
            return false;
        }
    }
    if (ini.contains(QStringLiteral("security"))) {
        const QString s = plain(ini.value(QStringLiteral("security"))).trimmed().toLower();
        if (s == QLatin1String("none"))
            security = Security::None;
        else if (s == QLatin1String("starttls"))
            security = Security::StartTls;
        else if (s == QLatin1String("tls"))
            security = Security::Tls;
        else {
            *error = QStringLiteral("[mail] security deve ser none, starttls ou tls.");
            return false;
        }
    }
    user = plain(ini.value(QStringLiteral("user"), user));
    password = plain(ini.value(QStringLiteral("password"), password));
    const QString passwordFile = path(plain(ini.value(QStringLiteral("password_file"))));
    if (!passwordFile.isEmpty()) {
        QFile f(passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("[mail] o arquivo de senha não pôde ser lido: %1").arg(passwordFile);
            return false;
        }
        password = QString::fromUtf8(f.readAll()).trimmed();
    }
    from = plain(ini.value(QStringLiteral("from"), from)).trimmed();
    if (ini.contains(QStringLiteral("outbox")))
        outbox = path(plain(ini.value(QStringLiteral("outbox"))));
    if (ini.contains(QStringLiteral("trust_store")))
        trustStore = path(plain(ini.value(QStringLiteral("trust_store"))));
    if (ini.contains(QStringLiteral("timeout_ms"))) {
        timeoutMs = ini.value(QStringLiteral("timeout_ms")).toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("[mail] timeout_ms deve ser um número.");
            return false;
        }
    }
    if (ini.contains(QStringLiteral("batch_time_ms"))) {
        batchTimeMs = ini.value(QStringLiteral("batch_time_ms")).toInt(&ok);
        if (!ok) {
            *error = QStringLiteral("[mail] batch_time_ms deve ser um número.");
            return false;
        }
    }
    ini.endGroup();
    return check(error);
}

bool MailConfig::check(QString* error) const
{
    if (!from.isEmpty() && !isMailAddress(from)) {
        *error = QStringLiteral("[mail] from deve ser um endereço de e-mail (nome@dominio).");
        return false;
    }
    if (smtp() && from.isEmpty()) {
        *error = QStringLiteral("[mail] from deve ser informado quando host é informado.");
        return false;
    }
    if (smtp() && host.contains(QRegularExpression(QStringLiteral("[\\s/@?#]")))) {
        *error = QStringLiteral("[mail] host deve ser só o nome ou o endereço do servidor SMTP.");
        return false;
    }
    // A password is never sent where anyone on the way could read it.
    if (smtp() && security == Security::None && !user.isEmpty()) {
        *error = QStringLiteral("[mail] user exige security starttls ou tls: sem criptografia a senha iria aberta.");
        return false;
    }
    if (timeoutMs < 1000 || timeoutMs > 300000) {
        *error = QStringLiteral("[mail] timeout_ms deve estar entre 1000 e 300000.");
        return false;
    }
    if (batchTimeMs < 1000 || batchTimeMs + timeoutMs > 110000) {
        *error =
            QStringLiteral("[mail] batch_time_ms deve ser de no mínimo 1000, e batch_time_ms mais timeout_ms de no "
                           "máximo 110000, para que o envio responda antes do tempo limite da tela.");
        return false;
    }
    if (!smtp() && outbox.isEmpty()) {
        *error = QStringLiteral("[mail] outbox deve ser informado quando host não é informado.");
        return false;
    }
    return true;
}

bool isMailAddress(const QString& address)
{
    // Conservative on purpose: nothing that could end an SMTP command or a header.
    static const QRegularExpression re(
        QStringLiteral("^[A-Za-z0-9!#$%&'*+/=?^_`{|}~.-]{1,64}@[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?"
                       "(?:\\.[A-Za-z0-9](?:[A-Za-z0-9-]*[A-Za-z0-9])?)*$"));
    return address.size() <= 254 && re.match(address).hasMatch();
}

} // namespace srv::mail
