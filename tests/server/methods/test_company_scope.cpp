// A token limited to some companies: every method refuses, as its result and changing
// nothing, what belongs to another company, and serves its own companies as before.
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/rpc/CompanyScope.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

class CompanyScopeMethods : public MethodsTest {
protected:
    void SetUp() override
    {
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        Invoice one;
        one.lancto = QStringLiteral("0000000001");
        addInvoice(one);
        addLetter(one.filial, one.lancto, rejected(QStringLiteral("01")));
        Invoice other;
        other.filial = QStringLiteral("0009");
        other.lancto = QStringLiteral("0000000009");
        other.empresa = QStringLiteral("02");
        other.filiEmit = QStringLiteral("0009");
        other.acesso = QStringLiteral("35261111222333000181550010000000091123456780");
        addInvoice(other);
    }

    QString newLetter(const QString& filial, const QString& lancto, const QString& seq)
    {
        fw::DeltaPacket d = delta();
        Letter l = pending(seq);
        l.texto = QStringLiteral("Correção da razão social do destinatário da nota.");
        d.changes = {ins(letterRow(filial, lancto, l))};
        return setCCe(d, filial, lancto);
    }

    const QString denied01 = QStringLiteral("Acesso não autorizado à empresa 01.");
};

TEST_P(CompanyScopeMethods, EveryMethodRefusesAnotherCompanyAndChangesNothing)
{
    const srv::CompanyScope only02(QStringList{QStringLiteral("02")});
    const srv::CompanyScopeGuard caller(only02);
    const QString f = QStringLiteral("0002");
    const QString l = QStringLiteral("0000000001");

    EXPECT_EQ(tr(QStringLiteral("GetNotaFiscal"), criteria()).toString(), denied01);
    EXPECT_EQ(newLetter(f, l, QStringLiteral("02")), denied01);
    // Changing or deleting the stored letter is refused the same way.
    fw::DeltaPacket d = delta();
    const fw::Row old = letterRow(f, l, rejected(QStringLiteral("01")));
    fw::Row changed = old;
    changed[3] = QStringLiteral("Outra descrição da correção, com mais de quinze letras.");
    d.changes = {mod(old, changed)};
    EXPECT_EQ(setCCe(d, f, l), denied01);
    d.changes = {del(old)};
    EXPECT_EQ(setCCe(d, f, l), denied01);
    EXPECT_EQ(stored(f, l), QStringList{QStringLiteral("01:Correção do endereço de entrega do destinatário.:R")});

    EXPECT_EQ(tr(QStringLiteral("getXmlEnvLote"), {f, l}).toString(), denied01);
    EXPECT_EQ(call(srv::kServerDocFiscSaida, QStringLiteral("GetParamDFS"), {f}).toString(), denied01);
    fw::DataPacket marked;
    marked.fields = srv::fields::notaFiscal();
    EXPECT_EQ(
        tr(QStringLiteral("TransmiteCCe"), {QVariant::fromValue(marked), QStringLiteral("01"), QString()}).toString(),
        denied01);

    // Its own company is served as before.
    EXPECT_EQ(newLetter(QStringLiteral("0009"), QStringLiteral("0000000009"), QStringLiteral("01")), QString());
    const QStringList listed = entries(criteria({{4, QStringLiteral("02")}}));
    EXPECT_EQ(listed, QStringList{QStringLiteral("0000000009")});
    EXPECT_TRUE(call(srv::kServerDocFiscSaida, QStringLiteral("GetParamDFS"), {QStringLiteral("0009")})
                    .canConvert<fw::DataPacket>());
    // A branch or invoice that does not exist is the method's own answer, not a refusal.
    EXPECT_EQ(tr(QStringLiteral("getXmlEnvLote"), {f, QStringLiteral("0000000777")}).toString(),
              QStringLiteral("Não há arquivo XML de falha no schema ou de rejeição para esta nota fiscal."));
}

TEST_P(CompanyScopeMethods, ATokenWithoutListReachesEveryCompany)
{
    const srv::CompanyScope both(QStringList{QStringLiteral("01"), QStringLiteral(" 02 ")});
    for (const srv::CompanyScope* scope : {&srv::CompanyScope::current(), &both}) {
        const srv::CompanyScopeGuard caller(*scope);
        EXPECT_EQ(entries(criteria()), QStringList{QStringLiteral("0000000001")});
        EXPECT_TRUE(tr(QStringLiteral("getXmlEnvLote"), {QStringLiteral("0002"), QStringLiteral("0000000001")})
                        .toString()
                        .startsWith(QStringLiteral("Não há arquivo XML")));
    }
    // Without a list the rejected letter of company 01 may be corrected.
    fw::DeltaPacket d = delta();
    const fw::Row old = letterRow(QStringLiteral("0002"), QStringLiteral("0000000001"), rejected(QStringLiteral("01")));
    fw::Row changed = old;
    changed[3] = QStringLiteral("Outra descrição da correção, com mais de quinze letras.");
    d.changes = {mod(old, changed)};
    EXPECT_EQ(setCCe(d, QStringLiteral("0002"), QStringLiteral("0000000001")), QString());
}

