// The whole road over the wire: cce-server transmitting to the sefaz-sim program over
// mutual TLS. Lost answers and delays made by the stand-in's control end with letters in
// doubt that the next transmission reconciles; answers in their own order reach the right
// letters; two servers on one PostgreSQL never send one letter twice.
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <future>
#include <gtest/gtest.h>

#include "tests/nfe/CondUso.h"

namespace {

QString bin(const char* name) { return QDir(qEnvironmentVariable("CCE_BIN_DIR")).filePath(QLatin1String(name)); }

bool run(const QString& program, const QStringList& args, QString* out = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(240000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
        return false;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return true;
}

// Starts a program that prints "listening on HOST:PORT" first; the port, or 0.
int startListening(QProcess& p, const QString& program, const QStringList& args)
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

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(15000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

using cce_test::kCondUso;

struct Letter {
    QString filial, lancto, chNFe;
};

class Road : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        s_companyDb = s_dir->filePath(QStringLiteral("company.db"));
        const QString certs = s_dir->filePath(QStringLiteral("certs"));
        ASSERT_TRUE(run(bin("cce-server"), {QStringLiteral("--init"), QStringLiteral("--database"),
                                            QStringLiteral("sqlite:") + s_companyDb, QStringLiteral("--demo")}));
        ASSERT_TRUE(run(QDir(qEnvironmentVariable("CCE_SOURCE_DIR")).filePath(QStringLiteral("scripts/demo-certs")),
                        {certs, s_companyDb}));
        const QString registry = QStringLiteral("sqlite:") + s_dir->filePath(QStringLiteral("registry.db"));
        ASSERT_TRUE(run(bin("sefaz-sim"), {QStringLiteral("--init"), QStringLiteral("--registry"), registry,
                                           QStringLiteral("--seed-from"), QStringLiteral("sqlite:") + s_companyDb}));
        s_sim = new QProcess;
        s_simPort = startListening(
            *s_sim, bin("sefaz-sim"),
            {QStringLiteral("--registry"), registry, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
             QStringLiteral("--cert"), certs + QStringLiteral("/sefaz.pem"), QStringLiteral("--key"),
             certs + QStringLiteral("/sefaz.key"), QStringLiteral("--client-ca"), certs + QStringLiteral("/ca.pem")});
        ASSERT_GT(s_simPort, 0);
    }
    static void TearDownTestSuite()
    {
        if (s_sim)
            stop(*s_sim);
        delete s_sim;
        s_sim = nullptr;
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_GT(s_simPort, 0);
        control(QJsonObject{{QStringLiteral("reset"), true}});
    }
    void TearDown() override
    {
        for (QProcess* p : m_servers) {
            stop(*p);
            delete p;
        }
    }

    // A cce-server on database url, transmitting to the stand-in.
    int startServer(const QString& url)
    {
        const QString certs = s_dir->filePath(QStringLiteral("certs"));
        const QString ini = s_dir->filePath(QStringLiteral("server-%1.ini").arg(m_servers.size()));
        QFile f(ini);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        const QString sim = QStringLiteral("https://127.0.0.1:%1/ws/").arg(s_simPort);
        f.write(QStringLiteral("[database]\nurl=%1\n[fiscal]\ncertificates=%2/a1\ncertificate_password=demo\n"
                               "trust_store=%2/ca.pem\ntimeout_ms=2000\nclaim_window_ms=3000\n[authority]\n"
                               "*.2.recepcao=%3NFeRecepcaoEvento4\n*.2.consulta=%3NFeConsultaProtocolo4\n")
                    .arg(url, certs, sim)
                    .toUtf8());
        f.close();
        auto* p = new QProcess;
        m_servers << p;
        return startListening(
            *p, bin("cce-server"),
            {QStringLiteral("--config"), ini, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    }

    static QJsonValue control(const QJsonObject& body)
    {
        httplib::SSLClient c("127.0.0.1", s_simPort);
        c.set_ca_cert_path(s_dir->filePath(QStringLiteral("certs/ca.pem")).toStdString().c_str());
        c.set_read_timeout(10, 0);
        auto r = body.isEmpty() ? c.Get("/control/events")
                                : c.Post("/control", QJsonDocument(body).toJson().toStdString(), "application/json");
        EXPECT_TRUE(r && r->status == 200) << (r ? r->body : std::string("no answer"));
        return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).isArray()
                       ? QJsonValue(QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).array())
                       : QJsonValue(QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object())
                 : QJsonValue();
    }
    static QJsonArray registered() { return control(QJsonObject()).toArray(); }
    static int eventsReceived()
    {
        httplib::SSLClient c("127.0.0.1", s_simPort);
        c.set_ca_cert_path(s_dir->filePath(QStringLiteral("certs/ca.pem")).toStdString().c_str());
        auto r = c.Get("/control/received");
        EXPECT_TRUE(r && r->status == 200);
        return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body))
                       .object()
                       .value(QStringLiteral("events"))
                       .toInt()
                 : -1;
    }

    // TransmiteCCe through the server at port for the letters (all of company company).
    static QJsonValue transmit(int port, const QString& company, const QList<Letter>& letters, bool answered = true)
    {
        QJsonArray rows;
        for (const Letter& l : letters)
            rows.append(QJsonArray{QStringLiteral("S"), l.filial, l.lancto});
        const QJsonObject packet{
            {QStringLiteral("$packet"),
             QJsonObject{{QStringLiteral("fields"),
                          QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("IDCHECK")},
                                                 {QStringLiteral("type"), QStringLiteral("string")},
                                                 {QStringLiteral("size"), 1}},
                                     QJsonObject{{QStringLiteral("name"), QStringLiteral("CDFILIAL")},
                                                 {QStringLiteral("type"), QStringLiteral("string")},
                                                 {QStringLiteral("size"), 4}},
                                     QJsonObject{{QStringLiteral("name"), QStringLiteral("NRLANCTONF")},
                                                 {QStringLiteral("type"), QStringLiteral("string")},
                                                 {QStringLiteral("size"), 10}}}},
                         {QStringLiteral("rows"), rows}}}};
        const QJsonObject request{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                  {QStringLiteral("id"), 1},
                                  {QStringLiteral("method"), QStringLiteral("TransmiteCCe")},
                                  {QStringLiteral("params"), QJsonArray{packet, company, kCondUso}}};
        httplib::Client c("127.0.0.1", port);
        c.set_read_timeout(120, 0);
        auto r = c.Post("/rpc/Dfs59000.rdmTransmissaoCCe", QJsonDocument(request).toJson().toStdString(),
                        "application/json");
        if (answered) {
            EXPECT_TRUE(r && r->status == 200) << (r ? r->body : std::string("no answer"));
        }
        return r ? QJsonDocument::fromJson(QByteArray::fromStdString(r->body)).object().value(QStringLiteral("result"))
                 : QJsonValue();
    }

    // Pending letters of homologation invoices of one company, not used by an earlier test.
    static QList<Letter> pending(int n, QString* company, const QString& url = QString())
    {
        const QString name = QStringLiteral("road_read");
        QList<Letter> out;
        {
            QSqlDatabase db = url.isEmpty() ? QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name)
                                            : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            if (url.isEmpty()) {
                db.setDatabaseName(s_companyDb);
            } else {
                const QUrl u(url);
                db.setHostName(u.host());
                db.setPort(u.port(5432));
                db.setUserName(u.userName());
                db.setDatabaseName(u.path().mid(1));
            }
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(q.exec(QStringLiteral(
                "SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, N.CDEMPRESA FROM NOTAFISCAL N JOIN CARTACORRECAO L "
                "ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE N.IDSITUACAONFE = 'A' "
                "AND N.IDTPAMBNFE = '2' AND L.IDTRANSMCCE = 'N' AND L.NRSEQCCE = "
                "(SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = "
                "N.NRLANCTONF) ORDER BY N.CDEMPRESA, N.CDFILIAL, N.NRLANCTONF")));
            while (q.next() && out.size() < n) {
                const Letter l{q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
                if ((url.isEmpty() && s_used.contains(l.filial + l.lancto)) ||
                    (!out.isEmpty() && q.value(3).toString() != *company))
                    continue;
                s_used << l.filial + l.lancto;
                *company = q.value(3).toString();
                out << l;
            }
        }
        QSqlDatabase::removeDatabase(name);
        EXPECT_EQ(out.size(), n) << "the demo has too few pending homologation letters";
        return out;
    }

    // IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE of the invoice's latest letter.
    static QStringList letter(const Letter& l)
    {
        const QString name = QStringLiteral("road_letter");
        QStringList out;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(s_companyDb);
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            q.prepare(
                QStringLiteral("SELECT IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE FROM CARTACORRECAO WHERE CDFILIAL = ? "
                               "AND NRLANCTONF = ? ORDER BY NRSEQCCE DESC"));
            q.addBindValue(l.filial);
            q.addBindValue(l.lancto);
            EXPECT_TRUE(q.exec());
            if (q.next())
                out << q.value(0).toString() << q.value(1).toString() << q.value(2).toString();
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }

    static QString protocolOf(const QJsonArray& events, const QString& chNFe)
    {
        for (const QJsonValue& e : events)
            if (e.toObject().value(QStringLiteral("chNFe")).toString() == chNFe)
                return e.toObject().value(QStringLiteral("nProt")).toString();
        return QString();
    }

    QList<QProcess*> m_servers;
    static inline QTemporaryDir* s_dir = nullptr;
    static inline QProcess* s_sim = nullptr;
    static inline int s_simPort = 0;
    static inline QString s_companyDb;
    static inline QStringList s_used;
};

} // namespace

