// Certificates whose keys stay on a token (A3, PKCS#11), on a SoftHSM2 token: the very bytes
// an A1 file of the same key signs, a key that cannot leave the token; A1 and A3 registrations
// in one transmission; a token gone and back; a PIN refused once and never presented again,
// and never written anywhere.
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "nfe/EventXml.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "server/fiscal/Pkcs11Token.h"
#include "server/fiscal/TransmissionService.h"
#include "server/store/Store.h"
#include "tests/nfe/CondUso.h"
#include "tests/nfe/TestCertificate.h"
#include "tests/server/fiscal/FakeAuthority.h"
#include "tests/server/fiscal/SoftToken.h"
#include "tests/server/fiscal/TransmissionTestData.h"

namespace {

using cce_test::kCondUso;

// Every message the process logs while it lives.
struct LogCapture {
    static inline QStringList lines;
    QtMessageHandler previous;
    LogCapture()
    {
        lines.clear();
        previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { lines << text; });
    }
    ~LogCapture() { qInstallMessageHandler(previous); }
};

TEST(Token, AKeyThatCannotLeaveTheTokenSignsTheBytesItsA1FileSignsAndXmlsecVerifiesThem)
{
    QTemporaryDir dir;
    const QString cnpj = QStringLiteral("12345678000195");
    const QByteArray p12 = cce_test::makePkcs12(cnpj, QStringLiteral("demo"));
    const QString pfx = dir.filePath(QStringLiteral("a1.pfx"));
    ASSERT_TRUE(cce_test::writeFile(pfx, p12));
    cce_test::SoftToken token;
    ASSERT_TRUE(token.make(dir.filePath(QStringLiteral("token")), {pfx}, QStringLiteral("demo")));
    // Sensitive and not extractable: no way out of the token, in clear or wrapped.
    const QString keys = token.privateKeys();
    EXPECT_TRUE(keys.contains(QLatin1String("sensitive"))) << keys.toStdString();
    EXPECT_FALSE(keys.contains(QLatin1String("extractable"))) << keys.toStdString();

    QString error;
    auto a1 = nfe::Certificate::fromPkcs12(p12, QStringLiteral("demo"), &error);
    ASSERT_TRUE(a1) << error.toStdString();
    auto p11 = srv::fiscal::Pkcs11Token::shared(token.settings());
    srv::fiscal::Pkcs11Token::Listing listing;
    ASSERT_TRUE(p11->list(&listing, &error)) << error.toStdString();
    ASSERT_EQ(listing.certificates.size(), 1);
    const auto held = p11->withKey(listing.certificates.first()->der(), &error);
    ASSERT_TRUE(held) << error.toStdString();

    nfe::CceEvent e;
    e.cOrgao = 35;
    e.cnpj = cnpj;
    e.chNFe = QStringLiteral("35261212345678000195550010000001231000001230");
    e.dhEvento = QStringLiteral("2026-12-10T09:00:00-03:00");
    e.xCorrecao = QStringLiteral("Correção do endereço de entrega: Rua das Acácias, 120");
    e.xCondUso = kCondUso;
    const QByteArray fromFile = nfe::signEvento(nfe::buildEvento(e), *a1, &error);
    const QByteArray fromToken = nfe::signEvento(nfe::buildEvento(e), *held->certificate, &error);
    ASSERT_FALSE(fromToken.isEmpty()) << error.toStdString();
    EXPECT_EQ(fromToken, fromFile);
    EXPECT_TRUE(nfe::verifyEvento(fromToken).valid);

    const QString signedFile = dir.filePath(QStringLiteral("evento.xml"));
    ASSERT_TRUE(cce_test::writeFile(signedFile, fromToken));
    int code = -1;
    const QString said =
        cce_test::runTool(QStringLiteral("xmlsec1"),
                          {QStringLiteral("--verify"), QStringLiteral("--insecure"), QStringLiteral("--id-attr:Id"),
                           QStringLiteral("http://www.portalfiscal.inf.br/nfe:infEvento"), signedFile},
                          &code);
    EXPECT_EQ(code, 0) << said.toStdString();
}

