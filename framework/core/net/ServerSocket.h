#pragma once
// The socket of one request to the application server: in clear on this machine, else TLS
// as the request's policy says (TlsPolicy.h): the certificate verified against the
// authority and the host name, the pin compared, the client's certificate presented.
// ready() once the request can be written; failed() when the connection cannot be used,
// with insecure() saying, in Portuguese, what TLS found wrong.
#include <QObject>
#include <QSslError>
#include <QString>
#include <QStringList>

#include "core/net/RpcTransport.h"

class QTcpSocket;

namespace fw {

class ServerSocket : public QObject {
    Q_OBJECT
public:
    explicit ServerSocket(const RpcRequest& request, QObject* parent = nullptr);

    // Why the connection cannot even start (a file of the policy that cannot be read).
    QString setupError() const { return m_setupError; }
    bool secured() const { return m_tls; }
    QTcpSocket& socket() { return *m_socket; }

    // Connects (and with TLS shakes hands); waits for no one.
    void open();
    // What TLS found wrong, "" when nothing.
    QString insecure() const { return m_insecure; }

signals:
    void ready();
    void failed();

private:
    void onSslErrors(const QList<QSslError>& errors);
    void onEncrypted();

    RpcRequest m_request;
    QTcpSocket* m_socket = nullptr;
    bool m_tls = false;
    bool m_reached = false; // the TCP connection was made
    QString m_setupError;
    QString m_insecure;
};

} // namespace fw
