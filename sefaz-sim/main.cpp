// sefaz-sim: a stand-in of the tax authority's event services on loopback.
//   sefaz-sim --init --registry sqlite:PATH --seed-from URL
//   sefaz-sim --registry sqlite:PATH --listen HOST:PORT --cert FILE --key FILE
//             [--client-ca FILE] [--tpamb 1|2] [--wide-answers]
#include <QCoreApplication>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

#include "sefaz-sim/Registry.h"
#include "sefaz-sim/Rules.h"
#include "sefaz-sim/SimServer.h"

namespace {

int usage(const QString& why)
{
    if (!why.isEmpty())
        std::fprintf(stderr, "sefaz-sim: %s\n", qPrintable(why));
    std::fprintf(stderr, "uso: sefaz-sim --init --registry sqlite:ARQUIVO --seed-from URL\n"
                         "     sefaz-sim --registry sqlite:ARQUIVO --listen HOST:PORTA --cert ARQUIVO --key ARQUIVO\n"
                         "               [--client-ca ARQUIVO] [--tpamb 1|2] [--wide-answers]\n"
                         "     --wide-answers: protocolos de 17 dígitos, como nos leiautes da reforma tributária\n");
    return 2;
}

QString registryPath(const QString& url)
{
    if (!url.startsWith(QLatin1String("sqlite:")))
        return QString();
    QString path = url.mid(7);
    return path.startsWith(QLatin1String("//")) ? path.mid(2) : path;
}

} // namespace

int main(int argc, char** argv)
{
    // SIGTERM and SIGINT are taken by a thread of their own, so every other thread keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool init = false;
    bool wide = false;
    QString registry, seed, listen, cert, key, clientCa;
    int tpAmb = 2;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        auto value = [&](QString& into) {
            if (args.isEmpty())
                return false;
            into = args.takeFirst();
            return true;
        };
        QString amb;
        if (a == QLatin1String("--init"))
            init = true;
        else if (a == QLatin1String("--wide-answers"))
            wide = true;
        else if ((a == QLatin1String("--registry") && value(registry)) ||
                 (a == QLatin1String("--seed-from") && value(seed)) ||
                 (a == QLatin1String("--listen") && value(listen)) || (a == QLatin1String("--cert") && value(cert)) ||
                 (a == QLatin1String("--key") && value(key)) || (a == QLatin1String("--client-ca") && value(clientCa)))
            continue;
        else if (a == QLatin1String("--tpamb") && value(amb) &&
                 (amb == QLatin1String("1") || amb == QLatin1String("2")))
            tpAmb = amb.toInt();
        else
            return usage(QStringLiteral("opção desconhecida ou sem valor: %1").arg(a));
    }
    const QString path = registryPath(registry);
    if (path.isEmpty())
        return usage(QStringLiteral("--registry sqlite:ARQUIVO é obrigatório"));

    sim::Registry book(path);
    QString error;
    if (!book.open(&error)) {
        std::fprintf(stderr, "sefaz-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (init) {
        if (seed.isEmpty())
            return usage(QStringLiteral("--init pede --seed-from URL"));
        const int n = book.seedFrom(seed, &error);
        if (n < 0) {
            std::fprintf(stderr, "sefaz-sim: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("%d NF-e registradas em %s\n", n, qPrintable(path));
        return 0;
    }

    const int colon = int(listen.lastIndexOf(QLatin1Char(':')));
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : -1;
    if (!portOk || port < 0 || port > 65535 || cert.isEmpty() || key.isEmpty())
        return usage(QStringLiteral("--listen HOST:PORTA, --cert e --key são obrigatórios"));
    const QString host = listen.left(colon);

    sim::Rules rules(book, tpAmb);
    rules.wideAnswers = wide;
    if (!rules.ready(&error)) {
        std::fprintf(stderr, "sefaz-sim: %s\n", qPrintable(error));
        return 1;
    }
    sim::SimServer server(rules, sim::ServerOptions{cert, key, clientCa});
    if (!server.bind(host, port, &error)) {
        std::fprintf(stderr, "sefaz-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%d\n", qPrintable(host), server.port());
    std::fflush(stdout);

    std::thread stopper([&server, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.stop();
    });
    server.serve();
    // Stopped by something else than a signal: wake the waiting thread so it can end.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    return 0;
}
