#pragma once
// Where a composed message goes: an SMTP server or the outbox folder. Tests put their
// own in its place.
#include <QString>

#include "server/mail/MailMessage.h"

namespace srv::mail {

struct Delivery {
    enum class Outcome {
        Accepted, // the SMTP server took the message (or it is in the outbox)
        Refused, // this message was refused (a recipient, its size); others may still go
        Unavailable, // nothing can go now (server down, TLS, login): stop trying
    };
    Outcome outcome = Outcome::Unavailable;
    QString reason; // in Portuguese, one line; empty when accepted
};

class MailTransport {
public:
    virtual ~MailTransport() = default;
    virtual Delivery deliver(const MailMessage& message) = 0;
};

} // namespace srv::mail
