// The transport against hostile and slow clients, spoken byte by byte over loopback:
// the head judged before any body, deadlines, the per-address bound, framing, and the
// answers at shutdown. Every client here is bounded in count and time.
#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <zlib.h>

#include "core/net/HttpTransport.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/MethodRegistry.h"

using namespace srv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const QByteArray kPing = R"({"jsonrpc":"2.0","id":1,"method":"Ping","params":[]})";

// A client that writes exactly the bytes it is given.
class RawClient {
public:
    explicit RawClient(int port, const char* source = nullptr)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (source) {
            sockaddr_in from{};
            from.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &from.sin_addr);
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&from), sizeof(from));
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(quint16(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return m_connected; }
    bool send(const QByteArray& bytes)
    {
        return ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // Reads until the server closes or time runs out; the status of the last answer
    // (after any "100 Continue"), or -1 when none came.
    int status(std::chrono::milliseconds within = 5000ms)
    {
        const auto deadline = Clock::now() + within;
        char buffer[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                break;
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            received.append(buffer, n);
        }
        const qsizetype at = received.lastIndexOf("HTTP/1.1 ");
        return at < 0 ? -1 : received.mid(at + 9, 3).toInt();
    }

    QByteArray received;

private:
    int m_fd = -1;
    bool m_connected = false;
};

QByteArray head(const QByteArray& extraHeaders, qint64 length)
{
    return "POST /rpc/Test.rdmFake HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" + extraHeaders +
           (length >= 0 ? "Content-Length: " + QByteArray::number(length) + "\r\n" : QByteArray()) + "\r\n";
}

class HttpTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registry.add("Test.rdmFake", "Ping", {}, [this](const QVariantList&) {
            ++calls;
            return QVariant(QStringLiteral("pong"));
        });
        registry.add("Test.rdmFake", "Long", {}, [](const QVariantList&) {
            QString text;
            for (int i = 0; i < 2000; ++i)
                text += QStringLiteral("linha %1 da lista; ").arg(i);
            return QVariant(text);
        });
        registry.add("Test.rdmFake", "Hold", {}, [this](const QVariantList&) {
            std::unique_lock<std::mutex> lock(m);
            ++held;
            cv.notify_all();
            cv.wait_for(lock, 10s, [&] { return released; });
            return QVariant(QStringLiteral("finished"));
        });
    }
    void TearDown() override
    {
        release();
        if (server)
            server->stop();
    }

    void start(HttpServerOptions options = {})
    {
        options.logSink = [](const QByteArray&) {};
        server = std::make_unique<HttpRpcServer>(registry, options);
        QString error;
        ASSERT_TRUE(server->listen("127.0.0.1", 0, &error)) << error.toStdString();
    }

    int ping(const std::string& token = {}, std::chrono::milliseconds* took = nullptr)
    {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(10, 0);
        httplib::Headers headers;
        if (!token.empty())
            headers.emplace("Authorization", "Bearer " + token);
        const auto before = Clock::now();
        auto res = client.Post("/rpc/Test.rdmFake", headers, kPing.toStdString(), "application/json");
        if (took)
            *took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
        return res ? res->status : -1;
    }

    bool waitHeld(int n)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, 10s, [&] { return held >= n; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m);
        released = true;
        cv.notify_all();
    }

    MethodRegistry registry;
    std::unique_ptr<HttpRpcServer> server;
    std::atomic<int> calls{0};
    std::mutex m;
    std::condition_variable cv;
    int held = 0;
    bool released = false;
};

// Time from sending a head to its answer, for a client that never sends the body.
std::chrono::milliseconds answeredWithin(RawClient& c, int* status)
{
    const auto before = Clock::now();
    *status = c.status(5000ms);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
}

