#include "server/mail/CurlMessage.h"

#include <QDateTime>
#include <QUuid>

namespace srv::mail {

namespace {

QByteArray bracketed(const QString& address) { return '<' + address.toLatin1() + '>'; }

// A name before an address: quoted, so that a comma or a dot in a company's name does not
// split it; encoded words when it is not plain ASCII.
QByteArray displayName(const QString& name)
{
    const QByteArray encoded = CurlMessage::encodeHeaderText(name);
    if (encoded.startsWith("=?"))
        return encoded;
    QByteArray quoted = encoded;
    quoted.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + quoted + '"';
}

} // namespace

QByteArray CurlMessage::encodeHeaderText(const QString& text)
{
    // A header is one line: whatever the database holds, no line break gets through.
    const QString line = text.simplified();
    bool plain = true;
    for (const QChar c : line)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            plain = false;
    if (plain && !line.contains(QLatin1String("=?")))
        return line.toLatin1();
    // Encoded words of at most 75 characters, each holding whole UTF-8 characters.
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < line.size(); ++i) {
        qsizetype n = line.at(i).isHighSurrogate() && i + 1 < line.size() ? 2 : 1;
        const QByteArray ch = line.mid(i, n).toUtf8();
        i += n - 1;
        if (chunk.size() + ch.size() > 45) {
            words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
            chunk.clear();
        }
        chunk += ch;
    }
    if (!chunk.isEmpty())
        words << "=?UTF-8?B?" + chunk.toBase64() + "?=";
    return words.join(' ');
}

CurlMessage::CurlMessage(CURL* curl, const MailMessage& message)
{
    m_from = bracketed(message.fromAddress);
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, m_from.constData());
    QList<QByteArray> to;
    for (const QString& a : message.to) {
        m_recipients = curl_slist_append(m_recipients, bracketed(a).constData());
        to << a.toLatin1();
    }
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, m_recipients);

    const QString domain = message.fromAddress.section(QLatin1Char('@'), 1);
    const QByteArray from = message.fromName.trimmed().isEmpty()
                                ? message.fromAddress.toLatin1()
                                : displayName(message.fromName) + ' ' + bracketed(message.fromAddress);
    const QList<QByteArray> headers{
        "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1(),
        "From: " + from,
        "To: " + to.join(", "),
        "Subject: " + encodeHeaderText(message.subject),
        "Message-ID: <" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@' + domain.toLatin1() + '>',
    };
    for (const QByteArray& h : headers)
        m_headers = curl_slist_append(m_headers, h.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, m_headers);

    m_mime = curl_mime_init(curl);
    bool ok = m_mime && m_headers && m_recipients;
    if (ok) {
        // The text, shown inline; quoted-printable keeps the accents readable in any client.
        QByteArray body = message.body.toUtf8();
        body.replace("\r\n", "\n");
        body.replace("\n", "\r\n");
        curl_mimepart* part = curl_mime_addpart(m_mime);
        curl_slist* disposition = curl_slist_append(nullptr, "Content-Disposition: inline");
        if (part && disposition)
            curl_mime_headers(part, disposition, 1); // the part owns the list from here
        else
            curl_slist_free_all(disposition);
        ok = part && disposition && curl_mime_data(part, body.constData(), size_t(body.size())) == CURLE_OK &&
             curl_mime_type(part, "text/plain; charset=UTF-8") == CURLE_OK &&
             curl_mime_encoder(part, "quoted-printable") == CURLE_OK;
    }
    for (const Attachment& a : message.attachments) {
        if (!ok)
            break;
        curl_mimepart* part = curl_mime_addpart(m_mime);
        ok = part && curl_mime_data(part, a.content.constData(), size_t(a.content.size())) == CURLE_OK &&
             curl_mime_filename(part, a.fileName.toUtf8().constData()) == CURLE_OK &&
             curl_mime_type(part, a.mimeType.constData()) == CURLE_OK && curl_mime_encoder(part, "base64") == CURLE_OK;
    }
    if (ok)
        ok = curl_easy_setopt(curl, CURLOPT_MIMEPOST, m_mime) == CURLE_OK;
    m_ok = ok;
}

CurlMessage::~CurlMessage()
{
    curl_mime_free(m_mime);
    curl_slist_free_all(m_headers);
    curl_slist_free_all(m_recipients);
}

} // namespace srv::mail
