#include "widgets/forms/TfrmPadrao.h"

#include <QApplication>
#include <QDialog>

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/errors/Dispatch.h"
#include "core/ui/UiServices.h"

namespace fw {

TfrmPadrao::TfrmPadrao(QWidget* owner) : QMainWindow(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmPadrao"));
    ensureFocusWatcher();
    buildUi();
    installEventFilter(this);
    TfrmPadrao::dtsPadraoStateChange(dtsPadrao);
}

TfrmPadrao::~TfrmPadrao() = default;

void TfrmPadrao::buildUi()
{
    // --- tool bar ---
    tlbPadrao = new QToolBar(this);
    tlbPadrao->setObjectName(QStringLiteral("tlbPadrao"));
    tlbPadrao->setMovable(false);
    tlbPadrao->setFloatable(false);
    tlbPadrao->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, tlbPadrao);

    auto button = [this](const char* name, const QString& hint, const char* glyph) {
        auto* b = new TSpeedButton(tlbPadrao, QString::fromLatin1(name), hint);
        b->setText(hint);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setGlyph(QString::fromLatin1(glyph));
        tlbPadrao->addWidget(b);
        return b;
    };
    sbtIncluir = button("sbtIncluir", QStringLiteral("Incluir"), "document-new");
    sbtAlterar = button("sbtAlterar", QStringLiteral("Alterar"), "document-properties");
    sbtExcluir = button("sbtExcluir", QStringLiteral("Excluir"), "edit-delete");
    sbtProcurar = button("sbtProcurar", QStringLiteral("Procurar"), "edit-find");
    sbtVerificar = button("sbtVerificar", QStringLiteral("Verificar"), "view-refresh");
    sbtGravar = button("sbtGravar", QStringLiteral("Gravar"), "document-save");
    sbtCancelar = button("sbtCancelar", QStringLiteral("Cancelar"), "edit-undo");
    tlbPadrao->addSeparator();
    sbtImprimir = button("sbtImprimir", QStringLiteral("Imprimir"), "document-print");
    sbtAjuda = button("sbtAjuda", QStringLiteral("Ajuda"), "help-browser");
    sbtFechar = button("sbtFechar", QStringLiteral("Fechar"), "system-log-out");
    tlbPadrao->addSeparator();
    auto* spacer = new QWidget(tlbPadrao);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_codTelaAction = tlbPadrao->addWidget(spacer);
    lblCodTela = new TLabel(tlbPadrao, QStringLiteral("lblCodTela"));
    lblCodTela->setContentsMargins(6, 0, 6, 0);
    tlbPadrao->addWidget(lblCodTela);

