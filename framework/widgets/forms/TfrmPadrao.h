#pragma once
// The base maintenance screen: a main window shown as an MDI child of the host.
//
// Elements (objectName = the name): tool bar tlbPadrao with sbtIncluir, sbtAlterar,
// sbtExcluir, sbtProcurar, sbtVerificar, sbtGravar, sbtCancelar, sbtImprimir, sbtAjuda,
// sbtFechar and the screen code label lblCodTela; menus mnuOperacao (mnuFolhaDados,
// mnuFormulario, mnuListagem, mnuConfigImpressora, mnuImprimir, mnuFechar, mnuAjuda) and
// mnuManutencao (mnuIncluir, mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar,
// mnuGravar, mnuCancelar), QActions; the header panel panCabecalho (empty, between
// the tool bar and the pages, for the screen's own panels); the page control pgcPadrao
// with tshFolhaDados (holding the grid dbgPadrao) and tshFormulario (empty, for the
// screen); the navigator panel panNavegador with dbnPadrao and dbtNome; the data
// source dtsPadrao (bound to nothing); the message list msgPadrao.
//
// Handlers, run through fw::dispatch when the event loop raises them; a derived screen
// overrides them and calls the base first:
//   FormCreate   once, by fw::createForm, after construction;
//   FormShow     each time the screen becomes visible;
//   FormActivate each time the screen becomes the active window: its window activates
//                while its sub-window is the active one (also on return from a modal
//                dialog), or its sub-window becomes the active one;
//   FormClose    on close; the base sets caFree: the screen (and its sub-window) is
//                deleted after the close; caHide hides it, caNone keeps it open.
//   pgcPadraoChange  the user switched pages (not when code sets the page);
//   dbgPadraoKeyDown a key in dbgPadrao; base: Enter (no modifier) goes to the form page
//                when it is enabled (and runs pgcPadraoChange) and consumes the key;
//   dtsPadraoStateChange the state of dtsPadrao changed; base: the seven commands by
//                the state (browse: insert, edit, delete, search, refresh; editing:
//                save, cancel), tool buttons mirroring their menu items.
// Commands (menu item and tool button run the same virtual):
//   sbtIncluirClick insert, sbtAlterarClick edit, sbtExcluirClick delete after the
//   confirmation "Confirma a exclusão do registro?", sbtGravarClick post,
//   sbtCancelarClick cancel (all on dtsPadrao's data set; nothing without one open);
//   sbtProcurarClick, sbtVerificarClick, sbtImprimirClick: nothing in the base;
//   sbtAjudaClick (also the menu's Ajuda and F1): the screen's help page (by its code),
//   or that it has none; sbtFecharClick: Close().
#include <QMainWindow>
#include <QPointer>

#include "core/dataset/DataSet.h"
#include "core/messages/TMessages.h"
#include "widgets/controls/DBCtrls.h"
#include "widgets/controls/StdCtrls.h"
#include "widgets/forms/Forms.h"
#include "widgets/grid/DBGrid.h"

#include "widgets/WidgetsExport.h"

class QAction;
class QMenu;
class QToolBar;
class QVBoxLayout;
class QMdiSubWindow;

namespace fw {

class FW_WIDGETS_EXPORT TfrmPadrao : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmPadrao(QWidget* owner = nullptr);
    ~TfrmPadrao() override;

    // Runs FormCreate once through dispatch (fw::createForm calls it).
    void DoCreate();
    // Shows the screen the host's way (normal size, brought forward).
    void Show();
    // Closes the screen (and its MDI sub-window); false when FormClose refused.
    bool Close();
    QMdiSubWindow* subWindow() const;
    bool isFormActive() const { return m_active; }
    // Runs the activation (FormActivate, through the dispatcher) as becoming active does;
    // for a screen called forward while it already is the active one.
    void activateForm();

    QString CodTela() const;
    void setCodTela(const QString& code); // lblCodTela
    QString Caption() const { return windowTitle(); }
    void setCaption(const QString& c) { setWindowTitle(c); }

    // Adds a tool button after the base ones (before lblCodTela).
    void addToolButton(QWidget* button);
    QVBoxLayout* headerLayout() const; // of panCabecalho

    // Elements.
    QToolBar* tlbPadrao;
    TSpeedButton *sbtIncluir, *sbtAlterar, *sbtExcluir, *sbtProcurar, *sbtVerificar, *sbtGravar, *sbtCancelar;
    TSpeedButton *sbtImprimir, *sbtAjuda, *sbtFechar;
    TLabel* lblCodTela;
    QMenu *mnuOperacao, *mnuManutencao;
    QAction *mnuFolhaDados, *mnuFormulario, *mnuListagem, *mnuConfigImpressora, *mnuImprimir, *mnuFechar, *mnuAjuda;
    QAction *mnuIncluir, *mnuAlterar, *mnuExcluir, *mnuProcurar, *mnuVerificar, *mnuGravar, *mnuCancelar;
    TPanel* panCabecalho;
    TPageControl* pgcPadrao;
    QWidget *tshFolhaDados, *tshFormulario;
    TDBGrid* dbgPadrao;
    TPanel* panNavegador;
    TDBNavigator* dbnPadrao;
    TDBText* dbtNome;
    TDataSource* dtsPadrao;
    TMessages* msgPadrao;

public slots:
    virtual void FormCreate(QObject* sender = nullptr);
    virtual void FormShow(QObject* sender = nullptr);
    virtual void FormActivate(QObject* sender = nullptr);
    virtual void pgcPadraoChange(QObject* sender = nullptr);
    virtual void dtsPadraoStateChange(QObject* sender = nullptr);
    virtual void sbtIncluirClick(QObject* sender = nullptr);
    virtual void sbtAlterarClick(QObject* sender = nullptr);
    virtual void sbtExcluirClick(QObject* sender = nullptr);
    virtual void sbtProcurarClick(QObject* sender = nullptr);
    virtual void sbtVerificarClick(QObject* sender = nullptr);
    virtual void sbtGravarClick(QObject* sender = nullptr);
    virtual void sbtCancelarClick(QObject* sender = nullptr);
    virtual void sbtImprimirClick(QObject* sender = nullptr);
    virtual void sbtAjudaClick(QObject* sender = nullptr);
    virtual void sbtFecharClick(QObject* sender = nullptr);
    virtual void mnuFolhaDadosClick(QObject* sender = nullptr); // to the data page, then pgcPadraoChange
    virtual void mnuFormularioClick(QObject* sender = nullptr); // to the form page, then pgcPadraoChange

public:
    virtual void FormCloseQuery(QObject* sender, bool& canClose);
    virtual void FormClose(QObject* sender, TCloseAction& action);
    virtual void dbgPadraoKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);

protected:
    // The seven command tool buttons enabled as their menu items.
    void mirrorCommandButtons();
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildUi();
    void updateActive();
    void hookSubWindow();
    bool m_created = false;
    bool m_active = false;
    QPointer<QMdiSubWindow> m_hookedSub;
    QMetaObject::Connection m_areaConnection;
    QAction* m_codTelaAction = nullptr;
};

} // namespace fw
