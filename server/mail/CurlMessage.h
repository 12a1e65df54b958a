#pragma once
// A message set up on a libcurl easy handle for its SMTP upload: the envelope, the header
// lines and the MIME tree (curl_mime_*), owned for the life of the transfer.
#include <curl/curl.h>

#include "server/mail/MailMessage.h"

namespace srv::mail {

class CurlMessage {
public:
    // Sets CURLOPT_MAIL_FROM, CURLOPT_MAIL_RCPT, CURLOPT_HTTPHEADER and CURLOPT_MIMEPOST on
    // curl. The handle must not be used after this object is gone.
    CurlMessage(CURL* curl, const MailMessage& message);
    ~CurlMessage();
    CurlMessage(const CurlMessage&) = delete;
    CurlMessage& operator=(const CurlMessage&) = delete;

    bool ok() const { return m_ok; }

    // A header value in RFC 2047 encoded words when it is not plain ASCII.
    static QByteArray encodeHeaderText(const QString& text);

private:
    curl_mime* m_mime = nullptr;
    curl_slist* m_headers = nullptr;
    curl_slist* m_recipients = nullptr;
    QByteArray m_from;
    bool m_ok = false;
};

} // namespace srv::mail
