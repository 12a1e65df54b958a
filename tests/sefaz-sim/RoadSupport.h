#pragma once
// The road over the wire, shared by the tests that drive the programs: a demo company
// database with its certificates and the sefaz-sim program serving its registry over mutual
// TLS, cce-server processes configured to transmit to it, and JSON-RPC calls to them.
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <gtest/gtest.h>
#include <memory>

#include "tests/nfe/CondUso.h"
#include "tests/support/SeedUrl.h"

namespace road {

inline QString bin(const char* name) { return QDir(qEnvironmentVariable("CCE_BIN_DIR")).filePath(QLatin1String(name)); }

// Runs a program to its end; false (a test failure) unless it exits 0.
inline bool run(const QString& program, const QStringList& args, QString* out = nullptr,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString()
                      << p.readAllStandardOutput().toStdString();
        return false;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return true;
}

// Starts a program that prints "listening on HOST:PORT" first; the port, or 0.
inline int startListening(QProcess& p, const QString& program, const QStringList& args)
{
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    QDeadlineTimer deadline(30000);
    while (!p.canReadLine()) {
        if (p.state() == QProcess::NotRunning || deadline.hasExpired()) {
            ADD_FAILURE() << program.toStdString() << " did not start: " << p.readAllStandardError().toStdString();
            return 0;
        }
        p.waitForReadyRead(200);
    }
    const QString line = QString::fromUtf8(p.readLine()).trimmed();
    return line.startsWith(QLatin1String("listening on ")) ? line.section(QLatin1Char(':'), -1).toInt() : 0;
}

inline void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

// A statement on a database (sqlite:PATH or postgresql://...), its rows as texts.
inline QList<QStringList> query(const QString& given, const QString& sql, const QVariantList& binds = {})
{
    const QString url = cce_test::seedUrl(given);
    const QString name = QUuid::createUuid().toString();
    QList<QStringList> rows;
    {
        const bool sqlite = url.startsWith(QLatin1String("sqlite:"));
        QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL"), name);
        if (sqlite) {
            db.setDatabaseName(url.mid(7));
        } else {
            const QUrl u(url);
            db.setHostName(u.host());
            db.setPort(u.port(5432));
            db.setUserName(u.userName());
            db.setDatabaseName(u.path().mid(1));
        }
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        // Without values, run as it is: PostgreSQL prepares no schema statement.
        bool ok = binds.isEmpty() ? q.exec(sql) : q.prepare(sql);
        for (const QVariant& b : binds)
            q.addBindValue(b);
        if (!binds.isEmpty())
            ok = q.exec();
        EXPECT_TRUE(ok) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < q.record().count(); ++c)
                row << q.value(c).toString();
            rows << row;
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

// The throw-away PostgreSQL emptied and filled with the demo anew: the same seed, so the same
// keys, as a stand-in seeded from a SQLite demo of the same day.
inline bool freshPostgresDemo(const QString& url)
{
    query(url, QStringLiteral("DROP SCHEMA public CASCADE"));
    query(url, QStringLiteral("CREATE SCHEMA public"));
    return run(bin("cce-server"), {QStringLiteral("--init"), QStringLiteral("--database"), cce_test::seedUrl(url),
                                   QStringLiteral("--demo")});
}

struct Letter {
    QString filial, lancto, chNFe, seq;
};

// A demo company database, its certificates, and the stand-in seeded from it.
class StandIn {
public:
    // extra: more options of sefaz-sim (--wide-answers); withToken: the demo's keys also on
    // a SoftHSM2 token (certs/token), for servers that sign with it.
    bool start(const QStringList& extra = {}, bool withToken = false)
    {
        companyDb = m_dir.filePath(QStringLiteral("company.db"));
        const QString certs = m_dir.filePath(QStringLiteral("certs"));
        const QString registry = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("registry.db"));
        if (!run(bin("cce-server"), {QStringLiteral("--init"), QStringLiteral("--database"),
                                     QStringLiteral("sqlite:") + companyDb, QStringLiteral("--demo")}) ||
            !run(QDir(qEnvironmentVariable("CCE_SOURCE_DIR")).filePath(QStringLiteral("scripts/demo-certs")),
                 withToken ? QStringList{QStringLiteral("--pkcs11"), certs, companyDb}
                           : QStringList{certs, companyDb}) ||
            !run(bin("sefaz-sim"), {QStringLiteral("--init"), QStringLiteral("--registry"), registry,
                                    QStringLiteral("--seed-from"), QStringLiteral("sqlite:") + companyDb}))
            return false;
        port = startListening(m_sim, bin("sefaz-sim"),
                              QStringList{QStringLiteral("--registry"), registry, QStringLiteral("--listen"),
                                          QStringLiteral("127.0.0.1:0"), QStringLiteral("--cert"),
                                          certs + QStringLiteral("/sefaz.pem"), QStringLiteral("--key"),
                                          certs + QStringLiteral("/sefaz.key"), QStringLiteral("--client-ca"),
                                          certs + QStringLiteral("/ca.pem")} +
                                  extra);
        return port > 0;
    }
    ~StandIn() { stop(m_sim); }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString certs() const { return m_dir.filePath(QStringLiteral("certs")); }
    QString url() const { return QStringLiteral("sqlite:") + companyDb; }

    // A cce-server configuration transmitting to this stand-in, on database url; withToken:
    // signing with the token's keys, the A1 files set aside.
    QString serverIni(const QString& url, const QString& more = QString(), bool withToken = false)
    {
        const QString ini = m_dir.filePath(QStringLiteral("server-%1.ini").arg(++m_inis));
        QFile f(ini);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString sim = QStringLiteral("https://127.0.0.1:%1/ws/").arg(port);
        const QString keys = withToken ? QStringLiteral("pkcs11_module=/usr/lib/softhsm/libsofthsm2.so\n"
                                                        "pkcs11_token=CCE Demo\npkcs11_pin_file=%1/token/pin\n")
                                             .arg(certs())
                                       : QStringLiteral("certificates=%1/a1\ncertificate_password=demo\n").arg(certs());
        f.write(QStringLiteral("[database]\nurl=%1\n[fiscal]\n%5trust_store=%2/ca.pem\ntimeout_ms=2000\n"
                               "claim_window_ms=3000\nsync_pause_ms=0\n%4"
                               "[authority]\n*.2.recepcao=%3NFeRecepcaoEvento4\n*.2.consulta=%3NFeConsultaProtocolo4\n")
                    .arg(url, certs(), sim, more, keys)
                    .toUtf8());
        return ini;
    }
    // The environment of a server that reaches the token.
    QProcessEnvironment tokenEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SOFTHSM2_CONF"), certs() + QStringLiteral("/token/softhsm2.conf"));
        return env;
    }

