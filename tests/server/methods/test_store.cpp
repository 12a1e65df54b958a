#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "server/methods/Methods.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Store.h"

TEST(Store, RefusesUnknownOrBrokenUrls)
{
    QString error;
    for (const char* url : {"mysql://x@h/db", "sqlite:", "postgresql://", "nonsense"}) {
        error.clear();
        EXPECT_EQ(srv::Store::open(QString::fromLatin1(url), &error), nullptr) << url;
        EXPECT_FALSE(error.isEmpty()) << url;
    }
}

TEST(Store, OneConnectionPerThreadReleasedWhenTheThreadEnds)
{
    QTemporaryDir dir;
    QString error;
    auto store = srv::Store::open(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("sub/company.db")), &error);
    ASSERT_TRUE(store) << error.toStdString();
    ASSERT_TRUE(store->migrate(&error)) << error.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("sub/company.db"))));
    const QString mine = store->connection().connectionName();
    EXPECT_EQ(store->connection().connectionName(), mine);
    ASSERT_EQ(store->connectionNames(), QStringList{mine});

    QString theirs;
    bool theirsOpen = false;
    QThread* worker = QThread::create([&] {
        QSqlDatabase db = store->connection();
        theirs = db.connectionName();
        QSqlQuery q(db);
        theirsOpen = q.exec(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")) && q.next();
    });
    worker->start();
    ASSERT_TRUE(worker->wait(30000));
    delete worker;
    EXPECT_TRUE(theirsOpen);
    EXPECT_NE(theirs, mine);
    // The worker's connection went with it.
    EXPECT_EQ(store->connectionNames(), QStringList{mine});
    EXPECT_FALSE(QSqlDatabase::contains(theirs));
    store.reset();
    EXPECT_FALSE(QSqlDatabase::contains(mine));
}

namespace {
QStringList g_warnings;
void collectWarnings(QtMsgType, const QMessageLogContext&, const QString& text) { g_warnings.append(text); }
} // namespace

TEST(Store, ConnectionFailuresAreExplainedInTheOperatorsWords)
{
    // Nothing listens on port 1 of loopback: the connection is refused.
    QString error;
    EXPECT_EQ(srv::Store::open(QStringLiteral("postgresql://cce@127.0.0.1:1/cce"), &error), nullptr);
    EXPECT_TRUE(error.contains(QStringLiteral("recusou a conexão"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("127.0.0.1:1"))) << error.toStdString();

    // A worker whose connection cannot open logs why, not what the dead handle says.
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("gone"));
    auto store = srv::Store::open(QStringLiteral("sqlite:") + folder + QStringLiteral("/company.db"), &error);
    ASSERT_TRUE(store) << error.toStdString();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    bool refused = false, answered = false;
    QThread* worker = QThread::create([&] {
        try {
            srv::openConnection(*store);
        } catch (const srv::DatabaseFault& f) {
            refused = !f.message().contains(folder);
        }
        // A method's caller gets the protocol's internal error, in the same plain words.
        srv::MethodRegistry registry;
        srv::registerMethods(registry, *store);
        try {
            registry.find(srv::kServerDocFiscSaida, QStringLiteral("GetParamDFS"))->fn({QStringLiteral("0001")});
        } catch (const srv::RpcFault& f) {
            answered = f.code() == srv::fault::InternalError && f.message() == srv::DatabaseFault().message();
        }
    });
    worker->start();
    const bool ended = worker->wait(30000);
    delete worker;
    qInstallMessageHandler(previous);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(answered);
    const QString log = g_warnings.join(QLatin1Char('\n'));
    EXPECT_FALSE(log.contains(QStringLiteral("Driver not loaded"))) << log.toStdString();
    EXPECT_TRUE(log.contains(folder + QStringLiteral("/company.db"))) << log.toStdString();
}
