// The filter dialog driven as the user drives it: creation defaults, the order of the
// confirmation's checks, the arguments of the invoice fetch, strict and lenient mode,
// the record's round trip, the branch-bound mode and the undo key.
#include <QLineEdit>
#include <QTest>

#include "core/errors/Dispatch.h"
#include "tests/module/filter/FilterFixture.h"

namespace {

const QString kFilialCad = QStringLiteral("Filial não cadastrada.");
const QString kFilialRelac = QStringLiteral("Filial não relacionada para a empresa informada.");

QString arg(const QVariantList& call, int n) // n: 1-based server argument
{
    return call.value(n - 1).toString();
}

QDateTime dateArg(const QVariantList& call, int n) { return call.value(n - 1).toDateTime(); }

bool exitTo(QWidget* to) { return fw::moveFocus(to); }

} // namespace

// --- creation ------------------------------------------------------------------------

TEST_F(FilterTest, FirstShowingHasTheCreationDefaultsOfTheStrictMode)
{
    const bool confirmed = showDialog([&](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Filtro Transmissão de Carta de Correção Eletrônica"));
        EXPECT_EQ(dlg->lblCodTela->text(), QStringLiteral("DFS59100"));
        // CCE_FILTER_SCREENSHOT=FILE saves a picture of the dialog as it first shows.
        if (const QByteArray shot = qgetenv("CCE_FILTER_SCREENSHOT"); !shot.isEmpty())
            dlg->grab().save(QString::fromLocal8Bit(shot));
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 3);
        EXPECT_EQ(dlg->nbkCliente->PageIndex(), 3);
        EXPECT_EQ(dlg->cbbIdOperacao->ItemIndex(), 0);
        EXPECT_TRUE(dlg->rdgTodosTipoOper->Checked());
        EXPECT_FALSE(dlg->rdgListaTipoOper->Checked());
        EXPECT_FALSE(dlg->btpTipoOper->isEnabled());
        for (fw::TCheckBox* c : {dlg->chbEmisNormal, dlg->chbEmisContFS, dlg->chbEmisContSCAN, dlg->chbEmisContEPEC,
                                 dlg->chbEmisContFSDA, dlg->chbEmisContSVCAN, dlg->chbEmisContSVCRS})
            EXPECT_TRUE(c->Checked()) << c->objectName().toStdString();
        EXPECT_EQ(dlg->depSaidIni->GetDate(), QDate(2026, 3, 1));
        EXPECT_EQ(dlg->depSaidFim->GetDate(), QDate(2026, 3, 15));
        // Strict mode: the host's branch and its registrations, related to the company.
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0001"));
        EXPECT_EQ(dlg->edtFiliEmit->text(), QStringLiteral("Matriz"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE1"));
        EXPECT_EQ(dlg->edtCdInscMuni->text(), QStringLiteral("IM1"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("1"));
        EXPECT_TRUE(dlg->medCdFiliOrig->text().isEmpty());
        EXPECT_EQ(dlg->edtCdInscEsta->Color(), fw::clInfoBk());
        EXPECT_EQ(dlg->edtCdSerie->Color(), fw::clInfoBk());
        EXPECT_TRUE(dlg->medCdFilial->isEnabled());
        EXPECT_TRUE(boActive);
        dlg->sbtCancelClick();
    });
    EXPECT_FALSE(confirmed);
    EXPECT_FALSE(boActive);
    ASSERT_NE(frmFiltroTransmissao, nullptr);
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.DestRem, 3);
    EXPECT_TRUE(frmFiltroTransmissao->RecordFilter.TodosTipoOper);
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.CdFilial, QStringLiteral("0001"));
    EXPECT_TRUE(s_calls.isEmpty());
}

TEST_F(FilterTest, CreationTakesTheBillingBranchForModules14To16AndNothingInLenientMode)
{
    fw::HostContext c = baseContext();
    c.module = 15;
    setContext(c);
    showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0009"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE2"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("2"));
        dlg->sbtCancelClick();
    });

    delete frmFiltroTransmissao;
    setContext(baseContext());
    frmTransmissaoCCe->cdsParamDFS->close();
    s_filtroInscr[QStringLiteral("0001")] = QStringLiteral("S");
    showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_TRUE(dlg->medCdFilial->text().isEmpty());
        EXPECT_TRUE(dlg->edtCdInscEsta->text().isEmpty());
        EXPECT_TRUE(dlg->edtCdSerie->text().isEmpty());
        EXPECT_EQ(dlg->edtCdInscEsta->Color(), fw::clWindow());
        EXPECT_EQ(dlg->edtCdSerie->Color(), fw::clWindow());
        dlg->sbtCancelClick();
    });
}

TEST_F(FilterTest, AFailedCreationCheckKeepsTheCreationValuesOfTheRecord)
{
    fw::HostContext c = baseContext();
    c.branch = QStringLiteral("0007"); // not in FILIAL
    setContext(c);
    ui.expectMessage(kFilialCad, fw::mbOK);
    showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 3);
        EXPECT_TRUE(dlg->rdgTodosTipoOper->Checked());
        EXPECT_FALSE(dlg->btpTipoOper->isEnabled());
        EXPECT_EQ(dlg->depSaidIni->GetDate(), QDate(2026, 3, 1));
        EXPECT_EQ(dlg->depSaidFim->GetDate(), QDate(2026, 3, 15));
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0007"));
        dlg->sbtCancelClick();
    });
}

