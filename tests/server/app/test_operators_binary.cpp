// The operators' side of the cce-server program: /health and /metrics under the token
// rules, in Prometheus' text format as its own parser reads it, without fiscal data; the
// configuration checked by --check-config and at start (TLS and the tokens' hashes too); and
// a log of one leveled line per event that never shows a token, a password or a certificate.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/nfe/TestCertificate.h"
#include "tests/support/LoopbackRpc.h"
#include "tests/support/RawExchange.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TestPki.h"

using namespace cce_test;

namespace {

const char kToken[] = "tok-operador-123";
const char kCertPassword[] = "senha-dos-certificados-789";
const char kSmtpPassword[] = "senha-do-smtp-456";

class OperatorsBinary : public ::testing::Test {
protected:
    void SetUp() override
    {
        binary = builtProgram("cce-server");
        if (binary.isEmpty())
            GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR)";
        ASSERT_TRUE(dir.isValid());
        database = "sqlite:" + dir.filePath("cce.db");
        QProcess init;
        init.start(binary, {"--init", "--database", database, "--demo", "--invoices", "30"});
        ASSERT_TRUE(init.waitForFinished(180000));
        ASSERT_EQ(init.exitCode(), 0) << init.readAllStandardError().toStdString();
        QDir().mkpath(dir.filePath("certs"));
        writeFile("certs/bom.pfx", makePkcs12("11222333000181", kCertPassword, 365));
        writeFile("certs/vencendo.pfx", makePkcs12("11222333000181", kCertPassword, 20));
    }

    void writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    // A configuration of a real installation: a token, certificates, the homologation
    // authorities, an SMTP server with a password. extra goes at the end.
    QString writeConfig(const QString& name, const QByteArray& extra = {})
    {
        writeFile(name, "[server]\nlisten=127.0.0.1:0\ntokens=" + QByteArray(kToken) +
                            "\n[database]\nurl=" + database.toUtf8() +
                            "\n[fiscal]\ncertificates=certs\ncertificate_password=" + kCertPassword +
                            "\n[authority]\n*.2.recepcao=https://127.0.0.1:9/ws/NFeRecepcaoEvento4\n"
                            "*.2.consulta=https://127.0.0.1:9/ws/NFeConsultaProtocolo4\n"
                            "[mail]\nhost=127.0.0.1\nport=2525\nfrom=nfe@example.com.br\nuser=cce\npassword=" +
                            kSmtpPassword + "\n" + extra);
        return dir.filePath(name);
    }

    QStringList column(const QString& sql)
    {
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "operators-test");
            db.setDatabaseName(dir.filePath("cce.db"));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(sql));
            while (q.next())
                out << q.value(0).toString();
        }
        QSqlDatabase::removeDatabase("operators-test");
        return out;
    }

    QString binary;
    QTemporaryDir dir;
    QString database;
};

// The page as Prometheus reads it: family -> {type, samples}.
QJsonObject parseMetrics(const QByteArray& page)
{
    QProcess p;
    p.start("/usr/bin/python3", {qEnvironmentVariable("CCE_SOURCE_DIR") + "/tests/server/app/parse_metrics.py"});
    p.write(page);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
}

double sample(const QJsonObject& families, const QString& family, const QString& name, const QJsonObject& labels)
{
    for (const QJsonValue& s : families.value(family).toObject().value("samples").toArray())
        if (s[0].toString() == name && s[1].toObject() == labels)
            return s[2].toDouble();
    return -1;
}

