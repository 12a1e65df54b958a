// cce-server's command line and configuration file, the tokens kept as hashes, and the
// rules that keep a server without tokens, or in clear, on loopback.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "server/app/ServerConfig.h"
#include "server/rpc/AccessTokens.h"
#include "server/rpc/TokenHash.h"

using namespace srv;

namespace {

QString writeIni(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath("cce-server.ini");
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    return path;
}

bool parse(const QStringList& args, CommandLine* cl, QString* error)
{
    return parseCommandLine(QStringList{"cce-server"} + args, cl, error);
}

TEST(ServerConfigTest, FileThenCommandLineOverride)
{
    QTemporaryDir dir;
    const QString path = writeIni(dir, "[server]\n"
                                       "listen=0.0.0.0:9090\n"
                                       "tokens=alpha, beta ,gamma\n"
                                       "workers=8\n"
                                       "quick_workers=2\n"
                                       "body_limit=2M\n"
                                       "unauthenticated_per_address=8\n"
                                       "trusted_proxies=127.0.0.1, ::1\n"
                                       "max_connections=4096\n"
                                       "tls_certificate=tls/server.pem\n"
                                       "tls_key=/etc/cce/server.key\n"
                                       "[database]\n"
                                       "url=postgresql://cce@db.local:5432/cce\n"
                                       "[smtp]\n"
                                       "host=mail.local\n");
    ServerConfig config;
    QString error;
    QStringList warnings;
    ASSERT_TRUE(config.loadFile(path, &error, &warnings)) << error.toStdString();
    EXPECT_TRUE(warnings.isEmpty()) << "sections of later work are not ours to judge";
    EXPECT_EQ(config.listenHost, "0.0.0.0");
    EXPECT_EQ(config.listenPort, 9090);
    EXPECT_EQ(config.tokens, (QStringList{"alpha", "beta", "gamma"}));
    EXPECT_EQ(config.workers, 8);
    EXPECT_EQ(config.httpOptions().quickWorkers, 2);
    EXPECT_EQ(config.bodyLimit, 2 * 1024 * 1024);
    EXPECT_EQ(config.httpOptions().perAddressLimit, 8);
    EXPECT_EQ(config.httpOptions().maxConnections, 4096);
    EXPECT_EQ(config.httpOptions().trustedProxies, (QStringList{"127.0.0.1", "::1"}));
    EXPECT_EQ(config.databaseUrl, "postgresql://cce@db.local:5432/cce");
    EXPECT_EQ(config.tls.certificate, dir.filePath("tls/server.pem")) << "relative to the file's folder";
    EXPECT_EQ(config.tls.key, "/etc/cce/server.key");
    EXPECT_TRUE(config.check(&error)) << error.toStdString();
    for (const char* bounds :
         {"unauthenticated_per_address=0\n", "max_connections=4\n", "trusted_proxies=balanceador.local\n"}) {
        ServerConfig bad = config;
        writeIni(dir, QByteArray("[server]\n") + bounds);
        ASSERT_TRUE(bad.loadFile(path, &error));
        EXPECT_FALSE(bad.check(&error)) << bounds;
        EXPECT_TRUE(error.contains(QString::fromLatin1(bounds).section('=', 0, 0))) << error.toStdString();
    }

    CommandLine cl;
    ASSERT_TRUE(parse({"--config", path, "--listen", "127.0.0.1:0", "--token", "one", "--token=two", "--database",
                       "sqlite:/tmp/x.db"},
                      &cl, &error))
        << error.toStdString();
    EXPECT_EQ(cl.mode, CommandLine::Mode::Serve);
    EXPECT_EQ(cl.configFile, path);
    ASSERT_TRUE(cl.applyTo(&config, &error));
    EXPECT_EQ(config.listenHost, "127.0.0.1");
    EXPECT_EQ(config.listenPort, 0);
    EXPECT_EQ(config.tokens, (QStringList{"one", "two"})) << "command-line tokens replace the file's";
    EXPECT_EQ(config.databaseUrl, "sqlite:/tmp/x.db");
    EXPECT_EQ(config.workers, 8) << "what the command line does not say stays as in the file";

    // A quoted list stays one value for QSettings; it is still split.
    writeIni(dir, "[server]\ntokens=\"a1,b2\"\n");
    ServerConfig quoted;
    ASSERT_TRUE(quoted.loadFile(path, &error));
    EXPECT_EQ(quoted.tokens, (QStringList{"a1", "b2"}));
}

TEST(ServerConfigTest, TokensLimitedToCompanies)
{
    QTemporaryDir dir;
    const QString path = writeIni(dir, "[server]\n"
                                       "listen=0.0.0.0:9090\n"
                                       "tls_terminated_by=10.0.0.5\n"
                                       "tokens=matriz\n"
                                       "[access.campinas]\n"
                                       "token=tok-campinas\n"
                                       "companies=01, 03\n"
                                       "[access.recife]\n"
                                       "token=tok-recife\n"
                                       "companies=02\n");
    ServerConfig config;
    QString error;
    QStringList warnings;
    ASSERT_TRUE(config.loadFile(path, &error, &warnings)) << error.toStdString();
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_EQ(config.tokens, QStringList{"matriz"});
    EXPECT_EQ(config.tokenCompanies.value("tok-campinas"), (QStringList{"01", "03"}));
    EXPECT_EQ(config.tokenCompanies.value("tok-recife"), QStringList{"02"});
    EXPECT_TRUE(config.check(&error)) << error.toStdString();

    // The server accepts all three, each with its own scope and name.
    const HttpServerOptions o = config.httpOptions();
    const AccessTokens tokens(o.tokens, o.tokenCompanies, o.tokenNames);
    EXPECT_EQ(tokens.grantFor("Bearer matriz")->name, "server#1");
    EXPECT_EQ(tokens.grantFor("Bearer tok-recife")->name, "recife");
    const CompanyScope* matriz = tokens.scopeFor("Bearer matriz");
    const CompanyScope* campinas = tokens.scopeFor("Bearer tok-campinas");
    ASSERT_TRUE(matriz && campinas && tokens.scopeFor("Bearer tok-recife"));
    EXPECT_TRUE(matriz->everyCompany());
    EXPECT_TRUE(campinas->allows("03"));
    EXPECT_FALSE(campinas->allows("02"));
    EXPECT_FALSE(tokens.scopeFor("Bearer tok-campina"));

    // Only limited tokens still count as authentication off loopback.
    writeIni(dir, "[server]\nlisten=0.0.0.0:9090\ntls_terminated_by=10.0.0.5\n[access.x]\ntoken=only\ncompanies=01\n");
    ServerConfig limitedOnly;
    ASSERT_TRUE(limitedOnly.loadFile(path, &error)) << error.toStdString();
    EXPECT_TRUE(limitedOnly.check(&error)) << error.toStdString();

    // --token replaces every token of the file; such a token reaches every company.
    CommandLine cl;
    ASSERT_TRUE(parse({"--config", path, "--token", "cli"}, &cl, &error));
    ASSERT_TRUE(cl.applyTo(&config, &error));
    EXPECT_EQ(config.httpOptions().tokens, QStringList{"cli"});
    EXPECT_TRUE(config.tokenCompanies.isEmpty());
    EXPECT_EQ(config.tokenNames, (QHash<QString, QString>{{"cli", "command-line#1"}}));

    // A section without companies would reach nothing, a token twice is ambiguous: refused.
    for (const QByteArray& bad :
         {QByteArray("[access.a]\ntoken=t1\n"), QByteArray("[access.a]\ncompanies=01\n"),
          QByteArray("[server]\ntokens=t1\n[access.a]\ntoken=t1\ncompanies=01\n"),
          QByteArray("[access.a]\ntoken=t1\ncompanies=01\n[access.b]\ntoken=t1\ncompanies=02\n")}) {
        writeIni(dir, bad);
        ServerConfig c;
        EXPECT_FALSE(c.loadFile(path, &error)) << bad.toStdString();
        EXPECT_TRUE(error.contains("[access.")) << error.toStdString();
    }
    writeIni(dir, "[access.a]\ntoken=t1\ncompanies=01\ncompany=02\n");
    ServerConfig typo;
    warnings.clear();
    ASSERT_TRUE(typo.loadFile(path, &error, &warnings));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("company"));
}

