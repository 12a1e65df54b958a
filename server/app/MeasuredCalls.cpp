#include "server/app/MeasuredCalls.h"

#include <QElapsedTimer>

#include "server/app/OperatorMetrics.h"

namespace srv {

MeasuredAuthority::MeasuredAuthority(std::shared_ptr<fiscal::Authority> inner, const fiscal::FiscalConfig& config,
                                     Metrics& metrics)
    : m_inner(std::move(inner)), m_metrics(metrics)
{
    for (auto it = config.endpoints.cbegin(); it != config.endpoints.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('.'));
        m_names.insert(it.value(), {parts.value(0), parts.value(2)});
    }
}

fiscal::AuthorityReply MeasuredAuthority::call(const QString& url, const QByteArray& service, const QByteArray& soap,
                                               const fiscal::LoadedCertificate& client)
{
    QElapsedTimer clock;
    clock.start();
    fiscal::AuthorityReply reply = m_inner->call(url, service, soap, client);
    const QPair<QString, QString> name = m_names.value(url, {QStringLiteral("?"), QStringLiteral("?")});
    const MetricLabels labels{{"authority", name.first}, {"service", name.second}};
    const char* outcome = reply.outcome == fiscal::AuthorityReply::Outcome::Answered  ? "answered"
                          : reply.outcome == fiscal::AuthorityReply::Outcome::NotSent ? "not_sent"
                                                                                      : "no_answer";
    m_metrics.add(metric::kAuthorityCalls, labels + MetricLabels{{"outcome", QString::fromLatin1(outcome)}});
    m_metrics.observe(metric::kAuthorityLatency, labels, double(clock.nsecsElapsed()) / 1e9);
    return reply;
}

MeasuredMailTransport::MeasuredMailTransport(std::unique_ptr<mail::MailTransport> inner, Metrics& metrics)
    : m_inner(std::move(inner)), m_metrics(metrics)
{}

mail::Delivery MeasuredMailTransport::deliver(const mail::MailMessage& message)
{
    mail::Delivery d = m_inner->deliver(message);
    const char* outcome = d.outcome == mail::Delivery::Outcome::Accepted  ? "sent"
                          : d.outcome == mail::Delivery::Outcome::Refused ? "refused"
                                                                          : "unavailable";
    m_metrics.add(metric::kMails, {{"outcome", QString::fromLatin1(outcome)}});
    return d;
}

} // namespace srv
