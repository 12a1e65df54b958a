#include "core/host/ContextLoader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <functional>
#include <initializer_list>

#include "core/host/HostFunctions.h"

namespace fw {

namespace {

struct Source {
    QHash<QString, QString> values; // "section/key" -> text
    QString origin; // for messages: the file or "linha de comando"
};

// Command-line option -> settings key.
const QList<QPair<QString, QString>>& optionKeys()
{
    static const QList<QPair<QString, QString>> keys{
        {QStringLiteral("user"), QStringLiteral("context/user")},
        {QStringLiteral("company"), QStringLiteral("context/company")},
        {QStringLiteral("branch"), QStringLiteral("context/branch")},
        {QStringLiteral("billing-branch"), QStringLiteral("context/billing_branch")},
        {QStringLiteral("date"), QStringLiteral("context/processing_date")},
        {QStringLiteral("module"), QStringLiteral("context/module")},
        {QStringLiteral("branch-mode"), QStringLiteral("context/branch_mode")},
        {QStringLiteral("server-host"), QStringLiteral("server/host")},
        {QStringLiteral("server-port"), QStringLiteral("server/port")},
        {QStringLiteral("server-token"), QStringLiteral("server/token")},
        {QStringLiteral("server-token-file"), QStringLiteral("server/token_file")},
        {QStringLiteral("server-tls"), QStringLiteral("server/tls")},
        {QStringLiteral("server-ca"), QStringLiteral("server/ca")},
        {QStringLiteral("server-pin"), QStringLiteral("server/pin")},
        {QStringLiteral("server-timeout"), QStringLiteral("server/timeout")},
        {QStringLiteral("db-driver"), QStringLiteral("database/driver")},
        {QStringLiteral("db-name"), QStringLiteral("database/name")},
        {QStringLiteral("files-folder"), QStringLiteral("files/folder")},
    };
    return keys;
}

Source readCommandLine(const QStringList& arguments)
{
    Source s;
    s.origin = QStringLiteral("linha de comando");
    for (int i = 0; i < arguments.size(); ++i) {
        const QString arg = arguments[i];
        if (!arg.startsWith(QLatin1String("--")))
            continue;
        const int eq = arg.indexOf(QLatin1Char('='));
        const QString name = arg.mid(2, eq < 0 ? -1 : eq - 2);
        for (const auto& [option, key] : optionKeys()) {
            if (name != option)
                continue;
            if (eq >= 0)
                s.values.insert(key, arg.mid(eq + 1));
            else if (i + 1 < arguments.size())
                s.values.insert(key, arguments[++i]);
            else
                s.values.insert(key, QString()); // a value was expected; reported below
            break;
        }
    }
    return s;
}

bool parseBool(const QString& text, bool* out)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("s") || t == QLatin1String("sim") ||
        t == QLatin1String("yes") || t == QLatin1String("on")) {
        *out = true;
        return true;
    }
    if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("n") ||
        t == QLatin1String("nao") || t == QLatin1String("não") || t == QLatin1String("no") ||
        t == QLatin1String("off")) {
        *out = false;
        return true;
    }
    return false;
}

// The token, from a file only its user may read.
QString readTokenFile(const QString& path, QString* why)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("o arquivo do token %1 não pôde ser lido").arg(path);
        return QString();
    }
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    if (f.permissions() & others) {
        *why = QStringLiteral("o arquivo do token %1 pode ser lido por outros usuários: deixe-o só para o seu "
                              "(chmod 600 %1)")
                   .arg(path);
        return QString();
    }
    const QString token = QString::fromUtf8(f.readLine()).trimmed();
    if (token.isEmpty())
        *why = QStringLiteral("o arquivo do token %1 está vazio").arg(path);
    return token;
}

} // namespace

