#pragma once
// Serving: the configuration checked (the server does not start on an error), the store,
// the fiscal and mail subsystems (their calls counted), the methods (each call's caller
// the audit trail's actor), the operators' pages, and the transport until SIGTERM.
#include <QList>

#include "server/app/ConfigCheck.h"

namespace srv {

// findings: what reading the configuration found (warnings only: the caller stops on errors).
int serve(const Configuration& config, const QList<Finding>& findings);

} // namespace srv
