#include "server/rpc/TlsChannel.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "server/rpc/TlsContext.h"

namespace srv::http {

TlsChannel::TlsChannel(SSL_CTX* ctx, int fd) : m_ssl(SSL_new(ctx))
{
    if (m_ssl) {
        SSL_set_fd(m_ssl, fd);
        SSL_set_accept_state(m_ssl);
    }
}

TlsChannel::~TlsChannel() { SSL_free(m_ssl); }

TlsChannel::Io TlsChannel::outcome(int ret)
{
    const int e = SSL_get_error(m_ssl, ret);
    switch (e) {
    case SSL_ERROR_WANT_READ: return Io::WantRead;
    case SSL_ERROR_WANT_WRITE: return Io::WantWrite;
    case SSL_ERROR_ZERO_RETURN: return Io::Closed;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
            // The peer closed the connection without ending the session.
            m_failure = QStringLiteral("conexão encerrada");
            return Io::Closed;
        }
        [[fallthrough]];
    default: {
        char text[256] = "erro de protocolo";
        if (const unsigned long err = ERR_peek_last_error())
            ERR_error_string_n(err, text, sizeof(text));
        m_failure = QString::fromLatin1(text);
        ERR_clear_error();
        return Io::Failed;
    }
    }
}

TlsChannel::Io TlsChannel::handshake()
{
    if (!m_ssl)
        return Io::Failed;
    ERR_clear_error();
    const int r = SSL_do_handshake(m_ssl);
    return r == 1 ? Io::Done : outcome(r);
}

TlsChannel::Io TlsChannel::read(char* buffer, int size, int* n)
{
    ERR_clear_error();
    const int r = SSL_read(m_ssl, buffer, size);
    *n = r > 0 ? r : 0;
    return r > 0 ? Io::Done : outcome(r);
}

TlsChannel::Io TlsChannel::write(const char* data, int size, int* n)
{
    ERR_clear_error();
    const int r = SSL_write(m_ssl, data, size);
    *n = r > 0 ? r : 0;
    return r > 0 ? Io::Done : outcome(r);
}

void TlsChannel::shutdown()
{
    if (!m_ssl || !SSL_is_init_finished(m_ssl))
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
}

QString TlsChannel::peerSubject() const
{
    X509* peer = m_ssl ? SSL_get1_peer_certificate(m_ssl) : nullptr;
    if (!peer)
        return QString();
    const QString text = subjectOf(peer);
    X509_free(peer);
    return text;
}

} // namespace srv::http
