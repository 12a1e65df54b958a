// The transmission of letters against an authority inside the test: what is sent, what is
// stored for each answer, and what is never done (a letter accepted without the
// authority's word, an event sent twice).
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include "nfe/CorrectionText.h"
#include "nfe/EventXml.h"
#include "nfe/Schema.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "server/fiscal/TransmissionService.h"
#include "server/store/Store.h"
#include "tests/nfe/CondUso.h"
#include "tests/nfe/TestCertificate.h"
#include "tests/server/fiscal/FakeAuthority.h"
#include "tests/server/fiscal/TransmissionTestData.h"

namespace {

using cce_test::kCondUso;

struct Key {
    QString filial, lancto;
};

class Transmission : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        // One demo database for the suite, copied fresh for each test.
        auto store = cce_test::makeDemoDatabase(s_dir->filePath(QStringLiteral("demo.db")));
        ASSERT_TRUE(store);
        QDir().mkpath(s_dir->filePath(QStringLiteral("a1")));
        QSqlQuery q(store->connection());
        ASSERT_TRUE(
            q.exec(QStringLiteral("SELECT NRSERIECERTIFIC, NRINSJURIEST FROM INSCRESTAD WHERE CDEMPRESA = '01'")));
        while (q.next()) {
            QFile f(s_dir->filePath(QStringLiteral("a1/%1.pfx").arg(q.value(0).toString())));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(cce_test::makePkcs12(q.value(1).toString(), QStringLiteral("demo")));
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QString file = m_dir.filePath(QStringLiteral("company.db"));
        ASSERT_TRUE(QFile::copy(s_dir->filePath(QStringLiteral("demo.db")), file));
        QString error;
        store = srv::Store::open(QStringLiteral("sqlite:") + file, &error);
        ASSERT_TRUE(store) << error.toStdString();
        config.certificateFolder = s_dir->filePath(QStringLiteral("a1"));
        config.certificatePassword = QStringLiteral("demo");
        cce_test::everyAuthorityAtTheTest(&config);
        authority = std::make_shared<FakeAuthority>();
        service = std::make_unique<srv::fiscal::TransmissionService>(*store, config, authority);
        service->setInFlightWindowMs(0);
    }

    // Authorised invoices of company 01 whose latest letter was never sent.
    QList<Key> pendingInvoices(int n)
    {
        QSqlQuery q(store->connection());
        EXPECT_TRUE(q.exec(QStringLiteral(
            "SELECT N.CDFILIAL, N.NRLANCTONF FROM NOTAFISCAL N JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL "
            "AND L.NRLANCTONF = N.NRLANCTONF WHERE N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND L.IDTRANSMCCE = "
            "'N' "
            "AND L.NRSEQCCE = (SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND "
            "C.NRLANCTONF = N.NRLANCTONF) ORDER BY N.CDFILIAL, N.NRLANCTONF")));
        QList<Key> out;
        while (q.next() && out.size() < n)
            out << Key{q.value(0).toString(), q.value(1).toString()};
        EXPECT_EQ(out.size(), n) << "the demo has too few pending letters";
        return out;
    }

    static fw::DataPacket marked(const QList<Key>& keys, const QList<Key>& unmarked = {})
    {
        return cce_test::invoicesPacket(keys, unmarked);
    }

    QVariantList transmit(const QList<Key>& keys)
    {
        return service->transmit(marked(keys), QStringLiteral("01"), kCondUso).toList();
    }

