#include "widgets/services/ScriptedUiServices.h"

#include <QApplication>
#include <QBuffer>
#include <QDialog>
#include <QPdfWriter>
#include <QPointer>
#include <exception>

#include "core/errors/Errors.h"

namespace fw {

namespace {

void activate(QWidget* w)
{
    w->raise();
    w->activateWindow();
    // Synchronous, so that activation handlers run now as they would around a real modal.
    QApplication::setActiveWindow(w);
}

int layOut(const UiServices::PageRenderer& render)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&buffer);
    return render ? render(&pdf) : 0;
}

} // namespace

ScriptedUiServices::ScriptedUiServices() = default;

bool ScriptedUiServices::printPreview(const QString& title, const PageRenderer& render)
{
    recordPrint(QStringLiteral("preview"), title, layOut(render));
    return true;
}

bool ScriptedUiServices::printDocument(const QString& title, const PageRenderer& render)
{
    recordPrint(QStringLiteral("print"), title, layOut(render));
    return true;
}

ScriptedUiServices::~ScriptedUiServices() = default;

void ScriptedUiServices::expectModal(ModalScript script) { m_modalScripts.push_back(std::move(script)); }

int ScriptedUiServices::pendingExpectations() const
{
    return RecordingUiServices::pendingExpectations() + int(m_modalScripts.size());
}

void ScriptedUiServices::clear()
{
    RecordingUiServices::clear();
    m_modalScripts.clear();
}

bool ScriptedUiServices::execModal(QObject* form)
{
    auto* w = qobject_cast<QWidget*>(form);
    recordModal(form);
    if (!w) {
        recordUnexpected(QStringLiteral("modal showing of %1, which is not a form").arg(nameOf(form)));
        return false;
    }
    if (m_modalScripts.empty()) {
        recordUnexpected(QStringLiteral("modal showing of %1 without a script").arg(nameOf(form)));
        return false;
    }
    ModalScript script = std::move(m_modalScripts.front());
    m_modalScripts.pop_front();

    QPointer<QWidget> previous = QApplication::activeWindow();
    QPointer<QWidget> guard(w);
    auto* dialog = qobject_cast<QDialog*>(w);
    if (dialog)
        dialog->setResult(QDialog::Rejected);
    ++m_modalDepth;
    w->show();
    if (guard)
        activate(w);
    try {
        if (guard)
            script(w);
    } catch (const Error& e) {
        recordScriptError(e.message());
    } catch (const std::exception& e) {
        recordScriptError(QString::fromUtf8(e.what()));
    } catch (...) {
        recordScriptError(QStringLiteral("unknown exception"));
    }
    --m_modalDepth;
    bool accepted = false;
    if (guard) {
        if (w->isVisible())
            w->hide();
        accepted = dialog && dialog->result() == QDialog::Accepted;
    }
    // The window that had the activation gets it back, as when a real modal ends.
    if (previous && previous != w && previous->isVisible())
        activate(previous);
    return accepted;
}

} // namespace fw