TEST_F(FilterTest, BranchOfAnotherCompanyPassesSilentlyAtCreationButNotAtConfirmation)
{
    fw::HostContext c = baseContext();
    c.branch = QStringLiteral("0004"); // company 02, not related to 01
    setContext(c);
    const bool confirmed = showDialog([this](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0004"));
        EXPECT_EQ(dlg->edtFiliEmit->text(), QStringLiteral("Filial Quatro"));
        ui.expectMessage(kFilialRelac, fw::mbOK);
        EXPECT_FALSE(confirm(dlg));
        EXPECT_EQ(focused(dlg), QStringLiteral("medCdFilial"));
        // Leaving the edit reports it too, and keeps the user there.
        ui.expectMessage(kFilialRelac, fw::mbOK);
        EXPECT_FALSE(exitTo(dlg->medCdFiliOrig));
        EXPECT_EQ(focused(dlg), QStringLiteral("medCdFilial"));
    });
    EXPECT_FALSE(confirmed) << "a failed confirmation closed another way is no confirmation";
    EXPECT_TRUE(s_calls.isEmpty());
}

// --- the order of the confirmation's checks --------------------------------------------

TEST_F(FilterTest, ConfirmationChecksInItsFixedOrderAndFocusesTheOffendingControl)
{
    const bool confirmed = showDialog([this](TfrmFiltroTransmissao* dlg) {
        auto refuses = [&](const QString& text, const char* focus) {
            ui.expectMessage(text, fw::mbOK);
            const bool ok = confirm(dlg);
            EXPECT_FALSE(ok) << text.toStdString();
            EXPECT_EQ(focused(dlg), QString::fromLatin1(focus)) << text.toStdString();
            EXPECT_TRUE(dlg->isVisible());
            EXPECT_TRUE(s_calls.isEmpty()) << "no fetch before every check passed";
        };

        // An invalid date stops everything first.
        dlg->depSaidIni->setText(QStringLiteral("31/02/2026"));
        refuses(QStringLiteral("Data inválida."), "depSaidIni");
        dlg->depSaidIni->SetDate(QDate(2026, 3, 1));

        dlg->medCdFiliOrig->setText(QStringLiteral("0003"));
        dlg->medCdFilial->setText(QStringLiteral("0007"));
        refuses(kFilialCad, "medCdFilial");
        dlg->medCdFilial->setText(QStringLiteral("0004"));
        refuses(kFilialRelac, "medCdFilial");
        dlg->medCdFilial->setText(QStringLiteral("0001"));

        // Registrations of the origin branch 0003 (cleared by its change).
        EXPECT_TRUE(dlg->edtCdInscEsta->text().isEmpty());
        refuses(QStringLiteral("Inscrição Estadual deve ser Informada."), "edtCdInscEsta");
        dlg->edtCdInscEsta->setText(QStringLiteral("IEX"));
        refuses(QStringLiteral("Inscrição estadual não cadastrada."), "edtCdInscEsta");
        dlg->edtCdInscEsta->setText(QStringLiteral("IE1"));
        refuses(QStringLiteral("Inscrição estadual não relacionada para a empresa informada."), "edtCdInscEsta");
        dlg->edtCdInscEsta->setText(QStringLiteral("IE3"));

        refuses(QStringLiteral("Inscrição Municipal deve ser Informada."), "edtCdInscMuni");
        dlg->edtCdInscMuni->setText(QStringLiteral("IMX"));
        refuses(QStringLiteral("Inscrição municipal não cadastrada."), "edtCdInscMuni");
        dlg->edtCdInscMuni->setText(QStringLiteral("IM1"));
        refuses(QStringLiteral("Inscrição municipal não relacionada para a empresa informada."), "edtCdInscMuni");
        dlg->edtCdInscMuni->setText(QStringLiteral("IM3"));

        refuses(QStringLiteral("Série deve ser Informada."), "edtCdSerie");
        EXPECT_FALSE(boConfirma) << "a failed series check clears the result";
        dlg->edtCdSerie->setText(QStringLiteral("9"));
        refuses(QStringLiteral("Série não cadastrada."), "edtCdSerie");
        dlg->edtCdSerie->setText(QStringLiteral("3"));

        // 0003 is not centralised by 0001.
        dlg->edtNmFilialOrig->setText(QStringLiteral("stale"));
        refuses(kFilialCad, "medCdFiliOrig");
        EXPECT_TRUE(dlg->edtNmFilialOrig->text().isEmpty());
        EXPECT_TRUE(boConfirma) << "only the series check clears the result";
        dlg->medCdFilial->setText(QString());

        dlg->cbbDestRem->setItemIndex(0);
        dlg->cbbDestRemChange(dlg->cbbDestRem);
        EXPECT_EQ(dlg->nbkCliente->PageIndex(), 0);
        dlg->medCliente->setText(QStringLiteral("99.999.999/0001-99"));
        refuses(QStringLiteral("Cliente não cadastrado."), "medCliente");
        EXPECT_EQ(dlg->medCliente->text(), QStringLiteral("99999999000199")) << "kept normalised";
        dlg->medCliente->setText(QStringLiteral("11.222.333/0001-81"));

        dlg->depSaidFim->SetDate(QDate(2026, 2, 28));
        refuses(QStringLiteral("Data de saída inicial deve ser menor ou igual a data de saída final."), "depSaidIni");
        dlg->depSaidFim->SetDate(QDate());
        refuses(QStringLiteral("Data de Saída Final deve ser informada."), "depSaidFim");
        dlg->depSaidIni->SetDate(QDate());
        refuses(QStringLiteral("Data de Saída Inicial deve ser informada."), "depSaidIni");
        dlg->depSaidIni->SetDate(QDate(2026, 3, 2));
        dlg->depSaidFim->SetDate(QDate(2026, 3, 2)); // equal dates pass

        dlg->rdgListaTipoOper->setChecked(true);
        EXPECT_TRUE(dlg->btpTipoOper->isEnabled());
        refuses(QStringLiteral("Tipo de operação deve ser informado."), "rdgListaTipoOper");
        dlg->rdgTodosTipoOper->setChecked(true);
        EXPECT_FALSE(dlg->btpTipoOper->isEnabled());

        for (fw::TCheckBox* c : {dlg->chbEmisNormal, dlg->chbEmisContFS, dlg->chbEmisContSCAN, dlg->chbEmisContEPEC,
                                 dlg->chbEmisContFSDA, dlg->chbEmisContSVCAN, dlg->chbEmisContSVCRS})
            c->setChecked(false);
        refuses(QStringLiteral("Tipo de emissão deve ser informado."), "chbEmisNormal");
        EXPECT_TRUE(frmTransmissaoCCe->tiposEmis().isEmpty());

        dlg->chbEmisContFSDA->setChecked(true);
        dlg->chbEmisNormal->setChecked(true);
        EXPECT_TRUE(confirm(dlg));
        EXPECT_FALSE(dlg->isVisible());
    });
    EXPECT_TRUE(confirmed);
    ASSERT_EQ(s_calls.size(), 1);
    const QVariantList& a = s_calls.first();
    ASSERT_EQ(a.size(), 16);
    EXPECT_EQ(arg(a, 1), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 2), QStringLiteral("0003"));
    EXPECT_EQ(arg(a, 5), QStringLiteral("IE3"));
    EXPECT_EQ(arg(a, 6), QStringLiteral("IM3"));
    EXPECT_EQ(arg(a, 7), QStringLiteral("3"));
    EXPECT_EQ(arg(a, 9), QStringLiteral("C"));
    EXPECT_EQ(arg(a, 10), QStringLiteral("11222333000181"));
    EXPECT_EQ(arg(a, 13), QStringLiteral("_1__5_")) << "tokens in code order";
    EXPECT_EQ(dateArg(a, 15), QDateTime(QDate(2026, 3, 2), QTime(0, 0)));
    EXPECT_EQ(dateArg(a, 16), QDateTime(QDate(2026, 3, 2), QTime(0, 0)));
    const TRecordFilter& r = frmFiltroTransmissao->RecordFilter;
    EXPECT_EQ(r.DestRem, 0);
    EXPECT_EQ(r.InscCliente, QStringLiteral("11222333000181"));
    EXPECT_EQ(r.NmCliente, QStringLiteral("Cliente Um"));
    EXPECT_EQ(r.CdFiliOrig, QStringLiteral("0003"));
    EXPECT_EQ(r.NmFilialOrig, QStringLiteral("Filial Tres"));
    EXPECT_FALSE(r.SemEmisNormal);
    EXPECT_TRUE(r.SemEmisContFS);
    EXPECT_FALSE(r.SemEmisContFSDA);
    EXPECT_TRUE(r.SemEmisContSVCRS);
}

