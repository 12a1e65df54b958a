#include "server/app/ServerRunner.h"

#include <csignal>
#include <pthread.h>
#include <sys/resource.h>

#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/LogLine.h"

namespace srv {

namespace {

sigset_t terminationSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void blockTerminationSignals()
{
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A client that hangs up mid-answer must not kill the server.
    std::signal(SIGPIPE, SIG_IGN);
}

int waitForTerminationSignal()
{
    const sigset_t set = terminationSignals();
    int sig = 0;
    while (sigwait(&set, &sig) != 0) {}
    return sig;
}

bool raiseOpenFileLimit(int maxConnections, QString* error)
{
    // Besides the connections: the database's, the authority's and the log's descriptors.
    const rlim_t needed = rlim_t(maxConnections) + 128;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
        *error = QStringLiteral("[server] max_connections=%1 precisa de %2 arquivos abertos e o sistema permite %3: "
                                "reduza max_connections ou aumente o limite (LimitNOFILE no serviço do systemd).")
                     .arg(maxConnections)
                     .arg(qulonglong(needed))
                     .arg(qulonglong(limit.rlim_max));
        return false;
    }
    limit.rlim_cur = needed;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return true;
}

bool serveUntilTerminated(const ServerConfig& config, HttpServerOptions options, const MethodRegistry& registry,
                          std::FILE* out, QString* error)
{
    HttpRpcServer server(registry, std::move(options));
    if (!server.listen(config.listenHost, config.listenPort, error))
        return false;
    const QString host = config.listenHost.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + config.listenHost + QLatin1Char(']')
                             : config.listenHost;
    const QByteArray line = QStringLiteral("listening on %1:%2\n").arg(host).arg(server.port()).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
    std::fflush(out);

    const int sig = waitForTerminationSignal();
    logline::write(logline::Level::Info, QStringLiteral("%1 recebido; encerrando após as requisições em andamento.")
                                             .arg(QLatin1String(sig == SIGINT ? "SIGINT" : "SIGTERM")));
    server.stop();
    return true;
}

} // namespace srv
