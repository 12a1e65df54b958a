// An answer its method writes as it goes out as it is made: the bytes of the whole
// answer, without a length, gzipped when asked; cut short when the method fails after
// its first piece; and the method hears of a client that has gone. In clear and over TLS.
#include <QJsonDocument>
#include <QTemporaryDir>
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
#include "tests/support/RawExchange.h"
#include "tests/support/TestPki.h"

using namespace srv;
using namespace std::chrono_literals;

namespace {

const char* kServer = "Test.rdmFake";

QByteArray request(const char* method, int count)
{
    return QByteArray(R"({"jsonrpc":"2.0","id":7,"method":")") + method + R"(","params":[)" +
           QByteArray::number(count) + "]}";
}

// The answer's head and body as they came, read until the server closes (or readHeadOnly:
// until the head is in, then the client leaves).
struct Exchange {
    QByteArray head, body;
    bool cleanEnd = false; // TLS: the session was ended, not cut
};

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

class StreamedAnswer : public ::testing::TestWithParam<bool> {
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
        if (GetParam()) {
            QString error;
            options.tls = TlsContext::load(TlsSettings{pki.serverPem, pki.serverKey, QString()}, &error);
            ASSERT_TRUE(options.tls) << error.toStdString();
        }
        options.logSink = [this](const QByteArray& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            log += line;
        };
        server = std::make_unique<HttpRpcServer>(registry, options);
        QString error;
        ASSERT_TRUE(server->listen("127.0.0.1", 0, &error)) << error.toStdString();
    }
    void TearDown() override
    {
        if (server)
            server->stop();
    }

    Exchange post(const QByteArray& body, const QByteArray& extraHeaders = {}, bool readHeadOnly = false)
    {
        cce_test::TlsClientOptions tls;
        if (GetParam())
            tls.ca = pki.caPem;
        const cce_test::RawExchange raw =
            cce_test::rawExchange(server->port(), cce_test::rpcPost(kServer, body, extraHeaders), tls, readHeadOnly);
        const qsizetype end = raw.received.indexOf("\r\n\r\n");
        return Exchange{raw.received.left(end), end < 0 ? QByteArray() : raw.received.mid(end + 4), raw.cleanEnd};
    }

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

    QTemporaryDir dir;
    cce_test::TestPki pki{dir.filePath("pki")};
    MethodRegistry registry;
    std::unique_ptr<HttpRpcServer> server;
    std::atomic<bool> streamed{false}, clientGone{false};
    std::mutex logMutex;
    QByteArray log;
};

} // namespace

TEST_P(StreamedAnswer, GoesOutAsTheWholeAnswersBytesWithoutALength)
{
    const QByteArray expected = whole("Rows", 50000);
    ASSERT_TRUE(QJsonDocument::fromJson(expected).isObject());
    const Exchange plain = post(request("Rows", 50000));
    EXPECT_TRUE(streamed);
    EXPECT_TRUE(plain.head.startsWith("HTTP/1.1 200 OK"));
    EXPECT_FALSE(plain.head.toLower().contains("content-length")) << "the connection's end ends it";
    EXPECT_TRUE(plain.head.toLower().contains("connection: close"));
    EXPECT_EQ(plain.body, expected);
    EXPECT_EQ(plain.cleanEnd, GetParam()) << "over TLS the whole answer ends with the session's end";

    const Exchange packed = post(request("Rows", 50000), "Accept-Encoding: gzip\r\n");
    EXPECT_TRUE(packed.head.toLower().contains("content-encoding: gzip"));
    EXPECT_EQ(gunzip(packed.body), expected);

    // A small answer never reaches a piece: it goes whole, with its length.
    const Exchange small = post(request("Rows", 3));
    EXPECT_TRUE(small.head.toLower().contains("content-length"));
    EXPECT_EQ(small.body, whole("Rows", 3));
}

TEST_P(StreamedAnswer, AFailureAfterTheFirstPieceCutsTheAnswerShort)
{
    const Exchange cut = post(request("Broken", 50000));
    EXPECT_TRUE(cut.head.startsWith("HTTP/1.1 200 OK"));
    EXPECT_FALSE(cut.body.isEmpty());
    EXPECT_FALSE(QJsonDocument::fromJson(cut.body).isObject()) << "a client must not take a part for the whole";
    EXPECT_FALSE(cut.cleanEnd) << "over TLS too the cut shows as a cut";
    EXPECT_FALSE(cut.body.contains("SELECT"));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!logText().contains("cut short") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(logText().contains("Broken")) << logText().constData();
    EXPECT_TRUE(logText().contains("cut short")) << logText().constData();
}

TEST_P(StreamedAnswer, TheMethodHearsOfAClientThatHasGone)
{
    // Far more than the server holds ahead of a socket nobody reads.
    post(request("Rows", 5000000), {}, true);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!clientGone && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(clientGone);
}

TEST_P(StreamedAnswer, TheScreensConnectionReadsAStreamedAnswer)
{
    TNetConnection connection;
    connection.setServerName(QString::fromLatin1(kServer));
    connection.setHost(QStringLiteral("127.0.0.1"));
    connection.setPort(server->port());
    connection.setTransport(std::make_shared<fw::HttpTransport>());
    fw::TlsPolicy tls;
    tls.mode = GetParam() ? fw::TlsPolicy::Mode::On : fw::TlsPolicy::Mode::Off;
    tls.caFile = pki.caPem;
    connection.setTlsPolicy(tls);
    const QVariantList rows = connection.Call(QStringLiteral("Rows"), {20000}).toList();
    EXPECT_TRUE(streamed);
    ASSERT_EQ(rows.size(), 20000);
    EXPECT_EQ(rows.last().toString(), QStringLiteral("19999 ação"));
    // Cut short, it is refused as the malformed answer it is.
    EXPECT_THROW(connection.Call(QStringLiteral("Broken"), {20000}), std::exception);
}

INSTANTIATE_TEST_SUITE_P(Wire, StreamedAnswer, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "tls" : "clear"; });
