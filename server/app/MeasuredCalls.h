#pragma once
// The calls the server makes to the outside, counted for the metrics: each call to a tax
// authority by authority, service and outcome with its latency, and each e-mail by
// outcome. Wrappers around the real clients, so fiscal and mail know nothing of metrics.
#include <QHash>
#include <QPair>
#include <memory>

#include "server/app/Metrics.h"
#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/mail/MailTransport.h"

namespace srv {

class MeasuredAuthority : public fiscal::Authority {
public:
    // The authority and service of a call are those the configuration gives its address.
    MeasuredAuthority(std::shared_ptr<fiscal::Authority> inner, const fiscal::FiscalConfig& config, Metrics& metrics);
    fiscal::AuthorityReply call(const QString& url, const QByteArray& service, const QByteArray& soap,
                                const fiscal::LoadedCertificate& client) override;

private:
    std::shared_ptr<fiscal::Authority> m_inner;
    QHash<QString, QPair<QString, QString>> m_names; // URL -> (authority, service)
    Metrics& m_metrics;
};

class MeasuredMailTransport : public mail::MailTransport {
public:
    MeasuredMailTransport(std::unique_ptr<mail::MailTransport> inner, Metrics& metrics);
    mail::Delivery deliver(const mail::MailMessage& message) override;

private:
    std::unique_ptr<mail::MailTransport> m_inner;
    Metrics& m_metrics;
};

} // namespace srv
