// The stand-in's judgement of batches and events: each rule of the real services gives its
// own code, registered events are answered by the protocol query, answers come in an
// order of their own.
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "nfe/AccessKey.h"
#include "nfe/EventXml.h"
#include "nfe/Rejections.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "nfe/Status.h"
#include "sefaz-sim/Registry.h"
#include "sefaz-sim/Rules.h"
#include "tests/nfe/CondUso.h"
#include "tests/nfe/TestCertificate.h"

namespace {

const QString kCnpj = QStringLiteral("11222333000181");
using cce_test::kCondUso;
const QDateTime kNow = QDateTime(QDate(2026, 12, 8), QTime(15, 0), Qt::UTC);

QString key(int number, const QString& cnpj = kCnpj, int cuf = 35)
{
    return nfe::buildAccessKey(cuf, QDate(2026, 11, 3), cnpj, 55, 1, number, 1, 10000000 + number);
}

QString value(const QByteArray& xml, const char* tag, int nth = 0)
{
    const QRegularExpression re(QStringLiteral("<%1>([^<]*)</%1>").arg(QLatin1String(tag)));
    auto it = re.globalMatch(QString::fromUtf8(xml));
    for (int i = 0; it.hasNext(); ++i) {
        const auto m = it.next();
        if (i == nth)
            return m.captured(1);
    }
    return QString();
}

class Rules : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QString error;
        s_cert =
            nfe::Certificate::fromPkcs12(cce_test::makePkcs12(kCnpj, QStringLiteral("x")), QStringLiteral("x"), &error);
        ASSERT_TRUE(s_cert) << error.toStdString();
        s_other = nfe::Certificate::fromPkcs12(
            cce_test::makePkcs12(QStringLiteral("99888777000100"), QStringLiteral("x")), QStringLiteral("x"), &error);
        ASSERT_TRUE(s_other) << error.toStdString();
    }
    static void TearDownTestSuite()
    {
        s_cert.reset();
        s_other.reset();
    }

    void SetUp() override
    {
        registry = std::make_unique<sim::Registry>(m_dir.filePath(QStringLiteral("registry.db")));
        QString error;
        ASSERT_TRUE(registry->open(&error)) << error.toStdString();
        // NF-e 1..9 authorised a week ago, 10 cancelled, 11 authorised only yesterday afternoon.
        const QString week = QStringLiteral("2026-12-01T10:00:00-03:00");
        for (int n = 1; n <= 9; ++n)
            ASSERT_TRUE(registry->addNFe({key(n), QStringLiteral("2"), QStringLiteral("100"), QString(), week}));
        ASSERT_TRUE(registry->addNFe({key(10), QStringLiteral("2"), QStringLiteral("101"), QString(), week}));
        ASSERT_TRUE(registry->addNFe({key(11), QStringLiteral("2"), QStringLiteral("100"), QString(),
                                      QStringLiteral("2026-12-08T11:30:00-03:00")}));
        rules = std::make_unique<sim::Rules>(*registry, 2);
        ASSERT_TRUE(rules->ready(&error)) << error.toStdString();
        rules->clock = [] { return kNow; };
    }

    static nfe::CceEvent event(const QString& chNFe, int seq = 1)
    {
        nfe::CceEvent e;
        e.cOrgao = 35;
        e.tpAmb = 2;
        e.cnpj = kCnpj;
        e.chNFe = chNFe;
        e.dhEvento = nfe::eventTime(kNow.addSecs(-60), *nfe::stateByUf(QStringLiteral("SP")));
        e.nSeqEvento = seq;
        e.xCorrecao = QStringLiteral("Endereço do destinatário: Rua das Acácias, 120");
        e.xCondUso = kCondUso;
        return e;
    }
    static QByteArray sign(const QByteArray& unsigned_, const nfe::Certificate* cert = nullptr)
    {
        QString error;
        const QByteArray out = nfe::signEvento(unsigned_, cert ? *cert : *s_cert, &error);
        EXPECT_FALSE(out.isEmpty()) << error.toStdString();
        return out;
    }
    static QByteArray soap(const QByteArray& body, const char* service = "NFeRecepcaoEvento4")
    {
        return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap12:Envelope "
                                 "xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"><soap12:Body>"
                                 "<nfeDadosMsg xmlns=\"http://www.portalfiscal.inf.br/nfe/wsdl/") +
               service + "\">" + body + "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
    }
    QByteArray send(const QList<QByteArray>& events, bool reversed = false)
    {
        return rules->receiveBatch(soap(nfe::buildEnvEvento(42, events)), reversed);
    }
    // The cStat the authority gave the only event of a batch. Its text is the published one
    // of the table the server explains answers with, which says what the user can do.
    QString judge(const QByteArray& signedEvent)
    {
        const QByteArray answer = send({signedEvent});
        const QString cStat = value(answer, "cStat", 1);
        const nfe::Rejection* r = nfe::rejection(cStat);
        EXPECT_TRUE(r && value(answer, "xMotivo", 1).replace(QStringLiteral("&quot;"), QStringLiteral("\"")) ==
                             QString::fromUtf8(r->xMotivo))
            << cStat.toStdString() << " " << answer.toStdString();
        EXPECT_TRUE(r && (nfe::status::eventRegistered(cStat) || *r->advice)) << cStat.toStdString();
        return cStat;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Registry> registry;
    std::unique_ptr<sim::Rules> rules;
    static inline std::shared_ptr<const nfe::Certificate> s_cert, s_other;
};

} // namespace

