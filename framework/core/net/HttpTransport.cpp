#include "core/net/HttpTransport.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

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

HttpTransport::HttpTransport() : m_manager(nullptr) {}

HttpTransport::~HttpTransport() { delete m_manager; }

QString HttpTransport::probe(const RpcRequest& request)
{
    const QString bad = badEndpoint(request);
    if (!bad.isEmpty())
        return bad;
    QTcpSocket socket;
    // The application server is reached directly, never through a proxy of the environment.
    socket.setProxy(QNetworkProxy::NoProxy);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    bool timedOut = false;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&]() {
        timedOut = true;
        loop.quit();
    });
    timer.start(qMin(request.timeoutMs, kProbeTimeoutMs));
    socket.connectToHost(request.host, static_cast<quint16>(request.port));
    if (socket.state() != QAbstractSocket::ConnectedState && socket.state() != QAbstractSocket::UnconnectedState)
        waitBlockingInput(loop);
    if (socket.state() == QAbstractSocket::ConnectedState) {
        socket.abort();
        return QString();
    }
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
    if (!m_manager) {
        m_manager = new QNetworkAccessManager;
        m_manager->setProxy(QNetworkProxy::NoProxy);
        m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }

    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(request.host);
    url.setPort(request.port);
    url.setPath(request.path());
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!request.token.isEmpty())
        req.setRawHeader(QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + request.token.toUtf8());
    if (!request.user.isEmpty())
        req.setRawHeader(QByteArrayLiteral("X-CCE-User"), request.user.toUtf8().toPercentEncoding());
    req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    // Without this header Qt asks for gzip itself and inflates the answer.
    const bool local = QHostAddress(request.host).isLoopback() || request.host == QLatin1String("localhost");
    if (m_compression == Compression::Never || (m_compression == Compression::Auto && local))
        req.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));

    QNetworkReply* reply = m_manager->post(req, request.body);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&]() {
        timedOut = true;
        reply->abort();
        loop.quit();
    });
    timer.start(request.timeoutMs);
    if (!reply->isFinished())
        waitBlockingInput(loop);
    timer.stop();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (timedOut) {
        out.failure = RpcReply::Failure::Timeout;
        out.failureText = QStringLiteral("tempo de resposta esgotado");
    } else if (!status.isValid()) {
        switch (reply->error()) {
        case QNetworkReply::ConnectionRefusedError:
            out.failure = RpcReply::Failure::Unreachable;
            out.failureText = QStringLiteral("conexão recusada");
            break;
        case QNetworkReply::HostNotFoundError:
            out.failure = RpcReply::Failure::Unreachable;
            out.failureText = QStringLiteral("endereço não encontrado");
            break;
        case QNetworkReply::TimeoutError:
            out.failure = RpcReply::Failure::Timeout;
            out.failureText = QStringLiteral("tempo de resposta esgotado");
            break;
        case QNetworkReply::RemoteHostClosedError:
            out.failure = RpcReply::Failure::Transport;
            out.failureText = QStringLiteral("o servidor encerrou a conexão sem responder");
            break;
        default:
            out.failure = RpcReply::Failure::Transport;
            out.failureText = reply->errorString();
            break;
        }
    } else {
        out.httpStatus = status.toInt();
        out.body = reply->readAll();
    }
    reply->disconnect();
    delete reply;
    return out;
}

} // namespace fw
