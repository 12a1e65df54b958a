// The connection loop: one state machine over every socket of the server. Its states share
// the loop's connections, bounds and lanes, so they stay in one file, past 600 lines.
#include "server/rpc/HttpRpcServer.h"

#include <cerrno>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "server/rpc/AccessTokens.h"
#include "server/rpc/AddressBounds.h"
#include "server/rpc/ConnectionIo.h"
#include "server/rpc/HttpConnection.h"
#include "server/rpc/HttpRequestParser.h"
#include "server/rpc/HttpResponse.h"
#include "server/rpc/LogLine.h"
#include "server/rpc/RequestLog.h"
#include "server/rpc/RpcDispatcher.h"
#include "server/rpc/Sockets.h"
#include "server/rpc/TlsChannel.h"
#include "server/rpc/TokenChecks.h"
#include "server/rpc/WorkLanes.h"

namespace srv {

namespace {

using http::Clock;
using http::Connection;

constexpr qsizetype kHeadLimit = 64 * 1024;
constexpr int kReadsPerWakeUp = 16; // then the others get their turn
constexpr int kDrainMs = 1000; // after an early refusal, the client's unread bytes are discarded this long

// An answer this large leaves memory worth giving back to the system once it is sent.
constexpr qsizetype kTrimAfter = 1024 * 1024;

// Tells the requests of this process from another's in a shared log or audit trail.
QByteArray processTag()
{
    return QByteArray::number(QRandomGenerator::system()->generate() & 0xffffff, 16).rightJustified(6, '0');
}

} // namespace

struct HttpRpcServer::Impl {
    Impl(const MethodRegistry& registry, HttpServerOptions opts)
        : dispatcher(registry),
          options(std::move(opts)),
          tokens(options.tokens, options.tokenCompanies, options.tokenNames),
          checks(tokens, [this] { wake(); }),
          lanes(dispatcher, options, [this] { wake(); }),
          bounds(options.perAddressLimit)
    {}

    // The I/O thread.
    void run();
    void acceptPending(bool stopping);
    void beginStop();
    void onReadable(quint64 id);
    void onHandshake(quint64 id);
    void onHead(quint64 id, Connection& c);
    void onGranted(quint64 id, Connection& c);
    void takeChecked();
    void logTlsFailure(const Connection& c, const QString& why);
    void writeLog(const QByteArray& line);
    void onBodyComplete(Connection& c, quint64 id);
    void refuse(quint64 id, Connection& c, int status, const QString& message = QString());
    void answer(quint64 id, Connection& c, QByteArray bytes, bool drain);
    void onWritable(quint64 id);
    void closeConnection(quint64 id);
    void admitted(Connection& c); // past a complete, authenticated request
    void endProbation(quint64 id, Connection& c);
    void takeFinished();
    int pollTimeoutMs(Clock::time_point now) const;
    void expireDeadlines(Clock::time_point now);
    void log(const Connection& c);
    void wake(); // from any thread: the loop looks again

    RpcDispatcher dispatcher;
    HttpServerOptions options;
    AccessTokens tokens;
    TokenChecks checks;
    WorkLanes lanes;
    http::AddressBounds bounds; // owned by the I/O thread

    int listenFd = -1;
    int wakeFd = -1;
    std::thread ioThread;
    std::mutex stopMutex;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> serving{false};
    int boundPort = -1;

    // Owned by the I/O thread.
    std::map<quint64, Connection> connections;
    quint64 nextId = 1;
    const QByteArray tag = processTag();
    Clock::time_point acceptPausedUntil; // out of descriptors: retry then, or when one closes
    bool stopping = false;
    bool trimDue = false; // a large answer went out since the allocator last gave memory back
};

void HttpRpcServer::Impl::wake()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof(one));
}

