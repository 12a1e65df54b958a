#pragma once
// Every call's database positions between the transport and the store, which know nothing of
// each other: the one the client brought (X-CCE-Commit-Position) is the call's
// CommitPosition::wanted(), and the one its commits reached goes out in its answer's.
#include "server/rpc/MethodRegistry.h"

namespace srv {

void carryCommitPositions(MethodRegistry& registry);

} // namespace srv