    // The invoice's latest letter: IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE, DSOBSSTATUSCCE, DSXMLEVENTO, DSXMLPROCEVENTO.
    QStringList letter(const Key& k)
    {
        QSqlQuery q(store->connection());
        q.prepare(QStringLiteral("SELECT IDTRANSMCCE, CDSTATUSCCE, NRPROTOCOLCCE, DSOBSSTATUSCCE, DSXMLEVENTO, "
                                 "DSXMLPROCEVENTO FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                 "ORDER BY NRSEQCCE DESC"));
        q.addBindValue(k.filial);
        q.addBindValue(k.lancto);
        EXPECT_TRUE(q.exec());
        QStringList out;
        if (q.next())
            for (int i = 0; i < 6; ++i)
                out << q.value(i).toString();
        return out;
    }

    // The first row of a statement about the invoice (its branch and entry bound first), as texts.
    QStringList invoiceRow(const Key& k, const QString& sql, const QVariantList& more = {})
    {
        QSqlQuery q(store->connection());
        q.prepare(sql);
        q.addBindValue(k.filial);
        q.addBindValue(k.lancto);
        for (const QVariant& v : more)
            q.addBindValue(v);
        QStringList out;
        EXPECT_TRUE(q.exec() && q.next()) << sql.toStdString();
        for (int i = 0; q.isValid() && i < q.record().count(); ++i)
            out << q.value(i).toString();
        return out;
    }

    QTemporaryDir m_dir;
    static inline QTemporaryDir* s_dir = nullptr;
    std::unique_ptr<srv::Store> store;
    srv::fiscal::FiscalConfig config;
    std::shared_ptr<FakeAuthority> authority;
    std::unique_ptr<srv::fiscal::TransmissionService> service;
};

} // namespace

TEST_F(Transmission, AnAcceptedLetterKeepsTheExactSignedEventAndTheAuthoritysAnswer)
{
    const QList<Key> keys = pendingInvoices(2);
    const QVariantList r = transmit(keys);
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("S"));
    const QStringList lines = r.at(1).toString().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_TRUE(line.startsWith(QStringLiteral("NF ")) &&
                    line.endsWith(QStringLiteral(": 135 - Evento registrado e vinculado a NF-e")))
            << line.toStdString();
    EXPECT_EQ(authority->batches, 1);

    QString error;
    auto proc = nfe::Schema::load(QStringLiteral("procCCeNFe_v1.00.xsd"), &error);
    for (const Key& k : keys) {
        const QStringList l = letter(k);
        ASSERT_EQ(l.size(), 6);
        EXPECT_EQ(l.at(0), QStringLiteral("R"));
        EXPECT_EQ(l.at(1), QStringLiteral("135"));
        EXPECT_EQ(l.at(2).size(), 15);
        EXPECT_EQ(l.at(3), QStringLiteral("135 - Evento registrado e vinculado a NF-e"));
        // The stored event is the one the authority received, byte for byte, and it verifies.
        EXPECT_TRUE(authority->lastBatch.contains(l.at(4).toUtf8()));
        EXPECT_TRUE(nfe::verifyEvento(l.at(4).toUtf8()).valid);
        EXPECT_TRUE(l.at(5).contains(l.at(4))) << "procEventoNFe re-serialised the signed event";
        ASSERT_TRUE(proc) << error.toStdString();
        EXPECT_TRUE(proc->validate(l.at(5).toUtf8(), &error)) << error.toStdString();
    }
}

TEST_F(Transmission, AnswersInAnotherOrderOrWithoutKeysGoToTheRightLetters)
{
    const QList<Key> keys = pendingInvoices(3);
    // The middle one is rejected; the answers come reversed.
    QString rejectedKey;
    authority->cStatFor = [&](const QString& ch) {
        if (rejectedKey.isEmpty())
            rejectedKey = ch; // the first event of the batch
        return ch == rejectedKey ? QStringLiteral("580") : QStringLiteral("135");
    };
    transmit(keys);
    int accepted = 0, rejected = 0;
    for (const Key& k : keys) {
        const QStringList l = letter(k);
        const bool isRejected = l.at(4).contains(rejectedKey);
        EXPECT_EQ(l.at(1), isRejected ? QStringLiteral("580") : QStringLiteral("135")) << k.lancto.toStdString();
        (isRejected ? rejected : accepted)++;
    }
    EXPECT_EQ(accepted, 2);
    EXPECT_EQ(rejected, 1);
    const QStringList rejectedLetter = [&] {
        for (const Key& k : keys)
            if (letter(k).at(1) == QLatin1String("580"))
                return letter(k);
        return QStringList();
    }();
    EXPECT_EQ(rejectedLetter.at(0), QStringLiteral("R"));
    // The authority's own text, then what the user can do about it.
    EXPECT_TRUE(rejectedLetter.at(3).startsWith(QStringLiteral("580 - Rejeicao do teste. ")) &&
                rejectedLetter.at(3).contains(QStringLiteral("uma carta de correção não pode ser registrada")))
        << rejectedLetter.at(3).toStdString();
    EXPECT_TRUE(rejectedLetter.at(5).isEmpty()) << "a rejected letter has no procEventoNFe";
}