void HttpRpcServer::Impl::run()
{
    std::vector<pollfd> fds;
    std::vector<quint64> ids;
    for (;;) {
        if (stopRequested && !stopping)
            beginStop();
        if (stopping && connections.empty())
            return;

        fds.clear();
        ids.clear();
        fds.push_back({wakeFd, POLLIN, 0});
        ids.push_back(0);
        if (listenFd >= 0 && Clock::now() >= acceptPausedUntil && int(connections.size()) < options.maxConnections) {
            fds.push_back({listenFd, POLLIN, 0});
            ids.push_back(0);
        }
        for (const auto& [id, c] : connections) {
            short events = 0;
            switch (c.state) {
            case Connection::State::Handshake:
            case Connection::State::Head:
            case Connection::State::Drain: events = POLLIN; break;
            case Connection::State::Body: events = short(POLLIN | (c.interim.isEmpty() ? 0 : POLLOUT)); break;
            case Connection::State::Write: events = POLLOUT; break;
            case Connection::State::Stream:
                events = c.outPos < c.out.size() || c.outbox->ready(c.callEnded) ? POLLOUT : 0;
                break;
            case Connection::State::Verify:
            case Connection::State::Queued: break;
            }
            // A TLS call that could not go on waits for its socket, whichever way.
            if (c.tlsWants && c.state != Connection::State::Drain)
                events = c.tlsWants;
            if (events) {
                fds.push_back({c.fd, events, 0});
                ids.push_back(id);
            }
        }

        const int ready = ::poll(fds.data(), nfds_t(fds.size()), pollTimeoutMs(Clock::now()));
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0) {
            if (fds[0].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof(count));
                takeChecked();
                takeFinished();
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents)
                    continue;
                if (ids[i] == 0) {
                    if (listenFd >= 0)
                        acceptPending(false);
                    continue;
                }
                auto it = connections.find(ids[i]);
                if (it == connections.end())
                    continue;
                if (it->second.state == Connection::State::Handshake) {
                    onHandshake(ids[i]);
                    continue;
                }
                if (it->second.tlsWants && it->second.state != Connection::State::Drain) {
                    // The TLS call that waited is tried again: the state's own reading or writing.
                    const Connection::State st = it->second.state;
                    it->second.tlsWants = 0;
                    if (st == Connection::State::Write || st == Connection::State::Stream ||
                        (st == Connection::State::Body && !it->second.interim.isEmpty()))
                        onWritable(ids[i]);
                    if (connections.count(ids[i]) && (st == Connection::State::Head || st == Connection::State::Body))
                        onReadable(ids[i]);
                    continue;
                }
                if (it->second.state == Connection::State::Stream) {
                    if (fds[i].revents & (POLLOUT | POLLHUP | POLLERR))
                        onWritable(ids[i]);
                    continue;
                }
                if ((fds[i].revents & POLLOUT) &&
                    (it->second.state == Connection::State::Write || it->second.state == Connection::State::Body))
                    onWritable(ids[i]);
                it = connections.find(ids[i]);
                if (it != connections.end() && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                    it->second.state != Connection::State::Write && it->second.state != Connection::State::Queued)
                    onReadable(ids[i]);
            }
        }
        expireDeadlines(Clock::now());
    }
}

int HttpRpcServer::Impl::pollTimeoutMs(Clock::time_point now) const
{
    Clock::time_point next = Clock::time_point::max();
    for (const auto& [id, c] : connections)
        next = std::min(next, c.deadline(options));
    if (listenFd >= 0 && now < acceptPausedUntil)
        next = std::min(next, acceptPausedUntil);
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()) + 1;
}

