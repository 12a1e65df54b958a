#pragma once
// The host's MDI main window: a menu entry per screen module, the user's context in
// the status bar, and the place where module forms live.
#include <QMainWindow>
#include <QVariant>

#include "widgets/forms/FormHost.h"

class QMdiArea;
class QLabel;

namespace host {

class ModuleLoader;

class MainWindow : public QMainWindow, public fw::FormHost {
    Q_OBJECT
public:
    MainWindow(ModuleLoader* cceModule, QWidget* parent = nullptr);

    // fw::FormHost
    QWidget* mainWindow() override { return this; }
    void showMdiChild(QWidget* form) override;

    void setPreset(const QVariant& preset) { m_preset = preset; }
    void refreshStatus();

public slots:
    // Opens (or brings forward) the CC-e screen through the module's entry function.
    // Returns false, after telling the user why, when the module cannot be used.
    bool openCCe();

private:
    QMdiArea* m_mdi;
    ModuleLoader* m_cceModule;
    QVariant m_preset; // handed to the first call only
    QLabel* m_company;
    QLabel* m_branch;
    QLabel* m_date;
};

} // namespace host
