#pragma once
// No SMTP server configured: each message is written whole to the outbox folder as an .eml
// file (written beside its name and renamed), for a person or a relay to pick up.
#include <QString>

#include "server/mail/MailTransport.h"

namespace srv::mail {

class OutboxTransport : public MailTransport {
public:
    OutboxTransport(QString folder, int timeoutMs) : m_folder(std::move(folder)), m_timeoutMs(timeoutMs) {}
    Delivery deliver(const MailMessage& message) override;

    const QString& folder() const { return m_folder; }

private:
    QString m_folder;
    int m_timeoutMs;
};

} // namespace srv::mail
