#include <QDateTime>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include "server/store/Query.h"
#include "tests/server/methods/MethodsFixture.h"

namespace {

using cce_test::MethodsTest;

class StoreQuery : public MethodsTest {
protected:
    bool pg() const { return QLatin1String(GetParam()) == QLatin1String("postgresql"); }

    // The statements the database holds prepared on this connection.
    int prepared() { return pg() ? count(QStringLiteral("SELECT COUNT(*) FROM pg_prepared_statements")) : 0; }
};

TEST_P(StoreQuery, ValuesReachTheDatabaseAsTheyAre)
{
    ASSERT_TRUE(QSqlQuery(db()).exec(
        QStringLiteral("CREATE TEMP TABLE QUERY_VALUES (K INTEGER, T VARCHAR(60), N INTEGER, D TIMESTAMP)")));
    const QStringList texts = {
        QStringLiteral("it's"),
        QStringLiteral("back\\slash \\' and E'\\\\'"),
        QStringLiteral("?, $1 and -- no comment"),
        QString::fromUtf8("ção € \xf0\x9f\x98\x80"),
        QStringLiteral(""),
    };
    const QDateTime when(QDate(2026, 11, 10), QTime(9, 30, 15));
    {
        srv::Query q(*store, db(), "test");
        q.prepare(QStringLiteral("INSERT INTO QUERY_VALUES (K, T, N, D) VALUES (?, ?, ?, ?)"));
        for (int i = 0; i < texts.size(); ++i)
            q.exec({i, texts[i], i * 10, QVariant()});
        // A whole number where text is kept and a text where a number is: each takes the column's type.
        q.exec({10, 7, QStringLiteral("42"), QVariant()});
        q.exec({11, QVariant(), QVariant(), when}); // a time: the driver's own road
    }
    for (int i = 0; i < texts.size(); ++i) {
        const QVariantList r = row(QStringLiteral("SELECT T, N, D FROM QUERY_VALUES WHERE K = ?"), {i});
        ASSERT_EQ(r.size(), 3) << i;
        EXPECT_EQ(r[0].toString(), texts[i]) << i;
        EXPECT_EQ(r[1].toInt(), i * 10) << i;
        EXPECT_TRUE(r[2].isNull()) << i;
    }
    EXPECT_EQ(row(QStringLiteral("SELECT T, N FROM QUERY_VALUES WHERE K = 10")),
              (QVariantList{QStringLiteral("7"), 42}));
    const QVariantList timed = row(QStringLiteral("SELECT T, D FROM QUERY_VALUES WHERE K = 11"));
    ASSERT_EQ(timed.size(), 2);
    EXPECT_TRUE(timed[0].isNull());
    EXPECT_EQ(timed[1].toDateTime(), when);

    // Read through a value that is only text, and none of the others matched by it.
    srv::Query q(*store, db(), "test");
    q.run(QStringLiteral("SELECT K FROM QUERY_VALUES WHERE T = ? ORDER BY K"), {texts[0]});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 0);
    EXPECT_FALSE(q.next());
    q.run(QStringLiteral("UPDATE QUERY_VALUES SET N = N + ? WHERE K >= ?"), {1, 10});
    EXPECT_EQ(q.rowsAffected(), 2);
}

// A pooler in transaction mode may give each transaction another server connection: a
// statement prepared under a name on one is unknown on the next.
TEST_P(StoreQuery, EveryValueGoesInOneRoundTripWithoutAPreparedStatement)
{
    if (!pg())
        GTEST_SKIP() << "SQLite prepares in the process";
    const int before = prepared();
    srv::Query texts(*store, db(), "test");
    texts.run(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ? OR 1 = ?"),
              {QStringLiteral("0001"), QVariant(), 2});
    ASSERT_TRUE(texts.next());
    srv::Query timed(*store, db(), "test");
    timed.run(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE DTEMISSAO < ? OR DTSAIDA > ?"),
              {QDateTime::currentDateTime(), QDate(2026, 1, 1)});
    ASSERT_TRUE(timed.next());
    EXPECT_EQ(prepared(), before) << "sent as it is, with its values";
}

INSTANTIATE_TEST_SUITE_P(Engines, StoreQuery, ::testing::Values("sqlite", "postgresql"));

} // namespace