TEST(ServerConfigTest, BadFilesAreRefusedAndTyposReported)
{
    QTemporaryDir dir;
    ServerConfig config;
    QString error;
    EXPECT_FALSE(config.loadFile(dir.filePath("missing.ini"), &error));
    EXPECT_TRUE(error.contains("missing.ini"));

    const QString path = writeIni(dir, "[server]\nlisten=127.0.0.1\n");
    EXPECT_FALSE(config.loadFile(path, &error)) << "a listen address without port";
    writeIni(dir, "[server]\nworkers=many\n");
    EXPECT_FALSE(config.loadFile(path, &error));
    writeIni(dir, "[server]\nbody_limit=-5\n");
    EXPECT_FALSE(config.loadFile(path, &error));

    writeIni(dir, "[server]\ntoken=secret\n");
    QStringList warnings;
    ServerConfig typo;
    ASSERT_TRUE(typo.loadFile(path, &error, &warnings));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains("token"));
    EXPECT_TRUE(typo.tokens.isEmpty());
}

TEST(ServerConfigTest, AHashedTokenAdmitsItsTokenAndNothingElse)
{
    const QByteArray porto = "token-do-porto-8f3a1c2e";
    const QString hash = tokenhash::make(porto, 14); // the least cost a configuration may ask, to keep this quick
    ASSERT_TRUE(hash.startsWith("scrypt$14$8$1$")) << hash.toStdString();
    EXPECT_NE(tokenhash::make(porto, 14), hash) << "each hash has a salt of its own";
    QTemporaryDir dir;
    const QString path = writeIni(
        dir, "[server]\ntokens=matriz-em-claro\n[access.porto]\ncompanies=02\ntoken=" + hash.toLatin1() + "\n");
    ServerConfig config;
    QString error;
    ASSERT_TRUE(config.loadFile(path, &error)) << error.toStdString();
    ASSERT_TRUE(config.check(&error)) << error.toStdString();
    EXPECT_EQ(config.tokensInClear(), QStringList{"server#1"}) << "--check-config warns of these";

    const HttpServerOptions o = config.httpOptions();
    const AccessTokens tokens(o.tokens, o.tokenCompanies, o.tokenNames);
    const AccessTokens::Grant* grant = nullptr;
    QByteArray presented;
    EXPECT_EQ(tokens.lookup("Bearer " + porto, &grant, &presented), AccessTokens::Lookup::Unchecked)
        << "the slow check runs off the connection loop";
    ASSERT_TRUE(tokens.check(presented));
    EXPECT_EQ(tokens.lookup("Bearer " + porto, &grant, &presented), AccessTokens::Lookup::Granted) << "remembered";
    EXPECT_EQ(grant->name, "porto");
    EXPECT_FALSE(grant->scope.allows("01"));
    EXPECT_EQ(tokens.grantFor("Bearer matriz-em-claro")->name, "server#1");
    for (const QByteArray& wrong : {QByteArray("token-do-porto-8f3a1c2f"), hash.toLatin1(), QByteArray()})
        EXPECT_FALSE(tokens.grantFor("Bearer " + wrong)) << wrong.toStdString();
    EXPECT_EQ(tokens.lookup("Bearer token-do-porto-8f3a1c2f", &grant, &presented), AccessTokens::Lookup::Refused)
        << "a wrong token is remembered too, so repeating it costs no slow check";

    for (const QString& bad : {hash.left(hash.size() - 20), QString(hash).replace("$14$", "$30$"),
                               QStringLiteral("scrypt$16$8$1$c2FsdA$")}) {
        ServerConfig c;
        c.tokens = {bad};
        EXPECT_FALSE(c.check(&error)) << bad.toStdString();
        EXPECT_TRUE(error.contains("hash-token") || error.contains("limites") || error.contains("tamanho"))
            << error.toStdString();
    }
}

