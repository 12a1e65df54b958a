#pragma once
// One message as the mail subsystem sends it: envelope, headers' values, a plain-text body
// and attachments. Turning it into MIME is libcurl's job (CurlMessage).
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace srv::mail {

struct Attachment {
    QString fileName;
    QByteArray mimeType; // "application/pdf"
    QByteArray content;
};

struct MailMessage {
    QString reference; // names the message where it is kept (the outbox), e.g. "<chNFe>-01-destinatario"
    QString fromAddress, fromName;
    QStringList to; // plain addresses
    QString subject;
    QString body; // lines separated by "\n"
    QList<Attachment> attachments;
};

} // namespace srv::mail
