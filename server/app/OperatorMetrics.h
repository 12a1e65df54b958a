#pragma once
// The families of the server's metrics page: requests by method and outcome with their
// latency, letters by state, calls to the authorities, e-mails, the certificates' days
// to expiry and the end of the server's own TLS certificate. No label carries fiscal data: methods, outcomes, authorities and certificate
// file names only.
#include "server/app/Metrics.h"
#include "server/rpc/HttpRpcServer.h"

namespace srv {

class Store;
class CertificateSurvey;
class ReadReplica;
class TlsContext;

namespace metric {
inline constexpr char kRequests[] = "cce_requests_total";
inline constexpr char kRequestLatency[] = "cce_request_duration_seconds";
inline constexpr char kLetters[] = "cce_letters";
inline constexpr char kAuthorityCalls[] = "cce_authority_requests_total";
inline constexpr char kAuthorityLatency[] = "cce_authority_request_duration_seconds";
inline constexpr char kMails[] = "cce_mail_messages_total";
inline constexpr char kCertificateDays[] = "cce_certificate_expiry_days";
inline constexpr char kTlsCertificateEnd[] = "cce_tls_certificate_expiry_timestamp_seconds";
inline constexpr char kReplicaInUse[] = "cce_read_replica_in_use";
inline constexpr char kReplicaLag[] = "cce_read_replica_lag_seconds";
inline constexpr char kReplicaSetAside[] = "cce_read_replica_set_aside_total";
inline constexpr char kReplicaLists[] = "cce_read_replica_lists_total";
} // namespace metric

// Declares every family; the letters are counted in store and the certificates surveyed
// (when there are any) each time the page is rendered. Without a store, no letters; without
// TLS, no end of the server's certificate.
void declareServerMetrics(Metrics& metrics, Store* store, CertificateSurvey* certificates,
                          const TlsContext* tls = nullptr);

// The read replica's families: whether it is in use, how far behind it was at the last
// look, how often it was left aside, and where the lists went ("standby", "primary_waited":
// the standby had not replayed the client's writes in time, "primary_aside").
void declareReplicaMetrics(Metrics& metrics, const ReadReplica& replica);

// One answered request: "ok", "fault" (a JSON-RPC error, code the error's) or "refused" (an
// HTTP refusal, code its status).
void recordRequest(Metrics& metrics, const RequestRecord& record);

} // namespace srv
