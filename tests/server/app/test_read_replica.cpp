// Lists read from a streaming standby (scripts/with-postgres --standby): a client's own save
// shows in its next list however far the standby lags, and a standby that stops under a run
// of lists costs none of them and is taken back once it is up again.
#include <QDeadlineTimer>
#include <QProcess>
#include <QSqlError>
#include <QThread>

#include "core/net/TNetConnection.h"
#include "server/app/CommitPositions.h"
#include "server/app/Metrics.h"
#include "server/app/OperatorMetrics.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/store/CommitPosition.h"
#include "server/store/ReadReplica.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

const QString kText = QStringLiteral("Correção do endereço do destinatário: Rua das Palmeiras, 12.");

class ReadReplicaTest : public MethodsTest {
protected:
    void SetUp() override
    {
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_standbyUrl = qEnvironmentVariable("CCE_PG_STANDBY_URL");
        if (m_standbyUrl.isEmpty())
            GTEST_SKIP() << "CCE_PG_STANDBY_URL is not set; run under scripts/with-postgres --standby";
        Invoice n;
        n.lancto = QStringLiteral("0000000001");
        addInvoice(n);
        QString error;
        std::unique_ptr<srv::Store> standby = srv::Store::open(m_standbyUrl, &error, false);
        ASSERT_TRUE(standby) << error.toStdString();
        replica = std::make_unique<srv::ReadReplica>(
            *store, std::move(standby), srv::ReadReplica::Settings{300, 60000, 50}, [this](bool, const QString& line) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_said << line;
            });
        replica->start();
        ASSERT_TRUE(until([&] { return replica->inUse(); })) << "the standby was never taken";
        // The rows written above reached the standby before anything is asked of it.
        ASSERT_TRUE(until([&] { return &replica->forList(primaryPosition()) != &replica->primary(); }))
            << "the standby did not replay the test's rows";
        srv::registerMethods(registry, srv::Services{store.get(), nullptr, nullptr, replica.get()});
        srv::carryCommitPositions(registry);
    }

    void TearDown() override
    {
        // What a test changed of the standby is undone whatever its outcome.
        if (!m_standbyUrl.isEmpty()) {
            if (m_stopped)
                QProcess::execute(qEnvironmentVariable("CCE_PG_STANDBY_CTL"), {QStringLiteral("start")});
            onStandby(QStringLiteral("SELECT pg_wal_replay_resume()"));
        }
        if (replica)
            replica->stop();
        replica.reset();
        MethodsTest::TearDown();
    }

    template <class Condition>
    static bool until(Condition done, int ms = 30000)
    {
        const QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired())
                return false;
            QThread::msleep(5);
        }
        return true;
    }

    QByteArray primaryPosition() { return row(QStringLiteral("SELECT pg_current_wal_lsn()")).value(0).toByteArray(); }

    // A statement on the standby itself (replay's control needs a superuser's session).
    void onStandby(const QString& sql)
    {
        const QString name = QStringLiteral("standby-control");
        {
            const QUrl u(m_standbyUrl);
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(u.host());
            db.setPort(u.port(5432));
            db.setUserName(u.userName());
            db.setDatabaseName(u.path().mid(1));
            ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        }
        QSqlDatabase::removeDatabase(name);
    }

    static fw::DeltaPacket newLetter()
    {
        Letter l;
        l.seq = QStringLiteral("01");
        l.texto = kText;
        fw::DeltaPacket d = delta();
        d.changes << ins(letterRow(QStringLiteral("0002"), QStringLiteral("0000000001"), l));
        return d;
    }

    // Whether the letters' packet of a GetNotaFiscal answer holds the new letter.
    static bool listsTheLetter(const QVariant& answer)
    {
        const fw::DataPacket letters = answer.toList().value(1).value<fw::DataPacket>();
        const int text = letters.fieldIndex(QStringLiteral("DSCORRECAONFE"));
        for (int i = 0; i < letters.rowCount(); ++i)
            if (letters.row(i).value(text).toString() == kText)
                return true;
        return false;
    }

    QStringList said()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_said;
    }

    std::unique_ptr<srv::ReadReplica> replica;
    bool m_stopped = false;

private:
    QString m_standbyUrl;
    std::mutex m_mutex;
    QStringList m_said;
};

