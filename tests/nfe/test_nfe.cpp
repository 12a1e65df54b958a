// The standard's facts: event time in each state's offset, the correction text rule, the
// event and its batch against the official schema, the signature and its verification.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "nfe/AccessKey.h"
#include "nfe/CorrectionText.h"
#include "nfe/EventXml.h"
#include "nfe/Rejections.h"
#include "nfe/Schema.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "nfe/Status.h"
#include "tests/nfe/CondUso.h"
#include "tests/nfe/TestCertificate.h"

namespace {

const QString kCnpj = QStringLiteral("12345678000195");
using cce_test::kCondUso;

QString key(int number)
{
    return nfe::buildAccessKey(35, QDate(2026, 11, 3), kCnpj, 55, 1, number, 1, 10000000 + number);
}

nfe::CceEvent event(int number, int seq, const QString& text)
{
    nfe::CceEvent e;
    e.cOrgao = 35;
    e.tpAmb = 2;
    e.cnpj = kCnpj;
    e.chNFe = key(number);
    e.dhEvento = nfe::eventTime(QDateTime::currentDateTimeUtc(), *nfe::stateByUf(QStringLiteral("SP")));
    e.nSeqEvento = seq;
    e.xCorrecao = text;
    e.xCondUso = kCondUso;
    return e;
}

class Signed : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QString error;
        s_cert = nfe::Certificate::fromPkcs12(cce_test::makePkcs12(kCnpj, QStringLiteral("s3nh@")),
                                              QStringLiteral("s3nh@"), &error);
        ASSERT_TRUE(s_cert) << error.toStdString();
        s_schema = nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &error);
        ASSERT_TRUE(s_schema) << error.toStdString();
    }
    static void TearDownTestSuite()
    {
        s_cert.reset();
        s_schema.reset();
    }
    static QByteArray sign(const nfe::CceEvent& e)
    {
        QString error;
        const QByteArray out = nfe::signEvento(nfe::buildEvento(e), *s_cert, &error);
        EXPECT_FALSE(out.isEmpty()) << error.toStdString();
        return out;
    }
    static inline std::shared_ptr<const nfe::Certificate> s_cert;
    static inline std::shared_ptr<const nfe::Schema> s_schema;
};

} // namespace

TEST(States, EventTimesAreWrittenInEachStatesOwnOffsetWithoutFractions)
{
    const QDateTime instant(QDate(2026, 12, 8), QTime(15, 4, 5, 678), QTimeZone::utc());
    const std::pair<const char*, const char*> cases[] = {{"SP", "2026-12-08T12:04:05-03:00"},
                                                         {"AM", "2026-12-08T11:04:05-04:00"},
                                                         {"AC", "2026-12-08T10:04:05-05:00"},
                                                         {"MT", "2026-12-08T11:04:05-04:00"}};
    for (const auto& [uf, expected] : cases) {
        const nfe::State* s = nfe::stateByUf(QString::fromLatin1(uf));
        ASSERT_NE(s, nullptr) << uf;
        EXPECT_EQ(nfe::eventTime(instant, *s), QString::fromLatin1(expected)) << uf;
    }
    EXPECT_EQ(nfe::stateByIbge(35)->uf, QStringLiteral("SP"));
    EXPECT_EQ(nfe::states().size(), 27);
    EXPECT_TRUE(nfe::status::eventRegistered(QStringLiteral("135")));
    EXPECT_TRUE(nfe::status::eventRegistered(QStringLiteral("136")));
    EXPECT_FALSE(nfe::status::eventRegistered(QStringLiteral("573")));
}

