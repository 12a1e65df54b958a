#pragma once
// The families of the server's metrics page: requests by method and outcome with their
// latency, letters by state, calls to the authorities, e-mails, and the certificates' days
// to expiry. No label carries fiscal data: methods, outcomes, authorities and certificate
// file names only.
#include "server/app/Metrics.h"
#include "server/rpc/HttpRpcServer.h"

namespace srv {

class Store;
class CertificateSurvey;

namespace metric {
inline constexpr char kRequests[] = "cce_requests_total";
inline constexpr char kRequestLatency[] = "cce_request_duration_seconds";
inline constexpr char kLetters[] = "cce_letters";
inline constexpr char kAuthorityCalls[] = "cce_authority_requests_total";
inline constexpr char kAuthorityLatency[] = "cce_authority_request_duration_seconds";
inline constexpr char kMails[] = "cce_mail_messages_total";
inline constexpr char kCertificateDays[] = "cce_certificate_expiry_days";
} // namespace metric

// Declares every family; the letters are counted in store and the certificates surveyed
// (when there are any) each time the page is rendered. Without a store, no letters.
void declareServerMetrics(Metrics& metrics, Store* store, CertificateSurvey* certificates);

// One answered request: "ok", "fault" (a JSON-RPC error, code the error's) or "refused" (an
// HTTP refusal, code its status).
void recordRequest(Metrics& metrics, const RequestRecord& record);

} // namespace srv
