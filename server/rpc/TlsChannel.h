#pragma once
// One connection's TLS over a non-blocking socket, for the connection loop: each call does
// what it can now and says which way the socket must be ready before it is called again.
#include <QString>
#include <memory>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace srv::http {

class TlsChannel {
public:
    enum class Io {
        Done, // the handshake ended, or *n bytes were moved
        WantRead, // call again once the socket is readable
        WantWrite, // call again once the socket is writable
        Closed, // the peer ended the session
        Failed, // a protocol failure (failure() says which)
    };

    TlsChannel(SSL_CTX* ctx, int fd);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    Io handshake();
    Io read(char* buffer, int size, int* n);
    Io write(const char* data, int size, int* n);
    // Sends the end of the session (close_notify) if the socket takes it now; never waits.
    void shutdown();

    // The client certificate's subject (RFC 2253), once the handshake has ended; empty without one.
    QString peerSubject() const;
    QString failure() const { return m_failure; }

private:
    Io outcome(int ret);
    SSL* m_ssl = nullptr;
    QString m_failure;
};

} // namespace srv::http
