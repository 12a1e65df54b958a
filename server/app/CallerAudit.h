#pragma once
// Every call's caller, as the transport knows it, becomes the actor of the audit trail for
// what the call changes: the transport and the store know nothing of each other.
#include "server/rpc/MethodRegistry.h"

namespace srv {

void auditEveryCall(MethodRegistry& registry);

} // namespace srv