TEST_F(OperatorsBinary, HealthAndMetricsAnswerUnderTheTokenRulesWithoutFiscalDataAndTheLogKeepsSecrets)
{
    ServerProcess server;
    QString why;
    ASSERT_TRUE(server.start(binary, {"--config", writeConfig("cce-server.ini")}, dir.filePath("server.log"), &why))
        << why.toStdString();
    const int port = server.port();
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(rpcCall(port, "DFS00000.rdmDocFiscSaida", "GetParamDFS", {"0001"}, kToken, "maria").status, 200);
    EXPECT_EQ(rpcCall(port, "DFS00000.rdmDocFiscSaida", "GetParamDFS", {true}, kToken)
                  .json()["error"]
                  .toObject()["code"]
                  .toInt(),
              -32602);
    EXPECT_EQ(getPage(port, "/metrics").status, 401);
    EXPECT_EQ(getPage(port, "/health", "tok-errado").status, 401);

    const HttpAnswer health = getPage(port, "/health", kToken);
    ASSERT_EQ(health.status, 200) << health.body.toStdString();
    const QJsonObject h = health.json();
    EXPECT_EQ(h["status"], "degraded") << "a certificate expires within 30 days";
    QStringList seen;
    for (const QJsonValue& c : h["checks"].toArray()) {
        const QJsonObject o = c.toObject();
        QString line = o["name"].toString() + ' ' + o["status"].toString();
        if (o.contains("certificate"))
            line += ' ' + o["certificate"].toString() + ' ' + (o["days_to_expiry"].toInt() > 300 ? "long" : "short");
        if (o.contains("environment"))
            line += ' ' + o["environment"].toString() + ' ' + o["authorities"].toVariant().toStringList().join(',');
        seen << line;
    }
    EXPECT_EQ(seen, (QStringList{"database ok", "certificate ok bom long", "certificate warning vencendo short",
                                 "authority unconfigured 1 ", "authority ok 2 *"}));

    const HttpAnswer metrics = getPage(port, "/metrics", kToken);
    ASSERT_EQ(metrics.status, 200);
    const QJsonObject m = parseMetrics(metrics.body);
    EXPECT_EQ(m["cce_requests"]["type"], "counter");
    EXPECT_EQ(m["cce_request_duration_seconds"]["type"], "histogram");
    EXPECT_EQ(m["cce_letters"]["type"], "gauge");
    EXPECT_EQ(m["cce_authority_requests"]["type"], "counter");
    EXPECT_EQ(m["cce_mail_messages"]["type"], "counter");
    EXPECT_EQ(
        sample(m, "cce_requests", "cce_requests_total", {{"method", "GetParamDFS"}, {"outcome", "ok"}, {"code", "0"}}),
        2);
    EXPECT_EQ(sample(m, "cce_requests", "cce_requests_total",
                     {{"method", "GetParamDFS"}, {"outcome", "fault"}, {"code", "-32602"}}),
              1);
    EXPECT_EQ(
        sample(m, "cce_requests", "cce_requests_total", {{"method", "-"}, {"outcome", "refused"}, {"code", "401"}}), 2);
    EXPECT_EQ(
        sample(m, "cce_request_duration_seconds", "cce_request_duration_seconds_count", {{"method", "GetParamDFS"}}),
        3);
    double letters = 0;
    for (const char* state : {"pending", "in_doubt", "accepted", "rejected"})
        letters += sample(m, "cce_letters", "cce_letters", {{"state", state}});
    EXPECT_EQ(letters, column("SELECT COUNT(*) FROM CARTACORRECAO").value(0).toDouble());
    EXPECT_EQ(sample(m, "cce_letters", "cce_letters", {{"state", "accepted"}}),
              column("SELECT COUNT(*) FROM CARTACORRECAO WHERE CDSTATUSCCE IN ('135', '136')").value(0).toDouble());
    EXPECT_GE(sample(m, "cce_certificate_expiry_days", "cce_certificate_expiry_days", {{"certificate", "bom"}}), 360);

    // Nothing of the companies' documents is on either page.
    const QStringList fiscal = column("SELECT NRACESSONFE FROM NOTAFISCAL UNION SELECT NRINSJURNF FROM NOTAFISCAL "
                                      "UNION SELECT NMRAZSOCEMPR FROM EMPRESA UNION SELECT DSCORRECAONFE FROM "
                                      "CARTACORRECAO UNION SELECT NRPROTOCOLCCE FROM CARTACORRECAO");
    ASSERT_GT(fiscal.size(), 30);
    for (const QString& value : fiscal) {
        if (value.isEmpty())
            continue;
        EXPECT_FALSE(metrics.body.contains(value.toUtf8()) || health.body.contains(value.toUtf8()))
            << value.toStdString();
    }

    ASSERT_TRUE(server.stop());
    const QByteArray log = server.log();
    static const QRegularExpression shape(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (INFO|WARN|ERROR) \S)");
    int requests = 0;
    for (const QByteArray& line : log.split('\n')) {
        if (line.isEmpty())
            continue;
        EXPECT_TRUE(shape.match(QString::fromUtf8(line)).hasMatch()) << line.toStdString();
        if (line.contains(" req=")) {
            ++requests;
            EXPECT_TRUE(line.contains("GetParamDFS") || line.contains("/health") || line.contains("/metrics"))
                << line.toStdString();
        }
        for (const char* secret : {kToken, "tok-errado", kCertPassword, kSmtpPassword, "BEGIN", "MII"})
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
    EXPECT_EQ(requests, 7);
    EXPECT_TRUE(log.contains("user=maria"));
}

TEST_F(OperatorsBinary, TheConfigurationIsCheckedKeyByKeyAndAServerWithErrorsDoesNotStart)
{
    writeFile("certs/outra-senha.pfx", makePkcs12("11222333000181", "outra", 365));
    const QString bad = writeConfig("ruim.ini", "[server]\nworkerz=3\n");
    {
        // The sections are merged by QSettings; the typo and the unresolvable name are added.
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("[authority]\nSP.1.recepcao=https://nfe.invalid/ws/recepcao\n");
    }
    QProcess check;
    check.start(binary, {"--check-config", bad});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 1);
    const QStringList lines = QString::fromUtf8(check.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    auto has = [&](const QString& level, const QStringList& words) {
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) {
            return l.startsWith(level + ": ") &&
                   std::all_of(words.begin(), words.end(), [&](const QString& w) { return l.contains(w); });
        });
    };
    EXPECT_TRUE(has("ERRO", {"outra-senha", "certificate_password"})) << lines.join('\n').toStdString();
    EXPECT_TRUE(has("ERRO", {"nfe.invalid", "[authority] SP.1.recepcao"})) << lines.join('\n').toStdString();
    EXPECT_TRUE(has("AVISO", {"[authority] SP.1.consulta"})) << lines.join('\n').toStdString();
    EXPECT_TRUE(has("AVISO", {"[server] workerz"})) << lines.join('\n').toStdString();
    EXPECT_TRUE(has("AVISO", {"vencendo", "dias"})) << lines.join('\n').toStdString();
    EXPECT_TRUE(has("OK", {"bom", "vence em"})) << lines.join('\n').toStdString();
    for (const QString& l : lines)
        EXPECT_FALSE(l.contains(kCertPassword) || l.contains(kSmtpPassword)) << l.toStdString();

    // The server runs the same checks and does not start.
    ServerProcess server;
    QString why;
    EXPECT_FALSE(server.start(binary, {"--config", bad}, dir.filePath("bad.log"), &why));
    EXPECT_FALSE(server.running());
    EXPECT_TRUE(server.log().contains("outra-senha")) << server.log().toStdString();

    // An uninitialised database is named too, with what to do.
    QFile::remove(dir.filePath("certs/outra-senha.pfx"));
    const QString fresh = writeConfig("novo.ini", "[database]\nurl=sqlite:" + dir.filePath("novo.db").toUtf8() + "\n");
    check.start(binary, {"--check-config", fresh});
    ASSERT_TRUE(check.waitForFinished(60000));
    const QByteArray out = check.readAllStandardOutput();
    EXPECT_EQ(check.exitCode(), 1) << out.toStdString();
    EXPECT_TRUE(out.contains("ERRO: Banco de dados") && out.contains("--init")) << out.toStdString();

    check.start(binary, {"--check-config", writeConfig("bom.ini")});
    ASSERT_TRUE(check.waitForFinished(60000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();
}

TEST_F(OperatorsBinary, OverTlsTheServerSaysWhenItsCertificateEndsAndKeepsOnlyTheTokensHash)
{
    const TestPki pki(dir.filePath("pki"));
    ASSERT_TRUE(pki.ok());
    QProcess hash;
    hash.start(binary, {"--hash-token"});
    hash.write(QByteArray(kToken) + "\n");
    hash.closeWriteChannel();
    ASSERT_TRUE(hash.waitForFinished(60000));
    const QByteArray hashed = hash.readAllStandardOutput().trimmed();
    ASSERT_TRUE(hashed.startsWith("scrypt$")) << hashed.toStdString();
    EXPECT_FALSE(hashed.contains(kToken));

    auto check = [&](const QString& ini) {
        QProcess p;
        p.start(binary, {"--check-config", ini});
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    auto tlsConfig = [&](const QString& name, const QString& cert, const QString& key, const QByteArray& tokens) {
        return writeConfig(name, "[server]\ntls_certificate=" + cert.toUtf8() + "\ntls_key=" + key.toUtf8() +
                                     "\ntokens=" + tokens + "\n");
    };
    const QString good = tlsConfig("tls.ini", pki.serverPem, pki.serverKey, hashed);
    const QString report = check(good);
    EXPECT_TRUE(report.contains("OK: TLS: certificado do servidor")) << report.toStdString();
    EXPECT_FALSE(report.contains("--hash-token")) << "no token in clear";
    EXPECT_TRUE(check(tlsConfig("claro.ini", pki.serverPem, pki.serverKey, kToken))
                    .contains("AVISO: O token server#1 está em claro"));
    EXPECT_TRUE(
        check(tlsConfig("vencendo.ini", pki.endingPem, pki.endingKey, hashed)).contains("AVISO: O certificado TLS"));
    EXPECT_TRUE(check(tlsConfig("vencido.ini", pki.expiredPem, pki.expiredKey, hashed)).contains("venceu em"));
    EXPECT_TRUE(check(tlsConfig("trocada.ini", pki.serverPem, pki.strangerKey, hashed)).contains("não corresponde"));
    QFile::setPermissions(pki.endingKey, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    EXPECT_TRUE(check(tlsConfig("aberta.ini", pki.endingPem, pki.endingKey, hashed)).contains("chmod 600"));

    // In clear, the server keeps off the network; over TLS it serves there.
    ServerProcess clear;
    QString why;
    EXPECT_FALSE(clear.start(binary, {"--config", writeConfig("rede.ini"), "--listen", "0.0.0.0:0"},
                             dir.filePath("rede.log"), &why));
    EXPECT_TRUE(clear.log().contains("TLS")) << clear.log().toStdString();
    ServerProcess server;
    ASSERT_TRUE(server.start(binary, {"--config", good, "--listen", "0.0.0.0:0"}, dir.filePath("tls.log"), &why))
        << why.toStdString();
    const cce_test::TlsClientOptions tls{pki.caPem, {}, {}};
    auto page = [&](const char* path) {
        const RawExchange r = rawExchange(server.port(),
                                          "GET " + QByteArray(path) +
                                              " HTTP/1.1\r\nHost: localhost\r\nAuthorization: "
                                              "Bearer " +
                                              QByteArray(kToken) + "\r\n\r\n",
                                          tls);
        return r.received.mid(r.received.indexOf("\r\n\r\n") + 4);
    };
    const QJsonObject health = QJsonDocument::fromJson(page("/health")).object();
    QJsonObject seen;
    for (const QJsonValue& c : health["checks"].toArray())
        if (c["name"] == "tls")
            seen = c.toObject();
    EXPECT_EQ(seen["status"], "ok") << QJsonDocument(health).toJson().toStdString();
    EXPECT_GE(seen["days_to_expiry"].toInt(), 360);
    const QJsonObject m = parseMetrics(page("/metrics"));
    EXPECT_NEAR(
        sample(m, "cce_tls_certificate_expiry_timestamp_seconds", "cce_tls_certificate_expiry_timestamp_seconds", {}),
        double(QDateTime::currentSecsSinceEpoch() + 365 * 86400), 2 * 86400);
}

} // namespace
