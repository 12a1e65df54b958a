// cce-server: the CC-e application server. See usageText() for the command line.
#include <QDir>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>

#include "core/values/Value.h"
#include "server/app/AuditReport.h"
#include "server/app/CallerAudit.h"
#include "server/app/ServerConfig.h"
#include "server/app/ServerRunner.h"
#include "server/fiscal/TransmissionService.h"
#include "server/mail/MailService.h"
#include "server/methods/Methods.h"
#include "server/rpc/MethodRegistry.h"
#include "server/store/BatchStore.h"
#include "server/store/Store.h"
#include "vocabulary/Limits.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int fail(const QString& message, int code = kExitFailure)
{
    std::fprintf(stderr, "cce-server: %s\n", message.simplified().toUtf8().constData());
    return code;
}

int initDatabase(const srv::ServerConfig& config, const srv::CommandLine& cl)
{
    QString error;
    std::unique_ptr<srv::Store> store = srv::Store::open(config.databaseUrl, &error);
    if (!store)
        return fail(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(error));
    if (!store->migrate(&error))
        return fail(QStringLiteral("Não foi possível criar ou atualizar o esquema do banco de dados: %1").arg(error));
    if (cl.demo && !store->fillDemo(cl.invoices, &error))
        return fail(QStringLiteral("Não foi possível preencher os dados de demonstração: %1").arg(error));
    std::printf("%s\n", cl.demo ? "Banco de dados pronto, com os dados de demonstração." : "Banco de dados pronto.");
    return 0;
}

int serve(const srv::ServerConfig& config, const QString& configFile)
{
    QString error;
    if (!config.check(&error))
        return fail(error);
    std::unique_ptr<srv::Store> store = srv::Store::open(config.databaseUrl, &error);
    if (!store)
        return fail(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(error));

    // The authority is reached only when the configuration names certificates and endpoints.
    srv::fiscal::FiscalConfig fiscal;
    if (!configFile.isEmpty() && !fiscal.loadFile(configFile, &error))
        return fail(error);
    std::unique_ptr<srv::fiscal::TransmissionService> transmission;
    if (fiscal.configured())
        transmission = std::make_unique<srv::fiscal::TransmissionService>(
            *store, fiscal, std::make_shared<srv::fiscal::CurlAuthority>(fiscal.trustStore, fiscal.timeoutMs));
    else
        std::fprintf(stderr, "cce-server: transmissão à SEFAZ não configurada ([fiscal] e [authority]).\n");

    // Without an SMTP host the letters' e-mails go to the outbox folder.
    srv::mail::MailConfig mailConfig;
    if (!configFile.isEmpty() && !mailConfig.loadFile(configFile, &error))
        return fail(error);
    const std::unique_ptr<srv::mail::MailService> mailer = srv::mail::MailService::fromConfig(*store, mailConfig);
    if (!mailConfig.smtp())
        std::fprintf(stderr, "cce-server: e-mails gravados em %s (sem servidor SMTP em [mail]).\n",
                     qPrintable(QDir(mailConfig.outbox).absolutePath()));

    srv::MethodRegistry registry;
    srv::registerMethods(registry, srv::Services{store.get(), transmission.get(), mailer.get()});
    srv::auditEveryCall(registry);
    if (!srv::serveUntilTerminated(config, registry, stdout, &error))
        return fail(error);
    return 0;
}

// The accountant's copy: every accepted event of the company and period, exactly the
// stored bytes, one file each. Each file is written beside its final name and renamed,
// so a reader never sees half a file.
int exportEvents(const srv::CommandLine& cl)
{
    QString error;
    std::unique_ptr<srv::Store> store = srv::Store::open(cl.database, &error);
    if (!store)
        return fail(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(error));
    if (!QDir().mkpath(cl.outDir))
        return fail(QStringLiteral("Não foi possível criar a pasta %1.").arg(cl.outDir));
    srv::BatchStore batches(*store);
    int written = 0;
    for (const srv::BatchStore::AcceptedEvent& e : batches.acceptedEvents(cl.company, cl.from, cl.to)) {
        // The name comes from the database: only a 44-digit key makes one.
        static const QRegularExpression key(QStringLiteral("^[0-9]{44}$"));
        if (!key.match(e.chNFe).hasMatch() || e.seq < 1 || e.seq > cce::kMaxLettersPerInvoice) {
            std::fprintf(stderr, "cce-server: evento com chave inválida ignorado.\n");
            continue;
        }
        const QString name = QStringLiteral("%1-%2-procEventoNFe.xml").arg(e.chNFe).arg(e.seq);
        QSaveFile f(QDir(cl.outDir).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(e.procEvento) != e.procEvento.size() || !f.commit())
            return fail(QStringLiteral("Não foi possível gravar %1.").arg(name));
        ++written;
    }
    std::printf("%d eventos gravados em %s\n", written, qPrintable(QDir(cl.outDir).absolutePath()));
    return 0;
}

int printAudit(const srv::ServerConfig& config, const srv::CommandLine& cl)
{
    QString error;
    std::unique_ptr<srv::Store> store = srv::Store::open(config.databaseUrl, &error);
    if (!store)
        return fail(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(error));
    srv::writeAuditCsv(*store, cl.company, cl.since, cl.invoice, stdout);
    return 0;
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
    // Serving, the e-mails carry the letter rendered by the report engine, which paints text
    // through Qt Gui; the server has no screen, so unless told otherwise it uses the offscreen
    // one. The other modes need no Gui.
    bool serving = true;
    for (int i = 1; i < argc; ++i)
        for (const char* other : {"--init", "--export-events", "--audit", "--check-config", "--help", "-h"})
            if (std::strcmp(argv[i], other) == 0)
                serving = false;
    if (serving && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (serving) {
        // Qt Gui looks for a runtime folder the server never uses; a machine without a desktop
        // session has none, and saying so on stderr would only hide the server's own lines.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (!text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
                previous(type, context, text);
        });
        app = std::make_unique<QGuiApplication>(argc, argv);
        qInstallMessageHandler(previous);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }

    srv::CommandLine cl;
    QString error;
    if (!srv::parseCommandLine(QCoreApplication::arguments(), &cl, &error)) {
        std::fputs(srv::usageText().toUtf8().constData(), stderr);
        return fail(error, kExitUsage);
    }
    if (cl.mode == srv::CommandLine::Mode::Export)
        return exportEvents(cl);
    if (cl.mode == srv::CommandLine::Mode::Help) {
        std::fputs(srv::usageText().toUtf8().constData(), stdout);
        return 0;
    }

    srv::ServerConfig config;
    if (!cl.configFile.isEmpty()) {
        QStringList warnings;
        if (!config.loadFile(cl.configFile, &error, &warnings))
            return fail(error);
        for (const QString& w : warnings)
            std::fprintf(stderr, "cce-server: %s\n", w.toUtf8().constData());
    }
    if (!cl.applyTo(&config, &error))
        return fail(error, kExitUsage);

    if (cl.mode == srv::CommandLine::Mode::Audit)
        return printAudit(config, cl);
    return cl.mode == srv::CommandLine::Mode::Init ? initDatabase(config, cl) : serve(config, cl.configFile);
}