TEST_F(Transmission, ARefusedBatchRejectsEveryLetterWithItsReason)
{
    const QList<Key> keys = pendingInvoices(2);
    authority->mode = FakeAuthority::Mode::RefuseBatch;
    const QVariantList r = transmit(keys);
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("S"));
    for (const Key& k : keys) {
        EXPECT_EQ(letter(k).at(0), QStringLiteral("R"));
        EXPECT_TRUE(letter(k).at(3).startsWith(QStringLiteral("215 - Rejeicao: Falha no schema XML. A mensagem não "
                                                              "seguiu o leiaute")))
            << letter(k).at(3).toStdString();
    }
}

TEST_F(Transmission, ALostAnswerLeavesTheLetterInDoubtAndTheNextCallAdoptsTheRegisteredEventWithoutSendingAgain)
{
    const QList<Key> keys = pendingInvoices(1);
    authority->mode = FakeAuthority::Mode::LoseAnswerAfterRegistering;
    QVariantList r = transmit(keys);
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("Sem resposta"))) << r.at(1).toString().toStdString();
    EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("D"));
    EXPECT_TRUE(letter(keys.first()).at(1).isEmpty()) << "accepted without the authority's word";

    authority->mode = FakeAuthority::Mode::Answer;
    r = transmit(keys);
    EXPECT_EQ(authority->batches, 1) << "an in-doubt letter was sent again before the query";
    // One look at a never answered invoice before its first send, one to reconcile.
    EXPECT_EQ(authority->queries, 2);
    EXPECT_EQ(authority->eventsReceived, 1);
    const QStringList l = letter(keys.first());
    EXPECT_EQ(l.at(1), QStringLiteral("135"));
    EXPECT_FALSE(l.at(5).isEmpty());
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("conferida na SEFAZ"))) << r.at(1).toString().toStdString();
}

TEST_F(Transmission, ALetterLostBeforeTheAuthorityRegisteredItIsSentAgainOnlyAfterTheQuery)
{
    const QList<Key> keys = pendingInvoices(1);
    authority->mode = FakeAuthority::Mode::LoseAnswerBeforeRegistering;
    transmit(keys);
    EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("D"));
    authority->mode = FakeAuthority::Mode::Answer;
    transmit(keys);
    EXPECT_EQ(authority->queries, 2); // the look before the first send, the reconciliation
    EXPECT_EQ(authority->batches, 2);
    EXPECT_EQ(letter(keys.first()).at(1), QStringLiteral("135"));
}