    // POST /control with body, or GET /control/events with none.
    QJsonValue control(const QJsonObject& body = QJsonObject(), const char* get = "/control/events")
    {
        httplib::SSLClient c("127.0.0.1", port);
        c.set_ca_cert_path(certs().toStdString().append("/ca.pem").c_str());
        c.set_read_timeout(10, 0);
        auto r = body.isEmpty() ? c.Get(get)
                                : c.Post("/control", QJsonDocument(body).toJson().toStdString(), "application/json");
        EXPECT_TRUE(r && r->status == 200) << (r ? r->body : std::string("no answer"));
        const QJsonDocument doc = QJsonDocument::fromJson(r ? QByteArray::fromStdString(r->body) : QByteArray());
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    }
    QJsonArray registered() { return control().toArray(); }
    int received(const char* what)
    {
        return control({}, "/control/received").toObject().value(QLatin1String(what)).toInt(-1);
    }

    // The raw SOAP call of a service of the stand-in, as another system makes it, with the
    // client certificate and key (PEM files) given.
    QByteArray call(const char* service, const QByteArray& soap, const QString& certPem, const QString& keyPem)
    {
        httplib::SSLClient c("127.0.0.1", port, certPem.toStdString(), keyPem.toStdString());
        c.set_ca_cert_path(certs().toStdString().append("/ca.pem").c_str());
        c.set_read_timeout(30, 0);
        auto r =
            c.Post((std::string("/ws/") + service).c_str(), soap.toStdString(), "application/soap+xml; charset=utf-8");
        EXPECT_TRUE(r && r->status == 200) << (r ? r->body : std::string("no answer"));
        return r ? QByteArray::fromStdString(r->body) : QByteArray();
    }

    int port = 0;
    QString companyDb;

private:
    QTemporaryDir m_dir;
    QProcess m_sim;
    int m_inis = 0;
};

// A JSON-RPC call to a cce-server on port; its result (or nothing when it did not answer).
inline QJsonValue rpc(int port, const char* server, const char* method, const QJsonArray& params, bool answered = true)
{
    const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), 1},
                              {QStringLiteral("method"), QLatin1String(method)},
                              {QStringLiteral("params"), params}};
    httplib::Client c("127.0.0.1", port);
    c.set_read_timeout(120, 0);
    auto r = c.Post((std::string("/rpc/") + server).c_str(), QJsonDocument(request).toJson().toStdString(),
                    "application/json");
    if (answered) {
        EXPECT_TRUE(r && r->status == 200) << (r ? r->body : std::string("no answer"));
    }
    return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value(QStringLiteral("result"))
             : QJsonValue();
}

// TransmiteCCe through the server at port for the letters (all of company company).
inline QJsonValue transmit(int port, const QString& company, const QList<Letter>& letters, bool answered = true)
{
    QJsonArray rows;
    for (const Letter& l : letters)
        rows.append(QJsonArray{QStringLiteral("S"), l.filial, l.lancto});
    auto field = [](const char* name, int size) {
        return QJsonObject{{QStringLiteral("name"), QLatin1String(name)},
                           {QStringLiteral("type"), QStringLiteral("string")},
                           {QStringLiteral("size"), size}};
    };
    const QJsonObject packet{
        {QStringLiteral("$packet"),
         QJsonObject{
             {QStringLiteral("fields"), QJsonArray{field("IDCHECK", 1), field("CDFILIAL", 4), field("NRLANCTONF", 10)}},
             {QStringLiteral("rows"), rows}}}};
    return rpc(port, "Dfs59000.rdmTransmissaoCCe", "TransmiteCCe", QJsonArray{packet, company, cce_test::kCondUso},
               answered);
}

// A cce-server serving until the end of the test.
class Server {
public:
    // env: the server's environment (its time zone, say).
    int start(const QString& ini, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        m_p = std::make_unique<QProcess>();
        m_p->setProcessEnvironment(env);
        return port = startListening(
                   *m_p, bin("cce-server"),
                   {QStringLiteral("--config"), ini, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    }
    ~Server()
    {
        if (m_p)
            stop(*m_p);
    }
    QProcess& process() { return *m_p; }
    int port = 0;

private:
    std::unique_ptr<QProcess> m_p;
};

} // namespace road
