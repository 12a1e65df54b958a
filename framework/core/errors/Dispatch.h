#pragma once
// The one way in from the event loop: every click, key, focus change or data event
// raised by the user runs through dispatch(). The silent abort ends the operation
// quietly; any other exception is shown to the user once (UiServices); nothing
// escapes into Qt's event loop.
#include <functional>

#include "core/CoreExport.h"

namespace fw {

// Runs fn; returns true when it finished normally, false when it was aborted or failed.
FW_CORE_EXPORT bool dispatch(const std::function<void()>& fn);

} // namespace fw