    // --- menus ---
    auto action = [this](QMenu* menu, const char* name, const QString& text, const QKeySequence& key = {}) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) {
            a->setShortcut(key);
            // Only while this screen holds the focus: several screens share the host's window.
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            addAction(a);
        }
        menu->addAction(a);
        return a;
    };
    mnuOperacao = menuBar()->addMenu(QStringLiteral("&Operação"));
    mnuOperacao->setObjectName(QStringLiteral("mnuOperacao"));
    mnuFolhaDados = action(mnuOperacao, "mnuFolhaDados", QStringLiteral("&Dados"), QKeySequence(Qt::CTRL | Qt::Key_1));
    mnuFormulario =
        action(mnuOperacao, "mnuFormulario", QStringLiteral("&Formulário"), QKeySequence(Qt::CTRL | Qt::Key_2));
    mnuFolhaDados->setCheckable(true);
    mnuFormulario->setCheckable(true);
    mnuOperacao->addSeparator();
    mnuListagem = action(mnuOperacao, "mnuListagem", QStringLiteral("&Listagem"));
    mnuConfigImpressora = action(mnuOperacao, "mnuConfigImpressora", QStringLiteral("&Configurar Impressora"));
    mnuImprimir = action(mnuOperacao, "mnuImprimir", QStringLiteral("&Imprimir"), QKeySequence(Qt::CTRL | Qt::Key_P));
    mnuOperacao->addSeparator();
    mnuFechar = action(mnuOperacao, "mnuFechar", QStringLiteral("&Fechar"));
    mnuAjuda = action(mnuOperacao, "mnuAjuda", QStringLiteral("&Ajuda"), QKeySequence(Qt::Key_F1));

    mnuManutencao = menuBar()->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    mnuIncluir =
        action(mnuManutencao, "mnuIncluir", QStringLiteral("&Incluir"), QKeySequence(Qt::CTRL | Qt::Key_Insert));
    mnuAlterar = action(mnuManutencao, "mnuAlterar", QStringLiteral("&Alterar"), QKeySequence(Qt::Key_F2));
    mnuExcluir =
        action(mnuManutencao, "mnuExcluir", QStringLiteral("&Excluir"), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    mnuProcurar = action(mnuManutencao, "mnuProcurar", QStringLiteral("&Procurar"), QKeySequence(Qt::CTRL | Qt::Key_F));
    mnuVerificar = action(mnuManutencao, "mnuVerificar", QStringLiteral("&Verificar"), QKeySequence(Qt::Key_F5));
    mnuGravar = action(mnuManutencao, "mnuGravar", QStringLiteral("&Gravar"), QKeySequence(Qt::CTRL | Qt::Key_S));
    mnuCancelar = action(mnuManutencao, "mnuCancelar", QStringLiteral("&Cancelar"),
                         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));

    // --- body ---
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("panPrincipal"));
    auto* body = new QVBoxLayout(central);
    body->setContentsMargins(4, 4, 4, 4);
    body->setSpacing(4);
    panCabecalho = new TPanel(central, QStringLiteral("panCabecalho"));
    auto* header = new QVBoxLayout(panCabecalho);
    header->setContentsMargins(0, 0, 0, 0);
    body->addWidget(panCabecalho);

    pgcPadrao = new TPageControl(central, QStringLiteral("pgcPadrao"));
    tshFolhaDados = pgcPadrao->addPage(QStringLiteral("tshFolhaDados"), QStringLiteral("Dados"));
    tshFormulario = pgcPadrao->addPage(QStringLiteral("tshFormulario"), QStringLiteral("Formulário"));
    auto* dataLayout = new QVBoxLayout(tshFolhaDados);
    dataLayout->setContentsMargins(0, 0, 0, 0);
    dbgPadrao = new TDBGrid(tshFolhaDados, QStringLiteral("dbgPadrao"));
    dataLayout->addWidget(dbgPadrao);
    body->addWidget(pgcPadrao, 1);

    panNavegador = new TPanel(central, QStringLiteral("panNavegador"));
    auto* nav = new QHBoxLayout(panNavegador);
    nav->setContentsMargins(0, 0, 0, 0);
    dbnPadrao = new TDBNavigator(panNavegador, QStringLiteral("dbnPadrao"));
    dbtNome = new TDBText(panNavegador, QStringLiteral("dbtNome"));
    nav->addWidget(dbnPadrao);
    nav->addWidget(dbtNome, 1);
    body->addWidget(panNavegador);
    setCentralWidget(central);

    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(QStringLiteral("dtsPadrao"));
    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));
    dbgPadrao->setDataSource(dtsPadrao);
    dbnPadrao->setDataSource(dtsPadrao);
    dbtNome->setDataSource(dtsPadrao);

    // --- events ---
    dtsPadrao->OnStateChange = [this](QObject* s) { dtsPadraoStateChange(s); };
    pgcPadrao->OnChange = [this](QObject* s) { pgcPadraoChange(s); };
    dbgPadrao->OnKeyDown = [this](QObject* s, int& key, Qt::KeyboardModifiers shift) {
        dbgPadraoKeyDown(s, key, shift);
    };

    using Handler = void (TfrmPadrao::*)(QObject*);
    auto bind = [this](TSpeedButton* b, QAction* a, Handler h) {
        if (b)
            b->OnClick = [this, h](QObject* s) { (this->*h)(s); };
        if (a)
            connect(a, &QAction::triggered, this, [this, a, h] { dispatch([&] { (this->*h)(a); }); });
    };
    bind(sbtIncluir, mnuIncluir, &TfrmPadrao::sbtIncluirClick);
    bind(sbtAlterar, mnuAlterar, &TfrmPadrao::sbtAlterarClick);
    bind(sbtExcluir, mnuExcluir, &TfrmPadrao::sbtExcluirClick);
    bind(sbtProcurar, mnuProcurar, &TfrmPadrao::sbtProcurarClick);
    bind(sbtVerificar, mnuVerificar, &TfrmPadrao::sbtVerificarClick);
    bind(sbtGravar, mnuGravar, &TfrmPadrao::sbtGravarClick);
    bind(sbtCancelar, mnuCancelar, &TfrmPadrao::sbtCancelarClick);
    bind(sbtImprimir, mnuImprimir, &TfrmPadrao::sbtImprimirClick);
    bind(sbtAjuda, mnuAjuda, &TfrmPadrao::sbtAjudaClick);
    bind(sbtFechar, mnuFechar, &TfrmPadrao::sbtFecharClick);
    bind(nullptr, mnuFolhaDados, &TfrmPadrao::mnuFolhaDadosClick);
    bind(nullptr, mnuFormulario, &TfrmPadrao::mnuFormularioClick);
    mnuListagem->setEnabled(false);
    mnuConfigImpressora->setEnabled(false);
    mnuFolhaDados->setChecked(true);
}

