#include "core/ui/UiServices.h"

#include <QFile>

#include "core/errors/Errors.h"

namespace fw {

namespace {
UiServices* g_services = nullptr;
}

UiServices::~UiServices() = default;

UiServices& ui()
{
    if (!g_services)
        throw Error(QStringLiteral("No user-interface services are installed."));
    return *g_services;
}

UiServices* installUiServices(UiServices* services)
{
    UiServices* previous = g_services;
    g_services = services;
    return previous;
}

bool uiServicesInstalled() { return g_services != nullptr; }

QString helpPage(const QString& screenCode)
{
    if (screenCode.isEmpty())
        return QString();
    const QString path = QStringLiteral(":/help/%1.html").arg(screenCode);
    return QFile::exists(path) ? path : QString();
}

} // namespace fw
