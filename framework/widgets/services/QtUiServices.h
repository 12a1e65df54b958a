#pragma once
// The user interface of the host application: Qt message boxes with Portuguese buttons,
// modal forms, the pick list, the multi-pick list, the search dialog, the busy window,
// files and reports opened with the desktop's programs, the wait cursor.
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include "core/ui/UiServices.h"

#include "widgets/WidgetsExport.h"

namespace fw {

class BusyWindow;
class HelpWindow;

// The host's look in the user's language: Qt's own dialogs (print preview, printer, files)
// in Brazilian Portuguese, and the tool bars' pictures from the desktop's icon theme or,
// where it has none, from Tango. Returns whether Qt's translation was found.
FW_WIDGETS_EXPORT bool installHostLook(QCoreApplication* app);

class FW_WIDGETS_EXPORT QtUiServices : public UiServices {
public:
    QtUiServices();
    ~QtUiServices() override;

    int showMessage(MsgKind kind, const QString& text, int buttons, int helpContext = 0) override;
    bool execModal(QObject* form) override;
    int pickList(const QString& title, DataSet* dataSet, const QStringList& fieldNames) override;
    QList<int> pickMany(const QString& title, DataSet* dataSet, const QStringList& fieldNames,
                        const QList<int>& preselected) override;
    bool search(DataSet* dataSet, QObject* owner) override;
    void showBusy(QObject* owner, int kind, const QString& text) override;
    void hideBusy() override;
    bool busyShown() const override;
    bool openFile(const QString& program, const QString& path) override;
    void showText(const QString& title, const QString& heading, const QString& text,
                  const QString& suggestedFile) override;
    bool showHelp(const QString& screenCode) override;
    bool showReport(const QString& title, const QString& pdfPath) override;
    bool printPreview(const QString& title, const PageRenderer& render) override;
    bool printDocument(const QString& title, const PageRenderer& render) override;
    QString saveFileName(const QString& title, const QString& suggested, const QString& filter) override;
    void setCursor(int cursor) override;

private:
    QPointer<BusyWindow> m_busy;
    QPointer<HelpWindow> m_help;
    int m_waitCursors = 0; // override cursors we pushed through setCursor
};

} // namespace fw
