#pragma once
// The recording core of the UI services, for tests and automation: records every
// message, pick, search, busy indicator, file opening, print and cursor; answers from
// queues; and keeps a list of everything nobody expected. Without widgets, so that
// core tests use it as it is; the widgets' ScriptedUiServices adds modal forms.
//
//   fw::RecordingUiServices ui;
//   fw::RecordingUiServices::Install installed(ui);   // restores the previous on exit
//   ui.expectMessage("Empresa não cadastrada.", fw::mbOK);
//   ... run the code ...
//   EXPECT_FALSE(ui.hasUnexpected()) << ui.report();
//
// Messages: each message is matched against the head of the expectation queue (an empty
// text matches any); a match is answered with the queued button, anything else is
// recorded in unexpected() and answered with mbOK, else mbCancel, else mbNo when the box
// has them. A modal showing is recorded as unexpected here and returns false.
// Previews and prints are recorded ("preview|title|pages", "print|title|pages"; pages -1
// here, where nothing is laid out); a save dialog answers from its own queue.
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <deque>
#include <functional>

#include "core/CoreExport.h"
#include "core/ui/UiServices.h"

namespace fw {

class FW_CORE_EXPORT RecordingUiServices : public UiServices {
public:
    struct Message {
        MsgKind kind;
        QString text;
        int buttons;
        int answer;
        bool expected;
        int helpContext;
    };
    struct Pick {
        enum Kind { List, Many, Search } kind;
        QString title;
        QString dataSet; // objectName of the data set
        QStringList fields;
        QList<int> preselected;
        QList<int> result; // recNos picked (empty: cancelled); Search: {recNo} when found
        bool expected;
    };
    struct TextShown {
        QString title, heading, text, suggestedFile;
    };
    struct Busy {
        bool show; // false: hideBusy
        QString owner; // objectName of the owner form
        int kind;
        QString text;
    };

    using PickChooser = std::function<int(DataSet*)>; // recNo, 0 cancels
    using ManyChooser = std::function<QList<int>(DataSet*, const QList<int>& preselected)>;
    using SearchScript = std::function<bool(DataSet*)>; // positions, returns found

    RecordingUiServices();
    ~RecordingUiServices() override;

    // --- expectations ------------------------------------------------------------
    void expectMessage(const QString& textOrEmptyForAny, int answerButton);
    void expectPick(int recNo); // 0 = the user cancels
    void expectPick(PickChooser chooser);
    void expectPickMany(const QList<int>& recNos);
    void expectPickMany(ManyChooser chooser);
    void expectSearch(SearchScript script);
    // Searches as the dialog does: locate fieldName = value, ignoring case, partial.
    void expectSearch(const QString& fieldName, const QVariant& value);
    // The next save dialog answers path (empty: the user cancels).
    void expectSaveFileName(const QString& path);
    // What openFile answers from now on (true: the file opened; false: nothing could open it).
    void setOpenFileAnswer(bool opened) { m_openFileAnswer = opened; }

    // --- records ------------------------------------------------------------------
    const QList<Message>& messages() const { return m_messages; }
    QStringList messageTexts() const;
    QList<Message> unexpected() const; // messages nobody expected
    QStringList unexpectedEvents() const; // every unexpected thing, described
    bool hasUnexpected() const { return !unexpectedEvents().isEmpty(); }
    virtual int pendingExpectations() const; // queued and never used
    QStringList modalForms() const { return m_modalForms; } // objectNames, in order
    QStringList scriptErrors() const { return m_scriptErrors; } // exceptions out of modal scripts
    const QList<Pick>& picks() const { return m_picks; }
    const QList<Busy>& busyEvents() const { return m_busy; }
    int busyShowCount() const { return m_busyShows; }
    QStringList openedFiles() const { return m_openedFiles; } // "program|path"
    const QList<TextShown>& textsShown() const { return m_texts; }
    QStringList helpShown() const { return m_help; } // screen codes asked for
    QStringList reports() const { return m_reports; } // "title|path"
    QStringList prints() const { return m_prints; } // "preview|title|pages", "print|title|pages"
    QStringList saveDialogs() const { return m_saveDialogs; } // "title|suggested"
    QList<int> cursors() const { return m_cursors; }
    int cursor() const { return m_cursor; }
    QString report() const; // everything recorded, readable (for a failing test)
    virtual void clear(); // forgets records and expectations

    // --- UiServices ---------------------------------------------------------------
    int showMessage(MsgKind kind, const QString& text, int buttons, int helpContext = 0) override;
    bool execModal(QObject* form) override;
    int pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames) override;
    QList<int> pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
                        const QList<int>& preselected) override;
    bool search(DataSet* dataSet, QObject* owner) override;
    void showBusy(QObject* owner, int kind, const QString& text) override;
    void hideBusy() override;
    bool busyShown() const override { return m_busyShown; }
    bool openFile(const QString& program, const QString& path) override;
    void showText(const QString& title, const QString& heading, const QString& text,
                  const QString& suggestedFile) override;
    bool showHelp(const QString& screenCode) override;
    bool showReport(const QString& title, const QString& pdfPath) override;
    bool printPreview(const QString& title, const PageRenderer& render) override;
    bool printDocument(const QString& title, const PageRenderer& render) override;
    QString saveFileName(const QString& title, const QString& suggested, const QString& filter) override;
    void setCursor(int cursor) override;

    // Installs services for a scope, restoring the previous ones on destruction.
    class FW_CORE_EXPORT Install {
    public:
        explicit Install(UiServices& services);
        ~Install();
        Install(const Install&) = delete;
        Install& operator=(const Install&) = delete;

    private:
        UiServices* m_previous;
    };

protected:
    static QString nameOf(const QObject* o);
    void recordUnexpected(const QString& what) { m_unexpectedEvents << what; }
    void recordModal(const QObject* form) { m_modalForms << nameOf(form); }
    void recordScriptError(const QString& what) { m_scriptErrors << what; }
    void recordPrint(const QString& kind, const QString& title, int pages)
    {
        m_prints << kind + QLatin1Char('|') + title + QLatin1Char('|') + QString::number(pages);
    }

private:
    struct ExpectedMessage {
        QString text;
        int answer;
    };
    std::deque<ExpectedMessage> m_expectedMessages;
    std::deque<PickChooser> m_pickAnswers;
    std::deque<ManyChooser> m_manyAnswers;
    std::deque<SearchScript> m_searchAnswers;
    std::deque<QString> m_saveAnswers;

    QList<Message> m_messages;
    QStringList m_unexpectedEvents;
    QStringList m_modalForms;
    QStringList m_scriptErrors;
    QList<Pick> m_picks;
    QList<Busy> m_busy;
    int m_busyShows = 0;
    bool m_busyShown = false;
    QStringList m_openedFiles;
    bool m_openFileAnswer = true;
    QList<TextShown> m_texts;
    QStringList m_help;
    QStringList m_reports;
    QStringList m_prints;
    QStringList m_saveDialogs;
    QList<int> m_cursors;
    int m_cursor = 0;
};

} // namespace fw