TEST(CorrectionText, LineBreaksTabsAndTypographicMarksBecomePlainAndTheRestIsRefusedByName)
{
    auto ok = [](const QString& typed) {
        const nfe::CorrectionText t = nfe::normaliseCorrection(typed);
        EXPECT_TRUE(t.ok()) << t.error.toStdString();
        return t.text;
    };
    EXPECT_EQ(ok(QStringLiteral("  Endereço correto:\r\nRua A,\n120\tfundos  ")),
              QStringLiteral("Endereço correto:;Rua A,;120 fundos"));
    EXPECT_EQ(ok(QStringLiteral("Onde se lê “Peça” — leia ‘Peças’")),
              QStringLiteral("Onde se lê \"Peça\" - leia 'Peças'"));
    // Limits in characters, never bytes: 15 accented characters pass, 14 do not; 1000 pass, 1001 do not.
    EXPECT_EQ(ok(QString(15, QChar(0xE7))).size(), 15);
    EXPECT_FALSE(nfe::normaliseCorrection(QString(14, QChar(0xE7))).ok());
    EXPECT_EQ(ok(QString(1000, QChar(0xE3))).size(), 1000);
    EXPECT_FALSE(nfe::normaliseCorrection(QString(1001, QLatin1Char('a'))).ok());
    // Blanks at the ends do not count.
    EXPECT_FALSE(
        nfe::normaliseCorrection(QStringLiteral("   ") + QString(14, QLatin1Char('x')) + QStringLiteral("  ")).ok());

    const nfe::CorrectionText emoji = nfe::normaliseCorrection(QStringLiteral("Produto entregue 😀 no prazo"));
    EXPECT_FALSE(emoji.ok());
    EXPECT_TRUE(emoji.error.contains(QStringLiteral("😀"))) << emoji.error.toStdString();
    EXPECT_TRUE(emoji.error.contains(QStringLiteral("U+1F600"))) << emoji.error.toStdString();
    const nfe::CorrectionText euro = nfe::normaliseCorrection(QStringLiteral("Valor unitário de 10 €, não 12"));
    EXPECT_TRUE(euro.error.contains(QStringLiteral("U+20AC"))) << euro.error.toStdString();

    EXPECT_EQ(nfe::normaliseCorrection(QStringLiteral("Ação e coração às três"), true).text,
              QStringLiteral("Acao e coracao as tres"));
}

TEST_F(Signed, EventsValidateAgainstTheOfficialSchemaInBatchesOfOneToTwenty)
{
    EXPECT_EQ(nfe::eventId(key(7), 3).size(), 54);
    EXPECT_TRUE(nfe::eventId(key(7), 3).endsWith(QStringLiteral("03")));
    QList<QByteArray> events;
    for (int i = 1; i <= 20; ++i)
        events << sign(event(i, i, QStringLiteral("Correção do endereço & da razão social <%1>").arg(i)));
    QString error;
    EXPECT_TRUE(s_schema->validate(nfe::buildEnvEvento(123456789012345, events.mid(0, 1)), &error))
        << error.toStdString();
    EXPECT_TRUE(s_schema->validate(nfe::buildEnvEvento(1, events), &error)) << error.toStdString();
    // 21 events, an unsigned one or a text of 14 characters are not a valid batch.
    EXPECT_FALSE(s_schema->validate(nfe::buildEnvEvento(1, events + QList<QByteArray>{events.first()}), &error));
    EXPECT_FALSE(s_schema->validate(
        nfe::buildEnvEvento(1, {nfe::buildEvento(event(1, 1, QStringLiteral("x").repeated(15)))}), &error));
    EXPECT_FALSE(
        s_schema->validate(nfe::buildEnvEvento(1, {sign(event(1, 1, QStringLiteral("x").repeated(14)))}), &error));
}

