#include "widgets/services/ScriptedUiServices.h"

#include <QApplication>
#include <QDialog>
#include <exception>

#include "core/dataset/DataSet.h"
#include "core/errors/Errors.h"

namespace fw {

namespace {

QString kindName(MsgKind k)
{
    switch (k) {
    case MsgKind::Error: return QStringLiteral("error");
    case MsgKind::Warning: return QStringLiteral("warning");
    case MsgKind::Information: return QStringLiteral("information");
    case MsgKind::Confirmation: return QStringLiteral("confirmation");
    case MsgKind::Custom: return QStringLiteral("custom");
    }
    return QString();
}

int defaultAnswer(int buttons)
{
    for (int b : {int(mbOK), int(mbCancel), int(mbNo)})
        if (buttons & b)
            return b;
    for (int b = 1; b <= mbIgnore; b <<= 1)
        if (buttons & b)
            return b;
    return mbCancel;
}

QString nameOf(const QObject* o)
{
    if (!o)
        return QStringLiteral("(none)");
    return o->objectName().isEmpty() ? QString::fromLatin1(o->metaObject()->className()) : o->objectName();
}

void activate(QWidget* w)
{
    w->raise();
    w->activateWindow();
    // Synchronous, so that activation handlers run now as they would around a real modal.
    QApplication::setActiveWindow(w);
}

} // namespace

ScriptedUiServices::ScriptedUiServices() = default;

ScriptedUiServices::~ScriptedUiServices()
{
    if (uiServicesInstalled() && &ui() == this)
        installUiServices(nullptr);
}

void ScriptedUiServices::expectMessage(const QString& text, int answerButton)
{
    m_expectedMessages.push_back({text, answerButton});
}

void ScriptedUiServices::expectModal(ModalScript script) { m_modalScripts.push_back(std::move(script)); }

void ScriptedUiServices::expectPick(int recNo)
{
    m_pickAnswers.push_back([recNo](DataSet*) { return recNo; });
}

void ScriptedUiServices::expectPick(PickChooser chooser) { m_pickAnswers.push_back(std::move(chooser)); }

void ScriptedUiServices::expectPickMany(const QList<int>& recNos)
{
    m_manyAnswers.push_back([recNos](DataSet*, const QList<int>&) { return recNos; });
}

void ScriptedUiServices::expectPickMany(ManyChooser chooser) { m_manyAnswers.push_back(std::move(chooser)); }

void ScriptedUiServices::expectSearch(SearchScript script) { m_searchAnswers.push_back(std::move(script)); }

void ScriptedUiServices::expectSearch(const QString& fieldName, const QVariant& value)
{
    m_searchAnswers.push_back([fieldName, value](DataSet* ds) {
        LocateOptions o;
        o.caseInsensitive = true;
        o.partialKey = true;
        return ds->locate(fieldName, value, o);
    });
}

QStringList ScriptedUiServices::messageTexts() const
{
    QStringList out;
    for (const Message& m : m_messages)
        out << m.text;
    return out;
}

QList<ScriptedUiServices::Message> ScriptedUiServices::unexpected() const
{
    QList<Message> out;
    for (const Message& m : m_messages)
        if (!m.expected)
            out << m;
    return out;
}

QStringList ScriptedUiServices::unexpectedEvents() const { return m_unexpectedEvents; }

int ScriptedUiServices::pendingExpectations() const
{
    return int(m_expectedMessages.size() + m_modalScripts.size() + m_pickAnswers.size() + m_manyAnswers.size() +
               m_searchAnswers.size());
}

QString ScriptedUiServices::report() const
{
    QStringList lines;
    for (const Message& m : m_messages)
        lines << QStringLiteral("%1 message%2: \"%3\" (buttons %4, answered %5)")
                     .arg(kindName(m.kind), m.expected ? QString() : QStringLiteral(" NOT EXPECTED"), m.text)
                     .arg(m.buttons)
                     .arg(m.answer);
    for (const QString& f : m_modalForms)
        lines << QStringLiteral("modal: %1").arg(f);
    for (const Pick& p : m_picks)
        lines << QStringLiteral("pick%1 \"%2\" over %3")
                     .arg(p.expected ? QString() : QStringLiteral(" NOT EXPECTED"), p.title, p.dataSet);
    for (const QString& e : m_scriptErrors)
        lines << QStringLiteral("script error: %1").arg(e);
    for (const QString& e : m_unexpectedEvents)
        lines << QStringLiteral("unexpected: %1").arg(e);
    lines << QStringLiteral("pending expectations: %1").arg(pendingExpectations());
    return lines.join(QLatin1Char('\n'));
}

void ScriptedUiServices::clear()
{
    m_expectedMessages.clear();
    m_modalScripts.clear();
    m_pickAnswers.clear();
    m_manyAnswers.clear();
    m_searchAnswers.clear();
    m_messages.clear();
    m_unexpectedEvents.clear();
    m_modalForms.clear();
    m_scriptErrors.clear();
    m_picks.clear();
    m_busy.clear();
    m_busyShows = 0;
    m_busyShown = false;
    m_openedFiles.clear();
    m_reports.clear();
    m_cursors.clear();
    m_cursor = 0;
}

int ScriptedUiServices::showMessage(MsgKind kind, const QString& text, int buttons, int)
{
    Message m{kind, text, buttons, 0, false};
    if (!m_expectedMessages.empty() &&
        (m_expectedMessages.front().text.isEmpty() || m_expectedMessages.front().text == text)) {
        m.answer = m_expectedMessages.front().answer;
        m.expected = true;
        m_expectedMessages.pop_front();
    } else {
        m.answer = defaultAnswer(buttons);
        m_unexpectedEvents << QStringLiteral("%1 message \"%2\"").arg(kindName(kind), text);
    }
    m_messages << m;
    return m.answer;
}

bool ScriptedUiServices::execModal(QObject* form)
{
    auto* w = qobject_cast<QWidget*>(form);
    m_modalForms << nameOf(form);
    if (!w) {
        m_unexpectedEvents << QStringLiteral("modal showing of %1, which is not a form").arg(nameOf(form));
        return false;
    }
    if (m_modalScripts.empty()) {
        m_unexpectedEvents << QStringLiteral("modal showing of %1 without a script").arg(nameOf(form));
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
        m_scriptErrors << e.message();
    } catch (const std::exception& e) {
        m_scriptErrors << QString::fromUtf8(e.what());
    } catch (...) {
        m_scriptErrors << QStringLiteral("unknown exception");
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

int ScriptedUiServices::pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames)
{
    Pick p{Pick::List, title, nameOf(dataSet), fieldNames, {}, {}, true};
    int rec = 0;
    if (m_pickAnswers.empty()) {
        p.expected = false;
        m_unexpectedEvents << QStringLiteral("pick list \"%1\"").arg(title);
    } else {
        PickChooser chooser = std::move(m_pickAnswers.front());
        m_pickAnswers.pop_front();
        rec = chooser(dataSet);
    }
    if (rec > 0 && dataSet && rec <= dataSet->recordCount()) {
        if (dataSet->recNo() != rec)
            dataSet->setRecNo(rec);
        p.result = {rec};
    } else {
        rec = 0;
    }
    m_picks << p;
    return rec;
}

QList<int> ScriptedUiServices::pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
                                        const QList<int>& preselected)
{
    Pick p{Pick::Many, title, nameOf(dataSet), fieldNames, preselected, {}, true};
    if (m_manyAnswers.empty()) {
        p.expected = false;
        m_unexpectedEvents << QStringLiteral("multiple pick list \"%1\"").arg(title);
    } else {
        ManyChooser chooser = std::move(m_manyAnswers.front());
        m_manyAnswers.pop_front();
        const QList<int> chosen = chooser(dataSet, preselected);
        for (int rec : chosen)
            if (dataSet && rec > 0 && rec <= dataSet->recordCount())
                p.result << rec;
    }
    m_picks << p;
    return p.result;
}

bool ScriptedUiServices::search(DataSet* dataSet, QObject*)
{
    Pick p{Pick::Search, QString(), nameOf(dataSet), {}, {}, {}, true};
    bool found = false;
    if (m_searchAnswers.empty()) {
        p.expected = false;
        m_unexpectedEvents << QStringLiteral("search over %1").arg(nameOf(dataSet));
    } else {
        SearchScript script = std::move(m_searchAnswers.front());
        m_searchAnswers.pop_front();
        found = dataSet && script(dataSet);
        if (found)
            p.result = {dataSet->recNo()};
    }
    m_picks << p;
    return found;
}

void ScriptedUiServices::showBusy(QObject* owner, int kind, const QString& text)
{
    m_busy << Busy{true, owner ? owner->objectName() : QString(), kind, text};
    ++m_busyShows;
    m_busyShown = true;
}

void ScriptedUiServices::hideBusy()
{
    m_busy << Busy{false, QString(), 0, QString()};
    m_busyShown = false;
}

bool ScriptedUiServices::openFile(const QString& program, const QString& path)
{
    m_openedFiles << program + QLatin1Char('|') + path;
    return true;
}

bool ScriptedUiServices::showReport(const QString& title, const QString& pdfPath)
{
    m_reports << title + QLatin1Char('|') + pdfPath;
    return true;
}

void ScriptedUiServices::setCursor(int cursor)
{
    m_cursors << cursor;
    m_cursor = cursor;
}

ScriptedUiServices::Install::Install(UiServices& services) : m_previous(installUiServices(&services)) {}

ScriptedUiServices::Install::~Install() { installUiServices(m_previous); }

} // namespace fw