TEST_P(CompanyScopeMethods, InvoiceListsAreCheckedWholeInAFewStatements)
{
    // More entries of one branch than one statement takes, and one of another company last.
    QList<QPair<QString, QString>> keys{{QStringLiteral("0002"), QStringLiteral("0000000001")}};
    for (int i = 2; i <= 450; ++i) {
        Invoice n;
        n.lancto = QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'));
        n.acesso = QStringLiteral("3526111122233300018155001%1").arg(i, 19, 10, QLatin1Char('0'));
        addInvoice(n);
        keys.append({n.filial, n.lancto});
    }
    keys.append({QStringLiteral("0009"), QStringLiteral("0000000009")});
    keys.append({QStringLiteral("0002"), QStringLiteral("9999999999")}); // none such

    const srv::CompanyScope only01(QStringList{QStringLiteral("01")});
    {
        const srv::CompanyScopeGuard caller(only01);
        EXPECT_EQ(srv::methods::invoicesScopeRefusal(*store, keys),
                  QStringLiteral("Acesso não autorizado à empresa 02."));
        keys.removeAt(keys.size() - 2);
        EXPECT_EQ(srv::methods::invoicesScopeRefusal(*store, keys), QString());
        EXPECT_EQ(srv::methods::invoiceScopeRefusal(*store, QStringLiteral("0009"), QStringLiteral("0000000009")),
                  QStringLiteral("Acesso não autorizado à empresa 02."));
        EXPECT_EQ(srv::methods::branchScopeRefusal(*store, QStringLiteral("0009")),
                  QStringLiteral("Acesso não autorizado à empresa 02."));
        EXPECT_EQ(srv::methods::branchScopeRefusal(*store, QStringLiteral("0003")), QString());
    }
}

namespace {
// Counts what it was asked to send; sends nothing.
struct CountingMailer : srv::Mailer {
    int letters = 0, pending = 0;
    QString sendLetter(const QString&, const QString&, const QString&, bool) override
    {
        ++letters;
        return QString();
    }
    QList<Failure> sendPending(const QList<QPair<QString, QString>>&) override
    {
        ++pending;
        return {};
    }
};
} // namespace

TEST_P(CompanyScopeMethods, EMailOfAnotherCompanysInvoiceIsRefusedBeforeAnythingIsSent)
{
    const srv::CompanyScope only02(QStringList{QStringLiteral("02")});
    const srv::CompanyScopeGuard caller(only02);
    CountingMailer mailer;
    srv::Services services{store.get(), nullptr, &mailer};
    const QString f = QStringLiteral("0002"), l = QStringLiteral("0000000001");
    EXPECT_EQ(srv::methods::sendEmailCCe(services, {f, l, QStringLiteral("01"), false}).toString(), denied01);
    fw::DataPacket notas;
    notas.fields = srv::fields::notaFiscal();
    fw::Row own(notas.fields.size()), other(notas.fields.size());
    own[notas.fieldIndex(QStringLiteral("CDFILIAL"))] = QStringLiteral("0009");
    own[notas.fieldIndex(QStringLiteral("NRLANCTONF"))] = QStringLiteral("0000000009");
    other[notas.fieldIndex(QStringLiteral("CDFILIAL"))] = f;
    other[notas.fieldIndex(QStringLiteral("NRLANCTONF"))] = l;
    notas.rows = {own, other};
    EXPECT_EQ(srv::methods::sendEmailCCeTodos(services, {QVariant::fromValue(notas)}).toString(), denied01);
    EXPECT_EQ(mailer.letters + mailer.pending, 0);

    // Its own company's invoice goes to the mail service.
    EXPECT_EQ(srv::methods::sendEmailCCe(
                  services, {QStringLiteral("0009"), QStringLiteral("0000000009"), QStringLiteral("01"), false})
                  .toString(),
              QString());
    notas.rows = {own};
    EXPECT_EQ(srv::methods::sendEmailCCeTodos(services, {QVariant::fromValue(notas)}).toString(), QString());
    EXPECT_EQ(mailer.letters, 1);
    EXPECT_EQ(mailer.pending, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, CompanyScopeMethods, ::testing::Values("sqlite", "postgresql"));

} // namespace