TEST_F(Signed, TheSignatureVerifiesAndAnyChangeToTheSignedContentIsCaught)
{
    const QByteArray signedEvent = sign(event(42, 1, QStringLiteral("Transportadora correta: Expresso Araçá")));
    EXPECT_TRUE(signedEvent.startsWith("<evento")) << "no declaration: the batch embeds the bytes as they are";
    EXPECT_FALSE(signedEvent.contains("\n"));
    EXPECT_EQ(signedEvent.count("<X509Certificate>"), 1);
    const nfe::Verification v = nfe::verifyEvento(signedEvent);
    EXPECT_TRUE(v.valid) << v.error.toStdString();
    EXPECT_EQ(v.signer, s_cert->der());
    EXPECT_EQ(s_cert->cnpj(), kCnpj);

    QByteArray altered = signedEvent;
    altered.replace("Expresso", "Expressa");
    const nfe::Verification bad = nfe::verifyEvento(altered);
    EXPECT_FALSE(bad.valid);
    EXPECT_FALSE(bad.digestMatches);
}

TEST_F(Signed, TheXmlsecCommandLineToolVerifiesOurSignatureToo)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xmlsec1"));
    if (tool.isEmpty())
        GTEST_SKIP() << "xmlsec1 is not installed (scripts/install-deps installs it)";
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("evento.xml")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(sign(event(9, 2, QStringLiteral("Quantidade correta: 12 caixas"))));
    f.close();
    QProcess p;
    p.start(tool, {QStringLiteral("--verify"), QStringLiteral("--insecure"), QStringLiteral("--enabled-reference-uris"),
                   QStringLiteral("same-doc"), QStringLiteral("--id-attr:Id"),
                   QStringLiteral("http://www.portalfiscal.inf.br/nfe:infEvento"), f.fileName()});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(Certificates, AWrongPasswordOrAFileThatIsNoCertificateIsRefusedClearly)
{
    QString error;
    EXPECT_FALSE(
        nfe::Certificate::fromPkcs12(cce_test::makePkcs12(kCnpj, QStringLiteral("a")), QStringLiteral("b"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("senha"))) << error.toStdString();
    EXPECT_FALSE(nfe::Certificate::fromPkcs12(QByteArrayLiteral("not a certificate"), QString(), &error));
    auto old = nfe::Certificate::fromPkcs12(cce_test::makePkcs12(kCnpj, QStringLiteral("a"), 10, 30),
                                            QStringLiteral("a"), &error);
    ASSERT_TRUE(old);
    EXPECT_LT(old->notAfter(), QDateTime::currentDateTimeUtc()) << "the expiry date is read from the certificate";
}

TEST(Rejections, EveryCodeOfTheEventServiceIsExplainedAfterTheAuthoritysOwnText)
{
    for (const char* code : {"215", "225", "236", "252", "297", "298", "489", "490", "491", "492",
                             "493", "494", "573", "574", "577", "578", "579", "580", "594", "784"}) {
        const nfe::Rejection* r = nfe::rejection(QLatin1String(code));
        ASSERT_TRUE(r) << code;
        EXPECT_TRUE(*r->advice) << code;
    }
    EXPECT_EQ(nfe::explainAnswer(QStringLiteral("580"), QStringLiteral("Rejeicao: O evento exige uma NF-e autorizada")),
              QStringLiteral("580 - Rejeicao: O evento exige uma NF-e autorizada. A NF-e não está autorizada (foi "
                             "cancelada ou denegada): uma carta de correção não pode ser registrada."));
    // An accepted event needs no advice; a code the table does not know is told as it came.
    EXPECT_EQ(nfe::explainAnswer(QStringLiteral("135"), QStringLiteral("Evento registrado e vinculado a NF-e")),
              QStringLiteral("135 - Evento registrado e vinculado a NF-e"));
    EXPECT_EQ(nfe::explainAnswer(QStringLiteral("1234"), QStringLiteral("Rejeição: regra nova")),
              QStringLiteral("1234 - Rejeição: regra nova"));
    // The observation holds 255 characters: the authority's words are cut, the advice never.
    const QString long_ = nfe::explainAnswer(QStringLiteral("573"), QString(300, QLatin1Char('x')));
    EXPECT_EQ(long_.size(), 255);
    EXPECT_TRUE(long_.endsWith(QString::fromUtf8(nfe::rejection(QStringLiteral("573"))->advice)));
}
