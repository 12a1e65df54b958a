#pragma once
// The e-mail of one accepted letter: subject, text and the names of its attachments.
#include <QString>

#include "server/mail/MailMessage.h"
#include "server/store/MailStore.h"

namespace srv::mail {

// "<chNFe>-<nSeqEvento>-procEventoNFe": the attachments' name without extension, with the
// event's sequence so that several letters of one invoice never collide.
QString attachmentStem(const LetterMail& letter);

// The message to the recipient (or the carrier) with the stored procEventoNFe and the PDF.
MailMessage letterMessage(const LetterMail& letter, bool carrier, const QStringList& to, const QString& from,
                          const QByteArray& pdf);

} // namespace srv::mail
