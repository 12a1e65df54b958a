#pragma once
// The base routine dialog (criteria of a routine or report).
//
// Elements (objectName = the name): lblCodTela (screen code), the criteria group box
// grbDadosRel, the button panel panMenu holding panHelp (left, with sbtAjuda) and panBotoes (right,
// a horizontal layout) with sbtConfirma and sbtCancel, and the message list msgPadrao.
//
// Handlers, run through fw::dispatch from the event loop; a derived dialog overrides
// them (calling the base where it wants the base's behaviour):
//   FormCreate   once, by fw::createForm;
//   FormShow     each time the dialog is shown;
//   FormActivate each time it becomes the active window;
//   FormClose    on every close (Close(), the window's close button, Esc through
//                sbtCancelClick); base: caHide. The dialog is never destroyed by a close:
//                caFree is taken as caHide. caNone keeps it open.
//   FormKeyDown  every key typed anywhere in the dialog, before the control (key
//                preview); key 0 consumes it. Base: Esc runs sbtCancelClick; Enter and
//                Return move to the next control (exit handlers run; not inside a
//                multi-line edit, and not on a button, which it clicks); F1 runs ShowHelp.
//   sbtConfirmaClick the confirm button; base: nothing.
//   sbtCancelClick   the cancel button; base: result Rejected, then Close().
// The result (QDialog::result()) is what execModal reports: Accepted when the dialog
// was closed after setModalResult(QDialog::Accepted).
#include <QDialog>

#include "core/messages/TMessages.h"
#include "widgets/controls/StdCtrls.h"
#include "widgets/forms/Forms.h"

#include "widgets/WidgetsExport.h"

class QHBoxLayout;

namespace fw {

class FW_WIDGETS_EXPORT TfrmRotiGeral : public QDialog {
    Q_OBJECT
public:
    explicit TfrmRotiGeral(QWidget* owner = nullptr);
    ~TfrmRotiGeral() override;

    void DoCreate(); // FormCreate once, through dispatch (fw::createForm calls it)
    // Closes through FormClose; false when it refused.
    bool Close();
    // Sets the result and closes (the host's ModalResult).
    void setModalResult(int result);
    int ModalResult() const { return result(); }

    QString CodTela() const;
    void setCodTela(const QString& code);
    QString Caption() const { return windowTitle(); }
    void setCaption(const QString& c) { setWindowTitle(c); }
    int HelpContext = 0;
    QString HelpFile;
    // F1 and the help button (sbtAjuda): the dialog's help page, by its screen code, or
    // that it has none.
    virtual void ShowHelp();

    QHBoxLayout* buttonsLayout() const; // of panBotoes

    TLabel* lblCodTela;
    TGroupBox* grbDadosRel;
    TPanel* panMenu;
    TPanel* panHelp;
    TPanel* panBotoes;
    TSpeedButton* sbtConfirma;
    TSpeedButton* sbtCancel;
    TSpeedButton* sbtAjuda;
    TMessages* msgPadrao;

public slots:
    virtual void FormCreate(QObject* sender = nullptr);
    virtual void FormShow(QObject* sender = nullptr);
    virtual void FormActivate(QObject* sender = nullptr);
    virtual void sbtConfirmaClick(QObject* sender = nullptr);
    virtual void sbtCancelClick(QObject* sender = nullptr);

public:
    virtual void FormClose(QObject* sender, TCloseAction& action);
    virtual void FormKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void reject() override; // the window system's Esc/close: through sbtCancelClick

private:
    bool m_created = false;
    bool m_active = false;
};

} // namespace fw
