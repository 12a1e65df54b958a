#include "server/app/OperatorMetrics.h"

#include "server/app/CertificateSurvey.h"
#include "server/rpc/TlsContext.h"
#include "server/store/OperatorQueries.h"
#include "server/store/ReadReplica.h"

namespace srv {

void declareServerMetrics(Metrics& metrics, Store* store, CertificateSurvey* certificates, const TlsContext* tls)
{
    using Kind = Metrics::Kind;
    metrics.declare(metric::kRequests, Kind::Counter, "Requests answered, by method and outcome.");
    metrics.declare(metric::kRequestLatency, Kind::Histogram,
                    "Time from a request's connection to its answer's last byte, by method.");
    if (store)
        metrics.declare(metric::kLetters, Kind::Gauge, "Correction letters in the database, by state.", [store] {
            const LetterCounts c = OperatorQueries(*store).letterCounts();
            return QList<QPair<MetricLabels, double>>{{{{"state", QStringLiteral("pending")}}, double(c.pending)},
                                                      {{{"state", QStringLiteral("in_doubt")}}, double(c.inDoubt)},
                                                      {{{"state", QStringLiteral("accepted")}}, double(c.accepted)},
                                                      {{{"state", QStringLiteral("rejected")}}, double(c.rejected)}};
        });
    metrics.declare(metric::kAuthorityCalls, Kind::Counter,
                    "Calls to the tax authorities' services, by authority, service and outcome.");
    metrics.declare(metric::kAuthorityLatency, Kind::Histogram,
                    "Time of each call to a tax authority's service, by authority and service.");
    metrics.declare(metric::kMails, Kind::Counter, "Letters' e-mails handed to the transport, by outcome.");
    if (certificates && certificates->configured())
        metrics.declare(metric::kCertificateDays, Kind::Gauge,
                        "Days until each readable certificate (A1 file or token) expires.", [certificates] {
                            QList<QPair<MetricLabels, double>> out;
                            for (const CertificateState& s : certificates->states())
                                if (s.problem.isEmpty())
                                    out.append({{{"certificate", s.name}}, double(s.daysLeft)});
                            return out;
                        });
    if (tls)
        metrics.declare(metric::kTlsCertificateEnd, Kind::Gauge,
                        "When the server's TLS certificate ends, in seconds since the epoch.", [tls] {
                            return QList<QPair<MetricLabels, double>>{{{}, double(tls->notAfter().toSecsSinceEpoch())}};
                        });
}

void declareReplicaMetrics(Metrics& metrics, const ReadReplica& replica)
{
    using Kind = Metrics::Kind;
    using Samples = QList<QPair<MetricLabels, double>>;
    metrics.declare(metric::kReplicaInUse, Kind::Gauge,
                    "Whether the invoice lists are read from the read replica (1) or left to the primary (0).",
                    [&replica] {
                        return Samples{{{}, replica.inUse() ? 1.0 : 0.0}};
                    });
    metrics.declare(metric::kReplicaLag, Kind::Gauge,
                    "How far the read replica was behind the primary at the last look.", [&replica] {
                        return Samples{{{}, replica.lagSeconds()}};
                    });
    metrics.declare(metric::kReplicaSetAside, Kind::Counter,
                    "Times the read replica was left aside: down, not in recovery, or too far behind.", [&replica] {
                        return Samples{{{}, double(replica.timesSetAside())}};
                    });
    metrics.declare(metric::kReplicaLists, Kind::Counter, "Invoice lists by where they were read.", [&replica] {
        using Road = ReadReplica::Road;
        return Samples{{{{"read", QStringLiteral("standby")}}, double(replica.lists(Road::Standby))},
                       {{{"read", QStringLiteral("primary_waited")}}, double(replica.lists(Road::PrimaryNotReplayed))},
                       {{{"read", QStringLiteral("primary_aside")}}, double(replica.lists(Road::PrimaryAside))}};
    });
}

void recordRequest(Metrics& metrics, const RequestRecord& r)
{
    const QString method = QString::fromUtf8(r.method);
    QString outcome = QStringLiteral("ok");
    int code = 0;
    if (r.httpStatus != 200) {
        outcome = QStringLiteral("refused");
        code = r.httpStatus;
    } else if (r.faultCode != 0) {
        outcome = QStringLiteral("fault");
        code = r.faultCode;
    }
    metrics.add(metric::kRequests, {{"method", method}, {"outcome", outcome}, {"code", QString::number(code)}});
    metrics.observe(metric::kRequestLatency, {{"method", method}}, r.seconds);
}

} // namespace srv
