// cce-server: the CC-e application server. See usageText() for the command line.
#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>
#include <malloc.h>

#include "server/app/ServerConfig.h"
#include "server/app/ServerRunner.h"
#include "server/fiscal/TransmissionService.h"
#include "server/methods/Methods.h"
#include "server/rpc/MethodRegistry.h"
#include "server/store/BatchStore.h"
#include "server/store/Store.h"

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

    srv::MethodRegistry registry;
    srv::registerMethods(registry, srv::Services{store.get(), transmission.get()});
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
        if (!key.match(e.chNFe).hasMatch() || e.seq < 1 || e.seq > 20) {
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
    // Without TZ the C library re-reads the zone file at every local-time conversion,
    // which shows on large invoice lists.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    QCoreApplication app(argc, argv);

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

    return cl.mode == srv::CommandLine::Mode::Init ? initDatabase(config, cl) : serve(config, cl.configFile);
}