void HttpRpcServer::Impl::expireDeadlines(Clock::time_point now)
{
    std::vector<quint64> due;
    for (const auto& [id, c] : connections)
        if (now >= c.deadline(options))
            due.push_back(id);
    for (quint64 id : due) {
        Connection& c = connections.at(id);
        if (c.state == Connection::State::Handshake) {
            // Beyond its address's bound, it may still take the place of one that has gone.
            if (c.probation && now >= c.probationUntil &&
                now < c.start + std::chrono::milliseconds(options.headerTimeoutMs)) {
                c.probation = false;
                c.counted = bounds.take(c.address);
                if (c.counted)
                    continue;
            }
            // Nothing can be answered before the handshake: the connection just ends.
            logTlsFailure(c, QStringLiteral("handshake não concluído no prazo"));
            closeConnection(id);
            continue;
        }
        if (c.probation && now >= c.probationUntil &&
            (c.state == Connection::State::Head || c.state == Connection::State::Body ||
             c.state == Connection::State::Verify)) {
            endProbation(id, c);
        } else if (c.state == Connection::State::Head || c.state == Connection::State::Body ||
                   c.state == Connection::State::Verify) {
            refuse(id, c, 408);
        } else {
            if (c.state == Connection::State::Write || c.state == Connection::State::Stream) {
                c.outcome = "dropped: answer not read";
                log(c);
            }
            closeConnection(id);
        }
    }
}

void HttpRpcServer::Impl::acceptPending(bool answerUnavailable)
{
    for (;;) {
        if (!answerUnavailable && int(connections.size()) >= options.maxConnections)
            return; // the rest wait in the backlog
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptPausedUntil = Clock::now() + std::chrono::milliseconds(100);
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
        const quint64 id = nextId++;
        Connection& c = connections[id];
        c.fd = fd;
        c.address = http::peerAddress(addr);
        c.start = Clock::now();
        c.lastProgress = c.start;
        c.requestId = tag + '-' + QByteArray::number(id, 36);
        if (!options.onlyFrom.isEmpty() && !options.onlyFrom.contains(QString::fromStdString(c.address))) {
            // TLS ends at the balancers in front: nobody else may speak to this port in clear.
            writeLog(logline::format(logline::Level::Warning,
                                     "conexão de " + QByteArray::fromStdString(c.address) +
                                         " recusada: só os balanceadores de [server] tls_terminated_by conectam a "
                                         "este servidor"));
            closeConnection(id);
            continue;
        }
        if (options.tls) {
            c.tls = std::make_unique<http::TlsChannel>(options.tls->context(), fd);
            c.state = Connection::State::Handshake;
        }
        if (answerUnavailable) {
            if (c.tls) {
                closeConnection(id);
                continue;
            }
            // Answering may close the connection at once: `c` is gone then.
            refuse(id, c, 503);
            continue;
        }
        if (bounds.take(c.address)) {
            c.counted = true;
        } else {
            // Most likely one more prompt client behind the same address: it gets a moment
            // to send its request before it counts as one too many.
            c.probation = true;
            c.probationUntil = c.start + std::chrono::milliseconds(options.probationMs);
        }
        if (c.tls)
            onHandshake(id);
    }
}

void HttpRpcServer::Impl::admitted(Connection& c)
{
    c.probation = false;
    if (c.counted)
        bounds.give(c.address);
    c.counted = false;
}

void HttpRpcServer::Impl::endProbation(quint64 id, Connection& c)
{
    c.probation = false;
    // Another of the address's connections may have gone meanwhile: this one takes its place.
    c.counted = bounds.take(c.address);
    if (c.counted)
        return;
    refuse(id, c, 503,
           QStringLiteral("Conexões demais deste endereço sem requisição completa (o limite é %1 ao mesmo tempo); "
                          "tente novamente.")
               .arg(options.perAddressLimit));
}

void HttpRpcServer::Impl::beginStop()
{
    stopping = true;
    if (listenFd >= 0) {
        // Connections the kernel already took are answered, not reset.
        acceptPending(true);
        ::close(listenFd);
        listenFd = -1;
    }
    for (quint64 id : lanes.close()) {
        auto it = connections.find(id);
        if (it != connections.end())
            refuse(id, it->second, 503);
    }
    std::vector<quint64> arriving, handshaking;
    for (const auto& [id, c] : connections)
        if (c.state == Connection::State::Head || c.state == Connection::State::Body ||
            c.state == Connection::State::Verify)
            arriving.push_back(id);
        else if (c.state == Connection::State::Handshake)
            handshaking.push_back(id);
    for (quint64 id : arriving)
        refuse(id, connections.at(id), 503);
    for (quint64 id : handshaking)
        closeConnection(id);
}

