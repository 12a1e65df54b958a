// An office behind one address: a hundred users of one NAT address list and save at once
// through a cce-server process, on SQLite and on PostgreSQL, and none is refused; while
// idle and slow connections from that same address are still bounded and ended.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "tests/server/methods/MethodsFixture.h"
#include "tests/support/LoopbackRpc.h"
#include "tests/support/ServerProcess.h"

using namespace cce_test;

namespace {

constexpr int kClients = 100;
constexpr int kRounds = 2;

// A connection that sends what it is given and reads what comes back: the status of the
// answer, or -1 when none came within the wait.
class Idle {
public:
    explicit Idle(int port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(quint16(port));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0;
    }
    ~Idle() { ::close(m_fd); }
    void send(const char* bytes) { ::send(m_fd, bytes, strlen(bytes), MSG_NOSIGNAL); }
    int status(int waitMs)
    {
        QByteArray in;
        QElapsedTimer clock;
        clock.start();
        char buffer[4096];
        // What came already is read even when the wait is over.
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(0, waitMs - clock.elapsed()))) <= 0)
                break;
            const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            in.append(buffer, n);
        }
        return in.startsWith("HTTP/1.1 ") ? in.mid(9, 3).toInt() : -1;
    }
    bool connected = false;

private:
    int m_fd = -1;
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

class OfficeBehindOneAddress : public MethodsTest {
protected:
    void SetUp() override
    {
        binary = builtProgram("cce-server");
        if (binary.isEmpty())
            GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR)";
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        addNumberedInvoices(kClients);
        QFile f(m_dir.filePath("cce-server.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[server]\nlisten=127.0.0.1:0\ntokens=escritorio\nworkers=4\nunauthenticated_per_address=16\n"
                "max_connections=1024\n[database]\nurl=" +
                databaseUrl().toUtf8() + "\n");
    }
    static QString lancto(int i) { return numberedLancto(i); }

    QString binary;
};

TEST_P(OfficeBehindOneAddress, AHundredUsersAreServedWhileIdleAndSlowConnectionsAreStillBounded)
{
    ServerProcess server;
    QString why;
    ASSERT_TRUE(
        server.start(binary, {"--config", m_dir.filePath("cce-server.ini")}, m_dir.filePath("server.log"), &why))
        << why.toStdString();
    const int port = server.port();

    // Fifteen connections that never send a request and one that sends half its head take
    // the address's sixteen places; four more idle ones find no place.
    QElapsedTimer sinceIdle;
    sinceIdle.start();
    std::vector<std::unique_ptr<Idle>> idle;
    for (int i = 0; i < 15; ++i)
        idle.push_back(std::make_unique<Idle>(port));
    Idle slow(port);
    slow.send("POST /rpc/Dfs59000.rdmTransmissaoCCe HTTP/1.1\r\nHost: x\r\n");
    std::vector<std::unique_ptr<Idle>> beyond;
    for (int i = 0; i < 4; ++i)
        beyond.push_back(std::make_unique<Idle>(port));

    std::mutex mutex;
    std::vector<double> saves, lists;
    QStringList refusals;
    std::atomic<int> ready{0};
    std::vector<std::thread> users;
    for (int c = 1; c <= kClients; ++c) {
        users.emplace_back([&, c] {
            ++ready;
            while (ready < kClients)
                std::this_thread::yield();
            Letter l = pending(QStringLiteral("01"));
            l.texto = QStringLiteral("Correção do usuário %1 do escritório: endereço de entrega.").arg(c);
            const fw::Row letter = letterRow(QStringLiteral("0002"), lancto(c), l);
            for (int round = 0; round < kRounds; ++round) {
                for (const fw::DeltaChange& change : {ins(letter), del(letter)}) {
                    fw::DeltaPacket d = delta();
                    d.changes = {change};
                    QElapsedTimer t;
                    t.start();
                    const HttpAnswer a =
                        rpcCall(port, srv::kServerTransmissao, "SetCCe",
                                {QVariant::fromValue(d), QStringLiteral("0002"), lancto(c)}, "escritorio", "usuario");
                    const double ms = double(t.nsecsElapsed()) / 1e6;
                    std::lock_guard<std::mutex> lock(mutex);
                    saves.push_back(ms);
                    if (a.status != 200 || a.result().toString() != QString())
                        refusals << QStringLiteral("save %1: HTTP %2 %3")
                                        .arg(c)
                                        .arg(a.status)
                                        .arg(QString::fromUtf8(a.body.left(200)));
                }
                QElapsedTimer t;
                t.start();
                const HttpAnswer a = rpcCall(port, srv::kServerTransmissao, "GetNotaFiscal", criteria(), "escritorio");
                const double ms = double(t.nsecsElapsed()) / 1e6;
                std::lock_guard<std::mutex> lock(mutex);
                lists.push_back(ms);
                if (a.status != 200 || a.result().toList().size() != 2)
                    refusals << QStringLiteral("list %1: HTTP %2 %3")
                                    .arg(c)
                                    .arg(a.status)
                                    .arg(QString::fromUtf8(a.body.left(200)));
            }
        });
    }
    for (std::thread& t : users)
        t.join();
    EXPECT_TRUE(refusals.isEmpty()) << refusals.size() << " refused, first: " << refusals.value(0).toStdString();
    EXPECT_EQ(saves.size(), size_t(kClients * kRounds * 2));
    std::printf("[ figures  ] %s, %d users of one address: saves p50 %.1f ms p99 %.1f ms, lists p50 %.1f ms, %d "
                "refused\n",
                GetParam(), kClients, percentile(saves, 0.5), percentile(saves, 0.99), percentile(lists, 0.5),
                int(refusals.size()));

    // The defences held meanwhile: the four without a place were answered 503 within
    // seconds; the idle and the slow ones are ended by the head's deadline (10 s).
    auto left = [&] { return int(qMax<qint64>(1000, 15000 - sinceIdle.elapsed())); };
    for (auto& b : beyond)
        EXPECT_EQ(b->status(left()), 503);
    EXPECT_EQ(slow.status(left()), 408);
    for (auto& i : idle)
        EXPECT_EQ(i->status(left()), 408);
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO")), 0) << "every letter was deleted again";
    EXPECT_TRUE(server.stop());
}

INSTANTIATE_TEST_SUITE_P(Engines, OfficeBehindOneAddress, ::testing::Values("sqlite", "postgresql"));

} // namespace
