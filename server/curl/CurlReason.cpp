#include "server/curl/CurlReason.h"

namespace srv {

namespace {

QString sentence(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("o endereço do servidor não foi encontrado");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("o servidor recusou a conexão ou não está no ar");
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("o servidor não respondeu a tempo");
    case CURLE_GOT_NOTHING: return QStringLiteral("o servidor fechou a conexão sem responder");
    case CURLE_SEND_ERROR: return QStringLiteral("a conexão caiu ao enviar os dados");
    case CURLE_RECV_ERROR: return QStringLiteral("a conexão caiu ao receber a resposta");
    case CURLE_PARTIAL_FILE: return QStringLiteral("a resposta chegou incompleta");
    case CURLE_WEIRD_SERVER_REPLY: return QStringLiteral("o servidor respondeu fora do protocolo");
    case CURLE_SSL_CONNECT_ERROR: return QStringLiteral("a conexão segura (TLS) não pôde ser estabelecida");
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("o certificado do servidor não é confiável para este endereço");
    case CURLE_SSL_CERTPROBLEM: return QStringLiteral("o certificado digital desta empresa não pôde ser usado");
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("o arquivo das autoridades certificadoras confiáveis não pôde ser lido");
    case CURLE_LOGIN_DENIED: return QStringLiteral("o usuário ou a senha foram recusados");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return QStringLiteral("o endereço configurado não é válido");
    case CURLE_ABORTED_BY_CALLBACK: return QStringLiteral("a operação foi interrompida");
    default: return QStringLiteral("falha de comunicação");
    }
}

} // namespace

QString curlReason(CURLcode code, const char* detail)
{
    const QString words = detail && *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curl_easy_strerror(code));
    return QStringLiteral("%1 (%2)").arg(sentence(code), words);
}

} // namespace srv