struct Key {
    QString filial, lancto, serial, cnpj;
};

class TokenTransmission : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        ASSERT_TRUE(cce_test::makeDemoDatabase(s_dir->filePath(QStringLiteral("demo.db"))));
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        const QString file = m_dir.filePath(QStringLiteral("company.db"));
        ASSERT_TRUE(QFile::copy(s_dir->filePath(QStringLiteral("demo.db")), file));
        QString error;
        store = srv::Store::open(QStringLiteral("sqlite:") + file, &error);
        ASSERT_TRUE(store) << error.toStdString();
        QDir().mkpath(m_dir.filePath(QStringLiteral("a1")));
        config.certificateFolder = m_dir.filePath(QStringLiteral("a1"));
        config.certificatePassword = QStringLiteral("demo");
        cce_test::everyAuthorityAtTheTest(&config);
        authority = std::make_shared<FakeAuthority>();
        // One pending letter of each registration of company 01 (an authorised invoice each).
        QSqlQuery q(store->connection());
        ASSERT_TRUE(q.exec(QStringLiteral(
            "SELECT N.CDFILIAL, N.NRLANCTONF, I.NRSERIECERTIFIC, I.NRINSJURIEST FROM NOTAFISCAL N "
            "JOIN INSCRESTAD I ON I.CDEMPRESA = N.CDEMPRESA AND I.CDINSCESTA = N.CDINSCESTA "
            "JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
            "WHERE N.CDEMPRESA = '01' AND N.IDSITUACAONFE = 'A' AND L.IDTRANSMCCE = 'N' AND L.NRSEQCCE = "
            "(SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = "
            "N.NRLANCTONF) ORDER BY I.NRSERIECERTIFIC, N.CDFILIAL, N.NRLANCTONF")));
        while (q.next())
            letters << Key{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()};
    }
    void TearDown() override
    {
        service.reset(); // the token closes with the last one who uses it
        qunsetenv("PKCS11SPY");
        qunsetenv("PKCS11SPY_OUTPUT");
    }

    // The first letters of n different registrations.
    QList<Key> ofRegistrations(int n) const
    {
        QList<Key> out;
        for (const Key& k : letters)
            if (out.size() < n && (out.isEmpty() || out.last().serial != k.serial))
                out << k;
        EXPECT_EQ(out.size(), n);
        return out;
    }
    // Two letters of one registration.
    QList<Key> ofOneRegistration() const
    {
        for (int i = 1; i < letters.size(); ++i)
            if (letters.at(i).serial == letters.at(i - 1).serial)
                return {letters.at(i - 1), letters.at(i)};
        ADD_FAILURE() << "no registration with two pending letters";
        return {};
    }
    // An A1 file for the registration, kept in the folder or only for the token.
    QString a1For(const Key& k, bool inFolder, int validDays = 365, int fromDaysAgo = 1)
    {
        const QString path = inFolder ? QDir(config.certificateFolder).filePath(k.serial + QStringLiteral(".pfx"))
                                      : m_dir.filePath(k.serial + QStringLiteral(".pfx"));
        EXPECT_TRUE(
            cce_test::writeFile(path, cce_test::makePkcs12(k.cnpj, QStringLiteral("demo"), validDays, fromDaysAgo)));
        return path;
    }
    void startService()
    {
        service = std::make_unique<srv::fiscal::TransmissionService>(*store, config, authority);
        service->setInFlightWindowMs(0);
    }
    QVariantList transmit(const QList<Key>& keys)
    {
        return service->transmit(cce_test::invoicesPacket(keys), QStringLiteral("01"), kCondUso).toList();
    }
    // The latest letter's IDTRANSMCCE, CDSTATUSCCE and signed event.
    QStringList letter(const Key& k)
    {
        QSqlQuery q(store->connection());
        q.prepare(QStringLiteral("SELECT IDTRANSMCCE, CDSTATUSCCE, DSXMLEVENTO FROM CARTACORRECAO WHERE CDFILIAL = ? "
                                 "AND NRLANCTONF = ? ORDER BY NRSEQCCE DESC"));
        q.addBindValue(k.filial);
        q.addBindValue(k.lancto);
        EXPECT_TRUE(q.exec() && q.next());
        return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString()};
    }
    static QByteArray signerOf(const QString& signedEvent) { return nfe::verifyEvento(signedEvent.toUtf8()).signer; }

    QTemporaryDir m_dir;
    static inline QTemporaryDir* s_dir = nullptr;
    std::unique_ptr<srv::Store> store;
    srv::fiscal::FiscalConfig config;
    std::shared_ptr<FakeAuthority> authority;
    std::unique_ptr<srv::fiscal::TransmissionService> service;
    QList<Key> letters;
    cce_test::SoftToken token;
};

} // namespace