TEST_F(HttpTransportTest, TokenEncodingAndSizeAreJudgedBeforeAnyBodyIsRead)
{
    HttpServerOptions options;
    options.tokens = {"tok-1"};
    options.bodyLimit = 1 << 20;
    start(options);

    struct Case {
        const char* what;
        QByteArray head;
        int status;
    };
    for (const Case& c : {
             Case{"no token, large body announced", head("", 900000), 401},
             Case{"wrong token asking to continue",
                  head("Authorization: Bearer nope\r\nExpect: 100-continue\r\n", 900000), 401},
             Case{"compressed body", head("Authorization: Bearer tok-1\r\nContent-Encoding: gzip\r\n", 900000), 415},
             Case{"compressed, no token", head("Content-Encoding: gzip\r\n", 900000), 401},
             Case{"over the limit", head("Authorization: Bearer tok-1\r\n", (1 << 20) + 1), 413},
         }) {
        RawClient client(server->port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send(c.head));
        int status = 0;
        // The body never comes: the answer must not wait for it.
        EXPECT_LT(answeredWithin(client, &status), 1000ms) << c.what;
        EXPECT_EQ(status, c.status) << c.what << ": " << client.received.toStdString();
        EXPECT_FALSE(client.received.contains("100 Continue")) << c.what;
    }

    // A whole gzip body with a valid token is refused too, not inflated.
    httplib::Client client("127.0.0.1", server->port());
    httplib::Headers headers{{"Authorization", "Bearer tok-1"}, {"Content-Encoding", "gzip"}};
    auto res = client.Post("/rpc/Test.rdmFake", headers, std::string("\x1f\x8b\x08\x00", 4), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 415);
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(res->body))
                  .object()
                  .value("error")
                  .toObject()
                  .value("code")
                  .toInt(),
              -32600);

    // A good client that asks before sending its body is told to go on, and served.
    RawClient polite(server->port());
    ASSERT_TRUE(polite.send(head("Authorization: Bearer tok-1\r\nExpect: 100-continue\r\n", kPing.size())));
    ASSERT_TRUE(polite.send(kPing));
    EXPECT_EQ(polite.status(), 200) << polite.received.toStdString();
    EXPECT_EQ(calls, 1) << "only the polite request ran";
}

