// Two cce-server processes on one PostgreSQL database behind HAProxy, as ./run --serve
// --instances 2 sets them up (scripts/balancer-config): fifty clients save letters through
// the balancer, one server is killed in the middle, and afterwards no letter is lost or
// doubled, and every client got an answer or was told plainly to check and try again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <mutex>
#include <thread>

#include "tests/server/methods/MethodsFixture.h"
#include "tests/support/LoopbackRpc.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestPki.h"

using namespace cce_test;

namespace {

constexpr int kClients = 50;
constexpr int kInvoicesEach = 4;
const char kToken[] = "balanceado";

// A loopback port nobody listens on now, for a program that cannot pick its own.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

class BalancedServers : public MethodsTest {
protected:
    void SetUp() override
    {
        binary = builtProgram("cce-server");
        if (binary.isEmpty())
            GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR)";
        if (!QFile::exists("/usr/sbin/haproxy"))
            GTEST_SKIP() << "haproxy is not installed (scripts/install-deps)";
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Each invoice its own counterpart, so that a client lists exactly its invoice.
        addNumberedInvoices(kClients * kInvoicesEach);
        // TLS end to end, as ./run --serve --instances 2 serves: the balancer's certificate
        // and key in one file, the servers' apart.
        ASSERT_TRUE(pki.ok());
        QFile pem(m_dir.filePath("balancer.pem"));
        ASSERT_TRUE(pem.open(QIODevice::WriteOnly));
        for (const QString& part : {pki.serverPem, pki.serverKey}) {
            QFile in(part);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            pem.write(in.readAll());
        }
        loopbackTlsAuthority() = pki.caPem.toStdString();
        QFile f(m_dir.filePath("cce-server.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[server]\nlisten=127.0.0.1:0\nworkers=2\ntokens=" + QByteArray(kToken) +
                "\ntls_certificate=" + pki.serverPem.toUtf8() + "\ntls_key=" + pki.serverKey.toUtf8() +
                "\n[database]\nurl=" + databaseUrl().toUtf8() + "\n");
    }
    void TearDown() override
    {
        if (balancer.state() != QProcess::NotRunning) {
            balancer.kill();
            balancer.waitForFinished(10000);
        }
        loopbackTlsAuthority().clear();
        MethodsTest::TearDown();
    }

    static QString lancto(int i) { return numberedLancto(i); }
    static QString counterpart(int i) { return numberedCounterpart(i); }
    static QString text(int i) { return QStringLiteral("Carta da nota %1: correção do endereço de entrega.").arg(i); }

