// The user's context: the context functions and the loader of erp-host.ini.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "core/host/Context.h"
#include "core/host/ContextLoader.h"

namespace {

class ContextFunctions : public ::testing::Test {
protected:
    void SetUp() override { saved = fw::hostContext(); }
    void TearDown() override { fw::setHostContext(saved); }
    fw::HostContext saved;
};

// The token in a file of its own, readable by its user alone unless told otherwise.
void writeToken(const QTemporaryDir& dir, QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QFile f(dir.filePath(QStringLiteral("token")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("segredo\n");
    f.setPermissions(permissions);
}

QString writeIni(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath(QStringLiteral("erp-host.ini"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
}

const QByteArray kIni = R"([context]
user=maria
company=1
branch=1
billing_branch=0002
processing_date=2026-11-15
module=15
branch_mode=true

[server]
host=app.local
port=8211
token_file=token
ca=certs/ca.pem
pin=AB:cd:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff:00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd

[database]
driver=QSQLITE
name=var/empresa.db
)";

} // namespace

TEST_F(ContextFunctions, ReadTheCurrentContext)
{
    fw::HostContext c;
    c.company = QStringLiteral("01");
    c.branch = QStringLiteral("0001");
    c.module = 14;
    c.branchMode = true;
    c.processingDate = QDate(2026, 12, 7);
    c.branchProcessingDates.insert(QStringLiteral("0003"), QDate(2026, 11, 30));
    c.serverHost = QStringLiteral("10.0.0.5");
    c.serverPort = 8211;
    fw::setHostContext(c);

    EXPECT_EQ(EmprProc(), QStringLiteral("01"));
    EXPECT_EQ(FiliProc(), QStringLiteral("0001"));
    // No billing branch of its own: the current branch bills.
    EXPECT_EQ(FiliProcFat(), QStringLiteral("0001"));
    EXPECT_EQ(ModuloAtiv(), 14);
    EXPECT_TRUE(ModuFili());
    EXPECT_EQ(DataProc(), QDate(2026, 12, 7));
    EXPECT_EQ(DataProc(QStringLiteral("0001")), QDate(2026, 12, 7));
    EXPECT_EQ(DataProc(QStringLiteral("0003")), QDate(2026, 11, 30));
    EXPECT_EQ(WebURL(), QStringLiteral("10.0.0.5"));
    EXPECT_EQ(WebPort(), 8211);

    fw::hostContext().billingBranch = QStringLiteral("0009");
    EXPECT_EQ(FiliProcFat(), QStringLiteral("0009"));
    fw::hostContext().processingDate = QDate();
    EXPECT_EQ(DataProc(), QDate::currentDate());
}

TEST(ContextLoader, FileValuesAndDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeToken(dir);
    QString error;
    const fw::HostContext c = fw::loadHostContext(writeIni(dir, kIni), {}, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(c.user, QStringLiteral("maria"));
    EXPECT_EQ(c.company, QStringLiteral("01"));
    EXPECT_EQ(c.branch, QStringLiteral("0001"));
    EXPECT_EQ(c.billingBranch, QStringLiteral("0002"));
    EXPECT_EQ(c.processingDate, QDate(2026, 11, 15));
    EXPECT_EQ(c.module, 15);
    EXPECT_TRUE(c.branchMode);
    EXPECT_EQ(c.serverHost, QStringLiteral("app.local"));
    EXPECT_EQ(c.serverPort, 8211);
    EXPECT_EQ(c.serverToken, QStringLiteral("segredo"));
    EXPECT_EQ(c.serverTls.mode, fw::TlsPolicy::Mode::Auto);
    EXPECT_TRUE(c.serverTls.enabledFor(c.serverHost)) << "a server off this machine is reached over TLS";
    EXPECT_EQ(c.serverTls.caFile, QDir(dir.path()).filePath(QStringLiteral("certs/ca.pem")));
    EXPECT_EQ(c.serverTls.pinSha256,
              QStringLiteral("abcd00112233445566778899aabbccddeeff00112233445566778899aabbccdd"));
    EXPECT_EQ(c.dbDriver, QStringLiteral("QSQLITE"));
    // The file's relative database lies next to the file, wherever the host was started.
    EXPECT_EQ(c.dbName, QDir(dir.path()).filePath(QStringLiteral("var/empresa.db")));

    const fw::HostContext none = fw::loadHostContext(dir.filePath(QStringLiteral("nao-existe.ini")), {}, &error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(none.processingDate, QDate::currentDate());
    EXPECT_EQ(none.serverHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(none.serverTimeoutSeconds, 120);
    EXPECT_EQ(none.user, qEnvironmentVariable("USER", qEnvironmentVariable("LOGNAME"))) << "the system's login";
}

TEST(ContextLoader, CommandLineWinsOverTheFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeToken(dir);
    QString error;
    const fw::HostContext c = fw::loadHostContext(
        writeIni(dir, kIni),
        {QStringLiteral("erp-host"), QStringLiteral("--user=jose"), QStringLiteral("--company"), QStringLiteral("3"),
         QStringLiteral("--branch=0007"), QStringLiteral("--date=2026-12-01"), QStringLiteral("--module"),
         QStringLiteral("13"), QStringLiteral("--branch-mode=N"), QStringLiteral("--server-port=9000"),
         QStringLiteral("--server-host"), QStringLiteral("127.0.0.1"), QStringLiteral("--server-token-file="),
         QStringLiteral("--db-name"), QStringLiteral("outro.db"), QStringLiteral("--unknown"),
         QStringLiteral("--billing-branch"), QStringLiteral("8")},
        &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(c.user, QStringLiteral("jose"));
    EXPECT_EQ(c.company, QStringLiteral("03"));
    EXPECT_EQ(c.branch, QStringLiteral("0007"));
    EXPECT_EQ(c.billingBranch, QStringLiteral("0008"));
    EXPECT_EQ(c.processingDate, QDate(2026, 12, 1));
    EXPECT_EQ(c.module, 13);
    EXPECT_FALSE(c.branchMode);
    EXPECT_EQ(c.serverHost, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(c.serverPort, 9000);
    EXPECT_EQ(c.serverToken, QString()); // emptied on purpose
    EXPECT_FALSE(c.serverTls.enabledFor(c.serverHost)) << "on this machine, in clear";
    EXPECT_EQ(c.dbName, QStringLiteral("outro.db")); // taken from the working folder
}

TEST(ContextLoader, UnreadableValuesAreReportedByKey)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = writeIni(dir, "[context]\nprocessing_date=31/12/2026\n[server]\nport=80000\n"
                                      "[database]\ndriver=QOCI\n");
    QString error;
    const fw::HostContext c = fw::loadHostContext(ini, {QStringLiteral("--module=abc")}, &error);
    EXPECT_TRUE(error.contains(QStringLiteral("context/processing_date"))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("server/port")));
    EXPECT_TRUE(error.contains(QStringLiteral("database/driver")));
    EXPECT_TRUE(error.contains(QStringLiteral("context/module")));
    EXPECT_EQ(c.processingDate, QDate::currentDate());
    EXPECT_EQ(c.serverPort, 0);
    EXPECT_EQ(c.dbDriver, QStringLiteral("QSQLITE"));

    // A good value on the command line mends a bad one in the file.
    const fw::HostContext mended =
        fw::loadHostContext(ini,
                            {QStringLiteral("--server-port"), QStringLiteral("8080"), QStringLiteral("--date"),
                             QStringLiteral("2026-12-07"), QStringLiteral("--db-driver"), QStringLiteral("qpsql")},
                            &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(mended.serverPort, 8080);
    EXPECT_EQ(mended.dbDriver, QStringLiteral("QPSQL"));
}

TEST(ContextLoader, TheTokenAndTheWireStaySecret)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString error;
    struct Case {
        QByteArray server;
        const char* said;
    };
    for (const Case& k :
         {Case{"host=app.local\ntoken=segredo\n", "token_file"},
          Case{"host=app.local\ntoken_file=token\n", "chmod 600"}, Case{"host=app.local\ntls=false\n", "em claro"},
          Case{"host=app.local\npin=abc\n", "server/pin"},
          Case{"host=app.local\ncertificate=eu.pem\n", "vão juntos"}}) {
        writeToken(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const fw::HostContext c = fw::loadHostContext(writeIni(dir, "[server]\n" + k.server), {}, &error);
        EXPECT_TRUE(error.contains(QString::fromUtf8(k.said))) << k.server.toStdString() << error.toStdString();
        EXPECT_TRUE(c.serverToken.isEmpty()) << "no token read from where others could";
    }
    const fw::HostContext local =
        fw::loadHostContext(writeIni(dir, "[server]\nhost=127.0.0.1\ntls=false\n"), {}, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_FALSE(local.serverTls.enabledFor(local.serverHost));
}
