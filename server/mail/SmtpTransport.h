#pragma once
// Sending over SMTP with libcurl: STARTTLS or TLS with the server's certificate verified,
// AUTH when a user is configured, one conversation per message.
#include "server/mail/MailConfig.h"
#include "server/mail/MailTransport.h"

namespace srv::mail {

class SmtpTransport : public MailTransport {
public:
    explicit SmtpTransport(MailConfig config) : m_config(std::move(config)) {}
    Delivery deliver(const MailMessage& message) override;

private:
    MailConfig m_config;
};

// Once per process, before the first transfer.
void ensureCurl();

} // namespace srv::mail