// --- the arguments of the fetch --------------------------------------------------------

TEST_F(FilterTest, DefaultConfirmationSendsTheCreationCriteria)
{
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) { EXPECT_TRUE(confirm(dlg)); }));
    ASSERT_EQ(s_calls.size(), 1);
    const QVariantList& a = s_calls.first();
    ASSERT_EQ(a.size(), 16);
    // 0001 has no centralising branch of its own: it goes as origin branch.
    EXPECT_EQ(arg(a, 1), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 2), QStringLiteral("0001"));
    EXPECT_EQ(arg(a, 3), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 4), QStringLiteral("01"));
    EXPECT_EQ(arg(a, 5), QStringLiteral("IE1"));
    EXPECT_EQ(arg(a, 6), QStringLiteral("IM1"));
    EXPECT_EQ(arg(a, 7), QStringLiteral("1"));
    EXPECT_EQ(arg(a, 8), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 9), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 10), QStringLiteral("T"));
    EXPECT_EQ(arg(a, 11), QStringLiteral("N"));
    EXPECT_EQ(arg(a, 12), QStringLiteral("S"));
    EXPECT_EQ(arg(a, 13), QStringLiteral("_1__2__3__4__5__6__7_"));
    EXPECT_EQ(a.value(13).typeId(), QMetaType::Bool);
    EXPECT_FALSE(a.value(13).toBool());
    EXPECT_EQ(dateArg(a, 15), QDateTime(QDate(2026, 3, 1), QTime(0, 0)));
    EXPECT_EQ(dateArg(a, 16), QDateTime(QDate(2026, 3, 15), QTime(0, 0)));
    EXPECT_EQ(frmTransmissaoCCe->tiposEmis(), QStringLiteral("_1__2__3__4__5__6__7_"));
}

