#pragma once
// The bytes of a message exactly as libcurl hands them to an SMTP server, without a server:
// curl's own SMTP upload runs over a local socket (abstract namespace, this process's curl
// only) to a small in-process receiver that answers the dialogue and keeps the DATA. So the
// outbox holds libcurl's MIME, never a second composer's.
#include <QByteArray>
#include <QString>

#include "server/mail/MailMessage.h"

namespace srv::mail {

// The message as RFC 5322 bytes (CRLF line ends); empty with *error when it cannot be made.
QByteArray captureMessage(const MailMessage& message, int timeoutMs, QString* error);

} // namespace srv::mail
