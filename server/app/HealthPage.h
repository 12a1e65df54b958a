#pragma once
// GET /health: whether this server can do its work, and why not. The database must answer
// at this server's schema (else 503, so a load balancer takes the server out); the
// certificates must read and not be near expiry, and each environment must have the
// authorities' addresses (else "degraded": lists and saves still work). JSON, without
// fiscal data: certificate file names and authorities' names only.
#include "server/rpc/HttpRpcServer.h"

namespace srv {

class Store;
class CertificateSurvey;
namespace fiscal {
struct FiscalConfig;
}

// fiscal: null when the server is not configured for the authority.
OperatorPage healthPage(Store& store, const fiscal::FiscalConfig* fiscal, CertificateSurvey* certificates);

} // namespace srv
