// erp-host: the host application of the ERP's screen modules.
//
//   erp-host [--config erp-host.ini] [context overrides] [--preset FILE.json]
//            [--open] [--screenshot FILE.png] [--walk [--walk-out DIR]] [--module-dir DIR]
//
// --open opens the CC-e screen at start; --screenshot writes a picture of the main
// window once the screen has settled and quits (used headless, with
// QT_QPA_PLATFORM=offscreen); --walk opens it, walks one letter from the filter to its
// transmission with the scripted UI, prints each step and quits (see DemoWalk.h).
// Context overrides: see framework/core/host/ContextLoader.h.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSqlDatabase>
#include <QSqlError>
#include <QTimer>
#include <cstdio>

#include "core/host/Context.h"
#include "core/host/ContextLoader.h"
#include "core/ui/UiServices.h"
#include "core/values/Value.h"
#include "host/DemoWalk.h"
#include "host/MainWindow.h"
#include "host/ModuleLoader.h"
#include "host/PresetLoader.h"
#include "host/Probe.h"
#include "widgets/forms/FormHost.h"
#include "widgets/services/QtUiServices.h"

namespace {

QString optionValue(const QStringList& args, const QString& name)
{
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
}

bool openCompanyDatabase(const fw::HostContext& ctx, QString* error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(ctx.dbDriver, QStringLiteral("company"));
    db.setDatabaseName(ctx.dbName);
    if (!ctx.dbHost.isEmpty())
        db.setHostName(ctx.dbHost);
    if (ctx.dbPort > 0)
        db.setPort(ctx.dbPort);
    if (!ctx.dbUser.isEmpty())
        db.setUserName(ctx.dbUser);
    if (!ctx.dbPassword.isEmpty())
        db.setPassword(ctx.dbPassword);
    if (ctx.dbDriver == QLatin1String("QSQLITE"))
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        *error = QStringLiteral("Não foi possível abrir o banco de dados da empresa (%1).").arg(db.lastError().text());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    fw::settleLocalTimeZone();
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("erp-host"));
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/erp-host.png")));
    fw::installHostLook(&app);
    const QStringList args = app.arguments();

    QString error;
    const QString config = optionValue(args, QStringLiteral("--config")).isEmpty()
                               ? QStringLiteral("erp-host.ini")
                               : optionValue(args, QStringLiteral("--config"));
    fw::HostContext ctx = fw::loadHostContext(config, args, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "erp-host: %s\n", qPrintable(error));
        return 2;
    }
    fw::setHostContext(ctx);

    fw::QtUiServices services;
    fw::installUiServices(&services);

    if (!openCompanyDatabase(ctx, &error)) {
        services.showMessage(fw::MsgKind::Error, error, fw::mbOK);
        return 1;
    }

    QStringList moduleDirs{QCoreApplication::applicationDirPath()};
    // Installed, the module lies in the host's private folder (packaging/CMakeLists.txt).
    moduleDirs << QCoreApplication::applicationDirPath() + QStringLiteral("/" CCE_HOST_MODULE_DIR);
    if (!optionValue(args, QStringLiteral("--module-dir")).isEmpty())
        moduleDirs.prepend(optionValue(args, QStringLiteral("--module-dir")));
    host::ModuleLoader cce(QStringLiteral("PKG_DFS59000"), moduleDirs);

    host::MainWindow window(&cce);
    fw::setFormHost(&window);

    const QString presetFile = optionValue(args, QStringLiteral("--preset"));
    if (!presetFile.isEmpty()) {
        QVariant preset;
        if (!host::loadPreset(presetFile, &preset, &error)) {
            std::fprintf(stderr, "erp-host: %s\n", qPrintable(error));
            return 2;
        }
        window.setPreset(preset);
    }

    host::startProbeFromEnvironment(&app);
    window.show();
    int rc = 0;
    if (args.contains(QStringLiteral("--open"))) {
        QTimer::singleShot(0, &window, [&] {
            if (!window.openCCe())
                rc = 1;
        });
    }

    if (args.contains(QStringLiteral("--walk"))) {
        QTimer::singleShot(0, &window, [&] {
            if (!window.openCCe()) {
                rc = 1;
            } else {
                QString lines;
                const QString outDir = optionValue(args, QStringLiteral("--walk-out"));
                rc = host::walkOneLetter(&window, &lines, outDir.isEmpty() ? QDir::currentPath() : outDir);
                std::fputs(lines.toUtf8().constData(), stdout);
            }
            app.quit();
        });
    }

    const QString shot = optionValue(args, QStringLiteral("--screenshot"));
    if (!shot.isEmpty()) {
        // Let the screen open and settle (its activation applies a preset) before the picture.
        QTimer::singleShot(1500, &window, [&] {
            QDir().mkpath(QFileInfo(shot).absolutePath());
            if (!window.grab().save(shot)) {
                std::fprintf(stderr, "erp-host: could not write %s\n", qPrintable(shot));
                rc = 1;
            } else {
                std::printf("screenshot: %s\n", qPrintable(QFileInfo(shot).absoluteFilePath()));
            }
            app.quit();
        });
    }

    const int loopRc = app.exec();
    fw::setFormHost(nullptr);
    fw::installUiServices(nullptr);
    return rc ? rc : loopRc;
}
