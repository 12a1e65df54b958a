#include "server/rpc/HttpRpcServer.h"

#include <httplib.h>

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "server/rpc/AccessTokens.h"
#include "server/rpc/RpcDispatcher.h"

namespace srv {

namespace {

using Clock = std::chrono::steady_clock;

// What the log line of the request being served on this worker says. httplib runs
// routing, handler, error handler and logger of one request on the same thread.
struct RequestTrace {
    bool started = false;
    Clock::time_point start;
    QByteArray target; // "<server>/<method>"
    QByteArray outcome;
};
thread_local RequestTrace t_trace;

// Log text that came from the client: printable ASCII only, bounded.
QByteArray printable(const QByteArray& text)
{
    QByteArray out = text.left(120);
    for (char& c : out)
        if (c < 0x21 || c > 0x7e)
            c = '?';
    return out.isEmpty() ? QByteArray("-") : out;
}

const QString& unauthorizedText()
{
    static const QString text = QStringLiteral("Acesso não autorizado: token de acesso ausente ou inválido.");
    return text;
}

} // namespace

struct HttpRpcServer::Impl {
    Impl(const MethodRegistry& registry, HttpServerOptions opts)
        : dispatcher(registry), options(std::move(opts)), tokens(options.tokens)
    {}

    void setUp();
    void serveRpc(const httplib::Request& req, httplib::Response& res);
    void log(const httplib::Request& req, const httplib::Response& res);

    RpcDispatcher dispatcher;
    HttpServerOptions options;
    AccessTokens tokens;
    httplib::Server http;
    std::thread acceptThread;
    std::atomic<bool> acceptEnded{false};
    std::mutex stopMutex;
    int boundPort = -1;
};

void HttpRpcServer::Impl::setUp()
{
    const size_t workers = size_t(qMax(1, options.workers));
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_payload_max_length(size_t(qMax<qint64>(0, options.bodyLimit)));
    // SO_REUSEADDR only: httplib's default adds SO_REUSEPORT, which would let a second
    // server silently share the port instead of failing to start.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    // httplib gives a connection a worker for as long as it stays open, so an idle
    // kept-alive client would hold a worker; one request per connection keeps every
    // worker free for whoever calls next.
    http.set_keep_alive_max_count(1);
    http.set_keep_alive_timeout(2);

    http.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_trace = RequestTrace();
        t_trace.started = true;
        t_trace.start = Clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });

    http.Post(R"(/rpc/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        try {
            serveRpc(req, res);
        } catch (...) {
            res.status = 500;
            res.set_content(
                RpcDispatcher::faultEnvelope(fault::InternalError, QStringLiteral("Erro interno do servidor."))
                    .toStdString(),
                "application/json");
            t_trace.outcome = QByteArray::number(fault::InternalError).prepend("error ");
        }
    });

    // Refusals httplib makes on its own (413; 404 for any other path or HTTP method; 400) still answer in JSON-RPC form.
    http.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request&,
                                                                       httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        QString message;
        if (res.status == 413)
            message = QStringLiteral("A requisição excede o limite de %1 bytes do servidor.").arg(options.bodyLimit);
        else if (res.status == 404)
            message = QStringLiteral("Recurso inexistente: use POST /rpc/<servidor>.");
        else
            message = QStringLiteral("Requisição HTTP inválida.");
        res.set_content(RpcDispatcher::faultEnvelope(fault::InvalidRequest, message).toStdString(), "application/json");
        return httplib::Server::HandlerResponse::Handled;
    }));

    http.set_logger([this](const httplib::Request& req, const httplib::Response& res) { log(req, res); });
}

void HttpRpcServer::Impl::serveRpc(const httplib::Request& req, httplib::Response& res)
{
    const QString serverName = QString::fromStdString(req.matches[1].str());
    t_trace.target = printable(serverName.toUtf8()) + "/-";

    if (!tokens.accepts(QByteArray::fromStdString(req.get_header_value("Authorization")))) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Bearer");
        res.set_content(RpcDispatcher::faultEnvelope(fault::Unauthorized, unauthorizedText()).toStdString(),
                        "application/json");
        t_trace.outcome = QByteArray::number(fault::Unauthorized).prepend("error ");
        return;
    }

    const RpcReply reply = dispatcher.handle(serverName, QByteArray::fromStdString(req.body));
    res.status = 200;
    res.set_content(reply.body.toStdString(), "application/json");
    t_trace.target = printable(serverName.toUtf8()) + '/' + printable(reply.method.toUtf8());
    t_trace.outcome = reply.faultCode == 0 ? QByteArray("ok") : QByteArray::number(reply.faultCode).prepend("error ");
}

void HttpRpcServer::Impl::log(const httplib::Request& req, const httplib::Response& res)
{
    const qint64 ms = t_trace.started
                          ? std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t_trace.start).count()
                          : 0;
    QByteArray target = t_trace.target;
    if (target.isEmpty())
        target =
            printable(QByteArray::fromStdString(req.method)) + ' ' + printable(QByteArray::fromStdString(req.path));
    QByteArray outcome = t_trace.outcome;
    if (outcome.isEmpty())
        outcome = "http " + QByteArray::number(res.status);
    t_trace = RequestTrace();

    const QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' + target + ' ' +
                            QByteArray::number(ms) + " ms " + outcome + '\n';
    if (options.logSink) {
        options.logSink(line);
    } else {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
}

HttpRpcServer::HttpRpcServer(const MethodRegistry& registry, HttpServerOptions options)
    : d(std::make_unique<Impl>(registry, std::move(options)))
{
    d->setUp();
}

HttpRpcServer::~HttpRpcServer() { stop(); }

bool HttpRpcServer::listen(const QString& host, int port, QString* error)
{
    std::lock_guard<std::mutex> lock(d->stopMutex);
    if (d->acceptThread.joinable()) {
        *error = QStringLiteral("O servidor já está escutando.");
        return false;
    }
    const std::string h = host.toStdString();
    const int bound = port == 0 ? d->http.bind_to_any_port(h) : (d->http.bind_to_port(h, port) ? port : -1);
    if (bound < 0) {
        *error = QStringLiteral("Não foi possível escutar em %1:%2 (endereço inválido ou porta em uso).")
                     .arg(host)
                     .arg(port);
        return false;
    }
    d->boundPort = bound;
    d->acceptEnded = false;
    d->acceptThread = std::thread([this] {
        d->http.listen_after_bind();
        d->acceptEnded = true;
    });
    // stop() only takes effect once the accept loop runs, so wait for it to start
    // (it either starts at once or gives up at once).
    while (!d->http.is_running() && !d->acceptEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (d->acceptEnded) {
        d->acceptThread.join();
        d->boundPort = -1;
        *error = QStringLiteral("O servidor não conseguiu começar a aceitar conexões em %1:%2.").arg(host).arg(bound);
        return false;
    }
    return true;
}

int HttpRpcServer::port() const { return d->boundPort; }

bool HttpRpcServer::isListening() const { return d->http.is_running(); }

void HttpRpcServer::stop()
{
    std::lock_guard<std::mutex> lock(d->stopMutex);
    if (!d->acceptThread.joinable())
        return;
    d->http.stop();
    d->acceptThread.join(); // the worker pool is joined inside: requests in flight have answered
}

} // namespace srv