TEST_F(Transmission, ADuplicateIsReconciledFromTheAuthoritysRecord)
{
    const QList<Key> keys = pendingInvoices(1);
    // Registered by an earlier call whose answer never came back, while the letter was reset.
    authority->mode = FakeAuthority::Mode::LoseAnswerAfterRegistering;
    transmit(keys);
    QSqlQuery q(store->connection());
    ASSERT_TRUE(q.exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'N' WHERE IDTRANSMCCE = 'D'")));
    authority->mode = FakeAuthority::Mode::Answer;
    const QVariantList r = transmit(keys);
    EXPECT_EQ(letter(keys.first()).at(1), QStringLiteral("135")) << r.at(1).toString().toStdString();
    EXPECT_EQ(authority->queries, 2); // the look before the first send, then the duplicate's
}

TEST_F(Transmission, NothingToSendAndNothingReachableAreToldApart)
{
    const QList<Key> keys = pendingInvoices(1);
    // Only unmarked rows, and marked rows of another company: nothing to send.
    EXPECT_EQ(service->transmit(marked({}, keys), QStringLiteral("01"), kCondUso).toList(),
              (QVariantList{QStringLiteral("N"), QStringLiteral("CCE_DEVE_SELECAO")}));
    EXPECT_EQ(service->transmit(marked(keys), QStringLiteral("02"), kCondUso).toList(),
              (QVariantList{QStringLiteral("N"), QStringLiteral("CCE_DEVE_SELECAO")}));

    // An authority that cannot be reached: nothing left, the letter as it was.
    authority->mode = FakeAuthority::Mode::NotSent;
    const QVariantList r = transmit(keys);
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("N"));
    EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("N"));
}

TEST_F(Transmission, ALetterOfACancelledInvoiceIsNotSentAndTheAnswerSaysWhy)
{
    const QList<Key> keys = pendingInvoices(2);
    QSqlQuery q(store->connection());
    q.prepare(QStringLiteral("UPDATE NOTAFISCAL SET IDSITUACAONFE = 'C' WHERE CDFILIAL = ? AND NRLANCTONF = ?"));
    q.addBindValue(keys.first().filial);
    q.addBindValue(keys.first().lancto);
    ASSERT_TRUE(q.exec());
    // Alone: told it is cancelled, not that nothing was marked.
    QVariantList r = transmit({keys.first()});
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("N"));
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("a NF-e foi cancelada")))
        << r.at(1).toString().toStdString();
    // With an authorised one: that one goes, the cancelled one is named and stays as it was.
    r = transmit(keys);
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("S"));
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("a NF-e foi cancelada")))
        << r.at(1).toString().toStdString();
    EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("N"));
    EXPECT_EQ(letter(keys.at(1)).at(0), QStringLiteral("R"));
    EXPECT_EQ(authority->eventsReceived, 1);
}

TEST_F(Transmission, CertificatesAreCheckedBeforeAnythingIsSent)
{
    const QList<Key> keys = pendingInvoices(1);
    QSqlQuery q(store->connection());
    q.prepare(
        QStringLiteral("SELECT I.NRSERIECERTIFIC FROM NOTAFISCAL N JOIN INSCRESTAD I ON I.CDEMPRESA = N.CDEMPRESA "
                       "AND I.CDINSCESTA = N.CDINSCESTA WHERE N.CDFILIAL = ? AND N.NRLANCTONF = ?"));
    q.addBindValue(keys.first().filial);
    q.addBindValue(keys.first().lancto);
    ASSERT_TRUE(q.exec() && q.next());
    const QString file = QDir(config.certificateFolder).filePath(q.value(0).toString() + QStringLiteral(".pfx"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray original = f.readAll();
    f.close();

    struct Case {
        QByteArray pfx;
        const char* says;
    };
    const Case cases[] = {
        {cce_test::makePkcs12(QStringLiteral("99999999000191"), QStringLiteral("demo")), "outro CNPJ"},
        {QByteArray(), "não encontrado"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        QFile::remove(file);
        if (!c.pfx.isEmpty()) {
            QFile w(file);
            ASSERT_TRUE(w.open(QIODevice::WriteOnly));
            w.write(c.pfx);
        }
        // A fresh service: certificates are held once read.
        srv::fiscal::TransmissionService fresh(*store, config, authority);
        const QVariantList r = fresh.transmit(marked(keys), QStringLiteral("01"), kCondUso).toList();
        EXPECT_EQ(r.at(0).toString(), QStringLiteral("N"));
        EXPECT_TRUE(r.at(1).toString().contains(QString::fromUtf8(c.says))) << r.at(1).toString().toStdString();
        EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("N"));
    }
    EXPECT_EQ(authority->batches, 0);
    QFile::remove(file);
    QFile w(file);
    ASSERT_TRUE(w.open(QIODevice::WriteOnly));
    w.write(original);
}

TEST_F(Transmission, ABatchTheSchemaRefusesIsNotSentAndItsXmlIsKept)
{
    const QList<Key> keys = pendingInvoices(1);
    const QVariantList r =
        service->transmit(marked(keys), QStringLiteral("01"), QStringLiteral("uma condição que não é a publicada"))
            .toList();
    EXPECT_EQ(authority->batches, 0);
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("esquema"))) << r.at(1).toString().toStdString();
    EXPECT_EQ(letter(keys.first()).at(0), QStringLiteral("R"));
    QSqlQuery q(store->connection());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT IDTIPOARQXML, DSXMLENVIO FROM LOTECCE ORDER BY NRLOTE DESC")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("S"));
    EXPECT_TRUE(q.value(1).toString().startsWith(QStringLiteral("<envEvento")));
}