TEST_F(FilterTest, BranchArgumentsFollowTheCentralisingBranch)
{
    // 0002 is centralised by 0001: it stays the centralising criterion.
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->medCdFilial->setText(QStringLiteral("2"));
        EXPECT_TRUE(exitTo(dlg->medCdFiliOrig)) << "leaving normalises, checks and fills the registrations";
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0002"));
        EXPECT_EQ(dlg->edtFiliEmit->text(), QStringLiteral("Filial Dois"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE2"));
        EXPECT_EQ(dlg->edtCdInscMuni->text(), QStringLiteral("IM2"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("2"));
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 1);
    EXPECT_EQ(arg(s_calls[0], 1), QStringLiteral("0002"));
    EXPECT_EQ(arg(s_calls[0], 2), QStringLiteral("T"));

    // Both branches given: the lookup is not repeated and the last one decides.
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->medCdFilial->setText(QStringLiteral("0001"));
        dlg->medCdFiliOrig->setText(QStringLiteral("0009"));
        EXPECT_TRUE(exitTo(dlg->edtCdInscEsta));
        EXPECT_EQ(dlg->edtNmFilialOrig->text(), QStringLiteral("Faturamento"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE2"));
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 2);
    EXPECT_EQ(arg(s_calls[1], 1), QStringLiteral("0001"));
    EXPECT_EQ(arg(s_calls[1], 2), QStringLiteral("0009"));
}

TEST_F(FilterTest, OriginBranchMustBeCentralisedByTheIssuingBranchAndRelatedToTheCompany)
{
    showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->medCdFiliOrig->setFocus();
        dlg->medCdFiliOrig->setText(QStringLiteral("3"));
        ui.expectMessage(kFilialCad, fw::mbOK);
        EXPECT_FALSE(exitTo(dlg->edtCdInscEsta)) << "0003 is not centralised by 0001";
        EXPECT_EQ(dlg->medCdFiliOrig->text(), QStringLiteral("0003"));
        EXPECT_EQ(focused(dlg), QStringLiteral("medCdFiliOrig"));

        dlg->medCdFilial->setText(QString());
        dlg->medCdFiliOrig->setText(QStringLiteral("0004"));
        ui.expectMessage(kFilialRelac, fw::mbOK);
        EXPECT_FALSE(exitTo(dlg->edtCdInscEsta));
        EXPECT_TRUE(dlg->edtNmFilialOrig->text().isEmpty());
        EXPECT_EQ(focused(dlg), QStringLiteral("medCdFiliOrig"));

        // Related through EMPRCNTRFIL, with no issuing branch: passes and fills its defaults.
        dlg->medCdFiliOrig->setText(QStringLiteral("0003"));
        EXPECT_TRUE(exitTo(dlg->edtCdInscEsta));
        EXPECT_EQ(dlg->edtNmFilialOrig->text(), QStringLiteral("Filial Tres"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE3"));
        EXPECT_EQ(dlg->edtCdInscMuni->text(), QStringLiteral("IM3"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("3"));
        dlg->sbtCancelClick();
    });
}

TEST_F(FilterTest, RecipientKindsDirectionAndDateSwitch)
{
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->cbbDestRem->setItemIndex(2);
        dlg->cbbDestRemChange(dlg->cbbDestRem);
        dlg->cbbIdOperacao->setItemIndex(1);
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 1);
    EXPECT_EQ(arg(s_calls[0], 8), QStringLiteral("T"));
    EXPECT_EQ(arg(s_calls[0], 9), QStringLiteral("L"));
    EXPECT_EQ(arg(s_calls[0], 10), QStringLiteral("T"));
    EXPECT_EQ(arg(s_calls[0], 12), QStringLiteral("E"));

    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->nbkCliente->PageIndex(), 2);
        EXPECT_EQ(dlg->medFilial->EditMask(), QStringLiteral("9999;0; "));
        dlg->medFilial->setFocus();
        dlg->medFilial->setText(QStringLiteral("3"));
        EXPECT_TRUE(exitTo(dlg->cbbIdOperacao));
        EXPECT_EQ(dlg->medFilial->text(), QStringLiteral("0003"));
        EXPECT_EQ(dlg->edtNmFilial->text(), QStringLiteral("Filial Tres")) << "another company's branch is accepted";
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 2);
    EXPECT_EQ(arg(s_calls[1], 8), QStringLiteral("0003"));
    EXPECT_EQ(arg(s_calls[1], 12), QStringLiteral("E"));
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.CdFilialDest, QStringLiteral("0003"));
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.InscCliente, QStringLiteral("0003"));

    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->cbbDestRem->setItemIndex(1);
        dlg->cbbDestRemChange(dlg->cbbDestRem);
        EXPECT_TRUE(dlg->medFilial->text().isEmpty());
        EXPECT_EQ(dlg->medFilial->EditMask(), QStringLiteral("9999;0; ")) << "the kind switch keeps its mask";
        dlg->medFornecedor->setFocus();
        dlg->medFornecedor->setText(QStringLiteral("529.982.247-25"));
        EXPECT_TRUE(exitTo(dlg->cbbIdOperacao));
        EXPECT_EQ(dlg->edtNmRazSocForn->text(), QStringLiteral("Fornecedor Um"));
        EXPECT_EQ(dlg->medFornecedor->EditText(), QStringLiteral("529.982.247-25")) << "shown through the CPF mask";
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 3);
    EXPECT_EQ(arg(s_calls[2], 9), QStringLiteral("F"));
    EXPECT_EQ(arg(s_calls[2], 10), QStringLiteral("52998224725"));
}