HostContext loadHostContext(const QString& iniPath, const QStringList& arguments, QString* error)
{
    HostContext c;
    c.processingDate = QDate::currentDate();
    QStringList problems;

    Source file;
    file.origin = iniPath;
    QString fileDir;
    if (!iniPath.isEmpty() && QFileInfo::exists(iniPath)) {
        QSettings ini(iniPath, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError)
            problems << QStringLiteral("o arquivo de configuração %1 não pôde ser lido").arg(iniPath);
        for (const QString& key : ini.allKeys()) {
            const QVariant v = ini.value(key);
            // A value with commas comes back as a list; the context has no lists.
            file.values.insert(key.toLower(), v.metaType().id() == QMetaType::QStringList
                                                  ? v.toStringList().join(QLatin1Char(','))
                                                  : v.toString());
        }
        fileDir = QFileInfo(iniPath).absolutePath();
    }
    const Source cmd = readCommandLine(arguments);

    // Applies the value of key (command line first, then the file) through apply, which
    // returns false when the text is not acceptable.
    auto take = [&](const QString& key, const std::function<bool(const QString&)>& apply) {
        for (const Source* s : std::initializer_list<const Source*>{&cmd, &file}) {
            const auto it = s->values.constFind(key);
            if (it == s->values.constEnd())
                continue;
            if (!apply(it->trimmed()))
                problems << QStringLiteral("valor inválido \"%1\" para %2 (%3)").arg(*it, key, s->origin);
            return s == &file;
        }
        return false;
    };
    auto text = [](QString* field, std::function<QString(const QString&)> normalise = {}) {
        return [field, normalise](const QString& v) {
            *field = normalise ? normalise(v) : v;
            return true;
        };
    };
    auto number = [](int* field, int min, int max) {
        return [field, min, max](const QString& v) {
            bool ok = false;
            const int n = v.toInt(&ok);
            if (!ok || n < min || n > max)
                return false;
            *field = n;
            return true;
        };
    };

    // A relative path of the file is taken from the file's folder; of the command line, from
    // the working folder.
    auto takePath = [&](const QString& key, QString* field) {
        QString raw;
        const bool fromFile = take(key, text(&raw));
        if (!raw.isEmpty())
            *field = QFileInfo(raw).isRelative() && fromFile && !fileDir.isEmpty() ? QDir(fileDir).filePath(raw)
                                                                                   : QFileInfo(raw).absoluteFilePath();
    };

    c.user = qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"));
    take(QStringLiteral("context/user"), text(&c.user));
    take(QStringLiteral("context/company"), text(&c.company, [](const QString& v) { return Ajusta(v, 2); }));
    take(QStringLiteral("context/branch"), text(&c.branch, [](const QString& v) { return Ajusta(v, 4); }));
    take(QStringLiteral("context/billing_branch"),
         text(&c.billingBranch, [](const QString& v) { return Ajusta(v, 4); }));
    take(QStringLiteral("context/processing_date"), [&](const QString& v) {
        if (v.isEmpty())
            return true; // today
        const QDate d = QDate::fromString(v, QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid())
            return false;
        c.processingDate = d;
        return true;
    });
    take(QStringLiteral("context/module"), number(&c.module, 0, 9999));
    take(QStringLiteral("context/branch_mode"), [&](const QString& v) { return parseBool(v, &c.branchMode); });
    take(QStringLiteral("server/host"), [&](const QString& v) {
        if (v.isEmpty())
            return false;
        c.serverHost = v;
        return true;
    });
    take(QStringLiteral("server/port"), number(&c.serverPort, 1, 65535));
    // The token never sits in the configuration nor on a command line others can read.
    take(QStringLiteral("server/token"), [&](const QString&) {
        problems << QStringLiteral("o token do servidor não fica no arquivo de configuração nem na linha de comando: "
                                   "grave-o num arquivo que só o seu usuário lê (chmod 600) e indique-o em [server] "
                                   "token_file");
        return true;
    });
    QString tokenFile;
    takePath(QStringLiteral("server/token_file"), &tokenFile);
    if (!tokenFile.isEmpty()) {
        QString why;
        c.serverToken = readTokenFile(tokenFile, &why);
        if (!why.isEmpty())
            problems << why;
    }
    take(QStringLiteral("server/tls"), [&](const QString& v) {
        bool on = true;
        if (v.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
            c.serverTls.mode = TlsPolicy::Mode::Auto;
        else if (parseBool(v, &on))
            c.serverTls.mode = on ? TlsPolicy::Mode::On : TlsPolicy::Mode::Off;
        else
            return false;
        return true;
    });
    takePath(QStringLiteral("server/ca"), &c.serverTls.caFile);
    take(QStringLiteral("server/pin"), [&](const QString& v) {
        c.serverTls.pinSha256 = TlsPolicy::normalisedPin(v);
        return v.isEmpty() || !c.serverTls.pinSha256.isEmpty();
    });
    takePath(QStringLiteral("server/certificate"), &c.serverTls.certificateFile);
    takePath(QStringLiteral("server/key"), &c.serverTls.keyFile);
    if (c.serverTls.certificateFile.isEmpty() != c.serverTls.keyFile.isEmpty())
        problems << QStringLiteral("[server] certificate e key vão juntos: configure os dois");
    if (c.serverTls.mode == TlsPolicy::Mode::Off && !isLocalHost(c.serverHost))
        problems << QStringLiteral("[server] tls=false só vale para um servidor nesta máquina: o token e os dados "
                                   "fiscais passariam em claro até %1")
                        .arg(c.serverHost);
    take(QStringLiteral("server/timeout"), number(&c.serverTimeoutSeconds, 1, 24 * 3600));
    take(QStringLiteral("database/driver"), [&](const QString& v) {
        const QString d = v.toUpper();
        if (d != QLatin1String("QSQLITE") && d != QLatin1String("QPSQL"))
            return false;
        c.dbDriver = d;
        return true;
    });
    const bool nameFromFile = take(QStringLiteral("database/name"), text(&c.dbName));
    take(QStringLiteral("database/host"), text(&c.dbHost));
    take(QStringLiteral("database/port"), number(&c.dbPort, 1, 65535));
    take(QStringLiteral("database/user"), text(&c.dbUser));
    take(QStringLiteral("database/password"), text(&c.dbPassword));

    takePath(QStringLiteral("files/folder"), &c.filesFolder);

    // A SQLite file named in the configuration lies next to it, wherever the host starts.
    if (nameFromFile && c.dbDriver == QLatin1String("QSQLITE") && !c.dbName.isEmpty() &&
        c.dbName != QLatin1String(":memory:") && QFileInfo(c.dbName).isRelative() && !fileDir.isEmpty())
        c.dbName = QDir(fileDir).filePath(c.dbName);

    if (error)
        *error = problems.isEmpty()
                     ? QString()
                     : QStringLiteral("Configuração do sistema: %1.").arg(problems.join(QStringLiteral("; ")));
    return c;
}

} // namespace fw
