#include "server/app/ServerRunner.h"

#include <csignal>
#include <pthread.h>

#include "server/rpc/HttpRpcServer.h"

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

bool serveUntilTerminated(const ServerConfig& config, const MethodRegistry& registry, std::FILE* out, QString* error)
{
    HttpRpcServer server(registry, config.httpOptions());
    if (!server.listen(config.listenHost, config.listenPort, error))
        return false;
    const QString host = config.listenHost.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + config.listenHost + QLatin1Char(']')
                             : config.listenHost;
    const QByteArray line = QStringLiteral("listening on %1:%2\n").arg(host).arg(server.port()).toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), out);
    std::fflush(out);

    const int sig = waitForTerminationSignal();
    std::fprintf(stderr, "cce-server: %s recebido; encerrando após as requisições em andamento.\n",
                 sig == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stderr);
    server.stop();
    return true;
}

} // namespace srv
