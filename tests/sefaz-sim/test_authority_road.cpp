// The whole road over the wire: cce-server transmitting to the sefaz-sim program over
// mutual TLS. Lost answers and delays made by the stand-in's control end with letters in
// doubt that the next transmission reconciles; answers in their own order reach the right
// letters; two servers on one PostgreSQL never send one letter twice.
#include <QThread>
#include <future>

#include "tests/sefaz-sim/RoadSupport.h"

namespace {

using road::Letter;

class Road : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_sim = new road::StandIn;
        s_used.clear();
        ASSERT_TRUE(s_sim->start({}, true));
        s_companyDb = s_sim->companyDb;
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_sim && s_sim->port > 0);
        control(QJsonObject{{QStringLiteral("reset"), true}});
    }
    void TearDown() override
    {
        for (QProcess* p : m_servers) {
            road::stop(*p);
            delete p;
        }
    }

    // A cce-server on database url, transmitting to the stand-in; withToken: signing with the
    // demo's SoftHSM2 token.
    int startServer(const QString& url, bool withToken = false)
    {
        auto* p = new QProcess;
        m_servers << p;
        if (withToken)
            p->setProcessEnvironment(s_sim->tokenEnvironment());
        return road::startListening(*p, road::bin("cce-server"),
                                    {QStringLiteral("--config"), s_sim->serverIni(url, QString(), withToken),
                                     QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    }

    static QJsonValue control(const QJsonObject& body) { return s_sim->control(body); }
    static QJsonArray registered() { return s_sim->registered(); }
    static int eventsReceived() { return s_sim->received("events"); }
    static QJsonValue transmit(int port, const QString& company, const QList<Letter>& letters, bool answered = true)
    {
        return road::transmit(port, company, letters, answered);
    }
    static bool run(const QString& program, const QStringList& args) { return road::run(program, args); }
    static QString bin(const char* name) { return road::bin(name); }

    // Pending letters of homologation invoices of one company, not used by an earlier test.
    static QList<Letter> pending(int n, QString* company, const QString& url = QString())
    {
        QList<Letter> out;
        for (const QStringList& r : road::query(
                 url.isEmpty() ? s_sim->url() : url,
                 QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, N.CDEMPRESA FROM NOTAFISCAL N JOIN "
                                "CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE "
                                "N.IDSITUACAONFE = 'A' AND N.IDTPAMBNFE = '2' AND L.IDTRANSMCCE = 'N' AND L.NRSEQCCE = "
                                "(SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND "
                                "C.NRLANCTONF = N.NRLANCTONF) ORDER BY N.CDEMPRESA, N.CDFILIAL, N.NRLANCTONF"))) {
            const Letter l{r.at(0), r.at(1), r.at(2), QString()};
            if (out.size() == n || (url.isEmpty() && s_used.contains(l.filial + l.lancto)) ||
                (!out.isEmpty() && r.at(3) != *company))
                continue;
            s_used << l.filial + l.lancto;
            *company = r.at(3);
            out << l;
        }
        EXPECT_EQ(out.size(), n) << "the demo has too few pending homologation letters";
        return out;
    }

    // IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE of the invoice's latest letter.
    static QStringList letter(const Letter& l)
    {
        return road::query(s_sim->url(),
                           QStringLiteral("SELECT IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE FROM CARTACORRECAO WHERE "
                                          "CDFILIAL = ? AND NRLANCTONF = ? ORDER BY NRSEQCCE DESC"),
                           {l.filial, l.lancto})
            .value(0);
    }

    static QString protocolOf(const QJsonArray& events, const QString& chNFe)
    {
        for (const QJsonValue& e : events)
            if (e.toObject().value(QStringLiteral("chNFe")).toString() == chNFe)
                return e.toObject().value(QStringLiteral("nProt")).toString();
        return QString();
    }

    QList<QProcess*> m_servers;
    static inline road::StandIn* s_sim = nullptr;
    static inline QString s_companyDb;
    static inline QStringList s_used;
};

// The same roads with the keys of A1 files and with those of a token (A3), the files set aside.
class BothKinds : public Road, public ::testing::WithParamInterface<bool> {};

} // namespace

INSTANTIATE_TEST_SUITE_P(Keys, BothKinds, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Token" : "A1"; });

TEST_P(BothKinds, AnswersInTheirOwnOrderReachTheRightLettersOverMutualTls)
{
    const int port = startServer(QStringLiteral("sqlite:") + s_companyDb, GetParam());
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
    // What was registered verifies with xmlsec1 as it stands.
    const QString signedEvent =
        road::query(s_sim->url(),
                    QStringLiteral("SELECT DSXMLEVENTO FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                   "ORDER BY NRSEQCCE DESC"),
                    {letters.at(0).filial, letters.at(0).lancto})
            .value(0)
            .value(0);
    QFile file(s_sim->path(QStringLiteral("evento.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(signedEvent.toUtf8());
    file.close();
    EXPECT_TRUE(run(QStringLiteral("xmlsec1"),
                    {QStringLiteral("--verify"), QStringLiteral("--insecure"), QStringLiteral("--id-attr:Id"),
                     QStringLiteral("http://www.portalfiscal.inf.br/nfe:infEvento"), file.fileName()}));
    // The certificate list names the one that served the letter's registration.
    QString listed;
    QProcess list;
    if (GetParam())
        list.setProcessEnvironment(s_sim->tokenEnvironment());
    list.start(bin("cce-server"), {QStringLiteral("--list-certificates"), QStringLiteral("--config"),
                                   s_sim->serverIni(s_sim->url(), QString(), GetParam())});
    ASSERT_TRUE(list.waitForFinished(60000));
    EXPECT_EQ(list.exitCode(), 0);
    listed = QString::fromUtf8(list.readAllStandardOutput());
    const QStringList registration =
        road::query(s_sim->url(),
                    QStringLiteral("SELECT I.NRSERIECERTIFIC, I.CDINSCESTA FROM NOTAFISCAL N JOIN INSCRESTAD I ON "
                                   "I.CDEMPRESA = N.CDEMPRESA AND I.CDINSCESTA = N.CDINSCESTA WHERE N.CDFILIAL = ? "
                                   "AND N.NRLANCTONF = ?"),
                    {letters.at(0).filial, letters.at(0).lancto})
            .value(0);
    const QString line = listed.section(QStringLiteral("série ") + registration.value(0), 1, 1).section('\n', 0, 0);
    EXPECT_TRUE(line.contains(QStringLiteral("IE ") + registration.value(1))) << listed.toStdString();
    EXPECT_EQ(listed.contains(QStringLiteral("token \"CCE Demo\"")), GetParam()) << listed.toStdString();

    // The token's PIN is in no line of the server's log.
    road::stop(*m_servers.first());
    const QString log = QString::fromUtf8(m_servers.first()->readAllStandardError());
    QFile pin(s_sim->certs() + QStringLiteral("/token/pin"));
    ASSERT_TRUE(pin.open(QIODevice::ReadOnly));
    EXPECT_FALSE(log.contains(QString::fromUtf8(pin.readAll().trimmed()))) << log.toStdString();
}

TEST_P(BothKinds, ALostAnswerLeavesTheLetterInDoubtAndIsReconciledWithoutASecondSend)
{
    const int port = startServer(QStringLiteral("sqlite:") + s_companyDb, GetParam());
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
    // A fresh demo in the throw-away database; the same seed as the SQLite one the
    // certificates and the stand-in's registry came from.
    ASSERT_TRUE(road::freshPostgresDemo(url));

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