void TfrmPadrao::DoCreate()
{
    if (m_created)
        return;
    m_created = true;
    dispatch([this] { FormCreate(this); });
}

void TfrmPadrao::Show()
{
    showForm(this);
    hookSubWindow();
    updateActive();
}

QMdiSubWindow* TfrmPadrao::subWindow() const { return qobject_cast<QMdiSubWindow*>(parentWidget()); }

bool TfrmPadrao::Close()
{
    if (QMdiSubWindow* sw = subWindow())
        return sw->close();
    return close();
}

QString TfrmPadrao::CodTela() const { return lblCodTela->text(); }
void TfrmPadrao::setCodTela(const QString& code) { lblCodTela->setText(code); }

void TfrmPadrao::addToolButton(QWidget* button) { tlbPadrao->insertWidget(m_codTelaAction, button); }

QVBoxLayout* TfrmPadrao::headerLayout() const { return qobject_cast<QVBoxLayout*>(panCabecalho->layout()); }

// --- lifecycle ---------------------------------------------------------------------

void TfrmPadrao::FormCreate(QObject*) {}
void TfrmPadrao::FormShow(QObject*) {}
void TfrmPadrao::FormActivate(QObject*) {}
void TfrmPadrao::FormCloseQuery(QObject*, bool& canClose) { canClose = true; }
void TfrmPadrao::FormClose(QObject*, TCloseAction& action) { action = TCloseAction::caFree; }

void TfrmPadrao::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!e->spontaneous())
        dispatch([this] { FormShow(this); });
    hookSubWindow();
    updateActive();
}

void TfrmPadrao::closeEvent(QCloseEvent* e)
{
    bool canClose = true;
    if (!dispatch([&] { FormCloseQuery(this, canClose); }) || !canClose) {
        e->ignore();
        return;
    }
    TCloseAction action = TCloseAction::caFree;
    if (!dispatch([&] { FormClose(this, action); })) {
        e->ignore();
        return;
    }
    QMdiSubWindow* sw = subWindow();
    switch (action) {
    case TCloseAction::caNone: e->ignore(); return;
    case TCloseAction::caMinimize:
        e->ignore();
        if (sw)
            sw->showMinimized();
        else
            showMinimized();
        return;
    case TCloseAction::caHide:
        e->accept();
        m_active = false;
        if (sw)
            sw->hide();
        return;
    case TCloseAction::caFree:
        e->accept();
        m_active = false;
        if (sw) {
            sw->hide();
            sw->deleteLater(); // takes the screen with it
        } else {
            deleteLater();
        }
        return;
    }
}

void TfrmPadrao::changeEvent(QEvent* e)
{
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::ActivationChange)
        updateActive();
}

bool TfrmPadrao::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::WindowActivate || e->type() == QEvent::WindowDeactivate ||
        (watched != this && e->type() == QEvent::Hide))
        updateActive();
    return QMainWindow::eventFilter(watched, e);
}

void TfrmPadrao::hookSubWindow()
{
    QMdiSubWindow* sw = subWindow();
    if (!sw || sw == m_hookedSub)
        return;
    m_hookedSub = sw;
    sw->installEventFilter(this);
    disconnect(m_areaConnection);
    if (QMdiArea* area = sw->mdiArea())
        m_areaConnection = connect(area, &QMdiArea::subWindowActivated, this, [this] { updateActive(); });
}

void TfrmPadrao::updateActive()
{
    QMdiSubWindow* sw = subWindow();
    bool now = isVisible() && isActiveWindow();
    if (now && sw)
        now = sw->isVisible() && sw->mdiArea() && sw->mdiArea()->activeSubWindow() == sw;
    if (!now) {
        // A dialog over the screen (a message, the filter) does not take its activation:
        // coming back from it is no new activation of the screen.
        if (qobject_cast<QDialog*>(QApplication::activeWindow()))
            return;
        m_active = false;
        return;
    }
    if (m_active)
        return;
    m_active = true;
    activateForm();
}

void TfrmPadrao::activateForm()
{
    static int depth = 0;
    if (depth > 0)
        return; // activated again inside FormActivate (a modal it showed): the running one covers it
    ++depth;
    dispatch([this] { FormActivate(this); });
    --depth;
}