TEST(ServerConfigTest, OffLoopbackOnlyWithATokenAndTls)
{
    QString error;
    for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost", "LOCALHOST"}) {
        ServerConfig c;
        c.listenHost = host;
        EXPECT_TRUE(c.check(&error)) << host;
    }
    for (const char* host : {"0.0.0.0", "::", "192.168.0.10", "10.0.0.1", "example.com", "localhost.evil.com"}) {
        ServerConfig c;
        c.listenHost = host;
        EXPECT_FALSE(c.check(&error)) << host;
        EXPECT_TRUE(error.contains(host)) << error.toStdString();
        c.tokens = {"t0ken"};
        EXPECT_FALSE(c.check(&error)) << host << " with a token but in clear";
        EXPECT_TRUE(error.contains("TLS")) << error.toStdString();
        c.tls = TlsSettings{"server.pem", "server.key", QString()};
        EXPECT_TRUE(c.check(&error)) << host << " with a token and TLS";
        c.tls = TlsSettings();
        c.tlsTerminatedBy = {"10.0.0.5"};
        EXPECT_TRUE(c.check(&error)) << host << " with TLS ended at a balancer";
    }
    ServerConfig c;
    c.workers = 0;
    EXPECT_FALSE(c.check(&error));
}

TEST(ServerConfigTest, ListenAddressesAndSizes)
{
    QString host, error;
    int port = -1;
    EXPECT_TRUE(parseListenAddress("127.0.0.1:8081", &host, &port, &error));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8081);
    EXPECT_TRUE(parseListenAddress("[::1]:0", &host, &port, &error));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 0);
    for (const char* bad : {"", "127.0.0.1", ":80", "host:", "host:65536", "host:-1", "host:8o", "::1:80"})
        EXPECT_FALSE(parseListenAddress(bad, &host, &port, &error)) << bad;

    qint64 bytes = 0;
    EXPECT_TRUE(parseByteSize("1024", &bytes));
    EXPECT_EQ(bytes, 1024);
    EXPECT_TRUE(parseByteSize("64M", &bytes));
    EXPECT_EQ(bytes, 64 * 1024 * 1024);
    EXPECT_TRUE(parseByteSize("64MiB", &bytes));
    EXPECT_EQ(bytes, 64 * 1024 * 1024);
    EXPECT_TRUE(parseByteSize("1g", &bytes));
    EXPECT_EQ(bytes, qint64(1) << 30);
    for (const char* bad : {"", "0", "-1", "M", "12X", "99999999999999G"})
        EXPECT_FALSE(parseByteSize(bad, &bytes)) << bad;
}