void HttpRpcServer::Impl::onReadable(quint64 id)
{
    char buffer[64 * 1024];
    for (int round = 0; round < kReadsPerWakeUp; ++round) {
        auto it = connections.find(id);
        if (it == connections.end())
            return;
        Connection& c = it->second;
        // A refused request's bytes are dropped unread, TLS or not.
        const ssize_t n = c.state == Connection::State::Drain ? ::recv(c.fd, buffer, sizeof(buffer), 0)
                                                              : http::receive(c, buffer, sizeof(buffer));
        if (n < 0 && (c.state != Connection::State::Drain || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (n <= 0) {
            // The client went away (or finished sending what it had after an early answer).
            closeConnection(id);
            return;
        }
        http::Refusal refusal;
        if (c.state == Connection::State::Drain)
            continue;
        if (c.state == Connection::State::Head) {
            c.in.append(buffer, n);
            qsizetype headSize = 0;
            const http::Progress p = http::parseHead(c.in, kHeadLimit, &c.head, &headSize, &refusal);
            if (p == http::Progress::Refused) {
                c.target = "-";
                refuse(id, c, refusal.status, refusal.message);
                return;
            }
            if (p == http::Progress::Done) {
                c.in.remove(0, headSize); // whatever of the body came with the head
                onHead(id, c);
                // A refusal may have closed it already.
                it = connections.find(id);
                if (it == connections.end() || it->second.state != Connection::State::Body)
                    return;
            }
            continue;
        }
        if (c.state == Connection::State::Body) {
            const http::Progress b = c.body.feed(buffer, n, &refusal);
            if (b == http::Progress::Refused) {
                refuse(id, c, refusal.status, refusal.message);
                return;
            }
            if (b == http::Progress::Done) {
                onBodyComplete(c, id);
                return;
            }
        }
    }
}

void HttpRpcServer::Impl::onHead(quint64 id, Connection& c)
{
    const http::RequestHead& head = c.head;
    c.target = http::printable(head.method) + ' ' + http::printable(head.path);
    http::Refusal refusal;
    http::bodyFraming(head, &refusal);
    if (refusal) {
        refuse(id, c, refusal.status, refusal.message);
        return;
    }
    static const QByteArray prefix("/rpc/");
    const QByteArray name = head.path.startsWith(prefix) ? head.path.mid(prefix.size()) : QByteArray();
    const bool page = head.method == "GET" && options.operatorPage && name.isEmpty();
    if (!page && (head.method != "POST" || name.isEmpty() || name.contains('/'))) {
        refuse(id, c, 404);
        return;
    }
    if (!page) {
        c.serverName = QString::fromUtf8(name);
        c.target = http::printable(name) + "/-";
    }
    // Everything below is judged from the head alone: nothing of the body has been
    // read, and nothing will be for a request that is refused.
    QByteArray presented;
    if (tokens.lookup(head.value("authorization"), &c.grant, &presented) == AccessTokens::Lookup::Unchecked) {
        if (checks.submit(id, presented))
            c.state = Connection::State::Verify;
        else
            refuse(id, c, 503, QStringLiteral("Verificações de token demais em andamento; tente novamente."));
        return;
    }
    onGranted(id, c);
}

void HttpRpcServer::Impl::takeChecked()
{
    for (const TokenChecks::Done& d : checks.takeDone()) {
        auto it = connections.find(d.id);
        if (it == connections.end() || it->second.state != Connection::State::Verify)
            continue; // gone, or timed out meanwhile
        it->second.grant = d.grant;
        onGranted(d.id, it->second);
    }
}

void HttpRpcServer::Impl::onGranted(quint64 id, Connection& c)
{
    const http::RequestHead& head = c.head;
    if (!c.grant) {
        refuse(id, c, 401);
        return;
    }
    http::Refusal refusal;
    const http::Framing framing = http::bodyFraming(head, &refusal);
    const bool page = c.serverName.isEmpty();
    c.user = http::userFromHeader(head.value("x-cce-user"));
    if (options.trustedProxies.contains(QString::fromStdString(c.address)))
        c.forwardedFor = http::forwardedClient(head.value("x-forwarded-for"));
    if (page) {
        // The operators' pages read nothing from the client but the path.
        if (framing.kind != http::Framing::Kind::None &&
            !(framing.kind == http::Framing::Kind::Length && framing.length == 0)) {
            refuse(id, c, 400, QStringLiteral("Uma requisição GET não leva corpo."));
            return;
        }
        c.operatorPath = head.path;
        c.body = http::BodyReader();
        onBodyComplete(c, id);
        return;
    }
    c.gzip = http::acceptsGzip(head.value("accept-encoding"));
    if (head.has("content-encoding")) {
        refuse(id, c, 415);
        return;
    }
    if (framing.kind == http::Framing::Kind::Length && framing.length > options.bodyLimit) {
        refuse(id, c, 413);
        return;
    }
    const QByteArray expect = head.value("expect");
    if (!expect.isEmpty()) {
        if (expect.toLower() != "100-continue") {
            refuse(id, c, 417);
            return;
        }
        if (framing.kind != http::Framing::Kind::None &&
            !(framing.kind == http::Framing::Kind::Length && framing.length == 0))
            c.interim = "HTTP/1.1 100 Continue\r\n\r\n";
    }
    c.body = http::BodyReader(framing, options.bodyLimit);
    c.state = Connection::State::Body;
    if (!c.interim.isEmpty()) {
        onWritable(id);
        if (connections.find(id) == connections.end())
            return;
    }
    if (c.state != Connection::State::Body)
        return;
    // What of the body came with the head (possibly all of it, or none is due).
    const QByteArray rest = std::exchange(c.in, QByteArray());
    const http::Progress b = c.body.feed(rest.constData(), rest.size(), &refusal);
    if (b == http::Progress::Refused)
        refuse(id, c, refusal.status, refusal.message);
    else if (b == http::Progress::Done)
        onBodyComplete(c, id);
}

void HttpRpcServer::Impl::onBodyComplete(Connection& c, quint64 id)
{
    admitted(c);
    c.state = Connection::State::Queued;
    c.interim.clear();
    WorkLanes::Job job;
    job.id = id;
    job.serverName = c.serverName;
    job.operatorPath = c.operatorPath;
    job.body = std::move(c.body.body());
    job.scope = &c.grant->scope;
    job.caller = Caller{QString::fromLatin1(c.requestId),
                        QString::fromStdString(c.forwardedFor.empty() ? c.address : c.forwardedFor),
                        c.grant->name,
                        c.user,
                        c.clientCertificate,
                        c.head.value("x-cce-commit-position").trimmed().left(40)};
    job.gzip = c.gzip;
    c.body = http::BodyReader();
    lanes.submit(std::move(job));
}

void HttpRpcServer::Impl::refuse(quint64 id, Connection& c, int status, const QString& message)
{
    c.outcome = status == 401 ? QByteArray::number(fault::Unauthorized).prepend("error ")
                              : "http " + QByteArray::number(status);
    c.httpStatus = status;
    c.faultCode = status == 401 ? fault::Unauthorized : 0;
    // A refused request may still be arriving: its bytes are read and dropped for a
    // moment, so the client gets to read the answer instead of a reset.
    const bool drain = c.state == Connection::State::Head || c.state == Connection::State::Body ||
                       c.state == Connection::State::Verify;
    answer(id, c, http::refusal(status, message, options.bodyLimit, c.requestId), drain);
}

void HttpRpcServer::Impl::answer(quint64 id, Connection& c, QByteArray bytes, bool drain)
{
    c.in.clear();
    c.body = http::BodyReader();
    c.interim.clear();
    c.out = std::move(bytes);
    c.outPos = 0;
    c.state = Connection::State::Write;
    c.drainAfter = drain;
    c.lastProgress = Clock::now();
    onWritable(id);
}

void HttpRpcServer::Impl::onWritable(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    // Only one of them is ever pending: answer() drops the interim line.
    QByteArray& pending = c.state == Connection::State::Body ? c.interim : c.out;
    qsizetype& pos = c.outPos;
    for (;;) {
        while (pos < pending.size()) {
            const ssize_t n = http::transmit(c, pending.constData() + pos, size_t(pending.size() - pos));
            if (n < 0)
                return;
            if (n == 0) {
                if (c.state == Connection::State::Write || c.state == Connection::State::Stream) {
                    c.outcome += " (client gone)";
                    log(c);
                }
                closeConnection(id);
                return;
            }
            pos += n;
            c.lastProgress = Clock::now();
        }
        if (c.state != Connection::State::Stream)
            break;
        // An answer still being made: its next piece, once the worker has put one in; the
        // connection ends once the last has gone and the call has ended.
        pos = 0;
        const Outbox::Next next = c.outbox->take(&c.out, c.callEnded);
        if (next == Outbox::Next::Wait) {
            c.out.clear();
            return;
        }
        if (next == Outbox::Next::Piece)
            continue;
        if (next == Outbox::Next::CutShort) {
            c.outcome += " (answer cut short)";
            c.cutShort = true;
        }
        c.out.clear();
        trimDue = true;
        break;
    }
    if (c.state == Connection::State::Body) {
        c.interim.clear();
        c.outPos = 0;
        return;
    }
    log(c);
    if (!c.drainAfter || stopping) {
        trimDue = trimDue || c.out.size() > kTrimAfter;
        closeConnection(id);
        // Large answers leave their memory in the allocator's free lists; once no call
        // runs, it goes back to the system, so an idle server is small again.
        if (trimDue && std::none_of(connections.begin(), connections.end(),
                                    [](const auto& e) { return e.second.state == Connection::State::Queued; })) {
            ::malloc_trim(0);
            trimDue = false;
        }
        return;
    }
    if (c.tls)
        c.tls->shutdown();
    ::shutdown(c.fd, SHUT_WR);
    c.out.clear();
    c.state = Connection::State::Drain;
    c.drainUntil = Clock::now() + std::chrono::milliseconds(kDrainMs);
}

void HttpRpcServer::Impl::onHandshake(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    c.tlsWants = 0;
    switch (c.tls->handshake()) {
    case http::TlsChannel::Io::Done:
        c.clientCertificate = c.tls->peerSubject();
        c.state = Connection::State::Head;
        onReadable(id); // the request may have come with the handshake's last flight
        return;
    case http::TlsChannel::Io::WantRead: c.tlsWants = POLLIN; return;
    case http::TlsChannel::Io::WantWrite: c.tlsWants = POLLOUT; return;
    case http::TlsChannel::Io::Closed:
    case http::TlsChannel::Io::Failed:
        if (!c.tls->failure().isEmpty())
            logTlsFailure(c, c.tls->failure());
        closeConnection(id);
        return;
    }
}

void HttpRpcServer::Impl::logTlsFailure(const Connection& c, const QString& why)
{
    writeLog(logline::format(logline::Level::Warning, "req=" + c.requestId +
                                                          " tls from=" + QByteArray::fromStdString(c.address) + ": " +
                                                          http::printable(why.toUtf8())));
}

void HttpRpcServer::Impl::closeConnection(quint64 id)
{
    auto it = connections.find(id);
    if (it == connections.end())
        return;
    Connection& c = it->second;
    if (c.state == Connection::State::Queued) {
        // A worker still has it: the answer is dropped when it comes back.
        ::shutdown(c.fd, SHUT_RDWR);
        return;
    }
    if (c.outbox)
        c.outbox->leave(); // the worker writing the answer waits no more and writes no further
    if (c.tls && c.state != Connection::State::Drain && !c.cutShort) {
        c.tls->shutdown(); // the end of the session, so the client tells it from a cut (as a cut answer is)
        c.tls.reset();
    }
    ::close(c.fd);
    if (c.counted)
        bounds.give(c.address);
    connections.erase(it);
    acceptPausedUntil = Clock::time_point();
}

void HttpRpcServer::Impl::takeFinished()
{
    for (WorkLanes::Finished& f : lanes.takeFinished()) {
        auto it = connections.find(f.id);
        if (it == connections.end()) {
            if (f.outbox)
                f.outbox->leave(); // gone before its answer began: the worker stops writing it
            continue;
        }
        Connection& c = it->second;
        if (f.outbox) {
            c.state = Connection::State::Stream;
            c.outbox = std::move(f.outbox);
            c.lastProgress = Clock::now();
            onWritable(f.id);
            continue;
        }
        c.target = f.target;
        c.outcome = f.outcome;
        c.metricMethod = f.method;
        c.httpStatus = f.httpStatus;
        c.faultCode = f.faultCode;
        if (f.streamed)
            c.callEnded = true;
        else
            answer(f.id, c, std::move(f.response), false);
    }
    // Streams that got more to send since the loop last looked.
    std::vector<quint64> streaming;
    for (const auto& [id, c] : connections)
        if (c.state == Connection::State::Stream)
            streaming.push_back(id);
    for (quint64 id : streaming)
        onWritable(id);
}

void HttpRpcServer::Impl::log(const Connection& c)
{
    const auto elapsed = Clock::now() - c.start;
    const qint64 ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    if (options.onRequestDone)
        options.onRequestDone(RequestRecord{c.metricMethod, c.httpStatus ? c.httpStatus : 200, c.faultCode,
                                            std::chrono::duration<double>(elapsed).count()});
    writeLog(http::requestLogLine(c, ms));
}

void HttpRpcServer::Impl::writeLog(const QByteArray& line)
{
    if (options.logSink) {
        options.logSink(line);
    } else {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fflush(stderr);
    }
}

HttpRpcServer::HttpRpcServer(const MethodRegistry& registry, HttpServerOptions options)
    : d(std::make_unique<Impl>(registry, std::move(options)))
{}

HttpRpcServer::~HttpRpcServer() { stop(); }

bool HttpRpcServer::listen(const QString& host, int port, QString* error)
{
    std::lock_guard<std::mutex> lock(d->stopMutex);
    if (d->ioThread.joinable()) {
        *error = QStringLiteral("O servidor já está escutando.");
        return false;
    }
    const int fd = http::listenSocket(host, port, &d->boundPort);
    if (fd < 0) {
        *error = QStringLiteral("Não foi possível escutar em %1:%2 (endereço inválido ou porta em uso).")
                     .arg(host)
                     .arg(port);
        return false;
    }

    d->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    d->listenFd = fd;
    d->stopRequested = false;
    d->stopping = false;
    d->lanes.start();
    d->serving = true;
    d->ioThread = std::thread([this] { d->run(); });
    return true;
}

int HttpRpcServer::port() const { return d->boundPort; }

bool HttpRpcServer::isListening() const { return d->serving && !d->stopRequested; }

void HttpRpcServer::stop()
{
    std::lock_guard<std::mutex> lock(d->stopMutex);
    if (!d->ioThread.joinable())
        return;
    d->stopRequested = true;
    d->wake();
    d->ioThread.join(); // queued requests answered 503, running ones answered in full
    d->lanes.stop();
    d->checks.stop(); // before the loop's wake-up descriptor closes: a check ending wakes no one
    for (auto& [id, c] : d->connections)
        ::close(c.fd);
    d->connections.clear();
    d->bounds.clear();
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    d->listenFd = -1;
    ::close(d->wakeFd);
    d->wakeFd = -1;
    d->serving = false;
}

} // namespace srv