TEST_F(FilterTest, LookupsListRegistrationNumbersFormattedAndFillWithoutChecking)
{
    showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->cbbDestRem->setItemIndex(0);
        dlg->cbbDestRemChange(dlg->cbbDestRem);
        int shownRows = 0;
        QString shown;
        ui.expectPick([&](fw::DataSet* ds) {
            shownRows = ds->recordCount();
            ds->first();
            shown = ds->fieldByName(QStringLiteral("NRINSJURCLIE"))->displayText();
            return 1;
        });
        EXPECT_TRUE(dlg->btpCliente->Pesquisa());
        EXPECT_EQ(shownRows, 1);
        EXPECT_EQ(shown, QStringLiteral("11.222.333/0001-81"));
        EXPECT_EQ(ui.picks().last().title, QStringLiteral("Cliente"));
        EXPECT_EQ(dlg->medCliente->text(), QStringLiteral("11222333000181"));
        EXPECT_EQ(dlg->edtNmCliente->text(), QStringLiteral("Cliente Um")) << "the name survives the code's change";
        EXPECT_TRUE(dlg->medCliente->EditMask().isEmpty()) << "no check (and no mask) until the edit is left";

        // The origin lookup lists only what the issuing branch centralises.
        QStringList codes;
        ui.expectPick([&](fw::DataSet* ds) {
            for (ds->first(); !ds->eof(); ds->next())
                codes << ds->fieldByName(QStringLiteral("CDFILIAL"))->asString();
            return 2;
        });
        EXPECT_TRUE(dlg->btpFiliOrig->Pesquisa());
        EXPECT_EQ(codes, (QStringList{QStringLiteral("0002"), QStringLiteral("0009")}));
        EXPECT_EQ(dlg->medCdFiliOrig->text(), QStringLiteral("0009"));
        EXPECT_EQ(dlg->edtNmFilialOrig->text(), QStringLiteral("Faturamento"));
        EXPECT_TRUE(dlg->edtCdInscEsta->text().isEmpty()) << "the origin's change cleared the registrations";
        dlg->sbtCancelClick();
    });
}

TEST_F(FilterTest, ServerErrorTextIsShownAndTheCriteriaAreStoredAllTheSame)
{
    s_errorText = QStringLiteral("Nenhuma nota fiscal encontrada.");
    ui.expectMessage(s_errorText, fw::mbOK);
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->cbbIdOperacao->setItemIndex(1);
        EXPECT_TRUE(confirm(dlg));
    }));
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.IdOperacao, 1);
}

// --- operation types ----------------------------------------------------------------------

TEST_F(FilterTest, OperationTypeListIsPickedByDirectionAndModeAndDroppedByADirectionChange)
{
    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->rdgListaTipoOper->setChecked(true);
        QStringList keys;
        ui.expectPickMany([&keys](fw::DataSet* ds, const QList<int>&) {
            for (ds->first(); !ds->eof(); ds->next())
                keys << ds->fieldByName(QStringLiteral("CHAVE"))->asString();
            return QList<int>{1, 2};
        });
        dlg->btpTipoOperClick(dlg->btpTipoOper);
        // Mode "N" (not bound to a branch): types "N" and "C" of the direction.
        EXPECT_EQ(keys, (QStringList{QStringLiteral("S01"), QStringLiteral("S05")}));
        EXPECT_EQ(stCodTipoOper, QStringLiteral("S01;S05"));
        EXPECT_EQ(ui.picks().last().title, QStringLiteral("Tipo de Operação"));

        dlg->cbbIdOperacao->setItemIndex(1);
        dlg->cbbIdOperacaoChange(dlg->cbbIdOperacao);
        EXPECT_TRUE(stCodTipoOper.isEmpty());
        ui.expectMessage(QStringLiteral("Tipo de operação deve ser informado."), fw::mbOK);
        EXPECT_FALSE(confirm(dlg));

        keys.clear();
        ui.expectPickMany([&keys](fw::DataSet* ds, const QList<int>&) {
            for (ds->first(); !ds->eof(); ds->next())
                keys << ds->fieldByName(QStringLiteral("CHAVE"))->asString();
            return QList<int>{1};
        });
        dlg->btpTipoOperClick(dlg->btpTipoOper);
        EXPECT_EQ(keys, QStringList{QStringLiteral("E02")}) << "entry types only when used in invoices";
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 1) << "the refused confirmation fetched nothing";
    EXPECT_EQ(arg(s_calls[0], 3), QStringLiteral("E02"));
    EXPECT_EQ(arg(s_calls[0], 12), QStringLiteral("E"));
}

TEST_F(FilterTest, TodosSendsNoRestrictionButKeepsThePickedList)
{
    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->rdgListaTipoOper->setChecked(true);
        ui.expectPickMany(QList<int>{2});
        dlg->btpTipoOperClick(dlg->btpTipoOper);
        EXPECT_EQ(stCodTipoOper, QStringLiteral("S05"));
        dlg->rdgTodosTipoOper->setChecked(true);
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 1);
    EXPECT_EQ(arg(s_calls[0], 3), QStringLiteral("T"));
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.CodTipoOper, QStringLiteral("S05"));
    EXPECT_TRUE(frmFiltroTransmissao->RecordFilter.TodosTipoOper);
}

// --- strict and lenient mode -----------------------------------------------------------------

TEST_F(FilterTest, LenientModeAcceptsEmptyRegistrationsAndMatchesSeriesByWhatIsGiven)
{
    s_filtroInscr[QStringLiteral("0001")] = QStringLiteral("S");
    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        EXPECT_TRUE(confirm(dlg)) << "all three may stay empty";
        Q_UNUSED(this);
    }));
    ASSERT_EQ(s_calls.size(), 1);
    EXPECT_EQ(arg(s_calls[0], 5), QStringLiteral("T"));
    EXPECT_EQ(arg(s_calls[0], 6), QStringLiteral("T"));
    EXPECT_EQ(arg(s_calls[0], 7), QStringLiteral("T"));

    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        // Series 7 exists for IE1 only under IM2: accepted with the municipal one empty.
        dlg->edtCdInscEsta->setText(QStringLiteral("IE1"));
        dlg->edtCdSerie->setText(QStringLiteral("7"));
        dlg->edtCdSerie->setFocus();
        const int shows = ui.busyShowCount();
        EXPECT_TRUE(exitTo(dlg->cbbDestRem));
        EXPECT_EQ(ui.busyShowCount(), shows + 1) << "the series check runs under the busy indicator";
        EXPECT_EQ(ui.busyEvents().last().show, false);
        EXPECT_FALSE(ui.busyShown());
        // With both given the series must match exactly.
        dlg->edtCdInscMuni->setText(QStringLiteral("IM1"));
        dlg->edtCdSerie->setText(QStringLiteral("7"));
        ui.expectMessage(QStringLiteral("Série não cadastrada."), fw::mbOK);
        EXPECT_FALSE(confirm(dlg));
        EXPECT_FALSE(ui.busyShown());
        dlg->edtCdInscMuni->setText(QStringLiteral("IM2"));
        dlg->edtCdSerie->setText(QStringLiteral("7"));
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 2);
    EXPECT_EQ(arg(s_calls[1], 7), QStringLiteral("7"));
}