TEST_F(Rules, AValidEventIsRegisteredOnceAndAnsweredByTheProtocolQuery)
{
    const QByteArray ev = sign(nfe::buildEvento(event(key(1))));
    const QByteArray answer = send({ev});
    EXPECT_EQ(value(answer, "cStat"), QStringLiteral("128"));
    EXPECT_EQ(value(answer, "cStat", 1), QStringLiteral("135")) << answer.toStdString();
    const QString nProt = value(answer, "nProt");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^135\\d{12}$")).match(nProt).hasMatch()) << nProt.toStdString();
    EXPECT_EQ(value(answer, "dhRegEvento"), QStringLiteral("2026-12-08T12:00:00-03:00"));

    // The same event again is a duplicate; the registry keeps the first.
    EXPECT_EQ(judge(ev), QStringLiteral("573"));
    ASSERT_EQ(registry->events().size(), 1);

    // A valid key it does not know is registered without a link.
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(key(500))))), QStringLiteral("136"));
    // Another certificate of the company (another establishment, another key pair) may sign too.
    QString error;
    const auto establishment = nfe::Certificate::fromPkcs12(
        cce_test::makePkcs12(QStringLiteral("11222333000262"), QStringLiteral("x")), QStringLiteral("x"), &error);
    ASSERT_TRUE(establishment) << error.toStdString();
    const QByteArray second = sign(nfe::buildEvento(event(key(1), 2)), establishment.get());
    EXPECT_EQ(judge(second), QStringLiteral("135"));

    const QByteArray cons = rules->consult(
        soap("<consSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><tpAmb>2</tpAmb><xServ>CONSULTAR"
             "</xServ><chNFe>" +
                 key(1).toLatin1() + "</chNFe></consSitNFe>",
             "NFeConsultaProtocolo4"));
    EXPECT_EQ(value(cons, "cStat"), QStringLiteral("100"));
    // Every registered event comes back byte for byte as it was signed, whoever signed it.
    EXPECT_TRUE(cons.contains(ev) && cons.contains(second)) << cons.toStdString();
    EXPECT_TRUE(cons.contains("<nProt>" + nProt.toLatin1() + "</nProt>"));
}

