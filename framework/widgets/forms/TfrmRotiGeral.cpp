#include "widgets/forms/TfrmRotiGeral.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVBoxLayout>

#include "core/errors/Dispatch.h"
#include "core/ui/UiServices.h"

namespace fw {

TfrmRotiGeral::TfrmRotiGeral(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmRotiGeral"));
    ensureFocusWatcher();
    auto* body = new QVBoxLayout(this);
    body->setContentsMargins(6, 6, 6, 6);
    body->setSpacing(6);

    lblCodTela = new TLabel(this, QStringLiteral("lblCodTela"));
    lblCodTela->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    body->addWidget(lblCodTela);

    grbDadosRel = new TGroupBox(this, QStringLiteral("grbDadosRel"));
    body->addWidget(grbDadosRel, 1);

    panMenu = new TPanel(this, QStringLiteral("panMenu"));
    panMenu->setFrameShape(QFrame::StyledPanel);
    auto* menu = new QHBoxLayout(panMenu);
    menu->setContentsMargins(4, 4, 4, 4);
    panHelp = new TPanel(panMenu, QStringLiteral("panHelp"));
    auto* help = new QHBoxLayout(panHelp);
    help->setContentsMargins(0, 0, 0, 0);
    sbtAjuda = new TSpeedButton(panHelp, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda (F1)"));
    sbtAjuda->setText(QStringLiteral("Ajuda"));
    help->addWidget(sbtAjuda);
    help->addStretch(1);
    panBotoes = new TPanel(panMenu, QStringLiteral("panBotoes"));
    menu->addWidget(panHelp, 1);
    menu->addWidget(panBotoes);
    auto* buttons = new QHBoxLayout(panBotoes);
    buttons->setContentsMargins(0, 0, 0, 0);
    sbtConfirma = new TSpeedButton(panBotoes, QStringLiteral("sbtConfirma"), QStringLiteral("Confirmar"));
    sbtConfirma->setText(QStringLiteral("Confirmar"));
    sbtCancel = new TSpeedButton(panBotoes, QStringLiteral("sbtCancel"), QStringLiteral("Cancelar"));
    sbtCancel->setText(QStringLiteral("Cancelar"));
    buttons->addWidget(sbtConfirma);
    buttons->addWidget(sbtCancel);
    body->addWidget(panMenu);

    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));

    sbtConfirma->OnClick = [this](QObject* s) { sbtConfirmaClick(s); };
    sbtCancel->OnClick = [this](QObject* s) { sbtCancelClick(s); };
    sbtAjuda->OnClick = [this](QObject*) { ShowHelp(); };
    setKeyPreview(this, [this](int& key, Qt::KeyboardModifiers shift) { FormKeyDown(this, key, shift); });
}

TfrmRotiGeral::~TfrmRotiGeral() = default;

void TfrmRotiGeral::DoCreate()
{
    if (m_created)
        return;
    m_created = true;
    dispatch([this] { FormCreate(this); });
}

bool TfrmRotiGeral::Close() { return close(); }

void TfrmRotiGeral::setModalResult(int r)
{
    setResult(r);
    Close();
}

QString TfrmRotiGeral::CodTela() const { return lblCodTela->text(); }
void TfrmRotiGeral::setCodTela(const QString& code) { lblCodTela->setText(code); }

QHBoxLayout* TfrmRotiGeral::buttonsLayout() const { return qobject_cast<QHBoxLayout*>(panBotoes->layout()); }

void TfrmRotiGeral::ShowHelp()
{
    if (!ui().showHelp(CodTela()))
        ui().showMessage(MsgKind::Information, QStringLiteral("Ajuda não disponível para esta tela."), mbOK,
                         HelpContext);
}

void TfrmRotiGeral::FormCreate(QObject*) {}
void TfrmRotiGeral::FormShow(QObject*) {}
void TfrmRotiGeral::FormActivate(QObject*) {}
void TfrmRotiGeral::sbtConfirmaClick(QObject*) {}

void TfrmRotiGeral::sbtCancelClick(QObject*)
{
    setResult(QDialog::Rejected);
    Close();
}

void TfrmRotiGeral::FormClose(QObject*, TCloseAction& action) { action = TCloseAction::caHide; }

void TfrmRotiGeral::FormKeyDown(QObject*, int& key, Qt::KeyboardModifiers shift)
{
    const bool plain = !(shift & ~Qt::KeypadModifier);
    if (key == Qt::Key_Escape && plain) {
        key = 0;
        sbtCancelClick(sbtCancel);
        return;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain) {
        QWidget* focused = focusedControl(this);
        if (qobject_cast<QPlainTextEdit*>(focused) || qobject_cast<QTextEdit*>(focused))
            return; // a new line
        key = 0;
        if (auto* b = qobject_cast<QAbstractButton*>(focused)) {
            b->click();
            return;
        }
        if (focused)
            focusNextControl(focused, true);
        return;
    }
    if (key == Qt::Key_F1 && plain) {
        key = 0;
        ShowHelp();
    }
}

void TfrmRotiGeral::closeEvent(QCloseEvent* e)
{
    TCloseAction action = TCloseAction::caHide;
    if (!dispatch([&] { FormClose(this, action); }) || action == TCloseAction::caNone) {
        e->ignore();
        return;
    }
    if (action == TCloseAction::caMinimize) {
        e->ignore();
        showMinimized();
        return;
    }
    // caHide and caFree alike: the dialog survives its closing.
    e->accept();
    m_active = false;
    QDialog::done(result()); // ends a running exec() with the result set before
}

void TfrmRotiGeral::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous())
        dispatch([this] { FormShow(this); });
}

void TfrmRotiGeral::changeEvent(QEvent* e)
{
    QDialog::changeEvent(e);
    if (e->type() != QEvent::ActivationChange)
        return;
    if (!isActiveWindow() || !isVisible()) {
        m_active = false;
        return;
    }
    if (m_active)
        return;
    m_active = true;
    dispatch([this] { FormActivate(this); });
}

void TfrmRotiGeral::keyPressEvent(QKeyEvent* e)
{
    // Esc and Enter were handled by FormKeyDown; no default button, no reject here.
    QWidget::keyPressEvent(e);
}

void TfrmRotiGeral::reject()
{
    dispatch([this] { sbtCancelClick(this); });
}

} // namespace fw