    QString binary;
    QProcess balancer;
    QTemporaryDir pkiDir;
    TestPki pki{pkiDir.filePath("pki")};
};

TEST_P(BalancedServers, FiftyClientsThroughTheBalancerLoseNoLetterWhenAServerDies)
{
    ServerProcess a, b;
    QString why;
    const QStringList args{"--config", m_dir.filePath("cce-server.ini")};
    ASSERT_TRUE(a.start(binary, args, m_dir.filePath("a.log"), &why)) << why.toStdString();
    ASSERT_TRUE(b.start(binary, args, m_dir.filePath("b.log"), &why)) << why.toStdString();
    const int port = freePort();
    QProcess config;
    config.start(qEnvironmentVariable("CCE_SOURCE_DIR") + "/scripts/balancer-config",
                 {"--tls", m_dir.filePath("balancer.pem"), pki.caPem, m_dir.filePath("balancer"), QString::number(port),
                  kToken, QString::number(a.port()), QString::number(b.port())});
    ASSERT_TRUE(config.waitForFinished(30000));
    ASSERT_EQ(config.exitCode(), 0) << config.readAllStandardError().toStdString();
    balancer.setProcessChannelMode(QProcess::MergedChannels);
    balancer.start("/usr/sbin/haproxy", {"-db", "-f", m_dir.filePath("balancer/haproxy.cfg")});
    const QDeadlineTimer up(30000);
    while (rpcCall(port, srv::kServerDocFiscSaida, "GetParamDFS", {"0001"}, kToken).status != 200) {
        ASSERT_FALSE(up.hasExpired()) << "balancer: " << balancer.readAll().toStdString()
                                      << " A: " << a.log().toStdString();
        ASSERT_NE(balancer.state(), QProcess::NotRunning) << balancer.readAll().toStdString();
    }

    std::atomic<int> confirmed{0}, toldToRetry{0}, unclear{0};
    std::mutex mutex;
    QStringList oddities;
    auto odd = [&](const QString& what) {
        ++unclear;
        std::lock_guard<std::mutex> lock(mutex);
        oddities << what;
    };
    // An answer that says to check and try again: the balancer's, when a server died.
    auto retryAnswer = [](const HttpAnswer& h) {
        return (h.status == 502 || h.status == 503 || h.status == 504) &&
               h.json()["error"].toObject()["message"].toString().contains(QStringLiteral("tente novamente"));
    };
    // Whether the invoice's letter is stored with its text; -1 when the list did not come.
    auto listed = [&](int i) {
        QVariantList criteria = MethodsTest::criteria({{10, counterpart(i)}});
        const HttpAnswer h = rpcCall(port, srv::kServerTransmissao, "GetNotaFiscal", criteria, kToken);
        if (h.status != 200) {
            if (retryAnswer(h))
                ++toldToRetry;
            else
                odd(QStringLiteral("list %1: HTTP %2").arg(i).arg(h.status));
            return -1;
        }
        const fw::DataPacket letters = h.result().toList().value(1).value<fw::DataPacket>();
        for (const fw::Row& r : letters.rows)
            if (r.value(3).toString() == text(i))
                return 1;
        return 0;
    };

    std::atomic<int> ready{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            ++ready;
            while (ready < kClients)
                std::this_thread::yield();
            for (int k = 1; k <= kInvoicesEach; ++k) {
                const int i = c * kInvoicesEach + k;
                Letter l = pending(QStringLiteral("01"));
                l.texto = text(i);
                fw::DeltaPacket d = delta();
                d.changes = {ins(letterRow(QStringLiteral("0002"), lancto(i), l))};
                const QDeadlineTimer deadline(90000);
                bool done = false;
                while (!done && !deadline.hasExpired()) {
                    const HttpAnswer h =
                        rpcCall(port, srv::kServerTransmissao, "SetCCe",
                                {QVariant::fromValue(d), QStringLiteral("0002"), lancto(i)}, kToken, "cliente");
                    if (h.status == 200 && h.result().toString().isEmpty()) {
                        done = true;
                    } else if (retryAnswer(h) || h.status == 200) {
                        // Told to check: the letter may be there already (its server died after
                        // storing it) or refused for that very reason; the list says which.
                        if (h.status != 200)
                            ++toldToRetry;
                        int found = -1;
                        while (found < 0 && !deadline.hasExpired())
                            found = listed(i);
                        done = found == 1;
                        if (h.status == 200 && !done)
                            odd(QStringLiteral("save %1 refused: %2").arg(i).arg(h.result().toString()));
                    } else {
                        odd(QStringLiteral("save %1: HTTP %2 %3").arg(i).arg(h.status).arg(QString::fromUtf8(h.body)));
                    }
                }
                if (done)
                    ++confirmed;
                else
                    odd(QStringLiteral("save %1 never confirmed").arg(i));
            }
        });
    }
    // One server dies while the clients are at work.
    const QDeadlineTimer half(120000);
    while (confirmed < kClients * kInvoicesEach / 3 && !half.hasExpired())
        std::this_thread::yield();
    a.kill();
    for (std::thread& t : clients)
        t.join();

    EXPECT_EQ(unclear, 0) << oddities.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(confirmed, kClients * kInvoicesEach);
    std::printf("[ figures  ] %d saves confirmed through the balancer, %d answers told to check and retry\n",
                int(confirmed), int(toldToRetry));
    // Each invoice holds exactly its one letter, written once.
    QSqlQuery q(db());
    ASSERT_TRUE(q.exec("SELECT N.NRLANCTONF, COUNT(L.NRSEQCCE), MIN(L.DSCORRECAONFE), "
                       "(SELECT COUNT(*) FROM AUDITORIA A WHERE A.CDFILIAL = N.CDFILIAL AND A.NRLANCTONF = "
                       "N.NRLANCTONF AND A.IDACAO = 'gravacao') FROM NOTAFISCAL N LEFT JOIN CARTACORRECAO L ON "
                       "L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF GROUP BY N.CDFILIAL, N.NRLANCTONF "
                       "ORDER BY N.NRLANCTONF"));
    int invoices = 0;
    while (q.next()) {
        const int i = q.value(0).toInt();
        ++invoices;
        EXPECT_EQ(q.value(1).toInt(), 1) << "invoice " << i;
        EXPECT_EQ(q.value(2).toString(), text(i));
        EXPECT_EQ(q.value(3).toInt(), 1) << "invoice " << i << ": written more than once";
    }
    EXPECT_EQ(invoices, kClients * kInvoicesEach);
    EXPECT_TRUE(b.stop());
}

INSTANTIATE_TEST_SUITE_P(Engines, BalancedServers, ::testing::Values("postgresql"));

} // namespace
