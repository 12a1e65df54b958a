// The authority's registry as the truth, over the wire: another system of the same company
// registers letters at the stand-in with a certificate of its own; cce-server never takes
// them for its own letters, brings them in as letters of their own (on a transmission and on
// --sync-events), and its letter moves on with its text. The newest layouts' answers
// (17-digit protocols, 4-digit codes) and the registration times travel whole through the
// store, the list, the e-mail, the print and the export, on SQLite and PostgreSQL, whatever
// the server's time zone.
#include <QDate>
#include <QRegularExpression>

#include "nfe/EventXml.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "server/fiscal/Soap.h"
#include "tests/sefaz-sim/RoadSupport.h"

namespace {

using road::Letter;

const char kTransmissao[] = "Dfs59000.rdmTransmissaoCCe";
const QString kOtherText = QStringLiteral("Correcao do endereco de entrega: Rua Sao Joao, 123");

// Another system of the company: a certificate of its own for the company's CNPJ, signed by
// the same authority as the company's, and its own client.
class OtherSystem {
public:
    bool make(const QString& caDir, const QString& cnpj)
    {
        const QString key = m_dir.filePath(QStringLiteral("other.key")), csr = m_dir.filePath(QStringLiteral("c.csr"));
        pem = m_dir.filePath(QStringLiteral("other.pem"));
        keyPem = key;
        const QString pfx = m_dir.filePath(QStringLiteral("other.pfx"));
        const QString openssl = QStringLiteral("openssl");
        if (!road::run(openssl, {QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                                 QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), csr,
                                 QStringLiteral("-subj"), QStringLiteral("/C=BR/O=Outro/CN=OUTRO SISTEMA:") + cnpj}) ||
            !road::run(openssl,
                       {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), csr,
                        QStringLiteral("-CA"), caDir + QStringLiteral("/ca.pem"), QStringLiteral("-CAkey"),
                        caDir + QStringLiteral("/ca.key"), QStringLiteral("-set_serial"), QStringLiteral("777"),
                        QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-out"), pem}) ||
            !road::run(openssl, {QStringLiteral("pkcs12"), QStringLiteral("-export"), QStringLiteral("-in"), pem,
                                 QStringLiteral("-inkey"), key, QStringLiteral("-passout"), QStringLiteral("pass:x"),
                                 QStringLiteral("-out"), pfx}))
            return false;
        QFile f(pfx);
        QString error;
        cert = f.open(QIODevice::ReadOnly) ? nfe::Certificate::fromPkcs12(f.readAll(), QStringLiteral("x"), &error)
                                           : nullptr;
        EXPECT_TRUE(cert) << error.toStdString();
        return bool(cert);
    }

    // Registers a correction of the invoice at that sequence; the signed event, as sent.
    QByteArray registerLetter(road::StandIn& sim, const QString& chNFe, int seq, const QString& text)
    {
        const nfe::State* state = nfe::stateByIbge(chNFe.left(2).toInt());
        nfe::CceEvent e;
        e.cOrgao = state->ibge;
        e.tpAmb = 2;
        e.cnpj = chNFe.mid(6, 14);
        e.chNFe = chNFe;
        e.dhEvento = nfe::eventTime(QDateTime::currentDateTimeUtc().addSecs(-5), *state);
        e.nSeqEvento = seq;
        e.xCorrecao = text;
        e.xCondUso = cce_test::kCondUso;
        QString error;
        const QByteArray signedEvent = nfe::signEvento(nfe::buildEvento(e), *cert, &error);
        const QByteArray answer =
            sim.call("NFeRecepcaoEvento4",
                     srv::fiscal::envelope(srv::fiscal::kRecepcaoEvento, nfe::buildEnvEvento(900 + seq, {signedEvent})),
                     pem, keyPem);
        const srv::fiscal::BatchAnswer a = srv::fiscal::readBatchAnswer(answer);
        EXPECT_EQ(a.events.value(0).cStat, QStringLiteral("135")) << answer.toStdString();
        return signedEvent;
    }

