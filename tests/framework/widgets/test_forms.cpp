// The base screen and the routine dialog: elements by name, lifecycle, commands, keys.
#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTabBar>
#include <QTest>
#include <QToolBar>
#include <QVBoxLayout>

#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/Edits.h"
#include "widgets/forms/TfrmPadrao.h"
#include "widgets/forms/TfrmRotiGeral.h"

using namespace fw;

namespace {

class Screen : public TfrmPadrao {
public:
    explicit Screen(QWidget* owner) : TfrmPadrao(owner) { setObjectName(QStringLiteral("frmTeste")); }
    int creates = 0, shows = 0, activates = 0, closes = 0, pageChanges = 0;
    bool failCreate = false;
    TCloseAction closeAction = TCloseAction::caFree;
    void FormCreate(QObject* s) override
    {
        TfrmPadrao::FormCreate(s);
        ++creates;
        if (failCreate)
            throw fw::Error(QStringLiteral("Falha na criação"));
    }
    void FormShow(QObject* s) override
    {
        TfrmPadrao::FormShow(s);
        ++shows;
    }
    void FormActivate(QObject* s) override
    {
        TfrmPadrao::FormActivate(s);
        ++activates;
    }
    void FormClose(QObject* s, TCloseAction& a) override
    {
        TfrmPadrao::FormClose(s, a);
        ++closes;
        a = closeAction;
    }
    void pgcPadraoChange(QObject* s) override
    {
        TfrmPadrao::pgcPadraoChange(s);
        ++pageChanges;
    }
};

class Dialog : public TfrmRotiGeral {
public:
    explicit Dialog(QWidget* owner) : TfrmRotiGeral(owner)
    {
        setObjectName(QStringLiteral("frmFiltro"));
        auto* lay = new QVBoxLayout(grbDadosRel);
        medA = new TMaskEdit(grbDadosRel, QStringLiteral("medA"));
        edtB = new TEdit(grbDadosRel, QStringLiteral("edtB"));
        lay->addWidget(medA);
        lay->addWidget(edtB);
    }
    TMaskEdit* medA;
    TEdit* edtB;
    int closes = 0, cancels = 0, undos = 0;
    void FormClose(QObject* s, TCloseAction& a) override
    {
        TfrmRotiGeral::FormClose(s, a);
        ++closes;
    }
    void sbtCancelClick(QObject* s) override
    {
        TfrmRotiGeral::sbtCancelClick(s);
        ++cancels;
    }
    void FormKeyDown(QObject* s, int& key, Qt::KeyboardModifiers shift) override
    {
        TfrmRotiGeral::FormKeyDown(s, key, shift);
        if (key == 68 && (shift & Qt::ControlModifier)) // Ctrl+D
            ++undos;
    }
};

class Forms : public wt::UiTest {};

template <class T>
T* child(QObject* form, const char* name)
{
    return form->findChild<T*>(QString::fromLatin1(name));
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

} // namespace

TEST_F(Forms, BaseScreenElementsAreFoundByNameWithTheirCaptions)
{
    QPointer<Screen> s = createForm<Screen>(nullptr);
    const char* buttons[][2] = {{"sbtIncluir", "Incluir"},   {"sbtAlterar", "Alterar"},     {"sbtExcluir", "Excluir"},
                                {"sbtProcurar", "Procurar"}, {"sbtVerificar", "Verificar"}, {"sbtGravar", "Gravar"},
                                {"sbtCancelar", "Cancelar"}, {"sbtImprimir", "Imprimir"},   {"sbtAjuda", "Ajuda"},
                                {"sbtFechar", "Fechar"}};
    for (auto& b : buttons) {
        auto* btn = child<TSpeedButton>(s, b[0]);
        ASSERT_NE(btn, nullptr) << b[0];
        EXPECT_EQ(btn->Hint(), QString::fromUtf8(b[1])) << b[0];
    }
    EXPECT_EQ(child<QMenu>(s, "mnuOperacao")->title(), QStringLiteral("&Operação"));
    EXPECT_EQ(child<QMenu>(s, "mnuManutencao")->title(), QStringLiteral("&Manutenção"));
    for (const char* a :
         {"mnuFolhaDados", "mnuFormulario", "mnuListagem", "mnuConfigImpressora", "mnuImprimir", "mnuFechar",
          "mnuIncluir", "mnuAlterar", "mnuExcluir", "mnuProcurar", "mnuVerificar", "mnuGravar", "mnuCancelar"})
        EXPECT_NE(child<QAction>(s, a), nullptr) << a;
    EXPECT_TRUE(child<QMenu>(s, "mnuManutencao")->actions().contains(child<QAction>(s, "mnuGravar")));
    auto* pgc = child<TPageControl>(s, "pgcPadrao");
    ASSERT_NE(pgc, nullptr);
    EXPECT_EQ(pgc->count(), 2);
    EXPECT_EQ(pgc->widget(0)->objectName(), QStringLiteral("tshFolhaDados"));
    EXPECT_EQ(pgc->widget(1)->objectName(), QStringLiteral("tshFormulario"));
    EXPECT_EQ(child<TDBGrid>(s, "dbgPadrao")->parentWidget(), pgc->widget(0));
    EXPECT_NE(child<TDataSource>(s, "dtsPadrao"), nullptr);
    EXPECT_NE(child<TMessages>(s, "msgPadrao"), nullptr);
    EXPECT_NE(child<TDBNavigator>(s, "dbnPadrao"), nullptr);
    EXPECT_EQ(child<TDBText>(s, "dbtNome")->parentWidget(), child<QWidget>(s, "panNavegador"));
    s->setCodTela(QStringLiteral("DFS59000"));
    EXPECT_EQ(child<TLabel>(s, "lblCodTela")->text(), QStringLiteral("DFS59000"));
    EXPECT_EQ(s->creates, 1);
    s->DoCreate(); // never twice
    EXPECT_EQ(s->creates, 1);
    delete s;
}

TEST_F(Forms, AFailingFormCreateIsShownAndTheFormExists)
{
    struct Failing : Screen {
        explicit Failing(QWidget* o) : Screen(o) { failCreate = true; }
    };
    ui.expectMessage(QStringLiteral("Falha na criação"), mbOK);
    Failing* f = createForm<Failing>(nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->creates, 1);
    delete f;
}

TEST_F(Forms, CommandsActOnTheDataSourceAndDeleteAsksFirst)
{
    QPointer<Screen> s = createForm<Screen>(nullptr);
    DataSet* ds = wt::makeDataSet(s, 3);
    s->dtsPadrao->setDataSet(ds);
    EXPECT_TRUE(s->sbtIncluir->isEnabled());
    EXPECT_FALSE(s->sbtGravar->isEnabled());

    s->sbtAlterar->click();
    EXPECT_EQ(ds->state(), DataSetState::Edit);
    EXPECT_TRUE(s->sbtGravar->isEnabled());
    EXPECT_FALSE(s->sbtIncluir->isEnabled());
    EXPECT_FALSE(s->panNavegador->isEnabled());
    s->sbtCancelar->click();
    EXPECT_EQ(ds->state(), DataSetState::Browse);

    s->mnuIncluir->trigger();
    EXPECT_EQ(ds->state(), DataSetState::Insert);
    ds->fieldByName(QStringLiteral("CODE"))->setAsString(QStringLiteral("Z999"));
    s->sbtGravar->click();
    EXPECT_EQ(ds->recordCount(), 4);

    ds->first();
    ui.expectMessage(QStringLiteral("Confirma a exclusão do registro?"), mbNo);
    s->sbtExcluir->click();
    EXPECT_EQ(ds->recordCount(), 4);
    ui.expectMessage(QStringLiteral("Confirma a exclusão do registro?"), mbYes);
    s->sbtExcluir->click();
    EXPECT_EQ(ds->recordCount(), 3);
    EXPECT_EQ(ui.messages().first().kind, MsgKind::Confirmation);
    delete s;
}

TEST_F(Forms, PagesRefuseDisabledPagesAndOnlyTheUserRaisesTheChange)
{
    QPointer<Screen> s = createForm<Screen>(nullptr);
    TPageControl* pgc = s->pgcPadrao;
    s->tshFormulario->setEnabled(false);
    EXPECT_FALSE(pgc->tabBar()->isTabEnabled(1));
    EXPECT_FALSE(pgc->SetActivePage(s->tshFormulario));
    EXPECT_EQ(pgc->ActivePage(), s->tshFolhaDados);
    s->mnuFormulario->trigger();
    EXPECT_EQ(pgc->ActivePage(), s->tshFolhaDados);
    EXPECT_EQ(s->pageChanges, 0);

    s->tshFormulario->setEnabled(true);
    EXPECT_TRUE(pgc->tabBar()->isTabEnabled(1));
    EXPECT_TRUE(pgc->SetActivePage(s->tshFormulario));
    EXPECT_EQ(s->pageChanges, 0); // code sets the page: no handler
    s->mnuFolhaDados->trigger(); // the menu item: page and handler
    EXPECT_EQ(pgc->ActivePage(), s->tshFolhaDados);
    EXPECT_EQ(s->pageChanges, 1);
    EXPECT_TRUE(s->mnuFolhaDados->isChecked());

    pgc->tabBar()->setCurrentIndex(1); // as a tab click does
    EXPECT_EQ(s->pageChanges, 2);

    // A disabled active page stays active.
    s->tshFormulario->setEnabled(false);
    EXPECT_EQ(pgc->ActivePage(), s->tshFormulario);

    // Enter in the grid goes to the form page when it can.
    s->tshFormulario->setEnabled(true);
    pgc->SetActivePage(s->tshFolhaDados);
    QTest::keyClick(s->dbgPadrao, Qt::Key_Return);
    EXPECT_EQ(pgc->ActivePage(), s->tshFormulario);
    delete s;
}

TEST_F(Forms, ShowActivateAndCloseFollowTheHost)
{
    QPointer<Screen> s = createForm<Screen>(nullptr);
    s->Show();
    EXPECT_EQ(s->shows, 1);
    wt::showActive(s);
    if (!s->isActiveWindow())
        GTEST_SKIP() << "the platform gives no active window";
    EXPECT_EQ(s->activates, 1);

    // The return from a dialog over the screen is no new activation (a cancelled filter
    // would open again by itself); coming back from another window is.
    auto* dlg = createForm<Dialog>(nullptr);
    ui.expectModal([](QWidget* form) { static_cast<Dialog*>(form)->sbtCancelClick(nullptr); });
    EXPECT_FALSE(fw::ui().execModal(dlg));
    EXPECT_EQ(s->activates, 1);
    QWidget other;
    wt::showActive(&other);
    wt::showActive(s);
    EXPECT_EQ(s->activates, 2);

    // caHide keeps the screen; caFree (the base) deletes it.
    s->closeAction = TCloseAction::caHide;
    EXPECT_TRUE(s->Close());
    EXPECT_FALSE(s->isVisible());
    flushDeletes();
    ASSERT_FALSE(s.isNull());
    s->closeAction = TCloseAction::caNone;
    s->Show();
    EXPECT_FALSE(s->Close());
    EXPECT_TRUE(s->isVisible());
    s->closeAction = TCloseAction::caFree;
    s->sbtFechar->click();
    EXPECT_EQ(s->closes, 3);
    flushDeletes();
    EXPECT_TRUE(s.isNull());
    delete dlg;
}

TEST_F(Forms, RoutineDialogElementsAndCancelByButtonOrEsc)
{
    Dialog* d = createForm<Dialog>(nullptr);
    for (const char* n : {"lblCodTela", "grbDadosRel", "panMenu", "panHelp", "panBotoes", "sbtConfirma", "sbtCancel"})
        EXPECT_NE(d->findChild<QWidget*>(QString::fromLatin1(n)), nullptr) << n;
    EXPECT_EQ(d->panHelp->parentWidget(), d->panMenu);
    EXPECT_EQ(d->sbtConfirma->parentWidget(), d->panBotoes);
    EXPECT_NE(d->findChild<TMessages*>(QStringLiteral("msgPadrao")), nullptr);

    // Esc typed in an edit of the dialog cancels it: hidden, rejected, not destroyed.
    QPointer<Dialog> guard(d);
    ui.expectModal([](QWidget* form) {
        auto* dlg = static_cast<Dialog*>(form);
        QTest::keyClick(dlg->medA, Qt::Key_Escape);
    });
    EXPECT_FALSE(fw::ui().execModal(d));
    EXPECT_EQ(d->cancels, 1);
    EXPECT_EQ(d->closes, 1);
    EXPECT_FALSE(d->isVisible());
    flushDeletes();
    ASSERT_FALSE(guard.isNull());

    // Confirm through the result; the window's own close goes through FormClose too.
    ui.expectModal([](QWidget* form) { static_cast<Dialog*>(form)->setModalResult(QDialog::Accepted); });
    EXPECT_TRUE(fw::ui().execModal(d));
    EXPECT_EQ(d->closes, 2);
    ui.expectModal([](QWidget* form) { form->close(); });
    EXPECT_FALSE(fw::ui().execModal(d));
    EXPECT_EQ(d->closes, 3);
    EXPECT_EQ(d->cancels, 1);
    delete d;
}

TEST_F(Forms, RoutineDialogKeysEnterMovesOnAndCtrlDReachesTheDialog)
{
    Dialog* d = createForm<Dialog>(nullptr);
    ui.expectModal([&](QWidget*) {
        ASSERT_TRUE(moveFocus(d->medA));
        QTest::keyClick(d->medA, Qt::Key_Return);
        EXPECT_EQ(focusedControl(d), d->edtB);
        QTest::keyClick(d->edtB, Qt::Key_D, Qt::ControlModifier);
        QTest::keyClick(d->edtB, Qt::Key_D); // without Ctrl: typed
        EXPECT_EQ(d->edtB->Text(), QStringLiteral("d"));
        ui.expectMessage(QStringLiteral("Ajuda não disponível para esta tela."), mbOK);
        QTest::keyClick(d->edtB, Qt::Key_F1);
    });
    fw::ui().execModal(d);
    EXPECT_EQ(d->undos, 1);
    EXPECT_EQ(d->cancels, 0);
    delete d;
}

namespace {

// A host like the application's: an MDI area in a main window.
class MdiHost : public FormHost {
public:
    MdiHost()
    {
        area = new QMdiArea(&window);
        window.setCentralWidget(area);
        window.resize(900, 600);
    }
    QWidget* mainWindow() override { return &window; }
    void showMdiChild(QWidget* form) override
    {
        QMdiSubWindow* sub = nullptr;
        for (QMdiSubWindow* w : area->subWindowList())
            if (w->widget() == form)
                sub = w;
        if (!sub) {
            sub = area->addSubWindow(form);
            sub->setAttribute(Qt::WA_DeleteOnClose, false);
        }
        form->show();
        sub->show();
        area->setActiveSubWindow(sub);
    }
    QMainWindow window;
    QMdiArea* area;
};

} // namespace

TEST_F(Forms, MdiChildrenActivateWithTheirSubWindowAndCloseWithIt)
{
    MdiHost host;
    setFormHost(&host);
    wt::showActive(&host.window);
    if (!host.window.isActiveWindow()) {
        setFormHost(nullptr);
        GTEST_SKIP() << "the platform gives no active window";
    }
    QPointer<Screen> a = createForm<Screen>();
    QPointer<Screen> b = createForm<Screen>();
    EXPECT_EQ(a->parentWidget(), &host.window); // owned by the host until shown
    a->Show();
    EXPECT_EQ(a->activates, 1);
    b->Show();
    EXPECT_EQ(b->activates, 1);
    EXPECT_FALSE(a->isFormActive());
    host.area->setActiveSubWindow(a->subWindow());
    EXPECT_EQ(a->activates, 2);
    EXPECT_EQ(b->activates, 1);

    // Showing the active screen again is no new activation.
    a->Show();
    EXPECT_EQ(a->activates, 2);

    // Going to another screen is no exit of the field left in the first one.
    auto* edtA = new TEdit(a->panCabecalho, QStringLiteral("edtA"));
    auto* edtB = new TEdit(b->panCabecalho, QStringLiteral("edtB"));
    a->headerLayout()->addWidget(edtA);
    b->headerLayout()->addWidget(edtB);
    edtA->show();
    edtB->show();
    int exitsA = 0;
    edtA->OnExit = [&](QObject*) {
        ++exitsA;
        throw fw::Abort();
    };
    ASSERT_TRUE(moveFocus(edtA));
    host.area->setActiveSubWindow(b->subWindow());
    EXPECT_TRUE(moveFocus(edtB));
    edtB->setFocus();
    EXPECT_EQ(exitsA, 0);
    EXPECT_EQ(focusedControl(edtA), edtA);
    host.area->setActiveSubWindow(a->subWindow());

    // The sub-window's own close button closes the screen through FormClose.
    QPointer<QMdiSubWindow> sub = b->subWindow();
    sub->close();
    EXPECT_EQ(b->closes, 1);
    flushDeletes();
    EXPECT_TRUE(b.isNull());
    EXPECT_TRUE(sub.isNull());
    EXPECT_EQ(host.area->subWindowList().size(), 1);
    setFormHost(nullptr);
    delete a;
}
