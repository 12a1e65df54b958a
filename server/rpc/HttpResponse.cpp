#include "server/rpc/HttpResponse.h"

#include <climits>
#include <zlib.h>

#include "server/rpc/MethodRegistry.h"
#include "server/rpc/RpcDispatcher.h"

namespace srv::http {

namespace {

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    }
    return "Error";
}

QString defaultRefusalText(int status, qint64 bodyLimit)
{
    switch (status) {
    case 401: return QStringLiteral("Acesso não autorizado: token de acesso ausente ou inválido.");
    case 404: return QStringLiteral("Recurso inexistente: use POST /rpc/<servidor>.");
    case 405: return QStringLiteral("Método HTTP não aceito neste endereço.");
    case 408: return QStringLiteral("A requisição não chegou completa a tempo.");
    case 413: return QStringLiteral("A requisição excede o limite de %1 bytes do servidor.").arg(bodyLimit);
    case 415: return QStringLiteral("O corpo da requisição não pode vir comprimido (Content-Encoding).");
    case 417: return QStringLiteral("Expect não suportado: use apenas 100-continue.");
    case 503: return QStringLiteral("O servidor está sendo encerrado; tente novamente em instantes.");
    }
    return QStringLiteral("Requisição HTTP inválida.");
}

// length < 0: none, the connection's end ends the body.
QByteArray head(int status, qsizetype length, const Headers& headers)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    out += "Content-Type: " + headers.contentType + "\r\n";
    if (length >= 0)
        out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (headers.gzipped)
        out += "Content-Encoding: gzip\r\n";
    // One request per connection: a kept-alive idle client would hold a slot for nothing.
    out += "Connection: close\r\n";
    if (headers.askForToken)
        out += "WWW-Authenticate: Bearer\r\n";
    if (!headers.requestId.isEmpty())
        out += "X-Request-Id: " + headers.requestId + "\r\n";
    if (!headers.commitPosition.isEmpty())
        out += "X-CCE-Commit-Position: " + headers.commitPosition + "\r\n";
    out += "\r\n";
    return out;
}

} // namespace

QByteArray response(int status, const QByteArray& body, const Headers& headers)
{
    QByteArray out;
    out.reserve(body.size() + 200);
    out += head(status, body.size(), headers);
    out += body;
    return out;
}

QByteArray streamedHead(const Headers& headers) { return head(200, -1, headers); }

QByteArray refusal(int status, const QString& message, qint64 bodyLimit, const QByteArray& requestId)
{
    const bool unauthorized = status == 401;
    const QString text = message.isEmpty() ? defaultRefusalText(status, bodyLimit) : message;
    const int code = unauthorized ? fault::Unauthorized : fault::InvalidRequest;
    Headers h;
    h.askForToken = unauthorized;
    h.requestId = requestId;
    return response(status, RpcDispatcher::faultEnvelope(code, text), h);
}

bool acceptsGzip(const QByteArray& acceptEncoding)
{
    for (const QByteArray& item : acceptEncoding.split(',')) {
        const QList<QByteArray> parts = item.split(';');
        if (parts.value(0).trimmed().toLower() != "gzip")
            continue;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray p = parts[i].trimmed().toLower();
            if (p.startsWith("q=") && p.mid(2).toDouble() <= 0)
                return false;
        }
        return true;
    }
    return false;
}

QByteArray gzip(const QByteArray& data)
{
    z_stream z{};
    if (data.size() > qsizetype(UINT_MAX / 2) ||
        deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int result = deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return result == Z_STREAM_END ? out : QByteArray();
}

QByteArray printable(const QByteArray& text)
{
    QByteArray out = text.left(120);
    for (char& c : out)
        if (c < 0x21 || c > 0x7e)
            c = '?';
    return out.isEmpty() ? QByteArray("-") : out;
}

} // namespace srv::http