    std::shared_ptr<const nfe::Certificate> cert;
    QString pem, keyPem;

private:
    QTemporaryDir m_dir;
};

QString protocolOf(const QJsonArray& events, const QString& chNFe, int seq)
{
    for (const QJsonValue& e : events)
        if (e[QStringLiteral("chNFe")].toString() == chNFe && e[QStringLiteral("nSeqEvento")].toInt() == seq)
            return e[QStringLiteral("nProt")].toString();
    return QString();
}

// How many invoices a --sync-events run says it asked about; -1 when it says nothing.
int consulted(const QString& output)
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^(\\d+) notas consultadas"), QRegularExpression::MultilineOption)
            .match(output);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

class RegistryRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_sim = new road::StandIn;
        ASSERT_TRUE(s_sim->start());
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_sim && s_sim->port > 0); }

    // The latest letter of homologation invoices of company 01, pending, whose invoice had
    // (answered) or never had (!answered) a letter the authority answered; not used before.
    static Letter pending(bool answered)
    {
        for (const QStringList& r : road::query(
                 s_sim->url(),
                 QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, L.NRSEQCCE FROM NOTAFISCAL N JOIN "
                                "CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE "
                                "N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND N.IDTPAMBNFE = '2' AND "
                                "L.IDTRANSMCCE = 'N' AND L.NRSEQCCE = (SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C "
                                "WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = N.NRLANCTONF) AND %1 EXISTS "
                                "(SELECT 1 FROM CARTACORRECAO A WHERE A.CDFILIAL = N.CDFILIAL AND A.NRLANCTONF = "
                                "N.NRLANCTONF AND A.CDSTATUSCCE IS NOT NULL) ORDER BY N.CDFILIAL, N.NRLANCTONF")
                     .arg(answered ? QString() : QStringLiteral("NOT")))) {
            if (s_used.contains(r.at(0) + r.at(1)))
                continue;
            s_used << r.at(0) + r.at(1);
            return Letter{r.at(0), r.at(1), r.at(2), r.at(3)};
        }
        ADD_FAILURE() << "the demo has too few pending letters";
        return Letter();
    }

    // The invoice's letters by sequence: NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE, CDSTATUSCCE,
    // NRPROTOCOLCCE, IDORIGEMCCE, DSXMLEVENTO, DSXMLPROCEVENTO.
    static QList<QStringList> letters(const Letter& l, const QString& url = QString())
    {
        return road::query(url.isEmpty() ? s_sim->url() : url,
                           QStringLiteral("SELECT NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE, "
                                          "IDORIGEMCCE, DSXMLEVENTO, DSXMLPROCEVENTO FROM CARTACORRECAO WHERE "
                                          "CDFILIAL = ? AND NRLANCTONF = ? ORDER BY NRSEQCCE"),
                           {l.filial, l.lancto});
    }

    static OtherSystem& other()
    {
        static OtherSystem* o = [] {
            auto* made = new OtherSystem;
            EXPECT_TRUE(made->make(s_sim->certs(), pending(true).chNFe.mid(6, 14)));
            return made;
        }();
        return *o;
    }

    static inline road::StandIn* s_sim = nullptr;
    static inline QStringList s_used;
};

} // namespace