TEST_F(Transmission, TwoCallsAtOnceNeverSendOneLetterTwice)
{
    const QList<Key> keys = pendingInvoices(4);
    QVariantList a, b;
    // A second service on the same database, as a second server would be.
    srv::fiscal::TransmissionService other(*store, config, authority);
    other.setInFlightWindowMs(60000);
    service->setInFlightWindowMs(60000);
    QThread* t1 = QThread::create([&] { a = transmit(keys); });
    QThread* t2 = QThread::create([&] { b = other.transmit(marked(keys), QStringLiteral("01"), kCondUso).toList(); });
    t1->start();
    t2->start();
    t1->wait();
    t2->wait();
    delete t1;
    delete t2;
    EXPECT_EQ(authority->eventsReceived, 4) << a.value(1).toString().toStdString() << "\n"
                                            << b.value(1).toString().toStdString();
    for (const Key& k : keys)
        EXPECT_EQ(letter(k).at(1), QStringLiteral("135"));
}

TEST_F(Transmission, TheExportWritesEveryAcceptedEventAsStored)
{
    const QList<Key> keys = pendingInvoices(2);
    transmit(keys);
    QTemporaryDir out;
    QProcess p;
    p.start(qEnvironmentVariable("CCE_BIN_DIR") + QStringLiteral("/cce-server"),
            {QStringLiteral("--export-events"), QStringLiteral("--database"),
             QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("company.db")), QStringLiteral("--company"),
             QStringLiteral("01"), QStringLiteral("--out"), out.path()});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    // The demo's own accepted letters hold no event; the two just accepted do.
    const QStringList files = QDir(out.path()).entryList(QDir::Files);
    EXPECT_EQ(files.size(), 2) << files.join(QLatin1Char(' ')).toStdString();
    for (const Key& k : keys) {
        QSqlQuery q(store->connection());
        q.prepare(QStringLiteral("SELECT N.NRACESSONFE, MAX(L.NRSEQCCE) FROM NOTAFISCAL N JOIN CARTACORRECAO L ON "
                                 "L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE N.CDFILIAL = ? AND "
                                 "N.NRLANCTONF = ? GROUP BY N.NRACESSONFE"));
        q.addBindValue(k.filial);
        q.addBindValue(k.lancto);
        ASSERT_TRUE(q.exec() && q.next());
        const QStringList l = letter(k);
        QFile f(QDir(out.path())
                    .filePath(QStringLiteral("%1-%2-procEventoNFe.xml")
                                  .arg(q.value(0).toString())
                                  .arg(q.value(1).toString().toInt())));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
        EXPECT_EQ(f.readAll(), l.at(5).toUtf8());
    }
}