TEST_F(FilterTest, StrictModeRequiresTheExactPairForTheSeries)
{
    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->edtCdInscMuni->setText(QStringLiteral("IM1"));
        dlg->edtCdSerie->setText(QStringLiteral("7"));
        ui.expectMessage(QStringLiteral("Série não cadastrada."), fw::mbOK);
        EXPECT_FALSE(confirm(dlg));
        EXPECT_EQ(focused(dlg), QStringLiteral("edtCdSerie"));
        dlg->edtCdSerie->setText(QStringLiteral("1"));
        EXPECT_TRUE(confirm(dlg));
    }));
}

TEST_F(FilterTest, RegistrationChangesClearWhatDependsOnThem)
{
    showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->edtCdInscEsta->setFocus(); // leaving the branch now refills nothing later
        dlg->edtCdInscMuni->setText(QStringLiteral("IM2"));
        EXPECT_TRUE(dlg->edtCdSerie->text().isEmpty());
        dlg->edtCdSerie->setText(QStringLiteral("1"));
        dlg->edtCdInscEsta->setText(QStringLiteral("IE2"));
        EXPECT_TRUE(dlg->edtCdInscMuni->text().isEmpty());
        EXPECT_TRUE(dlg->edtCdSerie->text().isEmpty());
        // A lookup pick is a change as well.
        dlg->edtCdInscMuni->setText(QStringLiteral("IM2"));
        dlg->edtCdSerie->setText(QStringLiteral("2"));
        ui.expectPick(1);
        EXPECT_TRUE(dlg->btnInscrEstad->Pesquisa());
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE1"));
        EXPECT_TRUE(dlg->edtCdInscMuni->text().isEmpty());
        EXPECT_TRUE(dlg->edtCdSerie->text().isEmpty());
        // Changing the issuing branch with an origin branch given clears nothing.
        dlg->medCdFiliOrig->setText(QStringLiteral("0002"));
        dlg->edtCdInscEsta->setText(QStringLiteral("IE2"));
        dlg->medCdFilial->setText(QStringLiteral("0009"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE2"));
        dlg->sbtCancelClick();
    });
}

// --- the record's round trip -----------------------------------------------------------------

TEST_F(FilterTest, ReshowingRestoresTheAcceptedCriteriaAfterACancel)
{
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        dlg->cbbDestRem->setItemIndex(0);
        dlg->cbbDestRemChange(dlg->cbbDestRem);
        dlg->medCliente->setText(QStringLiteral("11222333000181"));
        dlg->cbbIdOperacao->setItemIndex(1);
        dlg->depSaidIni->SetDate(QDate(2026, 1, 10));
        dlg->chbEmisContSCAN->setChecked(false);
        EXPECT_TRUE(confirm(dlg));
    }));
    const TRecordFilter accepted = frmFiltroTransmissao->RecordFilter;
    EXPECT_EQ(accepted.NmCliente, QStringLiteral("Cliente Um"));
    EXPECT_TRUE(accepted.SemEmisContSCAN);

    auto sameAsAccepted = [](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 0);
        EXPECT_EQ(dlg->nbkCliente->PageIndex(), 0);
        EXPECT_EQ(dlg->medCliente->text(), QStringLiteral("11222333000181"));
        EXPECT_EQ(dlg->edtNmCliente->text(), QStringLiteral("Cliente Um"));
        EXPECT_EQ(dlg->cbbIdOperacao->ItemIndex(), 1);
        EXPECT_EQ(dlg->depSaidIni->GetDate(), QDate(2026, 1, 10));
        EXPECT_EQ(dlg->depSaidFim->GetDate(), QDate(2026, 3, 15));
        EXPECT_FALSE(dlg->chbEmisContSCAN->Checked());
        EXPECT_TRUE(dlg->chbEmisContEPEC->Checked());
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0001"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE1"));
        EXPECT_EQ(dlg->edtCdInscMuni->text(), QStringLiteral("IM1"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("1"));
        EXPECT_TRUE(dlg->rdgTodosTipoOper->Checked());
    };
    EXPECT_FALSE(showDialog([&](TfrmFiltroTransmissao* dlg) {
        sameAsAccepted(dlg);
        dlg->cbbIdOperacao->setItemIndex(0);
        dlg->medCliente->setText(QString());
        dlg->chbEmisContSCAN->setChecked(true);
        dlg->depSaidIni->SetDate(QDate(2026, 3, 5));
        dlg->edtCdInscEsta->setText(QStringLiteral("IE2"));
        dlg->rdgListaTipoOper->setChecked(true);
        dlg->sbtCancelClick();
    }));
    EXPECT_EQ(frmFiltroTransmissao->RecordFilter.DtSaidIni, accepted.DtSaidIni) << "a cancel keeps the record";
    EXPECT_FALSE(showDialog([&](TfrmFiltroTransmissao* dlg) {
        sameAsAccepted(dlg);
        // A changed origin branch comes back, and its change clears the registrations.
        dlg->medCdFiliOrig->setText(QStringLiteral("0002"));
        dlg->sbtCancelClick();
    }));
    EXPECT_FALSE(showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_TRUE(dlg->medCdFiliOrig->text().isEmpty());
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0001"));
        EXPECT_TRUE(dlg->edtCdInscEsta->text().isEmpty());
        EXPECT_TRUE(dlg->edtCdSerie->text().isEmpty());
        dlg->sbtCancelClick();
    }));
    EXPECT_EQ(s_calls.size(), 1);
}

