#include "server/fiscal/AuthorityClient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <curl/curl.h>
#include <mutex>
#include <optional>

#include "server/curl/CurlReason.h"
#include "server/fiscal/Soap.h"

namespace srv::fiscal {

namespace {

void ensureCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t collect(char* data, size_t size, size_t count, void* out)
{
    auto* body = static_cast<QByteArray*>(out);
    // Answers of the authority are small; a runaway one is cut rather than filling memory.
    if (body->size() + qsizetype(size * count) > 16 * 1024 * 1024)
        return 0;
    body->append(data, qsizetype(size * count));
    return size * count;
}

// The token's certificate, chain and key in the connection's OpenSSL context.
CURLcode installTokenKey(CURL*, void* sslCtx, void* token)
{
    QString why;
    if (static_cast<const TokenCertificate*>(token)->install(sslCtx, &why))
        return CURLE_OK;
    qWarning("cce server: %s", qPrintable(why));
    return CURLE_SSL_CERTPROBLEM;
}

} // namespace

ProtocolAnswer consultProtocol(Authority& authority, const QString& url, const QString& tpAmb, const QString& chNFe,
                               const LoadedCertificate& client, QString* why)
{
    const AuthorityReply reply =
        authority.call(url, kConsultaProtocolo, envelope(kConsultaProtocolo, consSitNFe(tpAmb, chNFe)), client);
    if (reply.outcome != AuthorityReply::Outcome::Answered) {
        *why = reply.error;
        return ProtocolAnswer{};
    }
    ProtocolAnswer answer = readProtocolAnswer(reply.body);
    if (!answer.readable)
        *why = QStringLiteral("resposta ilegível da consulta à SEFAZ (HTTP %1)").arg(reply.httpStatus);
    return answer;
}

QByteArray trustBundle(const QString& folder)
{
    QByteArray bundle;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.pem"), QStringLiteral("*.crt"), QStringLiteral("*.cer")}, QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
        QFile f(info.filePath());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = f.readAll();
        if (content.contains("-----BEGIN CERTIFICATE-----")) {
            bundle += content + '\n';
            continue;
        }
        // DER: a SEQUENCE; written as PEM, 64 characters a line.
        if (content.isEmpty() || quint8(content.at(0)) != 0x30)
            continue;
        const QByteArray b64 = content.toBase64();
        bundle += "-----BEGIN CERTIFICATE-----\n";
        for (qsizetype i = 0; i < b64.size(); i += 64)
            bundle += b64.mid(i, 64) + '\n';
        bundle += "-----END CERTIFICATE-----\n";
    }
    return bundle;
}

CurlAuthority::CurlAuthority(QString trustStore, int timeoutMs)
    : m_trustStore(std::move(trustStore)), m_timeoutMs(timeoutMs)
{
    if (!m_trustStore.isEmpty() && QFileInfo(m_trustStore).isDir())
        m_folderBundle = trustBundle(m_trustStore);
}

AuthorityReply CurlAuthority::call(const QString& url, const QByteArray& service, const QByteArray& soap,
                                   const LoadedCertificate& client)
{
    ensureCurl();
    AuthorityReply reply;
    CURL* curl = curl_easy_init();
    if (!curl) {
        reply.error = QStringLiteral("Falha ao preparar a conexão com a SEFAZ.");
        return reply;
    }
    const QByteArray u = url.toUtf8();
    const QByteArray type = "Content-Type: " + contentType(service);
    const QByteArray trust = m_trustStore.toLocal8Bit();
    const QByteArray password = client.password.toUtf8();
    // A token's key is used where it is, held for the call; an A1's goes from memory.
    std::optional<TokenCertificate::Hold> hold;
    if (client.token)
        hold.emplace(client.token->hold(&reply.error));
    if (hold && !*hold) {
        curl_easy_cleanup(curl);
        reply.error += QStringLiteral(" Nada foi enviado.");
        return reply;
    }
    curl_slist* headers = curl_slist_append(nullptr, type.constData());
    curl_blob cert{const_cast<char*>(client.pkcs12.constData()), size_t(client.pkcs12.size()), CURL_BLOB_NOCOPY};

    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, soap.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(soap.size()));
    if (client.token) {
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &installTokenKey);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, const_cast<TokenCertificate*>(client.token.get()));
    } else {
        curl_easy_setopt(curl, CURLOPT_SSLCERT_BLOB, &cert);
        curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "P12");
        curl_easy_setopt(curl, CURLOPT_KEYPASSWD, password.constData());
    }
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_blob bundle{const_cast<char*>(m_folderBundle.constData()), size_t(m_folderBundle.size()), CURL_BLOB_NOCOPY};
    if (!m_folderBundle.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &bundle);
    else if (!trust.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, trust.constData());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(qMin(m_timeoutMs, 10000)));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    reply.httpStatus = int(status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    hold.reset();

    switch (rc) {
    case CURLE_OK: reply.outcome = AuthorityReply::Outcome::Answered; return reply;
    // Failures before the request could leave this server: nothing was sent.
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
        reply.outcome = AuthorityReply::Outcome::NotSent;
        reply.error = QStringLiteral("SEFAZ indisponível ou não confiável: %1; nada foi enviado.").arg(curlReason(rc));
        // A handshake that failed may have been the token's doing: said so when it no longer signs.
        if (client.token && (rc == CURLE_SSL_CONNECT_ERROR || rc == CURLE_SSL_CERTPROBLEM)) {
            QString why;
            if (!client.token->stillSigns(&why))
                reply.error = why + QStringLiteral(" Nada foi enviado.");
        }
        return reply;
    default:
        reply.outcome = AuthorityReply::Outcome::NoAnswer;
        reply.body.clear();
        reply.error = QStringLiteral("Sem resposta da SEFAZ: %1; a situação será conferida antes de novo envio.")
                          .arg(curlReason(rc));
        return reply;
    }
}

} // namespace srv::fiscal