TEST_F(RegistryRoad, AnotherSystemsLetterIsBroughtInAsItsOwnAndThisOneMovesOnWithItsText)
{
    // One invoice the server never heard the authority on (looked up before the first send),
    // one it has (its letter is sent and answered 573 first).
    const Letter fresh = pending(false), known = pending(true);
    ASSERT_EQ(fresh.chNFe.mid(6, 8), known.chNFe.mid(6, 8)) << "one company";
    QHash<QString, QByteArray> theirs;
    for (const Letter& l : {fresh, known})
        theirs.insert(l.lancto, other().registerLetter(*s_sim, l.chNFe, l.seq.toInt(), kOtherText));
    QHash<QString, QString> ours;
    for (const Letter& l : {fresh, known})
        ours.insert(l.lancto, letters(l).last().at(1));

    road::Server server;
    ASSERT_GT(server.start(s_sim->serverIni(s_sim->url())), 0);
    const QString answer = road::transmit(server.port, QStringLiteral("01"), {fresh, known}).toArray().at(1).toString();
    const QJsonArray registered = s_sim->registered();
    for (const Letter& l : {fresh, known}) {
        SCOPED_TRACE(l.lancto.toStdString());
        const int seq = l.seq.toInt();
        EXPECT_TRUE(answer.contains(QStringLiteral("A sequência %1 já foi registrada por outro sistema").arg(l.seq)) &&
                    answer.contains(QStringLiteral("passou à sequência %1").arg(twoDigits(seq + 1))))
            << answer.toStdString();
        const QList<QStringList> rows = letters(l);
        ASSERT_GE(rows.size(), 2);
        const QStringList& imported = rows.at(rows.size() - 2);
        const QStringList& mine = rows.last();
        // Theirs: its own text, protocol and XML as the authority keeps them, registered elsewhere.
        EXPECT_EQ(imported.mid(0, 6), (QStringList{l.seq, kOtherText, QStringLiteral("R"), QStringLiteral("135"),
                                                   protocolOf(registered, l.chNFe, seq), QStringLiteral("E")}));
        EXPECT_EQ(imported.at(6).toUtf8(), theirs.value(l.lancto));
        EXPECT_TRUE(imported.at(7).startsWith(QStringLiteral("<procEventoNFe")) &&
                    imported.at(7).contains(QString::fromUtf8(theirs.value(l.lancto))));
        // Ours: the next sequence, the text the user typed, never sent there, accepted nowhere.
        EXPECT_EQ(mine.mid(0, 6), (QStringList{twoDigits(seq + 1), ours.value(l.lancto), QStringLiteral("N"), QString(),
                                               QString(), QStringLiteral("P")}));
        for (const QStringList& r : rows)
            EXPECT_FALSE(r.at(0) >= l.seq && r.at(1) == ours.value(l.lancto) && r.at(3) == QLatin1String("135"));
    }

    // Sent again, it is registered under its new sequence; the authority holds both letters.
    const QString again = road::transmit(server.port, QStringLiteral("01"), {fresh, known}).toArray().at(1).toString();
    EXPECT_EQ(again.count(QStringLiteral(": 135 - ")), 2) << again.toStdString();
    for (const Letter& l : {fresh, known}) {
        EXPECT_EQ(letters(l).last().mid(2, 3),
                  (QStringList{QStringLiteral("R"), QStringLiteral("135"),
                               protocolOf(s_sim->registered(), l.chNFe, l.seq.toInt() + 1)}));
        EXPECT_TRUE(letters(l).last().at(7).contains(ours.value(l.lancto).left(20)));
    }

    // The accountant's copy holds each letter as registered, the other system's text in its own.
    QTemporaryDir out;
    ASSERT_TRUE(road::run(road::bin("cce-server"),
                          {QStringLiteral("--export-events"), QStringLiteral("--database"), s_sim->url(),
                           QStringLiteral("--company"), QStringLiteral("01"), QStringLiteral("--out"), out.path()}));
    QFile theirsFile(
        QDir(out.path()).filePath(QStringLiteral("%1-%2-procEventoNFe.xml").arg(fresh.chNFe).arg(fresh.seq.toInt())));
    ASSERT_TRUE(theirsFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(theirsFile.readAll(), letters(fresh).at(letters(fresh).size() - 2).at(7).toUtf8());
}

TEST_F(RegistryRoad, TheSyncBringsInWhatOtherSystemsRegisteredAndAsksNoInvoiceInStepAgain)
{
    // An invoice whose letters all went (the other system writes the next one) and one the
    // server never wrote a letter for.
    Letter withLetters, without;
    QDate since;
    for (const QStringList& r : road::query(
             s_sim->url(),
             QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, COALESCE((SELECT MAX(NRSEQCCE) FROM "
                            "CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = N.NRLANCTONF), '00'), "
                            "N.DTEMISSAO, (SELECT COUNT(*) FROM CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND "
                            "C.NRLANCTONF = N.NRLANCTONF AND (C.CDSTATUSCCE IS NULL OR C.CDSTATUSCCE NOT IN ('135', "
                            "'136'))) FROM NOTAFISCAL N WHERE "
                            "N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND N.IDTPAMBNFE = '2' "
                            "ORDER BY N.DTEMISSAO DESC"))) {
        if (s_used.contains(r.at(0) + r.at(1)) || r.at(5) != QLatin1String("0"))
            continue;
        Letter& slot = r.at(3) == QLatin1String("00") ? without : withLetters;
        if (!slot.filial.isEmpty())
            continue;
        slot = Letter{r.at(0), r.at(1), r.at(2), twoDigits(r.at(3).toInt() + 1)};
        s_used << r.at(0) + r.at(1);
        since = QDateTime::fromString(r.at(4).left(19), Qt::ISODate).date();
        if (!withLetters.filial.isEmpty() && !without.filial.isEmpty())
            break;
    }
    ASSERT_FALSE(withLetters.filial.isEmpty() || without.filial.isEmpty());
    for (const Letter& l : {withLetters, without})
        other().registerLetter(*s_sim, l.chNFe, l.seq.toInt(), kOtherText);

    const QString ini = s_sim->serverIni(s_sim->url());
    const QStringList args{QStringLiteral("--sync-events"), QStringLiteral("--config"), ini,
                           QStringLiteral("--company"),     QStringLiteral("01"),       QStringLiteral("--since"),
                           since.toString(Qt::ISODate)};
    const int queriesBefore = s_sim->received("queries");
    QString first;
    ASSERT_TRUE(road::run(road::bin("cce-server"), args, &first));
    const int asked = s_sim->received("queries") - queriesBefore;
    EXPECT_EQ(consulted(first), asked) << first.toStdString();
    EXPECT_GE(asked, 2);
    for (const Letter& l : {withLetters, without}) {
        EXPECT_TRUE(first.contains(
            QStringLiteral("(%1/%2): CC-e %3 registrada por outro sistema").arg(l.filial, l.lancto, l.seq)))
            << first.toStdString();
        const QStringList last = letters(l).last();
        EXPECT_EQ(last.mid(0, 6),
                  (QStringList{l.seq, kOtherText, QStringLiteral("R"), QStringLiteral("135"),
                               protocolOf(s_sim->registered(), l.chNFe, l.seq.toInt()), QStringLiteral("E")}));
    }

    // In step: nobody is asked again; one invoice asked for by name is.
    QString second;
    ASSERT_TRUE(road::run(road::bin("cce-server"), args, &second));
    EXPECT_EQ(consulted(second), 0) << second.toStdString();
    EXPECT_EQ(s_sim->received("queries") - queriesBefore, asked);
    QString one;
    ASSERT_TRUE(
        road::run(road::bin("cce-server"),
                  {QStringLiteral("--sync-events"), QStringLiteral("--config"), ini, QStringLiteral("--company"),
                   QStringLiteral("01"), QStringLiteral("--invoice"), without.filial + '/' + without.lancto},
                  &one));
    EXPECT_EQ(consulted(one), 1) << one.toStdString();
    EXPECT_EQ(letters(without).size(), 1) << "read again, nothing is brought in twice";
}

namespace {

// The rows of a "$packet" answer, each a map of its field names.
QList<QVariantMap> packetRows(const QJsonValue& packet)
{
    const QJsonObject p = packet[QStringLiteral("$packet")].toObject();
    QStringList names;
    for (const QJsonValue& f : p[QStringLiteral("fields")].toArray())
        names << f[QStringLiteral("name")].toString();
    QList<QVariantMap> rows;
    for (const QJsonValue& r : p[QStringLiteral("rows")].toArray()) {
        QVariantMap m;
        for (int i = 0; i < names.size(); ++i)
            m.insert(names.at(i), r.toArray().at(i).toVariant());
        rows << m;
    }
    return rows;
}

// The layouts of the tax reform over the whole road, on each engine.
class WideRoad : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite()
    {
        s_sim = new road::StandIn;
        ASSERT_TRUE(s_sim->start({QStringLiteral("--wide-answers")}));
    }
    static void TearDownTestSuite()
    {
        delete s_sim;
        s_sim = nullptr;
    }

    // The engine's company database: the stand-in's own SQLite file, or a fresh demo with the
    // same seed in the throw-away PostgreSQL.
    QString database()
    {
        if (QLatin1String(GetParam()) == QLatin1String("sqlite"))
            return s_sim->url();
        const QString url = qEnvironmentVariable("CCE_PG_URL");
        if (url.isEmpty())
            return QString();
        EXPECT_TRUE(road::freshPostgresDemo(url));
        return url;
    }

    static inline road::StandIn* s_sim = nullptr;
};

} // namespace

TEST_P(WideRoad, SeventeenDigitProtocolsFourDigitCodesAndTheAuthoritysTimesTravelWholeInAnyZone)
{
    const QString url = database();
    if (url.isEmpty())
        GTEST_SKIP() << "CCE_PG_URL is not set; run under scripts/with-postgres for the PostgreSQL cases";
    for (const char* mailTable : {"CLIENTE SET DSEMAILCLIE", "FORNECEDOR SET DSEMAILFORN", "FILIAL SET DSEMAILFILI"})
        road::query(url, QStringLiteral("UPDATE %1 = 'compras@example.com'").arg(QLatin1String(mailTable)));
    // Pending letters of homologation invoices of company 01, each sent once.
    QList<Letter> pending;
    for (const QStringList& r : road::query(
             url, QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, L.NRSEQCCE FROM NOTAFISCAL N JOIN "
                                 "CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE "
                                 "N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND N.IDTPAMBNFE = '2' AND "
                                 "L.IDTRANSMCCE = 'N' ORDER BY N.CDFILIAL DESC, N.NRLANCTONF DESC")))
        pending << Letter{r.at(0), r.at(1), r.at(2), r.at(3)};
    ASSERT_GE(pending.size(), 3);
    QTemporaryDir outbox;
    const QString ini =
        s_sim->serverIni(url, QStringLiteral("[mail]\nfrom=cce@example.com\noutbox=%1\n").arg(outbox.path()));

    for (const char* zone : {"UTC", "America/Sao_Paulo"}) {
        SCOPED_TRACE(zone);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QLatin1String(zone));
        road::Server server;
        ASSERT_GT(server.start(ini, env), 0);
        const Letter l = pending.takeFirst();
        road::transmit(server.port, QStringLiteral("01"), {l});
        // The authority's own words, kept as it wrote them.
        const QStringList stored = road::query(url,
                                               QStringLiteral("SELECT NRPROTOCOLCCE, DSDHREGEVENTO FROM CARTACORRECAO "
                                                              "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                                               {l.filial, l.lancto, l.seq})
                                       .value(0);
        ASSERT_EQ(stored.size(), 2);
        const QString nProt = protocolOf(s_sim->registered(), l.chNFe, l.seq.toInt());
        EXPECT_EQ(nProt.size(), 17);
        EXPECT_EQ(stored.at(0), nProt);
        ASSERT_EQ(stored.at(1).size(), 25) << stored.at(1).toStdString();
        // The issuer state's clock: what the stand-in wrote before its offset.
        const QString clock = stored.at(1).left(19);
        const QString shown = QDateTime::fromString(clock, Qt::ISODate).toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));

        // Listed.
        const QJsonArray lists =
            road::rpc(server.port, kTransmissao, "GetNotaFiscal",
                      {QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("01"),
                       QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("T"),
                       QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("T"), QStringLiteral("S"), QString(),
                       false, QJsonValue(), QJsonValue()})
                .toArray();
        bool listed = false;
        for (const QVariantMap& row : packetRows(lists.at(1)))
            if (row.value(QStringLiteral("CDFILIAL")) == l.filial &&
                row.value(QStringLiteral("NRLANCTONF")) == l.lancto && row.value(QStringLiteral("NRSEQCCE")) == l.seq) {
                listed = true;
                EXPECT_EQ(row.value(QStringLiteral("NRPROTOCOLCCE")).toString(), nProt);
                EXPECT_EQ(row.value(QStringLiteral("DTHRPROTOCOLCCE")).toString(), clock);
            }
        EXPECT_TRUE(listed);

        // E-mailed, with the printed letter.
        QDir(outbox.path()).removeRecursively();
        QDir().mkpath(outbox.path());
        EXPECT_EQ(road::rpc(server.port, kTransmissao, "SendEmailCCe", {l.filial, l.lancto, l.seq, false}).toString(),
                  QString());
        const QStringList emls = QDir(outbox.path()).entryList({QStringLiteral("*.eml")}, QDir::Files);
        ASSERT_EQ(emls.size(), 1);
        QString parsed;
        ASSERT_TRUE(
            road::run(QStringLiteral("/usr/bin/python3"),
                      {qEnvironmentVariable("CCE_SOURCE_DIR") + QStringLiteral("/tests/server/mail/check_eml.py"),
                       QDir(outbox.path()).filePath(emls.first())},
                      &parsed));
        const QJsonObject mail = QJsonDocument::fromJson(parsed.toUtf8()).object();
        EXPECT_TRUE(
            mail[QStringLiteral("body")].toString().contains(QStringLiteral("protocolo %1 em %2").arg(nProt, shown)))
            << mail[QStringLiteral("body")].toString().toStdString();
        EXPECT_EQ(mail[QStringLiteral("attachments")].toArray().size(), 2);
        for (const QJsonValue& a : mail[QStringLiteral("attachments")].toArray()) {
            const QByteArray bytes = QByteArray::fromHex(a[QStringLiteral("hex")].toString().toLatin1());
            if (a[QStringLiteral("type")].toString() == QLatin1String("application/xml")) {
                EXPECT_TRUE(bytes.contains("<nProt>" + nProt.toLatin1() + "</nProt>"));
                continue;
            }
            QFile pdf(outbox.filePath(QStringLiteral("carta.pdf")));
            ASSERT_TRUE(pdf.open(QIODevice::WriteOnly));
            pdf.write(bytes);
            pdf.close();
            QString text;
            ASSERT_TRUE(road::run(QStringLiteral("pdftotext"), {pdf.fileName(), QStringLiteral("-")}, &text));
            EXPECT_TRUE(text.contains(nProt) && text.contains(shown)) << text.toStdString();
        }

        // Exported.
        QTemporaryDir out;
        ASSERT_TRUE(road::run(road::bin("cce-server"),
                              {QStringLiteral("--export-events"), QStringLiteral("--database"), url,
                               QStringLiteral("--company"), QStringLiteral("01"), QStringLiteral("--out"), out.path()},
                              nullptr, env));
        QFile exported(
            QDir(out.path()).filePath(QStringLiteral("%1-%2-procEventoNFe.xml").arg(l.chNFe).arg(l.seq.toInt())));
        ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
        EXPECT_TRUE(exported.readAll().contains("<nProt>" + nProt.toLatin1() + "</nProt>"));
    }

    // A code of four digits: stored, listed and explained whole.
    road::Server server;
    ASSERT_GT(server.start(ini), 0);
    s_sim->control(QJsonObject{
        {QStringLiteral("answer"), QJsonObject{{QStringLiteral("cStat"), QStringLiteral("1234")},
                                               {QStringLiteral("xMotivo"), QStringLiteral("Rejeição: regra nova")}}}});
    const Letter l = pending.takeFirst();
    const QString line = road::transmit(server.port, QStringLiteral("01"), {l}).toArray().at(1).toString();
    s_sim->control(QJsonObject{{QStringLiteral("answer"), QJsonValue()}});
    EXPECT_TRUE(line.endsWith(QStringLiteral(": 1234 - Rejeição: regra nova"))) << line.toStdString();
    EXPECT_EQ(road::query(url,
                          QStringLiteral("SELECT CDSTATUSCCE, DSOBSSTATUSCCE FROM CARTACORRECAO WHERE CDFILIAL = ? "
                                         "AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                          {l.filial, l.lancto, l.seq})
                  .value(0),
              (QStringList{QStringLiteral("1234"), QStringLiteral("1234 - Rejeição: regra nova")}));
}

INSTANTIATE_TEST_SUITE_P(Engines, WideRoad, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });
