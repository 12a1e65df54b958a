// The focus as a user moves it, with the screen inside an MDI area as the host shows it:
// the filter dialog opened by leaving the company panel has working field checks, the
// page change by menu or shortcut never passes through the company panel, and focus that
// the MDI frame takes or a window activation gives back is no exit and no entry.
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabBar>
#include <QTest>

#include "core/errors/Dispatch.h"
#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/values/Value.h"
#include "module/Cli_dfs59300.h"
#include "tests/module/grid/GridFixture.h"
#include "tests/support/ModuleTestSupport.h"
#include "widgets/controls/ControlEvents.h"
#include "widgets/forms/FormHost.h"

namespace {

// A host like erp-host: forms become MDI children of one main window.
class MdiHost : public fw::FormHost {
public:
    MdiHost()
    {
        window.setCentralWidget(&mdi);
        window.resize(1280, 800);
    }
    QWidget* mainWindow() override { return &window; }
    bool failNextShow = false;
    void showMdiChild(QWidget* form) override
    {
        if (failNextShow) {
            failNextShow = false;
            throw fw::Error(QStringLiteral("A janela principal não pôde mostrar a tela."));
        }
        for (QMdiSubWindow* s : mdi.subWindowList())
            if (s->widget() == form) {
                s->showNormal();
                mdi.setActiveSubWindow(s);
                return;
            }
        QMdiSubWindow* s = mdi.addSubWindow(form);
        s->resize(1100, 700);
        s->show();
        mdi.setActiveSubWindow(s);
    }
    QMainWindow window;
    QMdiArea mdi;
};

// Activates a top-level window as the window manager does after a dialog closes.
void reactivate(QWidget* w)
{
    w->activateWindow();
    QApplication::setActiveWindow(w);
    QApplication::processEvents();
}

} // namespace

class FocusRoads : public GridTest {
protected:
    static void SetUpTestSuite()
    {
        GridTest::SetUpTestSuite();
        s_host = new MdiHost;
        fw::setFormHost(s_host);
        s_host->window.show();
        reactivate(&s_host->window);
        fw::setHostContext(cce_test::companyContext());
        CriaTransmissaoCCe(fw::nullValue());
        boFiltrado = true;
    }
    static void TearDownTestSuite()
    {
        GridTest::TearDownTestSuite();
        fw::setFormHost(nullptr);
        delete s_host;
        s_host = nullptr;
    }
    void SetUp() override
    {
        boFiltrado = true;
        GridTest::SetUp();
        ASSERT_TRUE(f->parentWidget() && qobject_cast<QMdiSubWindow*>(f->parentWidget())) << "not an MDI child";
        // A list is on the screen: leaving the company panel opens no dialog until a test says so.
        boFiltrado = true;
        reactivate(&s_host->window);
        load(many(3, QStringLiteral("1"), QStringLiteral("IE1")));
        f->mnuFolhaDadosClick(f);
        f->dbgPadrao->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
        ASSERT_EQ(fw::focusedControl(f), f->dbgPadrao);
        ASSERT_TRUE(ui.modalForms().isEmpty()) << ui.report().toStdString();
    }
    QMdiSubWindow* frame() const { return qobject_cast<QMdiSubWindow*>(f->parentWidget()); }
    static inline MdiHost* s_host = nullptr;
};

TEST_F(FocusRoads, TheDialogOpenedByLeavingTheCompanyPanelChecksItsOwnFields)
{
    f->medCdEmpresa->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(fw::focusedControl(f), f->medCdEmpresa);
    // The user typed another company: leaving the panel asks for the criteria.
    boFiltrado = false;
    QString normalised;
    int paramCallsBefore = 0;
    ui.expectModal([&](QWidget* form) {
        auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(dlg, nullptr);
        dlg->medCdFilial->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        dlg->medCdFilial->setText(QStringLiteral("2"));
        // The user presses Tab: a real focus change inside the dialog.
        dlg->medCdFiliOrig->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        normalised = dlg->medCdFilial->text();
        dlg->sbtCancelClick(dlg->sbtCancel);
    });
    // Leaving the panel for the grid, as a click does.
    f->dbgPadrao->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(ui.modalForms(), QStringList{QStringLiteral("frmFiltroTransmissao")});
    EXPECT_EQ(normalised, QStringLiteral("0002")) << "the branch's exit did not run inside the dialog";
    Q_UNUSED(paramCallsBefore);
    // Cancelled: the focus stays in the company panel, and the activation given back
    // afterwards opens nothing by itself.
    reactivate(&s_host->window);
    EXPECT_EQ(ui.modalForms().size(), 1);
    EXPECT_EQ(fw::focusedControl(f), f->medCdEmpresa);
}

TEST_F(FocusRoads, TheCorrectionPageByMenuOrShortcutNeverPassesThroughTheCompanyPanel)
{
    ASSERT_EQ(fw::focusedControl(f), f->dbgPadrao);
    f->mnuFormulario->trigger();
    QApplication::processEvents();
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFormulario);
    EXPECT_TRUE(f->cdsNotaFiscal->active()) << "the company panel was entered and closed the lists";
    EXPECT_EQ(fw::focusedControl(f), f->dbmCorrecao);

    // Back on the data page the grid has the focus, never the memo hidden with its page.
    f->mnuFolhaDados->trigger();
    QApplication::processEvents();
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFolhaDados);
    EXPECT_EQ(fw::focusedControl(f), f->dbgPadrao);
    f->dbgPadrao->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    // The shortcut, typed on the grid.
    QTest::keyClick(f->dbgPadrao, Qt::Key_2, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFormulario);
    EXPECT_TRUE(f->cdsNotaFiscal->active());
    EXPECT_EQ(fw::focusedControl(f), f->dbmCorrecao);
}

TEST_F(FocusRoads, AMouseClickOnATabKeepsTheListAndGivesTheFocusAsAPageChangeDoes)
{
    // The user clicked a row of the grid, then the "Correção" tab.
    ASSERT_EQ(fw::focusedControl(f), f->dbgPadrao);
    QTabBar* tabs = f->pgcPadrao->tabBar();
    const int correcao = f->pgcPadrao->indexOf(f->tshFormulario);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(correcao).center());
    QApplication::processEvents();
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFormulario);
    EXPECT_TRUE(f->cdsNotaFiscal->active()) << "the company panel was entered and closed the lists";
    EXPECT_EQ(fw::focusedControl(f), f->dbmCorrecao);
    EXPECT_TRUE(ui.modalForms().isEmpty()) << "the company panel was left and opened the filter";

    // And back to "Nota Fiscal" by its tab: the grid, with its rows.
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(f->pgcPadrao->indexOf(f->tshFolhaDados)).center());
    QApplication::processEvents();
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFolhaDados);
    EXPECT_EQ(f->cdsNotaFiscal->recordCount(), 3);
    EXPECT_EQ(fw::focusedControl(f), f->dbgPadrao);
}

