#pragma once
// The stand-in on the wire: HTTPS on loopback, the two SOAP services at the real paths,
// and a control endpoint (JSON, loopback only) that lets tests delay answers, lose them
// after the batch was registered, or reverse the answers' order.
#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "sefaz-sim/Rules.h"

namespace sim {

struct ServerOptions {
    QString certFile, keyFile; // the server's certificate and key (PEM)
    QString clientCaFile; // when set, the services demand a client certificate it signed
};

class SimServer {
public:
    SimServer(Rules& rules, ServerOptions options);
    ~SimServer();

    // Binds host:port (0 picks one); false with *error. The bound port in port().
    bool bind(const QString& host, int port, QString* error);
    int port() const { return m_port; }
    // Serves until stop() (from another thread or a signal handler's thread).
    void serve();
    void stop();

    // What the control endpoint sets; public so the program can print or tests can look.
    struct Control {
        std::atomic<int> delayMs{0};
        std::atomic<bool> dropAfterReceive{false};
        std::atomic<bool> reversed{false};
        std::atomic<int> batches{0}, events{0}; // received since the last reset
        std::atomic<int> queries{0}; // protocol queries since the last reset
    };
    Control& control() { return m_control; }

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
    Rules& m_rules;
    ServerOptions m_options;
    Control m_control;
    int m_port = 0;
};

} // namespace sim
