// The mail's SQL on both engines: the address comes from the registry the invoice's
// counterpart belongs to, only accepted letters with a pending recipient e-mail are
// pending, and recording a message changes its own flag and nothing else.
#include "server/store/MailStore.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

class MailStoreTest : public MethodsTest {
protected:
    void registries()
    {
        exec(QStringLiteral("INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE, DSEMAILCLIE) VALUES "
                            "('C1', 'Mercado Boa Vista Ltda', 'compras@boavista.com.br'), ('C2', 'Sem E-mail', NULL)"));
        exec(QStringLiteral("INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, NMRAZSOCFORN, DSEMAILFORN) VALUES "
                            "('F1', '44555666000177', 'Insumos Sul S.A.', 'nfe@insumos.com.br')"));
        exec(QStringLiteral("UPDATE FILIAL SET DSEMAILFILI = 'fiscal.0003@empresa.com.br' WHERE CDFILIAL = '0003'"));
        exec(QStringLiteral("INSERT INTO TRANSPORTADORA (NRINSJURTRAN, NMRAZSOCTRAN, DSEMAILTRAN) VALUES "
                            "('99888777000166', 'Rodovia Cargas Ltda', 'cte@rodovia.com.br')"));
    }

    Invoice invoice(const char* lancto, const char* kind)
    {
        Invoice n;
        n.lancto = QString::fromLatin1(lancto);
        n.origDest = QString::fromLatin1(kind);
        n.cliente = n.origDest == QLatin1String("C") ? QStringLiteral("C1") : QString();
        n.fornecedor = n.origDest == QLatin1String("F") ? QStringLiteral("F1") : QString();
        n.filiRece = n.origDest == QLatin1String("L") ? QStringLiteral("0003") : QString();
        return n;
    }

    static Letter acceptedPending(const QString& seq)
    {
        Letter l = accepted(seq);
        l.email = QStringLiteral("P");
        l.emailTrans = QStringLiteral("P");
        return l;
    }
};

} // namespace

TEST_P(MailStoreTest, TheAddressComesFromTheCounterpartsOwnRegistryAndTheCarrierFromTheCarriers)
{
    registries();
    Invoice c = invoice("0000000001", "C");
    c.transp = QStringLiteral("99888777000166");
    addInvoice(c);
    addInvoice(invoice("0000000002", "F"));
    addInvoice(invoice("0000000003", "L"));
    Invoice unknown = invoice("0000000004", "C");
    unknown.cliente = QStringLiteral("C9"); // not in the registry
    unknown.transp = QStringLiteral("11111111000191");
    addInvoice(unknown);
    for (const char* l : {"0000000001", "0000000002", "0000000003", "0000000004"})
        addLetter(QStringLiteral("0002"), QString::fromLatin1(l), acceptedPending(QStringLiteral("01")));
    exec(QStringLiteral("UPDATE CARTACORRECAO SET DSXMLPROCEVENTO = ? WHERE NRLANCTONF = '0000000001'"),
         {QStringLiteral("<procEventoNFe>ação</procEventoNFe>")});

    srv::MailStore mail(*store);
    const auto one = mail.letter(QStringLiteral("0002"), QStringLiteral("0000000001"), QStringLiteral("01"));
    ASSERT_TRUE(one);
    EXPECT_EQ(one->recipientEmail, QStringLiteral("compras@boavista.com.br"));
    EXPECT_EQ(one->recipientName, QStringLiteral("Mercado Boa Vista Ltda"));
    EXPECT_TRUE(one->recipientRegistered);
    EXPECT_EQ(one->carrierEmail, QStringLiteral("cte@rodovia.com.br"));
    EXPECT_EQ(one->companyName, QStringLiteral("Empresa Um"));
    EXPECT_EQ(one->branchName, QStringLiteral("Centralizadora"));
    EXPECT_EQ(one->procEvento, QStringLiteral("<procEventoNFe>ação</procEventoNFe>").toUtf8());
    EXPECT_EQ(one->chNFe, c.acesso);

    const auto supplier = mail.letter(QStringLiteral("0002"), QStringLiteral("0000000002"), QStringLiteral("01"));
    ASSERT_TRUE(supplier);
    EXPECT_EQ(supplier->recipientEmail, QStringLiteral("nfe@insumos.com.br"));
    EXPECT_TRUE(supplier->carrierDocument.isEmpty());
    EXPECT_TRUE(supplier->procEvento.isEmpty());
    const auto branch = mail.letter(QStringLiteral("0002"), QStringLiteral("0000000003"), QStringLiteral("01"));
    ASSERT_TRUE(branch);
    EXPECT_EQ(branch->recipientEmail, QStringLiteral("fiscal.0003@empresa.com.br"));
    const auto missing = mail.letter(QStringLiteral("0002"), QStringLiteral("0000000004"), QStringLiteral("01"));
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->recipientRegistered);
    EXPECT_EQ(missing->recipientName, c.nome); // the invoice's own name stands in
    EXPECT_FALSE(missing->carrierRegistered);
    EXPECT_FALSE(mail.letter(QStringLiteral("0002"), QStringLiteral("0000000001"), QStringLiteral("02")));
}

