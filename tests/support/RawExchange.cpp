#include "tests/support/RawExchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

namespace cce_test {

QByteArray rpcPost(const QByteArray& server, const QByteArray& body, const QByteArray& headers)
{
    return "POST /rpc/" + server +
           " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n" + headers + "\r\n" + body;
}

RawExchange rawExchange(int port, const QByteArray& request, const TlsClientOptions& tls, bool headOnly, int timeoutMs)
{
    RawExchange out;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
        ::close(fd);
        return out;
    }
    out.connected = true;
    auto headDone = [&] { return headOnly && out.received.contains("\r\n\r\n"); };
    char buffer[65536];
    if (tls.ca.isEmpty()) {
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        for (ssize_t n; !headDone() && (n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0;)
            out.received.append(buffer, n);
        ::close(fd);
        return out;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(ctx, QFile::encodeName(tls.ca).constData(), nullptr);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (!tls.certificate.isEmpty()) {
        SSL_CTX_use_certificate_chain_file(ctx, QFile::encodeName(tls.certificate).constData());
        SSL_CTX_use_PrivateKey_file(ctx, QFile::encodeName(tls.key).constData(), SSL_FILETYPE_PEM);
    }
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    SSL_set_tlsext_host_name(ssl, "localhost");
    SSL_set1_host(ssl, "localhost");
    if (SSL_connect(ssl) == 1) {
        out.handshaken = true;
        SSL_write(ssl, request.constData(), int(request.size()));
        for (;;) {
            if (headDone())
                break;
            const int n = SSL_read(ssl, buffer, sizeof(buffer));
            if (n > 0) {
                out.received.append(buffer, n);
                continue;
            }
            const int e = SSL_get_error(ssl, n);
            out.cleanEnd = e == SSL_ERROR_ZERO_RETURN;
            // In TLS 1.3 a refused client certificate is told after the client's own flight.
            if (e == SSL_ERROR_SSL && out.received.isEmpty()) {
                out.handshaken = false;
                out.tlsError = QString::fromLatin1(ERR_error_string(ERR_get_error(), nullptr));
            }
            break;
        }
    } else {
        out.tlsError = QString::fromLatin1(ERR_error_string(ERR_get_error(), nullptr));
    }
    ERR_clear_error();
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    return out;
}

} // namespace cce_test
