#include "server/app/Commands.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <memory>
#include <termios.h>
#include <unistd.h>

#include "server/app/AuditReport.h"
#include "server/app/ConfigCheck.h"
#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/EventSync.h"
#include "server/rpc/LogLine.h"
#include "server/rpc/TokenHash.h"
#include "server/store/BatchStore.h"
#include "server/store/Store.h"
#include "vocabulary/Limits.h"

namespace srv {

namespace {

std::unique_ptr<Store> openStore(const QString& url, QString* error)
{
    std::unique_ptr<Store> store = Store::open(url, error);
    if (!store)
        *error = QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(*error);
    return store;
}

} // namespace

int failWith(const QString& message, int code)
{
    logline::write(logline::Level::Error, message.simplified());
    return code;
}

int initDatabase(const ServerConfig& config, const CommandLine& cl)
{
    QString error;
    std::unique_ptr<Store> store = openStore(config.databaseUrl, &error);
    if (!store)
        return failWith(error);
    if (!store->migrate(&error))
        return failWith(
            QStringLiteral("Não foi possível criar ou atualizar o esquema do banco de dados: %1").arg(error));
    if (cl.demo && !store->fillDemo(cl.invoices, &error))
        return failWith(QStringLiteral("Não foi possível preencher os dados de demonstração: %1").arg(error));
    std::printf("%s\n", cl.demo ? "Banco de dados pronto, com os dados de demonstração." : "Banco de dados pronto.");
    return 0;
}

// The accountant's copy: exactly the stored bytes, one file each, written beside its final
// name and renamed, so a reader never sees half a file.
int exportEvents(const CommandLine& cl)
{
    QString error;
    std::unique_ptr<Store> store = openStore(cl.database, &error);
    if (!store)
        return failWith(error);
    if (!QDir().mkpath(cl.outDir))
        return failWith(QStringLiteral("Não foi possível criar a pasta %1.").arg(cl.outDir));
    BatchStore batches(*store);
    int written = 0;
    for (const BatchStore::AcceptedEvent& e : batches.acceptedEvents(cl.company, cl.from, cl.to)) {
        // The name comes from the database: only a 44-digit key makes one.
        static const QRegularExpression key(QStringLiteral("^[0-9]{44}$"));
        if (!key.match(e.chNFe).hasMatch() || e.seq < 1 || e.seq > cce::kMaxLettersPerInvoice) {
            logline::write(logline::Level::Warning, QStringLiteral("Evento com chave inválida ignorado."));
            continue;
        }
        const QString name = QStringLiteral("%1-%2-procEventoNFe.xml").arg(e.chNFe).arg(e.seq);
        QSaveFile f(QDir(cl.outDir).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(e.procEvento) != e.procEvento.size() || !f.commit())
            return failWith(QStringLiteral("Não foi possível gravar %1.").arg(name));
        ++written;
    }
    std::printf("%d eventos gravados em %s\n", written, qPrintable(QDir(cl.outDir).absolutePath()));
    return 0;
}

int syncEvents(const Configuration& config, const CommandLine& cl)
{
    if (!config.fiscal.configured())
        return failWith(QStringLiteral("Consulta à SEFAZ não configurada ([fiscal] e [authority])."));
    QString error;
    std::unique_ptr<Store> store = openStore(config.server.databaseUrl, &error);
    if (!store)
        return failWith(error);
    if (!store->migrate(&error))
        return failWith(QStringLiteral("Não foi possível atualizar o esquema do banco de dados: %1").arg(error));
    QElapsedTimer clock;
    clock.start();
    fiscal::EventSync sync(*store, config.fiscal,
                           std::make_shared<fiscal::CurlAuthority>(config.fiscal.trustStore, config.fiscal.timeoutMs));
    const fiscal::EventSync::Summary s =
        sync.run(cl.company, cl.since, cl.invoiceBranch, cl.invoiceEntry, [](const QString& line) {
            std::printf("%s\n", line.toUtf8().constData());
            std::fflush(stdout);
        });
    std::printf("%d notas consultadas em %.1f s: %d cartas de outros sistemas trazidas, %d cartas deste sistema "
                "movidas de sequência, %d conferidas como registradas, %d divergências, %d falhas; %d cartas aceitas "
                "aqui sem evento na SEFAZ; %d notas sem endereço de consulta configurado.\n",
                s.invoices, double(clock.elapsed()) / 1000.0, s.imported, s.moved, s.adopted, s.conflicts, s.failures,
                s.absent, s.unconfigured);
    return s.failures == 0 ? 0 : 1;
}

int printAudit(const ServerConfig& config, const CommandLine& cl)
{
    QString error;
    std::unique_ptr<Store> store = openStore(config.databaseUrl, &error);
    if (!store)
        return failWith(error);
    writeAuditCsv(*store, cl.company, cl.since, cl.invoice, stdout);
    return 0;
}

int hashToken()
{
    // Typed at a terminal, the token is not echoed.
    termios saved{};
    const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        std::fputs("Token: ", stderr);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray token;
    for (int ch = std::getchar(); ch != EOF && ch != '\n'; ch = std::getchar())
        token.append(char(ch));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    token = token.trimmed();
    if (token.size() < 16)
        return failWith(QStringLiteral("Token curto demais: use pelo menos 16 caracteres aleatórios (por exemplo, "
                                       "openssl rand -base64 32)."));
    const QString hash = tokenhash::make(token);
    if (hash.isEmpty())
        return failWith(QStringLiteral("Não foi possível calcular o hash do token."));
    std::printf("%s\n", hash.toLatin1().constData());
    return 0;
}

int checkConfigFile(const CommandLine& cl)
{
    Configuration c;
    QList<Finding> findings = readConfiguration(cl.configFile, CommandLine(), &c);
    if (!hasError(findings))
        findings << checkConfiguration(c);
    int errors = 0, warnings = 0;
    for (const Finding& f : findings) {
        const char* label = f.level == Finding::Level::Error     ? "ERRO"
                            : f.level == Finding::Level::Warning ? "AVISO"
                                                                 : "OK";
        errors += f.level == Finding::Level::Error;
        warnings += f.level == Finding::Level::Warning;
        std::printf("%s: %s\n", label, f.text.simplified().toUtf8().constData());
    }
    std::printf("%s\n", qPrintable(errors ? QStringLiteral("%1 erro(s) e %2 aviso(s): o servidor não inicia com esta "
                                                           "configuração.")
                                                .arg(errors)
                                                .arg(warnings)
                                          : QStringLiteral("Configuração sem erros (%1 aviso(s)).").arg(warnings)));
    return errors ? 1 : 0;
}

} // namespace srv
