// cce-server: the CC-e application server. See usageText() for the command line.
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>

#include "core/values/Value.h"
#include "server/app/CertificateReport.h"
#include "server/app/Commands.h"
#include "server/app/ConfigCheck.h"
#include "server/app/Serve.h"
#include "server/app/ServerConfig.h"
#include "server/app/ServerRunner.h"
#include "server/rpc/LogLine.h"

namespace {

constexpr int kExitUsage = 2;

// What Qt and the libraries under it say goes to the log as the server's own lines do.
void logQtMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    // Qt Gui looks for a runtime folder the server never uses; a machine without a desktop
    // session has none, and saying so would only hide the server's own lines.
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    srv::logline::write(type == QtDebugMsg || type == QtInfoMsg ? srv::logline::Level::Info
                        : type == QtWarningMsg                  ? srv::logline::Level::Warning
                                                                : srv::logline::Level::Error,
                        text);
}

} // namespace

int main(int argc, char** argv)
{
    // Before Qt or the server start any thread, so every thread inherits the mask and
    // only the main thread's sigwait takes SIGTERM and SIGINT.
    srv::blockTerminationSignals();
    // One allocator arena per worker keeps the memory of past lists scattered where it
    // cannot be given back; two arenas cost nothing measurable and let an idle server
    // return near its starting size.
    mallopt(M_ARENA_MAX, 2);
    fw::settleLocalTimeZone();
    qInstallMessageHandler(logQtMessage);
    // Serving, the e-mails carry the letter rendered by the report engine, which paints text
    // through Qt Gui; the server has no screen, so unless told otherwise it uses the offscreen
    // one. The other modes need no Gui.
    bool serving = true;
    for (int i = 1; i < argc; ++i)
        for (const char* other : {"--init", "--export-events", "--sync-events", "--audit", "--check-config",
                                  "--list-certificates", "--hash-token", "--help", "-h"})
            if (std::strcmp(argv[i], other) == 0)
                serving = false;
    if (serving && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (serving)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    srv::CommandLine cl;
    QString error;
    if (!srv::parseCommandLine(QCoreApplication::arguments(), &cl, &error)) {
        std::fputs(srv::usageText().toUtf8().constData(), stderr);
        return srv::failWith(error, kExitUsage);
    }
    switch (cl.mode) {
    case srv::CommandLine::Mode::Help: std::fputs(srv::usageText().toUtf8().constData(), stdout); return 0;
    case srv::CommandLine::Mode::Export: return srv::exportEvents(cl);
    case srv::CommandLine::Mode::CheckConfig: return srv::checkConfigFile(cl);
    case srv::CommandLine::Mode::HashToken: return srv::hashToken();
    case srv::CommandLine::Mode::Init:
    case srv::CommandLine::Mode::ListCertificates:
    case srv::CommandLine::Mode::Sync:
    case srv::CommandLine::Mode::Audit:
    case srv::CommandLine::Mode::Serve: break;
    }

    srv::Configuration config;
    const QList<srv::Finding> findings = srv::readConfiguration(cl.configFile, cl, &config);
    if (srv::hasError(findings)) {
        for (const srv::Finding& f : findings)
            if (f.level == srv::Finding::Level::Error)
                srv::failWith(f.text);
        return 1;
    }
    if (cl.mode == srv::CommandLine::Mode::Init)
        return srv::initDatabase(config.server, cl);
    if (cl.mode == srv::CommandLine::Mode::Audit)
        return srv::printAudit(config.server, cl);
    if (cl.mode == srv::CommandLine::Mode::Sync)
        return srv::syncEvents(config, cl);
    if (cl.mode == srv::CommandLine::Mode::ListCertificates)
        return srv::listCertificates(config);
    return srv::serve(config, findings);
}
