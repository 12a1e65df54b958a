// The cce-server program as scripts and operators run it: --init with demo data,
// serving on a free port, a call over HTTP, SIGTERM; and the refusal to listen on the
// network without a token.
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString serverBinary()
{
    const QString dir = qEnvironmentVariable("CCE_BIN_DIR");
    const QString path = QDir(dir).filePath("cce-server");
    return !dir.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

#define REQUIRE_BINARY(var)                                                                                            \
    const QString var = serverBinary();                                                                                \
    if (var.isEmpty())                                                                                                 \
        GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR=" << qPrintable(qEnvironmentVariable("CCE_BIN_DIR"))     \
                     << "); build the cce-server target to run this test";

QString writeIni(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    return path;
}

// Reads the first line of standard output, or gives up when the process ends or time runs out.
QString firstLine(QProcess& p, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!p.canReadLine()) {
        if (p.state() == QProcess::NotRunning || deadline.hasExpired())
            return QString();
        p.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return QString::fromUtf8(p.readLine()).trimmed();
}

httplib::Result callGetParamDFS(int port, const std::string& token)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    const QJsonObject request{{"jsonrpc", "2.0"}, {"id", 5}, {"method", "GetParamDFS"}, {"params", QJsonArray{"0001"}}};
    return client.Post("/rpc/DFS00000.rdmDocFiscSaida", headers,
                       QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

TEST(CceServerBinaryTest, InitServeCallAndStopOnSigterm)
{
    REQUIRE_BINARY(binary);
    QTemporaryDir dir;
    const QString database = "sqlite:" + dir.filePath("cce.db");

    QProcess init;
    init.start(binary, {"--init", "--database", database, "--demo", "--invoices", "20"});
    ASSERT_TRUE(init.waitForFinished(180000));
    ASSERT_EQ(init.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(init.exitCode(), 0) << init.readAllStandardError().toStdString();

    // The file names another database and port; the command line must win over both.
    const QString ini = writeIni(
        dir, "cce-server.ini",
        "[server]\nlisten=127.0.0.1:1\nworkers=2\n[database]\nurl=sqlite:" + dir.filePath("other.db").toUtf8() + "\n");
    QProcess server;
    server.start(binary, {"--config", ini, "--database", database, "--listen", "127.0.0.1:0", "--token", "tok-1"});
    const QString line = firstLine(server, 60000);
    const QRegularExpressionMatch m = QRegularExpression(R"(^listening on 127\.0\.0\.1:(\d+)$)").match(line);
    ASSERT_TRUE(m.hasMatch()) << "first line: \"" << line.toStdString()
                              << "\"; stderr: " << server.readAllStandardError().toStdString();
    const int port = m.captured(1).toInt();
    ASSERT_GT(port, 1);

    auto denied = callGetParamDFS(port, "");
    ASSERT_TRUE(denied);
    EXPECT_EQ(denied->status, 401);

    auto res = callGetParamDFS(port, "tok-1");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    EXPECT_EQ(reply.value("id").toInt(), 5);
    const QJsonObject packet = reply.value("result").toObject().value("$packet").toObject();
    ASSERT_FALSE(packet.isEmpty()) << res->body;
    EXPECT_EQ(packet.value("rows").toArray().size(), 1) << res->body;

    server.terminate(); // SIGTERM
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    const QByteArray log = server.readAllStandardError();
    EXPECT_TRUE(log.contains("DFS00000.rdmDocFiscSaida/GetParamDFS")) << log.toStdString();
    EXPECT_FALSE(log.contains("tok-1")) << "the token went to the log";
}

TEST(CceServerBinaryTest, RefusesTheNetworkWithoutAToken)
{
    REQUIRE_BINARY(binary);
    QTemporaryDir dir;
    const QString ini = writeIni(dir, "cce-server.ini", "[server]\nlisten=0.0.0.0:0\n");
    for (const QStringList& args :
         {QStringList{"--config", ini}, QStringList{"--config", ini, "--listen", "192.0.2.1:0"}}) {
        QProcess server;
        server.start(binary, args + QStringList{"--database", "sqlite:" + dir.filePath("cce.db")});
        if (!server.waitForFinished(30000)) {
            server.kill();
            server.waitForFinished();
            FAIL() << "cce-server kept running on a non-loopback address without a token";
        }
        EXPECT_NE(server.exitCode(), 0);
        EXPECT_FALSE(server.readAllStandardOutput().contains("listening on"));
        const QByteArray err = server.readAllStandardError();
        EXPECT_TRUE(err.contains("token")) << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1) << "one clear line: " << err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("cce.db"))) << "the database was touched before the refusal";
}

TEST(CceServerBinaryTest, FailuresExitNonZeroWithAMessage)
{
    REQUIRE_BINARY(binary);
    QProcess p;
    p.start(binary, {"--listen"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("--listen"));

    QTemporaryDir dir;
    const QStringList unusable{"--init", "--database", "nosuchdb:" + dir.filePath("x")};
    p.start(binary, unusable);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0) << "a database that cannot be opened reported as ready";
    EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
    EXPECT_EQ(p.readAllStandardError().count('\n'), 1);

    p.start(binary, {"--config", dir.filePath("missing.ini")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("missing.ini"));
}

} // namespace