TEST_F(Transmission, ALetterInDoubtIsNeverTakenForAnotherSystemsEventOfTheSameText)
{
    const QList<Key> keys = pendingInvoices(1);
    authority->mode = FakeAuthority::Mode::LoseAnswerBeforeRegistering;
    transmit(keys);
    ASSERT_EQ(letter(keys.first()).at(0), QStringLiteral("D"));

    // Meanwhile another system of the company registered the same words at that sequence,
    // signed with a certificate of its own.
    const QStringList latest = invoiceRow(
        keys.first(), QStringLiteral("SELECT N.NRACESSONFE, L.NRSEQCCE, L.DSCORRECAONFE FROM NOTAFISCAL N JOIN "
                                     "CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE "
                                     "N.CDFILIAL = ? AND N.NRLANCTONF = ? ORDER BY L.NRSEQCCE DESC"));
    ASSERT_EQ(latest.size(), 3);
    const QString chNFe = latest.at(0), seq = latest.at(1), text = latest.at(2);
    QString error;
    auto otherCert = nfe::Certificate::fromPkcs12(cce_test::makePkcs12(chNFe.mid(6, 14), QStringLiteral("x")),
                                                  QStringLiteral("x"), &error);
    ASSERT_TRUE(otherCert) << error.toStdString();
    const nfe::State* state = nfe::stateByIbge(chNFe.left(2).toInt());
    nfe::CceEvent e;
    e.cOrgao = state->ibge;
    e.cnpj = chNFe.mid(6, 14);
    e.chNFe = chNFe;
    e.dhEvento = nfe::eventTime(QDateTime::currentDateTimeUtc(), *state);
    e.nSeqEvento = seq.toInt();
    e.xCorrecao = nfe::normaliseCorrection(text).text;
    e.xCondUso = kCondUso;
    const QByteArray theirs = nfe::signEvento(nfe::buildEvento(e), *otherCert, &error);
    authority->registerEvent(theirs);

    authority->mode = FakeAuthority::Mode::Answer;
    const QVariantList r = transmit(keys);
    EXPECT_EQ(authority->batches, 1) << "sent again before the registry was read";
    EXPECT_TRUE(r.at(1).toString().contains(QStringLiteral("já foi registrada por outro sistema")))
        << r.at(1).toString().toStdString();
    const QString sql = QStringLiteral("SELECT IDTRANSMCCE, CDSTATUSCCE, IDORIGEMCCE, DSXMLEVENTO, DSCORRECAONFE FROM "
                                       "CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?");
    const QStringList atSeq = invoiceRow(keys.first(), sql, {seq});
    const QStringList next =
        invoiceRow(keys.first(), sql, {QStringLiteral("%1").arg(seq.toInt() + 1, 2, 10, QLatin1Char('0'))});
    ASSERT_EQ(atSeq.size(), 5);
    ASSERT_EQ(next.size(), 5);
    EXPECT_EQ(atSeq.mid(0, 3), (QStringList{QStringLiteral("R"), QStringLiteral("135"), QStringLiteral("E")}));
    EXPECT_EQ(atSeq.at(3).toUtf8(), theirs);
    EXPECT_EQ(next.mid(0, 3), (QStringList{QStringLiteral("N"), QString(), QStringLiteral("P")}));
    EXPECT_EQ(next.at(4), text);
    // Both facts are in the audit trail: the letter brought in and ours moved.
    QSqlQuery audit(store->connection());
    audit.prepare(QStringLiteral("SELECT NRSEQCCE, DSRESULTADO FROM AUDITORIA WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                                 "AND IDACAO = 'conciliacao' ORDER BY NRSEQCCE"));
    audit.addBindValue(keys.first().filial);
    audit.addBindValue(keys.first().lancto);
    ASSERT_TRUE(audit.exec());
    QStringList rows;
    while (audit.next())
        rows << audit.value(0).toString() + QLatin1Char(' ') + audit.value(1).toString().left(20);
    EXPECT_EQ(rows,
              (QStringList{seq + QStringLiteral(" registrada por outro"),
                           QStringLiteral("%1 movida da sequência ").arg(seq.toInt() + 1, 2, 10, QLatin1Char('0'))}))
        << rows.join(QLatin1Char('|')).toStdString();
}

TEST_F(Transmission, ACertificateNearItsEndIsNamedEveryTimeItSigns)
{
    const QList<Key> keys = pendingInvoices(1);
    const QStringList registration = invoiceRow(
        keys.first(), QStringLiteral("SELECT I.NRSERIECERTIFIC, I.NRINSJURIEST FROM NOTAFISCAL N JOIN INSCRESTAD I ON "
                                     "I.CDEMPRESA = N.CDEMPRESA AND I.CDINSCESTA = N.CDINSCESTA WHERE N.CDFILIAL = ? "
                                     "AND N.NRLANCTONF = ?"));
    ASSERT_EQ(registration.size(), 2);
    const QString serial = registration.at(0);
    QTemporaryDir folder;
    QFile f(folder.filePath(serial + QStringLiteral(".pfx")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(cce_test::makePkcs12(registration.at(1), QStringLiteral("demo"), 11)); // ten days left
    f.close();
    config.certificateFolder = folder.path();
    srv::fiscal::TransmissionService nearEnd(*store, config, authority);

    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) { logged << m; });
    const QString first = nearEnd.transmit(marked(keys), QStringLiteral("01"), kCondUso).toList().value(1).toString();
    // Refused, then sent again: named again.
    QSqlQuery(store->connection())
        .exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', CDSTATUSCCE = '999' WHERE CDSTATUSCCE = "
                             "'135' AND DSXMLPROCEVENTO IS NOT NULL"));
    const QString second = nearEnd.transmit(marked(keys), QStringLiteral("01"), kCondUso).toList().value(1).toString();
    qInstallMessageHandler(previous);
    for (const QString& answer : {first, second})
        EXPECT_TRUE(answer.contains(QStringLiteral("Atenção: o certificado digital %1").arg(serial)) &&
                    answer.contains(QStringLiteral("daqui a 10 dias")))
            << answer.toStdString();
    EXPECT_EQ(logged.filter(QStringLiteral("certificado digital %1").arg(serial)).size(), 2)
        << logged.join(QLatin1Char('\n')).toStdString();
}

TEST_F(Transmission, ALetterOfAContingencyInvoiceGoesToItsHomeAuthority)
{
    // The demo's invoices issued in contingency (EPEC, FS-DA, SVC-AN, SVC-RS) with a pending letter.
    QSqlQuery q(store->connection());
    ASSERT_TRUE(q.exec(QStringLiteral(
        "SELECT N.CDFILIAL, N.NRLANCTONF, N.NRACESSONFE, I.SGESTADO FROM NOTAFISCAL N JOIN CARTACORRECAO L ON "
        "L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF JOIN INSCRESTAD I ON I.CDEMPRESA = N.CDEMPRESA AND "
        "I.CDINSCESTA = N.CDINSCESTA WHERE N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND L.IDTRANSMCCE = 'N' AND "
        "N.IDTIPOEMISNFE IN ('4', '5', '6', '7')")));
    QList<Key> keys;
    QHash<QString, QString> homeOf; // chNFe -> home authority
    while (q.next()) {
        keys << Key{q.value(0).toString(), q.value(1).toString()};
        homeOf.insert(q.value(2).toString(), nfe::stateByUf(q.value(3).toString())->authority);
    }
    ASSERT_FALSE(keys.isEmpty()) << "the demo has no contingency invoice with a pending letter";
    // Every address known; the contingency authorities' and any other lead nowhere.
    config.endpoints.clear();
    for (const char* env : {"1", "2"})
        for (const char* svc : {"recepcao", "consulta"}) {
            config.endpoints.insert(QStringLiteral("*.%1.%2").arg(QLatin1String(env), QLatin1String(svc)),
                                    QStringLiteral("https://svc.example/ws"));
            for (const QString& home : homeOf)
                config.endpoints.insert(QStringLiteral("%1.%2.%3").arg(home, QLatin1String(env), QLatin1String(svc)),
                                        QStringLiteral("https://%1.example/ws").arg(home));
        }
    srv::fiscal::TransmissionService routed(*store, config, authority);
    const QString answer = routed.transmit(marked(keys), QStringLiteral("01"), kCondUso).toList().value(1).toString();
    EXPECT_EQ(answer.count(QStringLiteral(": 135 - ")), keys.size()) << answer.toStdString();
    EXPECT_TRUE(authority->urls.filter(QStringLiteral("svc.example")).isEmpty())
        << authority->urls.join(QLatin1Char(' ')).toStdString();
    for (auto it = authority->registered.cbegin(); it != authority->registered.cend(); ++it) {
        const QString chNFe = it.key().section(QLatin1Char('|'), 0, 0);
        EXPECT_EQ(FakeAuthority::value(it->evento, "cOrgao"), chNFe.left(2)) << "the event names its home state";
    }
}

