#include "server/app/CallerAudit.h"

#include "server/rpc/Caller.h"
#include "server/store/AuditTrail.h"

namespace srv {

void auditEveryCall(MethodRegistry& registry)
{
    registry.wrapAll([](MethodFn fn) -> MethodFn {
        return [fn = std::move(fn)](const QVariantList& params) {
            const Caller& c = Caller::current();
            const AuditActorGuard actor(AuditActor{c.user, c.tokenName, c.address, c.requestId, c.certificate});
            return fn(params);
        };
    });
}

} // namespace srv
