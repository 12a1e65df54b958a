// The wire over TLS, between the screen's transport and the server: what verifies is
// served, what does not is refused with the server named and the reason; nothing is read or
// answered in clear on a TLS port; a handshake that stalls costs no worker and ends at the
// head's deadline; a client's certificate is asked for and named; a hashed token admits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

#include "core/errors/Errors.h"
#include "core/net/HttpTransport.h"
#include "core/net/TNetConnection.h"
#include "server/rpc/Caller.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/MethodRegistry.h"
#include "server/rpc/TokenHash.h"
#include "tests/support/RawExchange.h"
#include "tests/support/TestPki.h"

using namespace srv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const char* kServer = "Test.rdmFake";
const QByteArray kWho = R"({"jsonrpc":"2.0","id":1,"method":"Who","params":[]})";

// A TCP connection that sends nothing: a client that never begins its handshake.
int silentConnection(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the server has closed fd (by within).
bool closedByServer(int fd, std::chrono::milliseconds within)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, int(within.count())) <= 0)
        return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

class TlsTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pki.ok());
        registry.add(kServer, "Who", {}, [this](const QVariantList&) {
            ++calls;
            const Caller& c = Caller::current();
            return QVariant(QVariantList{c.tokenName, c.certificate});
        });
    }
    void TearDown() override
    {
        if (server)
            server->stop();
    }

    // A server speaking TLS with the certificate and key given (none: in clear).
    void start(const QString& cert, const QString& key, HttpServerOptions options = {}, const QString& clientCa = {})
    {
        if (server)
            server->stop();
        if (!cert.isEmpty()) {
            QString error;
            options.tls = TlsContext::load(TlsSettings{cert, key, clientCa}, &error);
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

    // The screen's connection, to "localhost" so that TLS is on and the name is verified.
    std::unique_ptr<TNetConnection> screen(const fw::TlsPolicy& policy)
    {
        auto c = std::make_unique<TNetConnection>();
        c->setServerName(QString::fromLatin1(kServer));
        c->setHost(QStringLiteral("localhost"));
        c->setPort(server->port());
        c->setTlsPolicy(policy);
        c->setTransport(std::make_shared<fw::HttpTransport>());
        c->setThrowException(false);
        return c;
    }
    // TLS even on this machine, where it would otherwise be off.
    fw::TlsPolicy trusting() const
    {
        fw::TlsPolicy p;
        p.mode = fw::TlsPolicy::Mode::On;
        p.caFile = pki.caPem;
        return p;
    }
    // What the screen says when it calls: "" when the call went through.
    static QString refusal(TNetConnection& c)
    {
        try {
            c.Call(QStringLiteral("Who"));
            return QString();
        } catch (const fw::ConnectionError& e) {
            return e.message();
        }
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
    std::atomic<int> calls{0};
    std::mutex logMutex;
    QByteArray log;
};

} // namespace

TEST_F(TlsTransport, TheScreenCallsOverVerifiedTlsAndRefusesEveryOtherServer)
{
    start(pki.serverPem, pki.serverKey);
    EXPECT_EQ(refusal(*screen(trusting())), QString());
    fw::TlsPolicy pinned = trusting();
    pinned.pinSha256 = QString::fromLatin1(pki.serverSha256);
    EXPECT_EQ(refusal(*screen(pinned)), QString()) << "the pinned certificate";

    struct Case {
        const char* what;
        QString cert, key;
        fw::TlsPolicy policy;
        const char* said;
    };
    fw::TlsPolicy otherPin = trusting();
    otherPin.pinSha256 = QString(64, QLatin1Char('a'));
    fw::TlsPolicy system = trusting(); // the system's trust store knows nothing of the test's authority
    system.caFile.clear();
    for (const Case& k :
         {Case{"another authority", pki.strangerPem, pki.strangerKey, trusting(), "autoridade confiável"},
          Case{"expired", pki.expiredPem, pki.expiredKey, trusting(), "venceu em"},
          Case{"pin", pki.serverPem, pki.serverKey, otherPin, "não é o fixado"},
          Case{"system store", pki.serverPem, pki.serverKey, system, "autoridade confiável"},
          Case{"in clear", QString(), QString(), trusting(), "conexão segura"}}) {
        HttpServerOptions quick;
        quick.headerTimeoutMs = 500; // a server in clear waits for a head that a ClientHello never ends
        start(k.cert, k.key, quick);
        const int before = calls;
        std::unique_ptr<TNetConnection> c = screen(k.policy);
        const QString said = refusal(*c);
        EXPECT_TRUE(said.contains(QString::fromUtf8(k.said))) << k.what << ": " << said.toStdString();
        EXPECT_TRUE(said.contains(QStringLiteral("localhost:%1").arg(server->port()))) << "the server is named";
        EXPECT_EQ(calls, before) << k.what << ": nothing ran";
        c->Open();
        EXPECT_FALSE(c->isConnected()) << k.what << ": refused at connect time too";
        EXPECT_TRUE(c->lastConnectError().contains(QString::fromUtf8(k.said))) << c->lastConnectError().toStdString();
    }
}

TEST_F(TlsTransport, NothingIsReadOrAnsweredInClearOnATlsPort)
{
    start(pki.serverPem, pki.serverKey);
    const cce_test::RawExchange clear =
        cce_test::rawExchange(server->port(), cce_test::rpcPost(kServer, kWho), {}, false, 5000);
    ASSERT_TRUE(clear.connected);
    EXPECT_FALSE(clear.received.contains("HTTP/")) << clear.received.toStdString();
    EXPECT_FALSE(clear.received.contains("jsonrpc"));
    EXPECT_EQ(calls, 0);
    const cce_test::RawExchange tls =
        cce_test::rawExchange(server->port(), cce_test::rpcPost(kServer, kWho), {pki.caPem, {}, {}});
    EXPECT_TRUE(tls.received.startsWith("HTTP/1.1 200")) << tls.tlsError.toStdString();
    EXPECT_TRUE(tls.cleanEnd) << "the answer ends with the session's end, not a cut";
    EXPECT_EQ(calls, 1);
}

TEST_F(TlsTransport, AStalledHandshakeEndsAtTheHeadDeadlineHoldingNoWorkerAndCountsInItsAddresssBound)
{
    HttpServerOptions o;
    o.workers = 1;
    o.quickWorkers = 0;
    o.headerTimeoutMs = 3000;
    o.perAddressLimit = 2;
    o.probationMs = 200;
    start(pki.serverPem, pki.serverKey, o);
    std::vector<int> silent;
    for (int i = 0; i < 3; ++i)
        silent.push_back(silentConnection(server->port()));
    for (int fd : silent)
        ASSERT_GE(fd, 0);
    // The third is one too many for the address: it goes at the end of its probation, the
    // first two at the head's deadline.
    EXPECT_TRUE(closedByServer(silent[2], 2000ms));
    EXPECT_FALSE(closedByServer(silent[0], 0ms));
    // Meanwhile a prompt client is served by the only worker.
    const auto before = Clock::now();
    EXPECT_EQ(refusal(*screen(trusting())), QString());
    EXPECT_LT(Clock::now() - before, 2000ms);
    EXPECT_TRUE(closedByServer(silent[0], 5000ms));
    EXPECT_TRUE(closedByServer(silent[1], 1000ms));
    for (int fd : silent)
        ::close(fd);
    EXPECT_TRUE(logText().contains("handshake")) << logText().toStdString();
}

TEST_F(TlsTransport, MutualTlsRefusesAClientWithoutCertificateAndNamesTheOneWithIt)
{
    start(pki.serverPem, pki.serverKey, {}, pki.caPem);
    const cce_test::RawExchange anonymous =
        cce_test::rawExchange(server->port(), cce_test::rpcPost(kServer, kWho), {pki.caPem, {}, {}});
    EXPECT_FALSE(anonymous.received.contains("HTTP/")) << anonymous.received.toStdString();
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(refusal(*screen(trusting())).isEmpty()) << "the screen without a certificate is refused too";

    fw::TlsPolicy office = trusting();
    office.certificateFile = pki.clientPem;
    office.keyFile = pki.clientKey;
    std::unique_ptr<TNetConnection> c = screen(office);
    const QVariantList who = c->Call(QStringLiteral("Who")).toList();
    ASSERT_EQ(who.size(), 2);
    EXPECT_TRUE(who[1].toString().contains(QStringLiteral("CN=estacao-01.filial-sp")))
        << who[1].toString().toStdString();
    for (int i = 0; i < 100 && !logText().contains("cert="); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(logText().contains("cert=\"CN=estacao-01.filial-sp")) << logText().toStdString();
}

TEST_F(TlsTransport, AHashedTokenAdmitsItsTokenOnlyAndAWrongOneIsRefused)
{
    const QByteArray token = "token-da-filial-0f9e8d7c6b";
    HttpServerOptions o;
    o.tokens = {tokenhash::make(token, 14)};
    o.tokenNames.insert(o.tokens.first(), QStringLiteral("filial"));
    start(pki.serverPem, pki.serverKey, o);
    std::unique_ptr<TNetConnection> c = screen(trusting());
    for (const QByteArray& wrong : {QByteArray("token-da-filial-0f9e8d7c6c"), o.tokens.first().toLatin1()}) {
        c->setToken(QString::fromLatin1(wrong));
        EXPECT_TRUE(refusal(*c).contains(QStringLiteral("Acesso negado"))) << wrong.toStdString();
    }
    EXPECT_EQ(calls, 0);
    c->setToken(QString::fromLatin1(token));
    for (int i = 0; i < 2; ++i) // checked once, then remembered
        EXPECT_EQ(c->Call(QStringLiteral("Who")).toList().value(0).toString(), QStringLiteral("filial"));
}