TEST_F(HttpTransportTest, SlowClientsDoNotStallOthers)
{
    HttpServerOptions options;
    options.workers = 1;
    start(options);

    // Six send half a request line, six a whole head and then their body, one byte
    // every 50 ms, for at most two seconds.
    std::atomic<bool> done{false};
    std::atomic<int> begun{0};
    std::vector<std::thread> slow;
    for (int i = 0; i < 12; ++i) {
        slow.emplace_back([&, i] {
            RawClient client(server->port());
            const QByteArray text =
                i < 6 ? QByteArray("POST /rpc/Test.rdm") + QByteArray(1000, 'x') : head("", kPing.size()) + kPing;
            const qsizetype burst = i < 6 ? 10 : text.size() - kPing.size();
            client.send(text.left(burst));
            ++begun;
            const auto end = Clock::now() + 2s;
            for (qsizetype at = burst; at < text.size() && !done && Clock::now() < end; ++at) {
                client.send(text.mid(at, 1));
                std::this_thread::sleep_for(50ms);
            }
        });
    }
    const auto deadline = Clock::now() + 5s;
    while (begun < 12 && Clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(begun, 12);
    // Whoever calls meanwhile is served at once, again and again.
    for (int i = 0; i < 5; ++i) {
        std::chrono::milliseconds took{};
        EXPECT_EQ(ping({}, &took), 200);
        EXPECT_LT(took, 500ms) << "call " << i << " waited behind slow clients";
    }
    done = true;
    for (std::thread& t : slow)
        t.join();
}

TEST_F(HttpTransportTest, HeadAndBodyDeadlinesAnswer408)
{
    HttpServerOptions options;
    options.headerTimeoutMs = 300;
    options.bodyTimeoutMs = 900;
    start(options);

    RawClient idle(server->port()), dribbleHead(server->port()), dribbleBody(server->port());
    ASSERT_TRUE(dribbleHead.send("POST /rpc/Test.rdmFake HTTP/1.1\r\nHost"));
    ASSERT_TRUE(dribbleBody.send(head("", 100) + "{"));
    const auto start = Clock::now();
    std::thread feeder([&] {
        for (int i = 0; i < 30 && Clock::now() < start + 1500ms; ++i) {
            dribbleHead.send("x");
            dribbleBody.send(" ");
            std::this_thread::sleep_for(50ms);
        }
    });
    EXPECT_EQ(idle.status(), 408);
    EXPECT_EQ(dribbleHead.status(), 408);
    const auto headsRefused = Clock::now() - start;
    EXPECT_EQ(dribbleBody.status(), 408);
    const auto bodyRefused = Clock::now() - start;
    feeder.join();
    EXPECT_GE(headsRefused, 250ms);
    EXPECT_LT(headsRefused, 800ms);
    EXPECT_GE(bodyRefused, 800ms) << "the body deadline counts from the connection's start, not the head's";
    EXPECT_LT(bodyRefused, 1400ms);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(ping(), 200);
}

TEST_F(HttpTransportTest, OneAddressHoldsFewConnectionsWithoutARequestWhileItsPromptClientsAreServed)
{
    HttpServerOptions options;
    options.workers = 1;
    options.quickWorkers = 0;
    options.perAddressLimit = 3;
    options.probationMs = 300;
    start(options);
    const QByteArray hold = R"({"jsonrpc":"2.0","id":1,"method":"Hold","params":[]})";

    // Complete requests waiting for the only worker hold their connections, but none of
    // them counts against the address.
    std::vector<std::unique_ptr<RawClient>> waiting;
    for (int i = 0; i < 6; ++i) {
        waiting.push_back(std::make_unique<RawClient>(server->port()));
        ASSERT_TRUE(waiting.back()->send(head("", hold.size()) + hold));
    }
    ASSERT_TRUE(waitHeld(1));
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(std::make_unique<RawClient>(server->port()));
        ASSERT_TRUE(idle.back()->connected());
    }

    // One more idle connection is refused once its moment is over...
    RawClient late(server->port());
    ASSERT_TRUE(late.connected());
    const auto before = Clock::now();
    EXPECT_EQ(late.status(3000ms), 503) << late.received.toStdString();
    const auto refusedAfter = Clock::now() - before;
    EXPECT_GE(refusedAfter, 250ms);
    EXPECT_LT(refusedAfter, 1500ms);
    EXPECT_TRUE(late.received.contains("Conex\xc3\xb5"
                                       "es demais"))
        << late.received.toStdString();

    // ...while one that sends its request at once is served, and so is another address.
    release();
    EXPECT_EQ(ping(), 200);
    RawClient other(server->port(), "127.0.0.2");
    ASSERT_TRUE(other.send(head("", kPing.size()) + kPing));
    EXPECT_EQ(other.status(), 200) << other.received.toStdString();
    for (auto& w : waiting)
        EXPECT_EQ(w->status(), 200) << w->received.toStdString();

    // Once one of the idle three goes, a newcomer takes its place instead of being refused.
    idle.front()->close();
    RawClient next(server->port());
    ASSERT_TRUE(next.connected());
    EXPECT_EQ(next.status(800ms), -1) << "refused although a place was free: " << next.received.toStdString();
    ASSERT_TRUE(next.send(head("", kPing.size()) + kPing));
    EXPECT_EQ(next.status(), 200) << next.received.toStdString();
    EXPECT_EQ(calls, 3);
}

TEST_F(HttpTransportTest, FramingFaultsAreAnsweredAtOnce)
{
    start();
    struct Case {
        const char* what;
        QByteArray bytes;
        int status;
    };
    const QByteArray chunked = "POST /rpc/Test.rdmFake HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
                               QByteArray::number(kPing.size(), 16) + "\r\n" + kPing + "\r\n0\r\n\r\n";
    for (const Case& c : {
             Case{"conflicting lengths", head("Content-Length: 5\r\n", kPing.size()) + kPing, 400},
             Case{"listed conflicting lengths", head("Content-Length: 50, 51\r\n", -1) + kPing, 400},
             Case{"negative length", head("Content-Length: -1\r\n", -1), 400},
             Case{"length and chunks", head("Transfer-Encoding: chunked\r\n", kPing.size()) + kPing, 400},
             Case{"folded header", head("X-A: 1\r\n  folded\r\n", kPing.size()) + kPing, 400},
             Case{"garbage request line", "HELLO\r\n\r\n", 400},
             Case{"other path", "POST /admin HTTP/1.1\r\nContent-Length: 0\r\n\r\n", 404},
             Case{"equal lengths twice",
                  head("Content-Length: " + QByteArray::number(kPing.size()) + "\r\n", kPing.size()) + kPing, 200},
             Case{"chunked body", chunked, 200},
         }) {
        RawClient client(server->port());
        ASSERT_TRUE(client.send(c.bytes));
        int status = 0;
        EXPECT_LT(answeredWithin(client, &status), 1000ms) << c.what;
        EXPECT_EQ(status, c.status) << c.what << ": " << client.received.toStdString();
    }
    EXPECT_EQ(calls, 2);
}