TEST_F(Rules, EachRuleOfTheServiceGivesItsOwnCode)
{
    auto tampered = [](QByteArray xml, const QByteArray& from, const QByteArray& to) {
        EXPECT_TRUE(xml.contains(from));
        return xml.replace(from, to);
    };
    nfe::CceEvent e = event(key(2));

    e.nSeqEvento = 21;
    EXPECT_EQ(judge(sign(nfe::buildEvento(e))), QStringLiteral("594"));
    e = event(key(2));
    e.xCorrecao = QStringLiteral("curta");
    EXPECT_EQ(judge(sign(nfe::buildEvento(e))), QStringLiteral("493"));
    e = event(key(2));
    e.tpAmb = 1;
    EXPECT_EQ(judge(sign(nfe::buildEvento(e))), QStringLiteral("252"));
    // An Id that is not the concatenation of its fields.
    const QByteArray wrongId = tampered(nfe::buildEvento(event(key(2))), nfe::eventId(key(2), 1).toLatin1(),
                                        nfe::eventId(key(2), 2).toLatin1());
    EXPECT_EQ(judge(sign(wrongId)), QStringLiteral("572"));
    // The content changed after signing.
    const QByteArray good = sign(nfe::buildEvento(event(key(2))));
    EXPECT_EQ(judge(tampered(good, "Rua das Acácias", "Rua das Acacias")), QStringLiteral("297"));
    // A signature of another form, that the schema lets through: its transforms in the other order.
    const QByteArray enveloped = "<Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>";
    const QByteArray c14n = "<Transform Algorithm=\"http://www.w3.org/TR/2001/REC-xml-c14n-20010315\"/>";
    EXPECT_EQ(judge(tampered(good, enveloped + c14n, c14n + enveloped)), QStringLiteral("298"));
    // Signed by another company's certificate.
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(key(2))), s_other.get())), QStringLiteral("213"));
    // A key whose check digit is wrong.
    QString bad = key(3);
    bad[43] = QChar(u'0' + (bad[43].digitValue() + 1) % 10);
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(bad)))), QStringLiteral("236"));
    // A key of Paraná sent to São Paulo.
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(key(3, kCnpj, 41))))), QStringLiteral("249"));
    // A key issued by another branch of another company base, signed by this one.
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(key(3, QStringLiteral("11222333000262")))))), QStringLiteral("574"));
    e = event(key(3));
    e.dhEvento = nfe::eventTime(kNow.addSecs(3600), *nfe::stateByUf(QStringLiteral("SP")));
    EXPECT_EQ(judge(sign(nfe::buildEvento(e))), QStringLiteral("578"));
    e = event(key(11));
    e.dhEvento = QStringLiteral("2026-12-08T11:00:00-03:00");
    EXPECT_EQ(judge(sign(nfe::buildEvento(e))), QStringLiteral("579"));
    EXPECT_EQ(judge(sign(nfe::buildEvento(event(key(10))))), QStringLiteral("580"));

    // None of them was registered.
    EXPECT_TRUE(registry->events().isEmpty());
}

TEST_F(Rules, BatchFaultsAreAnsweredForTheWholeBatch)
{
    auto batchStat = [](const QByteArray& answer) { return value(answer, "cStat"); };
    EXPECT_EQ(batchStat(rules->receiveBatch("<not xml", false)), QStringLiteral("215"));
    EXPECT_EQ(batchStat(rules->receiveBatch(soap("<outra/>"), false)), QStringLiteral("215"));
    // A DOCTYPE is never read: no entity reaches the rules.
    EXPECT_EQ(batchStat(rules->receiveBatch("<!DOCTYPE x [<!ENTITY e \"1\">]>" + soap("&e;"), false)),
              QStringLiteral("215"));

    const QByteArray ev = sign(nfe::buildEvento(event(key(4))));
    // The batch's own layer is wrong (idLote of 16 digits) while its event is right.
    QByteArray batch = nfe::buildEnvEvento(42, {ev});
    batch.replace("<idLote>42</idLote>", "<idLote>1234567890123456</idLote>");
    const QByteArray answer = rules->receiveBatch(soap(batch), false);
    EXPECT_EQ(batchStat(answer), QStringLiteral("225"));
    EXPECT_FALSE(answer.contains("<retEvento"));

    nfe::CceEvent pr = event(key(5));
    pr.cOrgao = 41;
    EXPECT_EQ(batchStat(send({ev, sign(nfe::buildEvento(pr))})), QStringLiteral("477"));
    EXPECT_TRUE(registry->events().isEmpty());
}

TEST_F(Rules, AnswersComeInAnOrderOfTheirOwn)
{
    QList<QByteArray> events;
    for (int n = 1; n <= 3; ++n)
        events << sign(nfe::buildEvento(event(key(n))));
    const QByteArray own = send(events);
    EXPECT_NE(value(own, "chNFe", 0), key(1));
    EXPECT_EQ(rules->registry().events().size(), 3);

    rules->reset();
    const QByteArray reversed = send(events, true);
    EXPECT_EQ(value(reversed, "chNFe", 0), key(3));
    EXPECT_EQ(value(reversed, "chNFe", 2), key(1));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(value(reversed, "cStat", i + 1), QStringLiteral("135"));
}
