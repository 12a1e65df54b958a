// The calls to the outside as the metrics count them: each authority call by the
// authority and service its address is configured for, with its outcome and latency;
// each e-mail by what the transport made of it.
#include <gtest/gtest.h>

#include "server/app/MeasuredCalls.h"
#include "server/app/OperatorMetrics.h"

using namespace srv;

namespace {

class ScriptedAuthority : public fiscal::Authority {
public:
    fiscal::AuthorityReply call(const QString&, const QByteArray&, const QByteArray&,
                                const fiscal::LoadedCertificate&) override
    {
        fiscal::AuthorityReply r;
        r.outcome = next;
        return r;
    }
    fiscal::AuthorityReply::Outcome next = fiscal::AuthorityReply::Outcome::Answered;
};

class ScriptedTransport : public mail::MailTransport {
public:
    explicit ScriptedTransport(QList<mail::Delivery::Outcome> outcomes) : m_outcomes(std::move(outcomes)) {}
    mail::Delivery deliver(const mail::MailMessage&) override { return mail::Delivery{m_outcomes.takeFirst(), {}}; }

private:
    QList<mail::Delivery::Outcome> m_outcomes;
};

TEST(MeasuredCalls, AuthorityCallsAndEmailsAreCountedByWhatTheConfigurationNamesAndTheirOutcome)
{
    Metrics metrics;
    declareServerMetrics(metrics, nullptr, nullptr);
    fiscal::FiscalConfig config;
    config.endpoints = {{"SP.1.recepcao", "https://nfe.sp/recepcao"}, {"*.2.consulta", "https://sim/consulta"}};
    auto inner = std::make_shared<ScriptedAuthority>();
    MeasuredAuthority authority(inner, config, metrics);
    const fiscal::LoadedCertificate none;
    authority.call("https://nfe.sp/recepcao", "x", "<soap/>", none);
    inner->next = fiscal::AuthorityReply::Outcome::NoAnswer;
    authority.call("https://nfe.sp/recepcao", "x", "<soap/>", none);
    authority.call("https://sim/consulta", "x", "<soap/>", none);
    inner->next = fiscal::AuthorityReply::Outcome::NotSent;
    authority.call("https://elsewhere/", "x", "<soap/>", none);

    MeasuredMailTransport mail(std::make_unique<ScriptedTransport>(QList<mail::Delivery::Outcome>{
                                   mail::Delivery::Outcome::Accepted, mail::Delivery::Outcome::Refused,
                                   mail::Delivery::Outcome::Accepted, mail::Delivery::Outcome::Unavailable}),
                               metrics);
    for (int i = 0; i < 4; ++i)
        mail.deliver(mail::MailMessage{});

    const QByteArray page = metrics.render();
    for (const char* line :
         {R"(cce_authority_requests_total{authority="SP",service="recepcao",outcome="answered"} 1)",
          R"(cce_authority_requests_total{authority="SP",service="recepcao",outcome="no_answer"} 1)",
          R"(cce_authority_requests_total{authority="*",service="consulta",outcome="no_answer"} 1)",
          R"(cce_authority_requests_total{authority="?",service="?",outcome="not_sent"} 1)",
          R"(cce_authority_request_duration_seconds_count{authority="SP",service="recepcao"} 2)",
          R"(cce_authority_request_duration_seconds_bucket{authority="SP",service="recepcao",le="+Inf"} 2)",
          R"(cce_mail_messages_total{outcome="sent"} 2)", R"(cce_mail_messages_total{outcome="refused"} 1)",
          R"(cce_mail_messages_total{outcome="unavailable"} 1)"})
        EXPECT_TRUE(page.contains(QByteArray(line) + '\n')) << line << "\n" << page.toStdString();
}

} // namespace