TEST_F(Road, AnswersInTheirOwnOrderReachTheRightLettersOverMutualTls)
{
    const int port = startServer(QStringLiteral("sqlite:") + s_companyDb);
    ASSERT_GT(port, 0);
    control(QJsonObject{{QStringLiteral("order"), QStringLiteral("reversed")}});
    QString company;
    const QList<Letter> letters = pending(3, &company);
    const QJsonArray result = transmit(port, company, letters).toArray();
    ASSERT_EQ(result.size(), 2) << QJsonDocument(result).toJson().toStdString();
    EXPECT_EQ(result.at(0).toString(), QStringLiteral("S"));
    EXPECT_EQ(result.at(1).toString().count(QStringLiteral("135 - Evento registrado e vinculado a NF-e")), 3)
        << result.at(1).toString().toStdString();
    const QJsonArray events = registered();
    ASSERT_EQ(events.size(), 3);
    for (const Letter& l : letters) {
        const QStringList stored = letter(l);
        ASSERT_EQ(stored.size(), 3);
        EXPECT_EQ(stored.at(1), QStringLiteral("135"));
        // Each letter holds the protocol the authority gave its own invoice.
        EXPECT_EQ(stored.at(2), protocolOf(events, l.chNFe));
    }
}

TEST_F(Road, ALostAnswerLeavesTheLetterInDoubtAndIsReconciledWithoutASecondSend)
{
    const int port = startServer(QStringLiteral("sqlite:") + s_companyDb);
    ASSERT_GT(port, 0);
    QString company;
    const QList<Letter> letters = pending(2, &company);

    // The first letter's answer is lost after the authority registered it...
    control(QJsonObject{{QStringLiteral("drop"), QStringLiteral("after_receive")}});
    transmit(port, company, {letters.at(0)});
    EXPECT_EQ(letter(letters.at(0)).value(0), QStringLiteral("D"));
    EXPECT_TRUE(letter(letters.at(0)).value(1).isEmpty()); // never accepted without the authority's word
    // ...the second's arrives after the server stopped waiting (timeout 2 s).
    control(QJsonObject{{QStringLiteral("drop"), QStringLiteral("none")}, {QStringLiteral("delay_ms"), 3500}});
    transmit(port, company, {letters.at(1)});
    EXPECT_EQ(letter(letters.at(1)).value(0), QStringLiteral("D"));
    ASSERT_EQ(registered().size(), 2);

    // The next transmission asks the authority first and adopts what it registered.
    control(QJsonObject{{QStringLiteral("delay_ms"), 0}});
    const QJsonArray result = transmit(port, company, letters).toArray();
    EXPECT_EQ(result.at(0).toString(), QStringLiteral("S")) << QJsonDocument(result).toJson().toStdString();
    const QJsonArray events = registered();
    EXPECT_EQ(events.size(), 2);
    for (const Letter& l : letters) {
        EXPECT_EQ(letter(l).value(1), QStringLiteral("135"));
        EXPECT_EQ(letter(l).value(2), protocolOf(events, l.chNFe));
    }
}

