#pragma once
// Where the forms of a module live. The host application registers its main window;
// forms created by modules are shown as its MDI children and owned by it. Without a
// registered host (tests, automation) forms are shown as top-level windows.
#include <QWidget>

#include "widgets/WidgetsExport.h"

namespace fw {

class FW_WIDGETS_EXPORT FormHost {
public:
    virtual ~FormHost();
    virtual QWidget* mainWindow() = 0; // owner of every form (the "application")
    virtual void showMdiChild(QWidget* form) = 0; // shows (or brings forward) an MDI child, normal size
};

FW_WIDGETS_EXPORT void setFormHost(FormHost* host); // not owned; nullptr to unregister
FW_WIDGETS_EXPORT FormHost* formHost();

// The owner a module gives to the forms it creates: the host's main window, or nullptr.
FW_WIDGETS_EXPORT QWidget* formOwner();
// Shows a form the way the host shows its children (normal window state, brought forward).
FW_WIDGETS_EXPORT void showForm(QWidget* form);

} // namespace fw
