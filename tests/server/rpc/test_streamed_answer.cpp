// An answer its method writes as it goes out as it is made: the bytes of the whole
// answer, without a length, gzipped when asked; cut short when the method fails after
// its first piece; and the method hears of a client that has gone.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonDocument>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <zlib.h>

#include "core/net/HttpTransport.h"
#include "core/net/TNetConnection.h"
#include "core/values/JsonCodec.h"
#include "server/rpc/AnswerStream.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/MethodRegistry.h"
#include "server/rpc/RpcDispatcher.h"

using namespace srv;
using namespace std::chrono_literals;

namespace {

const char* kServer = "Test.rdmFake";

QByteArray request(const char* method, int count)
{
    return QByteArray(R"({"jsonrpc":"2.0","id":7,"method":")") + method + R"(","params":[)" +
           QByteArray::number(count) + "]}";
}

// One POST on a connection of its own; the answer's head and body as they came, read
// until the server closes (or readHeadOnly: until the head is in, then the client leaves).
struct Exchange {
    QByteArray head, body;
};
Exchange post(int port, const QByteArray& body, const QByteArray& extraHeaders = {}, bool readHeadOnly = false)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    Exchange out;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
        const QByteArray text = "POST /rpc/" + QByteArray(kServer) +
                                " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
                                QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
        ::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL);
        timeval limit{20, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        QByteArray in;
        char buffer[65536];
        for (;;) {
            if (readHeadOnly && in.contains("\r\n\r\n"))
                break;
            const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            in.append(buffer, n);
        }
        const qsizetype end = in.indexOf("\r\n\r\n");
        out.head = in.left(end);
        out.body = end < 0 ? QByteArray() : in.mid(end + 4);
    }
    ::close(fd);
    return out;
}

QByteArray gunzip(const QByteArray& in)
{
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    QByteArray out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        char buffer[65536];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof(buffer);
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, qsizetype(sizeof(buffer) - z.avail_out));
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END ? out : QByteArray("not gzip");
}

class StreamedAnswer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A list of n texts written as JSON, handed on every few hundred; "Broken" fails
        // after its first piece, "Endless" writes until nobody listens.
        auto rows = [this](const QVariantList& p, bool broken) {
            AnswerStream* stream = AnswerStream::current();
            const int count = p.value(0).toInt();
            QByteArray text = "[";
            for (int i = 0; i < count; ++i) {
                text += (i ? ",\"" : "\"") + QByteArray::number(i) + " ação\"";
                if (stream && text.size() > 4096) {
                    streamed = true;
                    if (!stream->write(text)) {
                        clientGone = true;
                        break;
                    }
                    text.clear();
                    if (broken)
                        throw std::runtime_error("SELECT failed");
                }
            }
            return QVariant::fromValue(fw::json::RawJson{text + "]"});
        };
        registry.add(kServer, "Rows", {{"n", ArgKind::Any}}, [rows](const QVariantList& p) { return rows(p, false); });
        registry.add(kServer, "Broken", {{"n", ArgKind::Any}}, [rows](const QVariantList& p) { return rows(p, true); });
        HttpServerOptions options;
        options.logSink = [this](const QByteArray& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log += line;
        };
        server = std::make_unique<HttpRpcServer>(registry, options);
        QString error;
        ASSERT_TRUE(server->listen("127.0.0.1", 0, &error)) << error.toStdString();
    }
    void TearDown() override { server->stop(); }

    // The answer as one piece, as a call in the same process has it.
    QByteArray whole(const char* method, int count)
    {
        return RpcDispatcher(registry).handle(kServer, request(method, count)).body;
    }
    QByteArray logText()
    {
        std::lock_guard<std::mutex> lock(logMutex);
        return log;
    }

    MethodRegistry registry;
    std::unique_ptr<HttpRpcServer> server;
    std::atomic<bool> streamed{false}, clientGone{false};
    std::mutex logMutex;
    QByteArray log;
};

} // namespace

TEST_F(StreamedAnswer, GoesOutAsTheWholeAnswersBytesWithoutALength)
{
    const QByteArray expected = whole("Rows", 50000);
    ASSERT_TRUE(QJsonDocument::fromJson(expected).isObject());
    const Exchange plain = post(server->port(), request("Rows", 50000));
    EXPECT_TRUE(streamed);
    EXPECT_TRUE(plain.head.startsWith("HTTP/1.1 200 OK"));
    EXPECT_FALSE(plain.head.toLower().contains("content-length")) << "the connection's end ends it";
    EXPECT_TRUE(plain.head.toLower().contains("connection: close"));
    EXPECT_EQ(plain.body, expected);

    const Exchange packed = post(server->port(), request("Rows", 50000), "Accept-Encoding: gzip\r\n");
    EXPECT_TRUE(packed.head.toLower().contains("content-encoding: gzip"));
    EXPECT_EQ(gunzip(packed.body), expected);

    // A small answer never reaches a piece: it goes whole, with its length.
    const Exchange small = post(server->port(), request("Rows", 3));
    EXPECT_TRUE(small.head.toLower().contains("content-length"));
    EXPECT_EQ(small.body, whole("Rows", 3));
}

TEST_F(StreamedAnswer, AFailureAfterTheFirstPieceCutsTheAnswerShort)
{
    const Exchange cut = post(server->port(), request("Broken", 50000));
    EXPECT_TRUE(cut.head.startsWith("HTTP/1.1 200 OK"));
    EXPECT_FALSE(cut.body.isEmpty());
    EXPECT_FALSE(QJsonDocument::fromJson(cut.body).isObject()) << "a client must not take a part for the whole";
    EXPECT_FALSE(cut.body.contains("SELECT"));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!logText().contains("cut short") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(logText().contains("Broken")) << logText().constData();
    EXPECT_TRUE(logText().contains("cut short")) << logText().constData();
}

TEST_F(StreamedAnswer, TheMethodHearsOfAClientThatHasGone)
{
    // Far more than the server holds ahead of a socket nobody reads.
    post(server->port(), request("Rows", 5000000), {}, true);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!clientGone && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(clientGone);
}

TEST_F(StreamedAnswer, TheScreensConnectionReadsAStreamedAnswer)
{
    TNetConnection connection;
    connection.setServerName(QString::fromLatin1(kServer));
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(server->port());
    connection.setTransport(std::make_shared<fw::HttpTransport>());
    const QVariantList rows = connection.Call(QStringLiteral("Rows"), {20000}).toList();
    EXPECT_TRUE(streamed);
    ASSERT_EQ(rows.size(), 20000);
    EXPECT_EQ(rows.last().toString(), QStringLiteral("19999 ação"));
    // Cut short, it is refused as the malformed answer it is.
    EXPECT_THROW(connection.Call(QStringLiteral("Broken"), {20000}), std::exception);
}
