#pragma once
// GET /health: whether this server can do its work, and why not. The database must answer
// at this server's schema (else 503, so a load balancer takes the server out); the
// certificates must read and not be near expiry, and each environment must have the
// authorities' addresses (else "degraded": lists and saves still work). With TLS, when the
// server's own certificate ends (degraded within 30 days). JSON, without
// fiscal data: certificate file names and authorities' names only.
#include "server/rpc/HttpRpcServer.h"

namespace srv {

class Store;
class CertificateSurvey;
class TlsContext;
namespace fiscal {
struct FiscalConfig;
}

// fiscal: null when the server is not configured for the authority; tls: null in clear.
OperatorPage healthPage(Store& store, const fiscal::FiscalConfig* fiscal, CertificateSurvey* certificates,
                        const TlsContext* tls = nullptr);

} // namespace srv