TEST_F(TokenTransmission, A1AndTokenRegistrationsGoInOneTransmissionAndEachFaultIsToldWithoutSending)
{
    const QList<Key> keys = ofRegistrations(4);
    // The first on the token alone, the second on its A1 file, the third's certificate on the
    // token has expired, the fourth has none anywhere (the token's are of other CNPJs).
    const QString onToken = a1For(keys.at(0), false);
    a1For(keys.at(1), true);
    const QString expired = a1For(keys.at(2), false, 30, 60);
    ASSERT_TRUE(token.make(m_dir.filePath(QStringLiteral("token")), {onToken, expired}, QStringLiteral("demo")));
    config.token = token.settings();
    startService();

    const QVariantList r = transmit(keys);
    ASSERT_EQ(r.size(), 2);
    const QString text = r.at(1).toString();
    EXPECT_EQ(r.at(0).toString(), QStringLiteral("S")) << text.toStdString();
    for (int i : {0, 1})
        EXPECT_EQ(letter(keys.at(i)).value(1), QStringLiteral("135")) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("vencido"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Nenhum certificado digital para a inscrição"))) << text.toStdString();
    for (int i : {2, 3})
        EXPECT_EQ(letter(keys.at(i)).value(0), QStringLiteral("N")); // as they were
    EXPECT_EQ(authority->eventsReceived, 2);

    // Each event carries its own registration's certificate: the token's, the file's.
    QString error;
    auto tokenCert = nfe::Certificate::fromPkcs12(
        [&] {
            QFile f(onToken);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }(),
        QStringLiteral("demo"), &error);
    ASSERT_TRUE(tokenCert) << error.toStdString();
    EXPECT_EQ(signerOf(letter(keys.at(0)).value(2)), tokenCert->der());
    EXPECT_NE(signerOf(letter(keys.at(1)).value(2)), tokenCert->der());
    EXPECT_TRUE(nfe::verifyEvento(letter(keys.at(1)).value(2).toUtf8()).valid);
}

TEST_F(TokenTransmission, ATokenGoneBetweenTwoTransmissionsLeavesTheLetterPendingAndIsOpenedAgainWhenBack)
{
    const QList<Key> keys = ofOneRegistration();
    ASSERT_TRUE(
        token.make(m_dir.filePath(QStringLiteral("token")), {a1For(keys.at(0), false)}, QStringLiteral("demo")));
    config.token = token.settings();
    startService();
    QVariantList r = transmit({keys.at(0)});
    ASSERT_EQ(letter(keys.at(0)).value(1), QStringLiteral("135")) << r.value(1).toString().toStdString();

    // Pulled out: its files gone from under the open session.
    const QDir tokens(QDir(token.dir).filePath(QStringLiteral("tokens")));
    const QStringList inside = tokens.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(inside.size(), 1);
    const QString files = tokens.filePath(inside.first()), out = m_dir.filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().rename(files, out));
    r = transmit({keys.at(1)});
    EXPECT_EQ(r.value(0).toString(), QStringLiteral("N"));
    EXPECT_TRUE(r.value(1).toString().contains(QStringLiteral("removido"))) << r.value(1).toString().toStdString();
    EXPECT_EQ(letter(keys.at(1)).value(0), QStringLiteral("N"));
    EXPECT_TRUE(letter(keys.at(1)).value(2).isEmpty());
    EXPECT_EQ(authority->batches, 1);

    // Still out at the next transmission: the token is looked for anew and missed.
    r = transmit({keys.at(1)});
    EXPECT_TRUE(r.value(1).toString().contains(QStringLiteral("não está presente")))
        << r.value(1).toString().toStdString();

    // Put back: opened again, the letter goes.
    ASSERT_TRUE(QDir().rename(out, files));
    r = transmit({keys.at(1)});
    EXPECT_EQ(letter(keys.at(1)).value(1), QStringLiteral("135")) << r.value(1).toString().toStdString();
}