TEST_F(HttpTransportTest, QueuedRequestsGet503WhenTheServerStops)
{
    HttpServerOptions options;
    options.workers = 1;
    start(options);
    RawClient running(server->port());
    const QByteArray hold = R"({"jsonrpc":"2.0","id":1,"method":"Hold","params":[]})";
    ASSERT_TRUE(running.send(head("", hold.size()) + hold));
    ASSERT_TRUE(waitHeld(1));
    RawClient queued(server->port()), arriving(server->port());
    ASSERT_TRUE(queued.send(head("", kPing.size()) + kPing));
    ASSERT_TRUE(arriving.send(head("", kPing.size())));

    std::thread stopper([&] { server->stop(); });
    EXPECT_EQ(queued.status(), 503) << queued.received.toStdString();
    EXPECT_EQ(arriving.status(), 503) << arriving.received.toStdString();
    release();
    EXPECT_EQ(running.status(), 200) << "the request in flight still answers";
    stopper.join();
    EXPECT_EQ(calls, 0) << "a queued request ran after the stop";
}

TEST_F(HttpTransportTest, AnswersAreGzippedForClientsThatAskForIt)
{
    start();
    const QByteArray body = R"({"jsonrpc":"2.0","id":1,"method":"Long","params":[]})";
    auto answer = [&](const QByteArray& acceptEncoding, QByteArray* headers) {
        RawClient c(server->port());
        EXPECT_TRUE(c.send(head(acceptEncoding, body.size()) + body));
        EXPECT_EQ(c.status(), 200);
        const qsizetype end = c.received.indexOf("\r\n\r\n");
        *headers = c.received.left(end).toLower();
        return c.received.mid(end + 4);
    };
    QByteArray headers;
    const QByteArray plain = answer(QByteArray(), &headers);
    EXPECT_FALSE(headers.contains("content-encoding")) << "not asked for";
    ASSERT_TRUE(plain.startsWith("{") && plain.contains("linha 1999")) << plain.left(100).toStdString();

    for (const char* asked : {"Accept-Encoding: gzip\r\n", "Accept-Encoding: br;q=1, GZIP ; q=0.5\r\n"}) {
        const QByteArray packed = answer(asked, &headers);
        EXPECT_TRUE(headers.contains("content-encoding: gzip")) << asked;
        EXPECT_TRUE(headers.contains("content-length: " + QByteArray::number(packed.size())));
        EXPECT_LT(packed.size(), plain.size() / 4) << asked;
        // Inflated, it is the plain answer.
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
        QByteArray inflated(plain.size() + 1, Qt::Uninitialized);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
        z.avail_in = uInt(packed.size());
        z.next_out = reinterpret_cast<Bytef*>(inflated.data());
        z.avail_out = uInt(inflated.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        inflated.resize(qsizetype(z.total_out));
        inflateEnd(&z);
        EXPECT_EQ(inflated, plain);
    }
    for (const char* refused : {"Accept-Encoding: gzip;q=0\r\n", "Accept-Encoding: deflate, identity\r\n"}) {
        EXPECT_EQ(answer(refused, &headers), plain) << refused;
        EXPECT_FALSE(headers.contains("content-encoding")) << refused;
    }
}

TEST_F(HttpTransportTest, TheScreensTransportReadsGzippedAnswers)
{
    start();
    // Qt's network access asks for gzip on its own and inflates what comes back; on
    // loopback the transport asks for it only when told to.
    fw::HttpTransport transport;
    transport.setCompression(fw::HttpTransport::Compression::Always);
    fw::RpcRequest request;
    request.host = QStringLiteral("127.0.0.1");
    request.port = server->port();
    request.serverName = QStringLiteral("Test.rdmFake");
    request.body = R"({"jsonrpc":"2.0","id":1,"method":"Long","params":[]})";
    request.timeoutMs = 10000;
    const fw::RpcReply reply = transport.post(request);
    ASSERT_EQ(reply.failure, fw::RpcReply::Failure::None) << reply.failureText.toStdString();
    EXPECT_EQ(reply.httpStatus, 200);
    EXPECT_TRUE(reply.body.startsWith("{") && reply.body.contains("linha 1999 da lista"))
        << reply.body.left(80).toStdString();
}

} // namespace
