#include "core/ui/RecordingUiServices.h"

#include "core/dataset/DataSet.h"

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

} // namespace

RecordingUiServices::RecordingUiServices() = default;

RecordingUiServices::~RecordingUiServices()
{
    if (uiServicesInstalled() && &ui() == this)
        installUiServices(nullptr);
}

QString RecordingUiServices::nameOf(const QObject* o)
{
    if (!o)
        return QStringLiteral("(none)");
    return o->objectName().isEmpty() ? QString::fromLatin1(o->metaObject()->className()) : o->objectName();
}

bool RecordingUiServices::execModal(QObject* form)
{
    recordModal(form);
    recordUnexpected(QStringLiteral("modal showing of %1 without a script").arg(nameOf(form)));
    return false;
}

void RecordingUiServices::expectMessage(const QString& text, int answerButton)
{
    m_expectedMessages.push_back({text, answerButton});
}

void RecordingUiServices::expectPick(int recNo)
{
    m_pickAnswers.push_back([recNo](DataSet*) { return recNo; });
}

void RecordingUiServices::expectPick(PickChooser chooser) { m_pickAnswers.push_back(std::move(chooser)); }

void RecordingUiServices::expectPickMany(const QList<int>& recNos)
{
    m_manyAnswers.push_back([recNos](DataSet*, const QList<int>&) { return recNos; });
}

void RecordingUiServices::expectPickMany(ManyChooser chooser) { m_manyAnswers.push_back(std::move(chooser)); }

void RecordingUiServices::expectSearch(SearchScript script) { m_searchAnswers.push_back(std::move(script)); }

void RecordingUiServices::expectSearch(const QString& fieldName, const QVariant& value)
{
    m_searchAnswers.push_back([fieldName, value](DataSet* ds) {
        LocateOptions o;
        o.caseInsensitive = true;
        o.partialKey = true;
        return ds->locate(fieldName, value, o);
    });
}

void RecordingUiServices::expectSaveFileName(const QString& path) { m_saveAnswers.push_back(path); }

QStringList RecordingUiServices::messageTexts() const
{
    QStringList out;
    for (const Message& m : m_messages)
        out << m.text;
    return out;
}

QList<RecordingUiServices::Message> RecordingUiServices::unexpected() const
{
    QList<Message> out;
    for (const Message& m : m_messages)
        if (!m.expected)
            out << m;
    return out;
}

QStringList RecordingUiServices::unexpectedEvents() const { return m_unexpectedEvents; }

int RecordingUiServices::pendingExpectations() const
{
    return int(m_expectedMessages.size() + m_pickAnswers.size() + m_manyAnswers.size() + m_searchAnswers.size() +
               m_saveAnswers.size());
}

QString RecordingUiServices::report() const
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
    for (const QString& p : m_prints)
        lines << QStringLiteral("printed: %1").arg(p);
    for (const TextShown& t : m_texts)
        lines << QStringLiteral("text shown: %1 (%2)").arg(t.title, t.heading);
    for (const QString& e : m_scriptErrors)
        lines << QStringLiteral("script error: %1").arg(e);
    for (const QString& e : m_unexpectedEvents)
        lines << QStringLiteral("unexpected: %1").arg(e);
    lines << QStringLiteral("pending expectations: %1").arg(pendingExpectations());
    return lines.join(QLatin1Char('\n'));
}

void RecordingUiServices::clear()
{
    m_expectedMessages.clear();
    m_pickAnswers.clear();
    m_manyAnswers.clear();
    m_searchAnswers.clear();
    m_saveAnswers.clear();
    m_messages.clear();
    m_unexpectedEvents.clear();
    m_modalForms.clear();
    m_scriptErrors.clear();
    m_picks.clear();
    m_busy.clear();
    m_busyShows = 0;
    m_busyShown = false;
    m_openedFiles.clear();
    m_openFileAnswer = true;
    m_texts.clear();
    m_help.clear();
    m_reports.clear();
    m_prints.clear();
    m_saveDialogs.clear();
    m_cursors.clear();
    m_cursor = 0;
}

int RecordingUiServices::showMessage(MsgKind kind, const QString& text, int buttons, int helpContext)
{
    Message m{kind, text, buttons, 0, false, helpContext};
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

int RecordingUiServices::pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames)
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

QList<int> RecordingUiServices::pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
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

bool RecordingUiServices::search(DataSet* dataSet, QObject*)
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

void RecordingUiServices::showBusy(QObject* owner, int kind, const QString& text)
{
    m_busy << Busy{true, owner ? owner->objectName() : QString(), kind, text};
    ++m_busyShows;
    m_busyShown = true;
}

void RecordingUiServices::hideBusy()
{
    m_busy << Busy{false, QString(), 0, QString()};
    m_busyShown = false;
}

bool RecordingUiServices::openFile(const QString& program, const QString& path)
{
    m_openedFiles << program + QLatin1Char('|') + path;
    return m_openFileAnswer;
}

void RecordingUiServices::showText(const QString& title, const QString& heading, const QString& text,
                                   const QString& suggestedFile)
{
    m_texts << TextShown{title, heading, text, suggestedFile};
}

bool RecordingUiServices::showHelp(const QString& screenCode)
{
    m_help << screenCode;
    return !helpPage(screenCode).isEmpty();
}

bool RecordingUiServices::showReport(const QString& title, const QString& pdfPath)
{
    m_reports << title + QLatin1Char('|') + pdfPath;
    return true;
}

bool RecordingUiServices::printPreview(const QString& title, const PageRenderer&)
{
    recordPrint(QStringLiteral("preview"), title, -1);
    return true;
}

bool RecordingUiServices::printDocument(const QString& title, const PageRenderer&)
{
    recordPrint(QStringLiteral("print"), title, -1);
    return true;
}

QString RecordingUiServices::saveFileName(const QString& title, const QString& suggested, const QString&)
{
    m_saveDialogs << title + QLatin1Char('|') + suggested;
    if (m_saveAnswers.empty()) {
        m_unexpectedEvents << QStringLiteral("save dialog \"%1\"").arg(title);
        return QString();
    }
    const QString path = m_saveAnswers.front();
    m_saveAnswers.pop_front();
    return path;
}

void RecordingUiServices::setCursor(int cursor)
{
    m_cursors << cursor;
    m_cursor = cursor;
}

RecordingUiServices::Install::Install(UiServices& services) : m_previous(installUiServices(&services)) {}

RecordingUiServices::Install::~Install() { installUiServices(m_previous); }

} // namespace fw