TEST(ServerConfigTest, CommandLineModesAndMistakes)
{
    CommandLine cl;
    QString error;
    ASSERT_TRUE(parse({"--init", "--database", "sqlite:/tmp/a.db", "--demo", "--invoices", "50"}, &cl, &error))
        << error.toStdString();
    EXPECT_EQ(cl.mode, CommandLine::Mode::Init);
    EXPECT_TRUE(cl.demo);
    EXPECT_EQ(cl.invoices, 50);
    EXPECT_EQ(cl.database, "sqlite:/tmp/a.db");

    ASSERT_TRUE(parse({"--init", "--database=sqlite:/tmp/a.db"}, &cl, &error));
    EXPECT_FALSE(cl.demo);
    EXPECT_EQ(cl.invoices, 0) << "no --invoices leaves the count to the store";

    ASSERT_TRUE(parse({"--help"}, &cl, &error));
    EXPECT_EQ(cl.mode, CommandLine::Mode::Help);

    const QList<QStringList> mistakes{
        {"--listen"}, // value missing
        {"--config", "a.ini", "--config", "b.ini"}, // repeated
        {"--bogus"}, // unknown
        {"serve"}, // stray argument
        {"--demo"}, // demo without init
        {"--init", "--invoices", "10"}, // invoices without demo
        {"--init", "--demo", "--invoices", "0"}, // not positive
        {"--init", "--demo", "--invoices", "ten"}, // not a number
        {"--init", "--token", "x"}, // token does not apply to init
        {"--init=yes"}, // flag with a value
        {"--token="}, // empty token
    };
    for (const QStringList& args : mistakes) {
        error.clear();
        EXPECT_FALSE(parse(args, &cl, &error)) << args.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty()) << args.join(' ').toStdString();
    }
}

} // namespace