TEST_F(FocusRoads, TheFrameTakingTheFocusOrAnActivationGivingItBackIsNoExitAndNoEntry)
{
    // On the grid, the window is activated again and Qt hands the focus to a stale control.
    ASSERT_EQ(fw::focusedControl(f), f->dbgPadrao);
    f->medCdEmpresa->setFocus(Qt::ActiveWindowFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(f->cdsNotaFiscal->active()) << "taken for entering the company panel";
    EXPECT_EQ(fw::focusedControl(f), f->dbgPadrao) << "the control that had the focus did not get it back";

    // In the company panel (the user clicked into it), a click on the filter button hands
    // the focus to the frame: that is no leaving of the panel.
    boFiltrado = false;
    f->medCdEmpresa->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    frame()->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    EXPECT_TRUE(ui.modalForms().isEmpty()) << "taken for leaving the company panel";
    EXPECT_EQ(fw::focusedControl(f), f->medCdEmpresa);
    boFiltrado = true;
}

namespace {

// The host's preset for company 01, every criterion open, positioned on entry nr.
QVariantList presetFor(const QString& entry)
{
    QVariantList p(32);
    p[0] = true;
    p[1] = 3;
    p[2] = 0;
    for (int i = 3; i <= 15; ++i)
        p[i] = QString();
    p[16] = fw::nullValue();
    p[17] = fw::nullValue();
    for (int i = 18; i <= 25; ++i)
        p[i] = false;
    p[18] = true;
    p[26] = QString();
    p[27] = QString();
    p[28] = QStringLiteral("01");
    p[29] = QStringLiteral("Empresa Um");
    p[30] = QStringLiteral("0001");
    p[31] = entry;
    return p;
}

} // namespace

TEST_F(FocusRoads, APresetHandedToTheActiveScreenIsAppliedAtOnceAndOnce)
{
    ASSERT_TRUE(f->isFormActive());
    gridserver::calls.clear();
    gridserver::invoices = many(3, QStringLiteral("1"), QStringLiteral("IE1"));
    CriaTransmissaoCCe(presetFor(QStringLiteral("0000000002")));
    QApplication::processEvents();
    EXPECT_EQ(gridserver::calls.size(), 1);
    EXPECT_TRUE(fw::isNull(oleParam));
    EXPECT_EQ(current("NRLANCTONF"), QStringLiteral("0000000002"));
}

TEST_F(FocusRoads, ACancelledDialogEndsTheFilterPresetWhichStaysForTheNextActivation)
{
    gridserver::invoices = many(3, QStringLiteral("1"), QStringLiteral("IE1"));
    f->medCdEmpresa->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    boFiltrado = false;
    const QVariantList p = presetFor(QStringLiteral("0000000001"));
    oleParam = p;
    ui.expectModal([](QWidget* form) {
        auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(dlg, nullptr);
        dlg->sbtCancelClick(dlg->sbtCancel);
    });
    // The preset is applied by the screen's activation, as the host's call brings it.
    f->activateForm();
    QApplication::processEvents();
    EXPECT_EQ(ui.modalForms().size(), 1);
    EXPECT_EQ(oleParam.toList(), p);
    EXPECT_FALSE(boFiltrado);
    boFiltrado = true;
}

TEST_F(FocusRoads, TheHourGlassNeverStaysOnAndNoScreenOrPrintFormOutlivesItsUse)
{
    // A failure while the screen is shown: the cursor comes back.
    s_host->failNextShow = true;
    ui.expectMessage(QStringLiteral("A janela principal não pôde mostrar a tela."), fw::mbOK);
    EXPECT_FALSE(fw::dispatch([] { CriaTransmissaoCCe(fw::nullValue()); }));
    EXPECT_EQ(ui.cursor(), 0);

    // The print form: closed, the next print makes a new one and the old one is gone.
    ui.expectModal([](QWidget* form) { form->close(); });
    CriaCCe(QStringLiteral("0001"), QStringLiteral("0000000001"));
    QPointer<TfrmCCe> first = frmCCe;
    ASSERT_TRUE(first);
    ui.expectModal([](QWidget* form) { form->close(); });
    CriaCCe(QStringLiteral("0001"), QStringLiteral("0000000002"));
    EXPECT_FALSE(first) << "one print form leaked per print";
    EXPECT_EQ(stNrLanctoNF, QStringLiteral("0000000002"));
    EXPECT_EQ(ui.cursor(), 0);

    // The screen destroyed without its close: the next call creates it again.
    delete frmTransmissaoCCe;
    EXPECT_FALSE(boStCriado);
    CriaTransmissaoCCe(fw::nullValue());
    EXPECT_NE(frmTransmissaoCCe, nullptr);
    f = frmTransmissaoCCe;
    boFiltrado = true;
}