TEST_F(FilterTest, AnotherCompanyStartsFromItsOwnDefaultsAndTheUndoChecksNoField)
{
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) { EXPECT_TRUE(confirm(dlg)); }));
    ASSERT_EQ(frmFiltroTransmissao->RecordFilter.CdFilial, QStringLiteral("0001"));

    // Company 02 has no relation to the host's branch 0001: nothing of 01's is shown.
    frmTransmissaoCCe->medCdEmpresa->setText(QStringLiteral("02"));
    EXPECT_FALSE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        for (QLineEdit* e : {static_cast<QLineEdit*>(dlg->medCdFilial), static_cast<QLineEdit*>(dlg->edtFiliEmit),
                             static_cast<QLineEdit*>(dlg->edtCdInscEsta), static_cast<QLineEdit*>(dlg->edtCdInscMuni),
                             static_cast<QLineEdit*>(dlg->edtCdSerie), static_cast<QLineEdit*>(dlg->medCdFiliOrig)})
            EXPECT_TRUE(e->text().isEmpty()) << e->objectName().toStdString() << ": " << e->text().toStdString();
        EXPECT_EQ(focused(dlg), QStringLiteral("medCdFilial"));
        // A registration of company 01 typed in: the undo moves on without checking it.
        ASSERT_TRUE(exitTo(dlg->edtCdInscEsta));
        dlg->edtCdInscEsta->setText(QStringLiteral("IE1"));
        EXPECT_TRUE(fw::dispatch([dlg] { dlg->sbtDesfazer->Click(); }));
        EXPECT_EQ(focused(dlg), QStringLiteral("cbbDestRem"));
        EXPECT_TRUE(ui.messages().isEmpty()) << ui.report().toStdString();
        dlg->sbtCancelClick();
    }));
    EXPECT_TRUE(frmFiltroTransmissao->RecordFilter.CdFilial.isEmpty());

    // Back to 01: its own defaults again, and they list.
    frmTransmissaoCCe->medCdEmpresa->setText(QStringLiteral("01"));
    EXPECT_TRUE(showDialog([](TfrmFiltroTransmissao* dlg) {
        EXPECT_EQ(dlg->medCdFilial->text(), QStringLiteral("0001"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE1"));
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("1"));
        EXPECT_TRUE(confirm(dlg));
    }));
    EXPECT_EQ(arg(s_calls.last(), 4), QStringLiteral("01"));
    EXPECT_EQ(arg(s_calls.last(), 5), QStringLiteral("IE1"));
}

TEST_F(FilterTest, RecordFieldsFollowThePresetOrder)
{
    TRecordFilter r;
    QVariantList preset{2,
                        1,
                        QStringLiteral("D"),
                        QStringLiteral("I"),
                        QStringLiteral("N"),
                        QStringLiteral("IF"),
                        QStringLiteral("NF"),
                        QStringLiteral("0003"),
                        QStringLiteral("Filial Tres"),
                        QStringLiteral("S01"),
                        QStringLiteral("0001"),
                        QStringLiteral("Matriz"),
                        QStringLiteral("IE1"),
                        QStringLiteral("IM1"),
                        QStringLiteral("1"),
                        QDateTime(QDate(2026, 1, 2), QTime(0, 0)),
                        QDateTime(QDate(2026, 1, 3), QTime(0, 0)),
                        false,
                        true,
                        false,
                        false,
                        false,
                        false,
                        false,
                        true,
                        QStringLiteral("0002"),
                        QStringLiteral("Filial Dois")};
    ASSERT_EQ(preset.size(), TRecordFilter::FieldCount);
    for (int i = 0; i < preset.size(); ++i)
        r.setField(i + 1, preset[i]);
    EXPECT_EQ(r.DestRem, 2);
    EXPECT_EQ(r.IdOperacao, 1);
    EXPECT_EQ(r.CdFilialDest, QStringLiteral("0003"));
    EXPECT_EQ(r.CodTipoOper, QStringLiteral("S01"));
    EXPECT_EQ(r.CdFilial, QStringLiteral("0001"));
    EXPECT_EQ(r.DtSaidFim, QDateTime(QDate(2026, 1, 3), QTime(0, 0)));
    EXPECT_FALSE(r.TodosTipoOper);
    EXPECT_TRUE(r.SemEmisNormal);
    EXPECT_TRUE(r.SemEmisContSVCRS);
    EXPECT_EQ(r.NmFilialOrig, QStringLiteral("Filial Dois"));
    for (int i = 0; i < preset.size(); ++i)
        EXPECT_EQ(r.field(i + 1), preset[i]) << "field " << i + 1;
    // A Null element is the field's empty value.
    r.setField(11, fw::nullValue());
    EXPECT_TRUE(r.CdFilial.isEmpty());
}

// --- closing without a completed confirmation ------------------------------------------------