TEST_F(Road, AServerKilledWhileWaitingLeavesLettersInDoubtForTheNextOne)
{
    const int first = startServer(QStringLiteral("sqlite:") + s_companyDb);
    ASSERT_GT(first, 0);
    QString company;
    const QList<Letter> letters = pending(1, &company);
    control(QJsonObject{{QStringLiteral("delay_ms"), 1500}});
    auto call = std::async(std::launch::async, [&] { return transmit(first, company, letters, false); });
    // Killed once the letter is claimed: sent (or on its way), the answer not yet back.
    QDeadlineTimer claimed(20000);
    while (letter(letters.at(0)).value(0) != QLatin1String("D") && !claimed.hasExpired())
        QThread::msleep(20);
    m_servers.first()->kill();
    m_servers.first()->waitForFinished(5000);
    call.wait();
    EXPECT_EQ(letter(letters.at(0)).value(0), QStringLiteral("D"));

    control(QJsonObject{{QStringLiteral("delay_ms"), 0}});
    const int second = startServer(QStringLiteral("sqlite:") + s_companyDb);
    ASSERT_GT(second, 0);
    // The dead server's claim is recent: left alone while it might still be on its way.
    const QString early = transmit(second, company, letters).toArray().at(1).toString();
    EXPECT_TRUE(early.contains(QStringLiteral("em transmissão"))) << early.toStdString();
    // Once that window has passed, the letter is reconciled with the authority, not sent again.
    QThread::msleep(3200);
    const QString later = transmit(second, company, letters).toArray().at(1).toString();
    EXPECT_TRUE(later.contains(QStringLiteral("135"))) << later.toStdString();
    EXPECT_EQ(letter(letters.at(0)).value(1), QStringLiteral("135"));
    EXPECT_EQ(letter(letters.at(0)).value(2), protocolOf(registered(), letters.at(0).chNFe));
    EXPECT_EQ(registered().size(), 1);
}