TEST_P(ReadReplicaTest, ASaveShowsInTheNextListThroughALaggingStandby)
{
    srv::HttpServerOptions options;
    options.logSink = [](const QByteArray&) {};
    srv::HttpRpcServer server(registry, options);
    QString error;
    ASSERT_TRUE(server.listen(QStringLiteral("127.0.0.1"), 0, &error)) << error.toStdString();
    auto connection = [&] {
        auto c = std::make_unique<TNetConnection>();
        c->setServerName(srv::kServerTransmissao);
        c->setHost(QStringLiteral("127.0.0.1"));
        c->setPort(server.port());
        return c;
    };
    const std::unique_ptr<TNetConnection> screen = connection(), other = connection();
    // Every emission type, as the screen asks for it on the wire.
    const QVariantList every = criteria({{13, QStringLiteral("")}});

    onStandby(QStringLiteral("SELECT pg_wal_replay_pause()"));
    EXPECT_EQ(screen
                  ->Call(QStringLiteral("SetCCe"),
                         {QVariant::fromValue(newLetter()), QStringLiteral("0002"), QStringLiteral("0000000001")})
                  .toString(),
              QString());
    EXPECT_FALSE(screen->commitPosition().isEmpty()) << "the save's answer said nothing of where it reached";

    const quint64 waited = replica->lists(srv::ReadReplica::Road::PrimaryNotReplayed);
    EXPECT_TRUE(listsTheLetter(screen->Call(QStringLiteral("GetNotaFiscal"), every)))
        << "the screen's own save is missing from its list";
    EXPECT_EQ(replica->lists(srv::ReadReplica::Road::PrimaryNotReplayed), waited + 1);
    // Another client, which wrote nothing, reads the standby as it stands: without the letter.
    EXPECT_FALSE(listsTheLetter(other->Call(QStringLiteral("GetNotaFiscal"), every)))
        << "the standby did not lag: the case proves nothing";

    onStandby(QStringLiteral("SELECT pg_wal_replay_resume()"));
    const quint64 onStandby = replica->lists(srv::ReadReplica::Road::Standby);
    EXPECT_TRUE(listsTheLetter(screen->Call(QStringLiteral("GetNotaFiscal"), every)));
    EXPECT_EQ(replica->lists(srv::ReadReplica::Road::Standby), onStandby + 1) << "the standby caught up in vain";
    server.stop();
}

TEST_P(ReadReplicaTest, AStandbyStoppedUnderARunOfListsCostsNoneAndIsTakenBackWhenUp)
{
    const srv::Method* list = registry.find(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"));
    ASSERT_NE(list, nullptr);
    srv::Metrics metrics;
    srv::declareReplicaMetrics(metrics, *replica);
    int lists = 0, failures = 0;
    auto listOnce = [&] {
        ++lists;
        try {
            if (call(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"), criteria()).toList().size() != 2)
                ++failures;
        } catch (...) {
            ++failures;
        }
    };

    QProcess stop;
    stop.start(qEnvironmentVariable("CCE_PG_STANDBY_CTL"), {QStringLiteral("stop")});
    ASSERT_TRUE(stop.waitForStarted());
    m_stopped = true;
    // Lists go on while the standby goes down, and after.
    while (!stop.waitForFinished(0))
        listOnce();
    ASSERT_EQ(stop.exitCode(), 0) << stop.readAllStandardError().toStdString();
    ASSERT_TRUE(until([&] {
        listOnce();
        return !replica->inUse();
    })) << "the stopped standby was never left aside";
    for (int i = 0; i < 3; ++i)
        listOnce();
    EXPECT_EQ(failures, 0) << "of " << lists << " lists";
    EXPECT_TRUE(said().join(QLatin1Char('\n')).contains(QStringLiteral("deixada de lado")));
    EXPECT_TRUE(metrics.render().contains("cce_read_replica_in_use 0"));
    EXPECT_GT(replica->lists(srv::ReadReplica::Road::PrimaryAside), 0u);

    ASSERT_EQ(QProcess::execute(qEnvironmentVariable("CCE_PG_STANDBY_CTL"), {QStringLiteral("start")}), 0);
    m_stopped = false;
    ASSERT_TRUE(until([&] { return replica->inUse(); })) << "the standby was not taken back";
    const quint64 onStandby = replica->lists(srv::ReadReplica::Road::Standby);
    listOnce();
    EXPECT_EQ(replica->lists(srv::ReadReplica::Road::Standby), onStandby + 1);
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(metrics.render().contains("cce_read_replica_in_use 1"));
}

INSTANTIATE_TEST_SUITE_P(Engines, ReadReplicaTest, ::testing::Values("postgresql"));

} // namespace
