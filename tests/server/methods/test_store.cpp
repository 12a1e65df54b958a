#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

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
