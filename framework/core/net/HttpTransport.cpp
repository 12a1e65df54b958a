#include "core/net/HttpTransport.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include "core/net/HttpReplyReader.h"
#include "core/net/ServerSocket.h"

namespace fw {

namespace {

QString badEndpoint(const RpcRequest& r)
{
    if (r.host.trimmed().isEmpty())
        return QStringLiteral("o endereço do servidor não foi configurado");
    if (r.port <= 0 || r.port > 65535)
        return QStringLiteral("a porta do servidor não foi configurada");
    return QString();
}

QString socketErrorText(QAbstractSocket::SocketError e, const QString& qtText)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return QStringLiteral("conexão recusada");
    case QAbstractSocket::HostNotFoundError: return QStringLiteral("endereço não encontrado");
    case QAbstractSocket::SocketTimeoutError: return QStringLiteral("tempo de conexão esgotado");
    case QAbstractSocket::NetworkError: return QStringLiteral("rede inacessível");
    default: return qtText;
    }
}

// Waits on loop, letting the screen paint and timers run but holding back the user's input.
void waitBlockingInput(QEventLoop& loop) { loop.exec(QEventLoop::ExcludeUserInputEvents); }

} // namespace

HttpTransport::HttpTransport() = default;

HttpTransport::~HttpTransport() = default;

QString HttpTransport::probe(const RpcRequest& request)
{
    const QString bad = badEndpoint(request);
    if (!bad.isEmpty())
        return bad;
    // With TLS the handshake is made too: a certificate that does not verify shows at once.
    ServerSocket link(request);
    if (!link.setupError().isEmpty())
        return link.setupError();
    QTcpSocket& socket = link.socket();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool ready = false, timedOut = false;
    QObject::connect(&link, &ServerSocket::ready, &loop, [&]() {
        ready = true;
        loop.quit();
    });
    QObject::connect(&link, &ServerSocket::failed, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&]() {
        timedOut = true;
        loop.quit();
    });
    timer.start(qMin(request.timeoutMs, kProbeTimeoutMs));
    link.open();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        waitBlockingInput(loop);
    if (ready) {
        socket.abort();
        return QString();
    }
    if (!link.insecure().isEmpty())
        return link.insecure();
    if (timedOut)
        return QStringLiteral("tempo de conexão esgotado");
    return socketErrorText(socket.error(), socket.errorString());
}

RpcReply HttpTransport::post(const RpcRequest& request)
{
    RpcReply out;
    const QString bad = badEndpoint(request);
    if (!bad.isEmpty()) {
        out.failure = RpcReply::Failure::Unreachable;
        out.failureText = bad;
        return out;
    }
    ServerSocket link(request);
    if (!link.setupError().isEmpty()) {
        out.failure = RpcReply::Failure::Insecure;
        out.failureText = link.setupError();
        return out;
    }
    // Asked for without gzip, Qt's sockets answer no differently; compression is asked for
    // here, and inflated as the body arrives.
    const bool gzip =
        m_compression == Compression::Always || (m_compression == Compression::Auto && !isLocalHost(request.host));
    QByteArray message =
        "POST " + QUrl::toPercentEncoding(request.path(), "/") + " HTTP/1.1\r\nHost: " + request.host.toUtf8() + ':' +
        QByteArray::number(request.port) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(request.body.size()) +
        "\r\nAccept-Encoding: " + (gzip ? "gzip" : "identity") + "\r\nConnection: close\r\n";
    if (!request.token.isEmpty())
        message += "Authorization: Bearer " + request.token.toUtf8() + "\r\n";
    if (!request.user.isEmpty())
        message += "X-CCE-User: " + request.user.toUtf8().toPercentEncoding() + "\r\n";
    if (!request.commitPosition.isEmpty())
        message += "X-CCE-Commit-Position: " + request.commitPosition + "\r\n";
    message += "\r\n";
    message += request.body;

    HttpReplyReader reader([&](QByteArrayView piece) {
        if (request.onBody)
            request.onBody(piece);
        else
            out.body.append(piece.data(), piece.size());
    });
    QTcpSocket& socket = link.socket();
    // No more than this waits in memory for the reader: the rest waits in the network.
    socket.setReadBufferSize(kReadAhead);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false, broken = false;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QObject::connect(&link, &ServerSocket::ready, &loop, [&]() { socket.write(message); });
    auto take = [&]() {
        reader.feed(socket.readAll());
        if (reader.done() || !reader.failure().isEmpty())
            loop.quit();
    };
    // TLS hands the answer over a few kilobytes at a time; the reader is given them
    // together, once what has arrived is decrypted, as it is given them in clear.
    QTimer gather;
    gather.setSingleShot(true);
    gather.setInterval(0);
    QObject::connect(&gather, &QTimer::timeout, &loop, take);
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&]() {
        if (link.secured() && socket.bytesAvailable() < kGatherBytes) {
            if (!gather.isActive())
                gather.start();
            return;
        }
        take();
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError e) {
        // The server closes the connection after its answer: the end, not a failure.
        if (e != QAbstractSocket::RemoteHostClosedError) {
            broken = true;
            error = e;
        }
        loop.quit();
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&]() {
        timedOut = true;
        loop.quit();
    });
    QObject::connect(&link, &ServerSocket::failed, &loop, [&]() {
        if (!link.insecure().isEmpty())
            loop.quit();
    });
    timer.start(request.timeoutMs);
    link.open();
    waitBlockingInput(loop);
    timer.stop();
    if (!timedOut && !broken && reader.failure().isEmpty()) {
        reader.feed(socket.readAll());
        reader.finish();
    }
    const QString errorText = socket.errorString();
    socket.abort();

    if (!link.insecure().isEmpty()) {
        out.failure = RpcReply::Failure::Insecure;
        out.failureText = link.insecure();
    } else if (timedOut) {
        out.failure = RpcReply::Failure::Timeout;
        out.failureText = QStringLiteral("tempo de resposta esgotado");
    } else if (!reader.headRead()) {
        switch (broken ? error : QAbstractSocket::RemoteHostClosedError) {
        case QAbstractSocket::ConnectionRefusedError:
            out.failure = RpcReply::Failure::Unreachable;
            out.failureText = QStringLiteral("conexão recusada");
            break;
        case QAbstractSocket::HostNotFoundError:
            out.failure = RpcReply::Failure::Unreachable;
            out.failureText = QStringLiteral("endereço não encontrado");
            break;
        case QAbstractSocket::SocketTimeoutError:
            out.failure = RpcReply::Failure::Timeout;
            out.failureText = QStringLiteral("tempo de resposta esgotado");
            break;
        case QAbstractSocket::RemoteHostClosedError:
            out.failure = RpcReply::Failure::Transport;
            out.failureText = reader.failure().isEmpty() ? QStringLiteral("o servidor encerrou a conexão sem responder")
                                                         : reader.failure();
            break;
        default:
            out.failure = RpcReply::Failure::Transport;
            out.failureText = errorText;
            break;
        }
    } else if (!reader.failure().isEmpty()) {
        out.failure = RpcReply::Failure::Transport;
        out.failureText = reader.failure();
    } else {
        // A connection lost in the middle of a body without a length shows in the body.
        out.httpStatus = reader.status();
        out.commitPosition = reader.commitPosition();
    }
    return out;
}

} // namespace fw
