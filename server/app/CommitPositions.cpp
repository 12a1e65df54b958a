#include "server/app/CommitPositions.h"

#include "server/rpc/Caller.h"
#include "server/store/CommitPosition.h"

namespace srv {

void carryCommitPositions(MethodRegistry& registry)
{
    registry.wrapAll([](MethodFn fn) -> MethodFn {
        return [fn = std::move(fn)](const QVariantList& params) {
            const CommitPosition positions(Caller::current().commitPosition);
            QVariant result = fn(params);
            Caller::setCommitPositionReached(CommitPosition::reached());
            return result;
        };
    });
}

} // namespace srv
