#include "core/ui/UiServices.h"

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

} // namespace fw