TEST_F(Transmission, LettersLeftInDoubtAreSettledWithoutAClickAndOnesUnderWayAreLeftAlone)
{
    // The demo's own letters in doubt first, so that only this test's are left.
    service->reconcileInDoubt(100);
    authority->queries = 0;
    const QList<Key> keys = pendingInvoices(3);
    authority->mode = FakeAuthority::Mode::LoseAnswerAfterRegistering;
    transmit({keys[0]});
    authority->mode = FakeAuthority::Mode::LoseAnswerBeforeRegistering;
    transmit({keys[1]});
    // The third is claimed by a call that has not ended (its server may still wait for the
    // authority): nobody may touch it yet.
    srv::BatchStore batches(*store);
    QList<srv::LetterToSend> claimed;
    srv::BuiltBatch built;
    ASSERT_GT(batches.claim(
                  QStringLiteral("01"), batches.latestLetters(QStringLiteral("01"), {{keys[2].filial, keys[2].lancto}}),
                  [](qint64, const QList<srv::LetterToSend>& mine) {
                      return srv::BuiltBatch{"<envEvento/>", QList<QByteArray>(mine.size(), "<evento/>"), QString()};
                  },
                  &claimed, &built),
              0);
    for (const Key& k : keys)
        ASSERT_EQ(letter(k).at(0), QStringLiteral("D"));

    authority->mode = FakeAuthority::Mode::Answer;
    service->setInFlightWindowMs(60000);
    // The transmissions above read the registry before their first letters: only the round counts.
    authority->queries = 0;
    const srv::fiscal::TransmissionService::Settled s = service->reconcileInDoubt(100);
    EXPECT_EQ(s.adopted, 1);
    EXPECT_EQ(s.released, 1);
    EXPECT_EQ(s.underWay, 1);
    EXPECT_EQ(authority->batches, 2) << "settling sent a letter again";
    EXPECT_EQ(authority->queries, 2);
    EXPECT_EQ(letter(keys[0]).mid(0, 2), (QStringList{"R", "135"}));
    EXPECT_FALSE(letter(keys[0]).at(5).isEmpty()) << "the authority's record of the event is kept";
    EXPECT_EQ(letter(keys[1]).at(0), QStringLiteral("N")) << "not registered: pending again";
    EXPECT_TRUE(letter(keys[1]).at(3).contains(QStringLiteral("transmita novamente")));
    EXPECT_EQ(letter(keys[2]).at(0), QStringLiteral("D"));

    // Nothing is left that a second round could settle.
    const srv::fiscal::TransmissionService::Settled again = service->reconcileInDoubt(100);
    EXPECT_EQ(again.adopted + again.released, 0);
    EXPECT_EQ(authority->queries, 2);
}
