#pragma once
// One request on a connection of its own, written and read byte for byte, in clear or over
// TLS (verifying the server against an authority, optionally presenting a certificate):
// what a test needs to see exactly what the server sends, and how the connection ends.
#include <QByteArray>
#include <QString>

namespace cce_test {

struct TlsClientOptions {
    QString ca; // empty: in clear
    QString certificate, key; // the client's, for mutual TLS
};

struct RawExchange {
    bool connected = false;
    bool handshaken = false; // TLS: the handshake ended (verified)
    QString tlsError; // why it did not
    QByteArray received; // every byte (TLS: every plaintext byte) until the end
    bool cleanEnd = false; // TLS: the server ended the session (close_notify) rather than cutting it
};

// Sends request to 127.0.0.1:port and reads until the server closes, the head is in (when
// headOnly), or timeoutMs pass.
RawExchange rawExchange(int port, const QByteArray& request, const TlsClientOptions& tls = {}, bool headOnly = false,
                        int timeoutMs = 20000);

// A POST of body to /rpc/<server> with the headers given (each ending in CRLF).
QByteArray rpcPost(const QByteArray& server, const QByteArray& body, const QByteArray& headers = {});

} // namespace cce_test
