#include "widgets/forms/FormHost.h"

namespace fw {

namespace {
FormHost* g_host = nullptr;
}

FormHost::~FormHost() = default;

void setFormHost(FormHost* host) { g_host = host; }
FormHost* formHost() { return g_host; }

QWidget* formOwner() { return g_host ? g_host->mainWindow() : nullptr; }

void showForm(QWidget* form)
{
    if (g_host) {
        g_host->showMdiChild(form);
        return;
    }
    form->setWindowState(form->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    form->show();
    form->raise();
    form->activateWindow();
}

} // namespace fw
