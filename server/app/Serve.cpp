#include "server/app/Serve.h"

#include <QUrl>
#include <memory>

#include "server/app/CallerAudit.h"
#include "server/app/CertificateSurvey.h"
#include "server/app/Commands.h"
#include "server/app/CommitPositions.h"
#include "server/app/HealthPage.h"
#include "server/app/MeasuredCalls.h"
#include "server/app/Metrics.h"
#include "server/app/OperatorMetrics.h"
#include "server/app/Reconciler.h"
#include "server/app/ServerRunner.h"
#include "server/fiscal/TransmissionService.h"
#include "server/mail/MailService.h"
#include "server/methods/Methods.h"
#include "server/rpc/LogLine.h"
#include "server/rpc/TlsContext.h"
#include "server/store/Store.h"

namespace srv {

namespace {

// Letters settled in one round: each takes a call to the authority.
constexpr int kReconcileLimit = 100;

logline::Level levelOf(const Finding& f)
{
    return f.level == Finding::Level::Error     ? logline::Level::Error
           : f.level == Finding::Level::Warning ? logline::Level::Warning
                                                : logline::Level::Info;
}

} // namespace

int serve(const Configuration& config, const QList<Finding>& findings)
{
    QList<Finding> all = findings + checkConfiguration(config);
    for (const Finding& f : all)
        logline::write(levelOf(f), f.text.simplified());
    if (hasError(all))
        return failWith(QStringLiteral("A configuração tem erros (acima): o servidor não foi iniciado."));
    QString error;
    if (!raiseOpenFileLimit(config.server.maxConnections, &error))
        return failWith(error);
    std::unique_ptr<Store> store = Store::open(config.server.databaseUrl, &error);
    if (!store)
        return failWith(QStringLiteral("Não foi possível abrir o banco de dados: %1").arg(error));

    // Lists from a standby, when one is named; it may be down now and come up later.
    std::unique_ptr<ReadReplica> replica;
    if (!config.server.readUrl.isEmpty()) {
        std::unique_ptr<Store> standby = Store::open(config.server.readUrl, &error, false);
        if (!standby)
            return failWith(QStringLiteral("[database] read_url: %1").arg(error));
        const QUrl read(config.server.readUrl);
        const QString where = read.host() + QLatin1Char(':') + QString::number(read.port(5432));
        replica = std::make_unique<ReadReplica>(
            *store, std::move(standby), ReadReplica::Settings{config.server.readWaitMs, config.server.readMaxLagMs},
            [where](bool good, const QString& line) {
                logline::write(good ? logline::Level::Info : logline::Level::Warning,
                               QStringLiteral("%1: %2").arg(where, line));
            });
        replica->start();
    }

    Metrics metrics;
    std::unique_ptr<CertificateSurvey> certificates;
    std::unique_ptr<fiscal::TransmissionService> transmission;
    if (config.fiscal.configured()) {
        certificates = std::make_unique<CertificateSurvey>(config.fiscal.certificateFolder,
                                                           config.fiscal.certificatePassword, config.fiscal.token);
        auto authority = std::make_shared<MeasuredAuthority>(
            std::make_shared<fiscal::CurlAuthority>(config.fiscal.trustStore, config.fiscal.timeoutMs), config.fiscal,
            metrics);
        transmission = std::make_unique<fiscal::TransmissionService>(*store, config.fiscal, authority);
    }
    const std::unique_ptr<mail::MailService> mailer =
        mail::MailService::fromConfig(*store, config.mail, [&metrics](std::unique_ptr<mail::MailTransport> t) {
            return std::make_unique<MeasuredMailTransport>(std::move(t), metrics);
        });
    std::shared_ptr<TlsContext> tls;
    if (config.server.tls.enabled() && !(tls = TlsContext::load(config.server.tls, &error)))
        return failWith(error);
    declareServerMetrics(metrics, store.get(), certificates.get(), tls.get());
    if (replica)
        declareReplicaMetrics(metrics, *replica);

    MethodRegistry registry;
    registerMethods(registry, Services{store.get(), transmission.get(), mailer.get(), replica.get()});
    auditEveryCall(registry);
    carryCommitPositions(registry);

    // Letters left in doubt are settled without anyone's click, one server at a time.
    std::unique_ptr<Reconciler> reconciler;
    if (transmission && config.server.reconcileEverySeconds > 0) {
        reconciler = std::make_unique<Reconciler>(*store, config.server.reconcileEverySeconds, [&transmission] {
            const fiscal::TransmissionService::Settled s = transmission->reconcileInDoubt(kReconcileLimit);
            if (s.adopted + s.released + s.unsettled == 0)
                return QString();
            return QStringLiteral("%1 aceita(s) pela SEFAZ, %2 pendente(s) de nova transmissão, %3 ainda em dúvida.")
                .arg(s.adopted)
                .arg(s.released)
                .arg(s.unsettled + s.underWay);
        });
        reconciler->start();
    }

    HttpServerOptions options = config.server.httpOptions();
    options.tls = tls;
    options.onRequestDone = [&metrics](const RequestRecord& r) { recordRequest(metrics, r); };
    options.operatorPage = [&](const QByteArray& path) {
        if (path == "/health")
            return healthPage(*store, transmission ? &config.fiscal : nullptr, certificates.get(), tls.get());
        if (path == "/metrics")
            return OperatorPage{200, "text/plain; version=0.0.4; charset=utf-8", metrics.render()};
        return OperatorPage{};
    };
    if (!serveUntilTerminated(config.server, std::move(options), registry, stdout, &error))
        return failWith(error);
    return 0;
}

} // namespace srv