TEST_F(TokenTransmission, ARefusedPinIsPresentedOnceAndNoMoreUntilItsFileChangesAndIsNeverWritten)
{
    LogCapture log;
    const QList<Key> keys = ofOneRegistration();
    ASSERT_TRUE(
        token.make(m_dir.filePath(QStringLiteral("token")), {a1For(keys.at(0), false)}, QStringLiteral("demo")));
    // Every call to the token, counted by OpenSC's PKCS#11 spy between the server and SoftHSM2.
    const QString spyLog = m_dir.filePath(QStringLiteral("spy.log"));
    qputenv("PKCS11SPY", cce_test::kSoftHsm.toUtf8());
    qputenv("PKCS11SPY_OUTPUT", QFile::encodeName(spyLog));
    config.token = token.settings();
    config.token.module = QStringLiteral("/usr/lib/x86_64-linux-gnu/pkcs11/pkcs11-spy.so");
    auto logins = [&] {
        QFile f(spyLog);
        return f.open(QIODevice::ReadOnly) ? f.readAll().count("C_Login") : 0;
    };
    const QByteArray wrong = QByteArrayLiteral("482906");
    QStringList answers;

    // A PIN file others may read is not read at all.
    ASSERT_TRUE(cce_test::writeFile(token.pinFile, wrong, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    startService();
    answers << transmit({keys.at(0)}).value(1).toString();
    EXPECT_TRUE(answers.last().contains(QStringLiteral("0600"))) << answers.last().toStdString();
    EXPECT_EQ(logins(), 0);

    ASSERT_TRUE(cce_test::writeFile(token.pinFile, wrong));
    for (int i = 0; i < 3; ++i) {
        answers << transmit({keys.at(0)}).value(1).toString();
        EXPECT_TRUE(answers.last().contains(QStringLiteral("PIN"))) << answers.last().toStdString();
        EXPECT_EQ(letter(keys.at(0)).value(0), QStringLiteral("N"));
    }
    EXPECT_EQ(logins(), 1); // tried once, then never again
    EXPECT_EQ(authority->batches, 0);

    // The right PIN written to the file: presented, accepted, and the letter goes.
    ASSERT_TRUE(cce_test::writeFile(token.pinFile, token.pin + '\n'));
    answers << transmit({keys.at(0)}).value(1).toString();
    EXPECT_EQ(letter(keys.at(0)).value(1), QStringLiteral("135")) << answers.last().toStdString();
    EXPECT_EQ(logins(), 2);

    for (const QString& line : LogCapture::lines + answers) {
        EXPECT_FALSE(line.contains(QString::fromLatin1(wrong))) << line.toStdString();
        EXPECT_FALSE(line.contains(QString::fromLatin1(token.pin))) << line.toStdString();
    }
    EXPECT_FALSE(LogCapture::lines.isEmpty());
}
