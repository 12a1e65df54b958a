#include "server/mail/SmtpTransport.h"

#include <curl/curl.h>
#include <mutex>

#include "server/curl/CurlReason.h"
#include "server/mail/CurlMessage.h"

namespace srv::mail {

namespace {

// The server's last refusal (a 4xx or 5xx reply), to tell the user why.
int keepReply(CURL*, curl_infotype type, char* data, size_t size, void* out)
{
    if (type == CURLINFO_HEADER_IN && size > 0 && (data[0] == '4' || data[0] == '5')) {
        const QByteArray line = QByteArray(data, qsizetype(qMin(size, size_t(300)))).trimmed();
        if (!line.isEmpty())
            *static_cast<QByteArray*>(out) = line;
    }
    return 0;
}

QString replyText(const QByteArray& reply) { return QString::fromUtf8(reply).simplified().left(200); }

} // namespace

void ensureCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Delivery SmtpTransport::deliver(const MailMessage& message)
{
    ensureCurl();
    Delivery d;
    CURL* curl = curl_easy_init();
    if (!curl) {
        d.reason = QStringLiteral("Falha ao preparar a conexão com o servidor de e-mail.");
        return d;
    }
    const QByteArray url = m_config.url().toUtf8();
    const QByteArray user = m_config.user.toUtf8();
    const QByteArray password = m_config.password.toUtf8();
    const QByteArray trust = m_config.trustStore.toLocal8Bit();
    QByteArray reply;
    char errors[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, m_config.security == MailConfig::Security::Tls ? "smtps" : "smtp");
    if (m_config.security == MailConfig::Security::StartTls)
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL)); // no fallback to plain text
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!trust.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, trust.constData());
    if (!user.isEmpty()) {
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_config.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(qMin(m_config.timeoutMs, 10000)));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &keepReply);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);

    CURLcode rc = CURLE_FAILED_INIT;
    {
        CurlMessage m(curl, message);
        if (m.ok())
            rc = curl_easy_perform(curl);
        else
            d.reason = QStringLiteral("Falha ao montar a mensagem de e-mail.");
        curl_easy_cleanup(curl);
    }
    if (rc == CURLE_OK) {
        d.outcome = Delivery::Outcome::Accepted;
        return d;
    }
    if (!d.reason.isEmpty())
        return d;
    const QByteArray what(errors);
    if (rc == CURLE_SEND_ERROR && what.startsWith("RCPT failed")) {
        d.outcome = Delivery::Outcome::Refused;
        d.reason = QStringLiteral("o servidor de e-mail recusou o destinatário %1 (%2).")
                       .arg(message.to.join(QStringLiteral(", ")), replyText(reply));
    } else if ((rc == CURLE_SEND_ERROR && what.startsWith("DATA failed")) || rc == CURLE_WEIRD_SERVER_REPLY) {
        d.outcome = Delivery::Outcome::Refused;
        d.reason = QStringLiteral("o servidor de e-mail recusou a mensagem (%1).").arg(replyText(reply));
    } else if (rc == CURLE_LOGIN_DENIED) {
        d.reason =
            QStringLiteral("o servidor de e-mail recusou o usuário e a senha configurados (%1).").arg(replyText(reply));
    } else if (rc == CURLE_SEND_ERROR && what.startsWith("MAIL failed")) {
        d.reason = QStringLiteral("o servidor de e-mail recusou o remetente %1 (%2).")
                       .arg(message.fromAddress, replyText(reply));
    } else {
        d.reason = QStringLiteral("servidor de e-mail indisponível ou não confiável: %1.")
                       .arg(curlReason(rc, what.isEmpty() ? nullptr : what.constData()));
    }
    return d;
}

} // namespace srv::mail
