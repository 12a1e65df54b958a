#pragma once
// Every message box, confirmation, modal form, pick list, search, busy indicator,
// file opening and print goes through the installed UiServices. The host installs
// the Qt implementation; tests and automation install the scripted one, which records
// every message and gives scripted answers.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "core/CoreExport.h"

class QPagedPaintDevice;

namespace fw {

class DataSet;

enum class MsgKind { Error, Warning, Information, Confirmation, Custom };

// Buttons, as a bit set; showMessage returns the one pressed.
enum MsgButton : int {
    mbNone = 0,
    mbOK = 1,
    mbCancel = 2,
    mbYes = 4,
    mbNo = 8,
    mbAbort = 16,
    mbRetry = 32,
    mbIgnore = 64,
};

class FW_CORE_EXPORT UiServices {
public:
    virtual ~UiServices();

    // A message box; returns the button pressed (mbCancel when closed otherwise).
    virtual int showMessage(MsgKind kind, const QString& text, int buttons, int helpContext = 0) = 0;

    // Shows form (a QWidget) modally and returns when it is hidden or closed.
    // Returns true when the form was accepted (QDialog::Accepted), false otherwise.
    virtual bool execModal(QObject* form) = 0;

    // A pick list over the visible fields of dataSet (rows as the data set shows them).
    // Returns the chosen row's 1-based recNo (the data set is positioned on it), or 0 when cancelled.
    virtual int pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames) = 0;

    // A multi-selection list; returns the chosen rows' 1-based recNos (empty when cancelled).
    virtual QList<int> pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
                                const QList<int>& preselected) = 0;

    // The host's search dialog over a data set; positions the found row. Returns whether one was found.
    virtual bool search(DataSet* dataSet, QObject* owner) = 0;

    // Busy indicator over owner (a form, may be null). kind is the host's animation number.
    virtual void showBusy(QObject* owner, int kind, const QString& text) = 0;
    virtual void hideBusy() = 0; // harmless when not shown
    virtual bool busyShown() const = 0;

    // Opens a file with a program (the text editor, a viewer), else with the desktop's
    // choice; false when neither could.
    virtual bool openFile(const QString& program, const QString& path) = 0;

    // A text for the user to read (the XML of a batch, say) in a window of its own,
    // read-only, under a heading, with "Salvar como..." to keep a copy (suggestedFile: the
    // name the save dialog proposes); returns when it is closed.
    virtual void showText(const QString& title, const QString& heading, const QString& text,
                          const QString& suggestedFile) = 0;

    // The help page of a screen, by its code ("DFS59000"); false when it has none.
    virtual bool showHelp(const QString& screenCode) = 0;

    // Shows or prints a document produced by the host's report machinery (a PDF path).
    virtual bool showReport(const QString& title, const QString& pdfPath) = 0;

    // Lays a document's pages out on a paged device (a printer, a preview's pages, a PDF);
    // returns the number of pages.
    using PageRenderer = std::function<int(QPagedPaintDevice* device)>;
    // The print preview of a document, from which the user may also print; returns when it
    // is closed. False when it could not be shown.
    virtual bool printPreview(const QString& title, const PageRenderer& render) = 0;
    // The printer choice, then the document on the chosen printer; false when cancelled.
    virtual bool printDocument(const QString& title, const PageRenderer& render) = 0;
    // Asks where to save a file (filter as "PDF (*.pdf)"); empty when cancelled.
    virtual QString saveFileName(const QString& title, const QString& suggested, const QString& filter) = 0;

    // The mouse cursor: 0 default, -11 hour-glass.
    virtual void setCursor(int cursor) = 0;
};

// The help page of a screen, as a resource the screen's library carries
// (":/help/<code>.html"); empty when there is none.
FW_CORE_EXPORT QString helpPage(const QString& screenCode);

// The installed services; throws when none is installed.
FW_CORE_EXPORT UiServices& ui();
FW_CORE_EXPORT UiServices* installUiServices(UiServices* services); // returns the previous one; not owned
FW_CORE_EXPORT bool uiServicesInstalled();

} // namespace fw
