#include "widgets/services/TextWindows.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "core/ui/UiServices.h"

namespace fw {

TextWindow::TextWindow(QWidget* parent, const QString& title, const QString& heading, const QString& text,
                       const QString& suggestedFile)
    : QDialog(parent), m_text(text), m_suggested(suggestedFile)
{
    setObjectName(QStringLiteral("frmTexto"));
    setWindowTitle(title);
    auto* lay = new QVBoxLayout(this);
    auto* head = new QLabel(heading, this);
    head->setObjectName(QStringLiteral("lblTitulo"));
    head->setWordWrap(true);
    head->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lay->addWidget(head);
    auto* body = new QPlainTextEdit(this);
    body->setObjectName(QStringLiteral("memTexto"));
    body->setReadOnly(true);
    body->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    body->setPlainText(text);
    lay->addWidget(body, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("Salvar como..."), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("btnSalvarComo"));
    QPushButton* close = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    close->setDefault(true);
    lay->addWidget(buttons);
    connect(save, &QPushButton::clicked, this, &TextWindow::saveAs);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(900, 600);
}

void TextWindow::saveAs()
{
    const QString path = ui().saveFileName(QStringLiteral("Salvar como"), m_suggested,
                                           QStringLiteral("Texto (*.txt);;XML (*.xml);;Todos os arquivos (*)"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray bytes = m_text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(bytes) != bytes.size() || !file.commit())
        ui().showMessage(MsgKind::Error,
                         QStringLiteral("Não foi possível gravar o arquivo '%1': %2")
                             .arg(QFileInfo(path).absoluteFilePath(), file.errorString()),
                         mbOK);
}

HelpWindow::HelpWindow(QWidget* parent) : QDialog(parent), m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("frmAjuda"));
    setWindowTitle(QStringLiteral("Ajuda"));
    auto* lay = new QVBoxLayout(this);
    m_browser->setObjectName(QStringLiteral("txbAjuda"));
    m_browser->setOpenExternalLinks(false);
    lay->addWidget(m_browser, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("Fechar"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnFechar"));
    lay->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_browser->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("Ajuda") : QStringLiteral("Ajuda - ") + title);
    });
    resize(760, 640);
}

void HelpWindow::showPage(const QString& resourcePath)
{
    m_browser->setSource(QUrl(QStringLiteral("qrc") + resourcePath));
    show();
    raise();
    activateWindow();
}

} // namespace fw
