// The settling of letters in doubt on the server's own schedule: one server of those on a
// database at a time, a round at start, and the audit trail naming the server.
#include <QDeadlineTimer>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/app/Reconciler.h"
#include "server/store/AuditTrail.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

class ReconcilerTest : public MethodsTest {
protected:
    std::unique_ptr<srv::Store> secondServersStore()
    {
        QString error;
        auto other = srv::Store::open(databaseUrl(), &error);
        EXPECT_TRUE(other) << error.toStdString();
        return other;
    }
};

TEST_P(ReconcilerTest, OneServerAtATimeSettlesAndTheTrailNamesTheServer)
{
    Invoice n;
    n.lancto = QStringLiteral("0000000001");
    addInvoice(n);
    const std::unique_ptr<srv::Store> other = secondServersStore();
    ASSERT_TRUE(other);

    std::mutex m;
    std::condition_variable cv;
    bool entered = false, released = false;
    srv::Reconciler a(*store, 3600, [&] {
        std::unique_lock<std::mutex> lock(m);
        entered = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
        srv::AuditTrail(*store).recordAlone({n.filial, n.lancto, QStringLiteral("01"), srv::audit::kReconciled,
                                             QStringLiteral("aceita: 135 - Evento registrado")});
        return QStringLiteral("1 aceita");
    });
    int roundsOfB = 0;
    srv::Reconciler b(*other, 3600, [&] {
        ++roundsOfB;
        return QString();
    });

    bool ranA = false;
    std::thread first([&] { ranA = a.runOnce(); });
    {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return entered; }));
    }
    EXPECT_FALSE(b.runOnce()) << "two servers settled at once";
    EXPECT_EQ(roundsOfB, 0);
    {
        std::lock_guard<std::mutex> lock(m);
        released = true;
    }
    cv.notify_all();
    first.join();
    EXPECT_TRUE(ranA);
    EXPECT_TRUE(b.runOnce()) << "the turn was not given back";
    EXPECT_EQ(roundsOfB, 1);

    const QList<srv::AuditRow> rows = srv::AuditTrail(*store).rows(QStringLiteral("01"), QDate());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].actor.user, QStringLiteral("cce-server"));
    EXPECT_EQ(rows[0].actor.request, QStringLiteral("conciliacao-1"));

    // On its schedule the first round comes at start, without waiting an interval.
    std::atomic<int> rounds{0};
    srv::Reconciler scheduled(*other, 3600, [&] {
        ++rounds;
        return QString();
    });
    scheduled.start();
    const QDeadlineTimer deadline(20000);
    while (rounds == 0 && !deadline.hasExpired())
        std::this_thread::yield();
    scheduled.stop();
    EXPECT_EQ(rounds, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, ReconcilerTest, ::testing::Values("sqlite", "postgresql"));

} // namespace