TEST_F(Road, TwoServersOnOnePostgreSqlNeverSendOneLetterTwice)
{
    const QString url = qEnvironmentVariable("CCE_PG_URL");
    if (url.isEmpty())
        GTEST_SKIP() << "CCE_PG_URL is not set; run under scripts/with-postgres for the PostgreSQL cases";
    {
        // A fresh demo in the throw-away database; the same seed as the SQLite one the
        // certificates and the stand-in's registry came from.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("road_reset"));
        const QUrl u(url);
        db.setHostName(u.host());
        db.setPort(u.port(5432));
        db.setUserName(u.userName());
        db.setDatabaseName(u.path().mid(1));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("DROP SCHEMA public CASCADE")));
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE SCHEMA public")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("road_reset"));
    ASSERT_TRUE(run(bin("cce-server"),
                    {QStringLiteral("--init"), QStringLiteral("--database"), url, QStringLiteral("--demo")}));

    const int a = startServer(url), b = startServer(url);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    QString company;
    const QList<Letter> letters = pending(5, &company, url);
    // A slow authority, so that both calls overlap.
    control(QJsonObject{{QStringLiteral("delay_ms"), 300}});
    for (int round = 0; round < 2; ++round) {
        auto one = std::async(std::launch::async, [&] { return transmit(a, company, letters); });
        auto two = std::async(std::launch::async, [&] { return transmit(b, company, letters); });
        one.wait();
        two.wait();
    }
    // Every letter reached the authority exactly once, whichever server sent it.
    EXPECT_EQ(eventsReceived(), letters.size());
    const QJsonArray events = registered();
    EXPECT_EQ(events.size(), letters.size());
    for (const Letter& l : letters)
        EXPECT_FALSE(protocolOf(events, l.chNFe).isEmpty()) << l.chNFe.toStdString();
}