TEST_F(FilterTest, AFailedConfirmationClosedByTheWindowReportsNoConfirmation)
{
    EXPECT_FALSE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        dlg->edtCdInscEsta->setText(QStringLiteral("IE9"));
        ui.expectMessage(QStringLiteral("Inscrição estadual não relacionada para a empresa informada."), fw::mbOK);
        EXPECT_FALSE(confirm(dlg));
        EXPECT_TRUE(boConfirma);
        dlg->close();
    }));
    EXPECT_FALSE(boConfirma);
    EXPECT_TRUE(s_calls.isEmpty());
}

// --- branch-bound mode -------------------------------------------------------------------------

TEST_F(FilterTest, BranchBoundModeFixesTheOriginBranchAndDisablesBothRows)
{
    fw::HostContext c = baseContext();
    c.branchMode = true;
    setContext(c);
    EXPECT_TRUE(showDialog([this](TfrmFiltroTransmissao* dlg) {
        EXPECT_TRUE(dlg->medCdFilial->text().isEmpty());
        EXPECT_EQ(dlg->medCdFiliOrig->text(), QStringLiteral("0001"));
        EXPECT_EQ(dlg->edtNmFilialOrig->text(), QStringLiteral("Matriz"));
        EXPECT_EQ(dlg->edtCdInscEsta->text(), QStringLiteral("IE1"));
        for (QWidget* w : std::initializer_list<QWidget*>{dlg->lblFilial, dlg->medCdFilial, dlg->btpFiliEmit,
                                                          dlg->lblOrig, dlg->medCdFiliOrig, dlg->btpFiliOrig})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

        // Transmission-kind types exist: the list offers mode "F" only.
        dlg->rdgListaTipoOper->setChecked(true);
        QStringList keys;
        ui.expectPickMany([&keys](fw::DataSet* ds, const QList<int>&) {
            for (ds->first(); !ds->eof(); ds->next())
                keys << ds->fieldByName(QStringLiteral("CHAVE"))->asString();
            return QList<int>{1};
        });
        dlg->btpTipoOperClick(dlg->btpTipoOper);
        EXPECT_EQ(keys, QStringList{QStringLiteral("S06")});

        // An issuing branch set by code that fails sends the user to the registration.
        dlg->medCdFilial->setText(QStringLiteral("0007"));
        ui.expectMessage(kFilialCad, fw::mbOK);
        EXPECT_FALSE(confirm(dlg));
        EXPECT_EQ(focused(dlg), QStringLiteral("edtCdInscEsta"));
        dlg->medCdFilial->setText(QString());
        EXPECT_TRUE(confirm(dlg));
    }));
    ASSERT_EQ(s_calls.size(), 1);
    EXPECT_TRUE(s_calls[0].value(13).toBool()) << "the branch-mode flag the main screen adds";
    EXPECT_EQ(arg(s_calls[0], 1), QStringLiteral("T"));
    EXPECT_EQ(arg(s_calls[0], 2), QStringLiteral("0001"));
    EXPECT_EQ(arg(s_calls[0], 3), QStringLiteral("S06"));
}

// --- undo -------------------------------------------------------------------------------------

TEST_F(FilterTest, CtrlDUndoesTheLowerCriteriaAndPlainDDoesNot)
{
    showDialog([this](TfrmFiltroTransmissao* dlg) {
        auto disturb = [&] {
            dlg->cbbDestRem->setItemIndex(2);
            dlg->cbbDestRemChange(dlg->cbbDestRem);
            dlg->medFilial->setText(QStringLiteral("0002"));
            dlg->cbbIdOperacao->setItemIndex(1);
            dlg->rdgListaTipoOper->setChecked(true);
            stCodTipoOper = QStringLiteral("E02");
            dlg->depSaidIni->SetDate(QDate(2026, 2, 1));
            dlg->chbEmisContFS->setChecked(false);
            dlg->edtCdSerie->setText(QStringLiteral("9"));
        };
        disturb();
        dlg->cbbIdOperacao->setFocus();
        QTest::keyClick(dlg->cbbIdOperacao, Qt::Key_D);
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 2) << "D alone is no undo";
        EXPECT_EQ(stCodTipoOper, QStringLiteral("E02"));

        QTest::keyClick(dlg->cbbIdOperacao, Qt::Key_D, Qt::ControlModifier);
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 3);
        EXPECT_EQ(dlg->nbkCliente->PageIndex(), 3);
        EXPECT_TRUE(dlg->medFilial->text().isEmpty());
        EXPECT_EQ(dlg->cbbIdOperacao->ItemIndex(), 0);
        EXPECT_TRUE(dlg->rdgTodosTipoOper->Checked());
        EXPECT_FALSE(dlg->rdgListaTipoOper->Checked());
        EXPECT_FALSE(dlg->btpTipoOper->isEnabled());
        EXPECT_TRUE(stCodTipoOper.isEmpty());
        EXPECT_EQ(dlg->depSaidIni->GetDate(), QDate(2026, 3, 1));
        EXPECT_EQ(focused(dlg), QStringLiteral("cbbDestRem"));
        // Left alone: the emission types and the upper block.
        EXPECT_FALSE(dlg->chbEmisContFS->Checked());
        EXPECT_EQ(dlg->edtCdSerie->text(), QStringLiteral("9"));

        disturb();
        fw::dispatch([dlg] { dlg->sbtDesfazer->Click(); });
        EXPECT_EQ(dlg->cbbDestRem->ItemIndex(), 3);
        EXPECT_EQ(frmFiltroTransmissao->RecordFilter.DestRem, 3) << "the undo leaves the record alone";
        dlg->sbtCancelClick();
    });
}
