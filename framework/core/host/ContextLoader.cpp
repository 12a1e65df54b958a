#include "core/host/ContextLoader.h"

#include <QDir>
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
    take(QStringLiteral("server/token"), text(&c.serverToken));
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

    const bool folderFromFile = take(QStringLiteral("files/folder"), text(&c.filesFolder));
    if (!c.filesFolder.isEmpty() && QFileInfo(c.filesFolder).isRelative())
        c.filesFolder = folderFromFile && !fileDir.isEmpty() ? QDir(fileDir).filePath(c.filesFolder)
                                                             : QFileInfo(c.filesFolder).absoluteFilePath();

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
