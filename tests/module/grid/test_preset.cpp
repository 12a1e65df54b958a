// The host's preset and the fetch it runs; a server's error text.
#include "core/errors/Dispatch.h"
#include "core/values/Value.h"
#include "tests/module/grid/GridFixture.h"

namespace {

QString nr(int n) { return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0')); }

// A preset with every record field set, company 01, invoice 0002/nr(2); the issuing
// branch (element 11) differs from the recipient branch (element 8).
QVariantList preset()
{
    QVariantList p(32);
    p[0] = true;
    p[1] = 2; // DestRem: own branch
    p[2] = 1; // IdOperacao: incoming
    for (int i = 3; i <= 15; ++i)
        p[i] = QString();
    p[8] = QStringLiteral("0007"); // CdFilialDest
    p[9] = QStringLiteral("Filial Dois");
    p[10] = QStringLiteral("E02"); // CodTipoOper
    p[11] = QStringLiteral("0002"); // CdFilial, centralised by 0001
    p[13] = QStringLiteral("IE1");
    p[16] = QDateTime(QDate(2026, 3, 1), QTime(0, 0));
    p[17] = QDateTime(QDate(2026, 3, 15), QTime(0, 0));
    p[18] = false; // TodosTipoOper
    for (int i = 19; i <= 25; ++i)
        p[i] = false;
    p[20] = true; // SemEmisContFS, stored only
    p[26] = QString();
    p[27] = QString();
    p[28] = QStringLiteral("01");
    p[29] = QStringLiteral("Empresa Um (host)");
    p[30] = QStringLiteral("0002");
    p[31] = nr(2);
    return p;
}

QList<Invoice> threeInvoices()
{
    return {{"0001", nr(1), "1", "IE1", {}}, {"0002", nr(2), "1", "IE1", {}}, {"0001", nr(3), "3", "IE1", {}}};
}

} // namespace

class PresetTest : public GridTest {
protected:
    bool apply()
    {
        return fw::dispatch([this] { f->AplicaFiltro(); });
    }
};

TEST_F(PresetTest, APresetNotSwitchedOnChangesNothingAndStaysPending)
{
    gridserver::invoices = threeInvoices();
    QVariantList p = preset();
    p[0] = false;
    oleParam = p;
    EXPECT_TRUE(apply());
    EXPECT_TRUE(gridserver::calls.isEmpty());
    EXPECT_EQ(oleParam.toList(), p);

    p[0] = QStringLiteral("true"); // only a Boolean true switches it on
    oleParam = p;
    EXPECT_TRUE(apply());
    EXPECT_TRUE(gridserver::calls.isEmpty());

    oleParam = fw::nullValue();
    EXPECT_TRUE(apply());
    EXPECT_TRUE(fw::isNull(oleParam));
    oleParam = fw::emptyValue();
    EXPECT_TRUE(apply());
    EXPECT_TRUE(fw::isEmpty(oleParam));
    EXPECT_TRUE(gridserver::calls.isEmpty());
}

TEST_F(PresetTest, APresetIsAppliedOnceWithTheArgumentsOfItsRecord)
{
    gridserver::invoices = threeInvoices();
    f->medCdEmpresa->setText(QStringLiteral("02"));
    oleParam = preset();
    ASSERT_TRUE(apply());
    ASSERT_EQ(gridserver::calls.size(), 1);
    const QVariantList a = gridserver::calls.at(0);
    ASSERT_EQ(a.size(), 16);
    EXPECT_EQ(a[0].toString(), "0002"); // the issuing-branch criterion
    EXPECT_EQ(a[1].toString(), "T");
    EXPECT_EQ(a[2].toString(), "E02");
    EXPECT_EQ(a[3].toString(), "01");
    EXPECT_EQ(a[4].toString(), "IE1");
    EXPECT_EQ(a[5].toString(), "T");
    EXPECT_EQ(a[6].toString(), "T");
    EXPECT_EQ(a[7].toString(), "0007");
    EXPECT_EQ(a[8].toString(), "L");
    EXPECT_EQ(a[9].toString(), "T");
    EXPECT_EQ(a[10].toString(), "");
    EXPECT_EQ(a[11].toString(), "E");
    EXPECT_EQ(a[12].toString(), "");

    // The record holds the preset, converted to its types.
    const TRecordFilter& rec = frmFiltroTransmissao->RecordFilter;
    EXPECT_EQ(rec.DestRem, 2);
    EXPECT_EQ(rec.IdOperacao, 1);
    EXPECT_EQ(rec.CdFilialDest, "0007");
    EXPECT_EQ(rec.CdFilial, "0002");
    EXPECT_EQ(rec.DtSaidIni.date(), QDate(2026, 3, 1));
    EXPECT_TRUE(rec.SemEmisContFS);
    EXPECT_FALSE(rec.TodosTipoOper);

    EXPECT_EQ(f->medCdEmpresa->text(), "01");
    EXPECT_EQ(f->edtNmEmpresa->text(), "Empresa Um (host)");
    EXPECT_EQ(current("CDFILIAL"), "0002");
    EXPECT_EQ(current("NRLANCTONF"), nr(2));
    EXPECT_TRUE(boFiltrado);
    EXPECT_TRUE(fw::isNull(oleParam));

    EXPECT_TRUE(apply());
    EXPECT_EQ(gridserver::calls.size(), 1);
}

TEST_F(PresetTest, AnIssuingBranchWithoutCentralisingBranchIsSentAsOrigin)
{
    gridserver::invoices = threeInvoices();
    QVariantList p = preset();
    p[11] = QStringLiteral("0001"); // centralised by nobody
    p[8] = QStringLiteral("0007"); // a recipient branch, not sent for a customer
    p[1] = 0; // customer
    p[4] = QStringLiteral("11222333000181");
    p[18] = true; // every operation type
    p[2] = 0;
    oleParam = p;
    ASSERT_TRUE(apply());
    ASSERT_EQ(gridserver::calls.size(), 1);
    QVariantList a = gridserver::calls.at(0);
    EXPECT_EQ(a[0].toString(), "T"); // 0001 centralises nobody above it
    EXPECT_EQ(a[1].toString(), "0001");
    EXPECT_EQ(a[2].toString(), "T");
    EXPECT_EQ(a[7].toString(), "T");
    EXPECT_EQ(a[8].toString(), "C");
    EXPECT_EQ(a[9].toString(), "11222333000181");
    EXPECT_EQ(a[11].toString(), "S");

    p[11] = QStringLiteral("0002"); // centralised by 0001: stays the issuing branch
    oleParam = p;
    ASSERT_TRUE(apply());
    a = gridserver::calls.at(1);
    EXPECT_EQ(a[0].toString(), "0002");
    EXPECT_EQ(a[1].toString(), "T");

    p[26] = QStringLiteral("0009"); // an origin branch given: no lookup
    oleParam = p;
    ASSERT_TRUE(apply());
    a = gridserver::calls.at(2);
    EXPECT_EQ(a[0].toString(), "0002");
    EXPECT_EQ(a[1].toString(), "0009");
}

TEST_F(PresetTest, AnInvoiceNotInTheAnswerLeavesTheFirstCurrent)
{
    gridserver::invoices = threeInvoices();
    QVariantList p = preset();
    p[31] = nr(9);
    oleParam = p;
    ASSERT_TRUE(apply());
    EXPECT_EQ(f->cdsNotaFiscal->recNo(), 1);
    EXPECT_EQ(current("NRLANCTONF"), nr(1));

    p[30] = QStringLiteral("000a"); // the match is exact
    p[31] = nr(2);
    gridserver::invoices = {{"000A", nr(1), "1", "IE1", {}}, {"000a", nr(2), "1", "IE1", {}}};
    oleParam = p;
    ASSERT_TRUE(apply());
    EXPECT_EQ(current("CDFILIAL"), "000a");
    p[30] = QStringLiteral("000A");
    oleParam = p;
    ASSERT_TRUE(apply());
    EXPECT_EQ(current("CDFILIAL"), "000A");
    EXPECT_EQ(f->cdsNotaFiscal->recNo(), 1);
}

TEST_F(PresetTest, AnErrorTextLeavesBothListsAndTheMarksAsTheyWere)
{
    load(threeInvoices(), {{"0001", nr(1), "01", "carta um"}, {"0002", nr(2), "01", "carta dois"}});
    go(nr(2));
    ASSERT_TRUE(dblClick());
    const fw::DataPacket before = f->cdsNotaFiscal->data();
    const fw::DataPacket lettersBefore = f->cdsCCe->data();

    gridserver::errorText = QStringLiteral("Falha ao consultar as notas fiscais.");
    ui.expectMessage(gridserver::errorText, fw::mbOK);
    oleParam = preset();
    EXPECT_TRUE(apply());
    EXPECT_EQ(gridserver::calls.size(), 2);
    EXPECT_EQ(f->cdsNotaFiscal->data(), before);
    EXPECT_EQ(f->cdsCCe->data(), lettersBefore);
    EXPECT_EQ(inCount, 1);
    EXPECT_EQ(stSGinscEsta, "SP");
    EXPECT_EQ(current("NRLANCTONF"), nr(2));
    EXPECT_EQ(letterTexts(), QStringList{"carta dois"});
}

TEST_F(PresetTest, ANewListStartsWithoutMarks)
{
    load(threeInvoices());
    go(nr(1));
    ASSERT_TRUE(dblClick());
    ASSERT_EQ(inCount, 1);
    gridserver::invoices = {{"0001", nr(1), "1", "IERJ", {}}};
    oleParam = preset();
    ASSERT_TRUE(apply());
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    ASSERT_TRUE(dblClick()); // another state can be marked on the new list
    EXPECT_EQ(stSGinscEsta, "RJ");
}

TEST_F(PresetTest, TheFilterButtonResetsTheMarksOnlyWhenConfirmed)
{
    load(threeInvoices());
    go(nr(1));
    ASSERT_TRUE(dblClick());
    ui.expectModal([](QWidget*) {}); // cancelled
    EXPECT_TRUE(fw::dispatch([this] { f->sbtFiltroClick(f->sbtFiltro); }));
    EXPECT_EQ(inCount, 1);
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFolhaDados);

    ui.expectModal([](QWidget* form) {
        auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(dlg, nullptr);
        dlg->depSaidIni->SetDate(QDate(2026, 3, 1));
        dlg->depSaidFim->SetDate(QDate(2026, 3, 15));
        fw::dispatch([dlg] { dlg->sbtConfirmaClick(dlg->sbtConfirma); });
    });
    EXPECT_TRUE(fw::dispatch([this] { f->sbtFiltroClick(f->sbtFiltro); }));
    EXPECT_EQ(gridserver::calls.size(), 2);
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty() && stAmbiente.isEmpty() && stCertificado.isEmpty());
    EXPECT_FALSE(boFiltrado); // the company panel's exit handling took it back
}