TEST_P(MailStoreTest, OnlyTheLatestAcceptedLetterWithItsRecipientPendingIsPendingAndSendingFlipsOneFlag)
{
    const char* lanctos[] = {"0000000001", "0000000002", "0000000003", "0000000004", "0000000005"};
    for (const char* l : lanctos)
        addInvoice(invoice(l, "C"));
    const QString f = QStringLiteral("0002");
    addLetter(f, QStringLiteral("0000000001"), acceptedPending(QStringLiteral("01")));
    addLetter(f, QStringLiteral("0000000002"), acceptedPending(QStringLiteral("01")));
    addLetter(f, QStringLiteral("0000000002"), pending(QStringLiteral("02"))); // latest not accepted
    addLetter(f, QStringLiteral("0000000003"), accepted(QStringLiteral("01"))); // already sent
    addLetter(f, QStringLiteral("0000000004"), acceptedPending(QStringLiteral("01")));
    addLetter(f, QStringLiteral("0000000004"), acceptedPending(QStringLiteral("02")));
    exec(QStringLiteral("UPDATE CARTACORRECAO SET CDSTATUSCCE = '136' WHERE NRLANCTONF = '0000000004'"));

    srv::MailStore mail(*store);
    QList<QPair<QString, QString>> asked;
    for (const char* l : {"0000000004", "0000000003", "0000000002", "0000000001", "0000000005"})
        asked << qMakePair(f, QString::fromLatin1(l));
    const auto pendingMails = mail.pendingRecipientMails(asked);
    ASSERT_EQ(pendingMails.size(), 2);
    EXPECT_EQ(pendingMails[0].nrLanctoNF, QStringLiteral("0000000001"));
    EXPECT_EQ(pendingMails[1].nrLanctoNF, QStringLiteral("0000000004"));
    EXPECT_EQ(pendingMails[1].seq, QStringLiteral("02"));

    auto flags = [&](const char* lancto, const char* seq) {
        const QVariantList r = row(QStringLiteral("SELECT IDEMAILCCE, IDEMAILCCETRANS FROM CARTACORRECAO WHERE "
                                                  "CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                                   {f, QString::fromLatin1(lancto), QString::fromLatin1(seq)});
        return r.value(0).toString() + QLatin1Char('/') + r.value(1).toString();
    };
    EXPECT_TRUE(mail.markSent(f, QStringLiteral("0000000004"), QStringLiteral("02"), false));
    EXPECT_EQ(flags("0000000004", "02"), QStringLiteral("E/P"));
    EXPECT_EQ(flags("0000000004", "01"), QStringLiteral("P/P"));
    EXPECT_TRUE(mail.markSent(f, QStringLiteral("0000000004"), QStringLiteral("02"), true));
    EXPECT_EQ(flags("0000000004", "02"), QStringLiteral("E/E"));
    // A letter that is not accepted is never recorded as e-mailed.
    EXPECT_FALSE(mail.markSent(f, QStringLiteral("0000000002"), QStringLiteral("02"), false));
    EXPECT_EQ(flags("0000000002", "02"), QStringLiteral("P/N"));
}

INSTANTIATE_TEST_SUITE_P(Engines, MailStoreTest, ::testing::Values("sqlite", "postgresql"));