// --- pages and grid ------------------------------------------------------------------

void TfrmPadrao::pgcPadraoChange(QObject*)
{
    mnuFolhaDados->setChecked(pgcPadrao->ActivePage() == tshFolhaDados);
    mnuFormulario->setChecked(pgcPadrao->ActivePage() == tshFormulario);
}

void TfrmPadrao::mnuFolhaDadosClick(QObject*)
{
    if (pgcPadrao->ActivePage() != tshFolhaDados && pgcPadrao->SetActivePage(tshFolhaDados))
        pgcPadraoChange(pgcPadrao);
}

void TfrmPadrao::mnuFormularioClick(QObject*)
{
    if (pgcPadrao->ActivePage() != tshFormulario && pgcPadrao->SetActivePage(tshFormulario))
        pgcPadraoChange(pgcPadrao);
}

void TfrmPadrao::dbgPadraoKeyDown(QObject*, int& key, Qt::KeyboardModifiers shift)
{
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !(shift & ~Qt::KeypadModifier)) {
        if (pgcPadrao->ActivePage() != tshFormulario && pgcPadrao->SetActivePage(tshFormulario))
            pgcPadraoChange(pgcPadrao);
        key = 0;
    }
}

// --- commands ------------------------------------------------------------------------

void TfrmPadrao::dtsPadraoStateChange(QObject*)
{
    DataSet* ds = dtsPadrao->dataSet();
    const DataSetState st = dtsPadrao->state();
    const bool browse = st == DataSetState::Browse;
    const bool editing = st == DataSetState::Edit || st == DataSetState::Insert;
    const bool rows = ds && ds->active() && !ds->isEmpty();
    mnuIncluir->setEnabled(browse);
    mnuAlterar->setEnabled(browse && rows);
    mnuExcluir->setEnabled(browse && rows);
    mnuProcurar->setEnabled(browse && rows);
    mnuVerificar->setEnabled(browse);
    mnuGravar->setEnabled(editing);
    mnuCancelar->setEnabled(editing);
    mirrorCommandButtons();
    // While a record is being edited the user cannot move away from it.
    panNavegador->setEnabled(!editing);
}

void TfrmPadrao::mirrorCommandButtons()
{
    sbtIncluir->setEnabled(mnuIncluir->isEnabled());
    sbtAlterar->setEnabled(mnuAlterar->isEnabled());
    sbtExcluir->setEnabled(mnuExcluir->isEnabled());
    sbtProcurar->setEnabled(mnuProcurar->isEnabled());
    sbtVerificar->setEnabled(mnuVerificar->isEnabled());
    sbtGravar->setEnabled(mnuGravar->isEnabled());
    sbtCancelar->setEnabled(mnuCancelar->isEnabled());
}

namespace {
DataSet* openDataSet(TDataSource* ds)
{
    DataSet* d = ds ? ds->dataSet() : nullptr;
    return d && d->active() ? d : nullptr;
}
} // namespace

void TfrmPadrao::sbtIncluirClick(QObject*)
{
    if (DataSet* ds = openDataSet(dtsPadrao))
        ds->insert();
}

void TfrmPadrao::sbtAlterarClick(QObject*)
{
    if (DataSet* ds = openDataSet(dtsPadrao))
        ds->edit();
}

void TfrmPadrao::sbtExcluirClick(QObject*)
{
    DataSet* ds = openDataSet(dtsPadrao);
    if (!ds || ds->isEmpty())
        return;
    if (ui().showMessage(MsgKind::Confirmation, QStringLiteral("Confirma a exclusão do registro?"), mbYes | mbNo) ==
        mbYes)
        ds->deleteRecord();
}

void TfrmPadrao::sbtGravarClick(QObject*)
{
    if (DataSet* ds = openDataSet(dtsPadrao))
        ds->post();
}

void TfrmPadrao::sbtCancelarClick(QObject*)
{
    if (DataSet* ds = openDataSet(dtsPadrao))
        ds->cancel();
}

void TfrmPadrao::sbtProcurarClick(QObject*) {}
void TfrmPadrao::sbtVerificarClick(QObject*) {}
void TfrmPadrao::sbtImprimirClick(QObject*) {}

void TfrmPadrao::sbtAjudaClick(QObject*)
{
    if (!ui().showHelp(CodTela()))
        ui().showMessage(MsgKind::Information, QStringLiteral("Ajuda não disponível para esta tela."), mbOK);
}

void TfrmPadrao::sbtFecharClick(QObject*) { Close(); }

} // namespace fw
