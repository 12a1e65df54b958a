#pragma once
// A connection to one application server object (ServerName) on the host's application
// server. Each Call is one JSON-RPC 2.0 request: POST /rpc/<ServerName>, a bearer token
// when one is set, ids increasing per connection. Transport failures (no server, timeout,
// access denied, a protocol fault, a malformed reply) raise fw::ConnectionError with a
// message that names the server; the server's own answers, error texts included, are
// returned as values.
//
// Opening runs OnBeforeConnect (where the screen sets Host and Port) and checks that the
// server can be reached. With ThrowException false an unreachable server does not raise
// there: the connection stays closed and the first Call, which opens it again, raises.
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

#include "core/net/RpcTransport.h"

#include "core/CoreExport.h"

class FW_CORE_EXPORT TNetConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString ServerName READ serverName WRITE setServerName)
    Q_PROPERTY(QString Host READ host WRITE setHost)
    Q_PROPERTY(int Port READ port WRITE setPort)
    Q_PROPERTY(QString Token READ token WRITE setToken)
    Q_PROPERTY(bool ThrowException READ throwException WRITE setThrowException)
    Q_PROPERTY(bool Connected READ isConnected WRITE setConnected NOTIFY connectedChanged)
    Q_PROPERTY(int TimeoutMs READ timeoutMs WRITE setTimeoutMs)
public:
    using ConnectHandler = std::function<void(QObject* sender)>;

    // Host, port, token and timeout start from the host context.
    explicit TNetConnection(QObject* parent = nullptr);
    ~TNetConnection() override;

    QString serverName() const { return m_serverName; }
    void setServerName(const QString& name) { m_serverName = name; }
    QString host() const { return m_host; }
    void setHost(const QString& host) { m_host = host; }
    int port() const { return m_port; }
    void setPort(int port) { m_port = port; }
    // Until set here, the token is the host context's at each opening.
    QString token() const { return m_token; }
    void setToken(const QString& token);
    // How the connection is secured; until set here, the host context's at each opening.
    fw::TlsPolicy tlsPolicy() const { return m_tls; }
    void setTlsPolicy(const fw::TlsPolicy& policy);
    bool throwException() const { return m_throwException; }
    void setThrowException(bool on) { m_throwException = on; }
    int timeoutMs() const { return m_timeoutMs; }
    void setTimeoutMs(int ms) { m_timeoutMs = ms > 0 ? ms : 120000; }

    bool isConnected() const { return m_connected; }
    void setConnected(bool on); // true: Open(); false: Close()

    // Run by Open() before connecting, with this connection as sender.
    ConnectHandler OnBeforeConnect;
    ConnectHandler OnAfterConnect;
    ConnectHandler OnAfterDisconnect;

    void Open();
    void Close();

    // Calls method on the server object with args (each encoded as on the wire: QString,
    // bool, numbers, QDateTime, QVariantList, fw::DataPacket, fw::DeltaPacket, Null) and
    // returns the decoded result. Opens the connection first when it is closed.
    QVariant Call(const QString& method, const QVariantList& args = QVariantList());

    // Where the server said this connection's last writes reached ("" before any): sent
    // with every call, so that a list the server reads from a standby shows them.
    QByteArray commitPosition() const { return m_commitPosition; }

    // Why the last opening failed ("" when it did not).
    QString lastConnectError() const { return m_lastConnectError; }
    bool callInProgress() const { return m_inCall; }

    // The transport of this connection; by default the one of fw::makeDefaultTransport,
    // made at first use.
    void setTransport(std::shared_ptr<fw::RpcTransport> transport) { m_transport = std::move(transport); }
    std::shared_ptr<fw::RpcTransport> transport();

    // "Dfs59000.rdmTransmissaoCCe (127.0.0.1:8080)", as messages name the server.
    QString describe() const;

signals:
    void connectedChanged(bool connected);

private:
    void open(bool raise);
    fw::RpcRequest makeRequest(const QByteArray& body) const;
    [[noreturn]] void fail(const QString& message) const;

    QString m_serverName;
    QString m_host;
    int m_port = 0;
    QString m_token;
    bool m_tokenSet = false;
    fw::TlsPolicy m_tls;
    bool m_tlsSet = false;
    bool m_throwException = true;
    bool m_connected = false;
    bool m_inCall = false;
    int m_timeoutMs = 120000;
    qint64 m_nextId = 0;
    QString m_lastConnectError;
    QByteArray m_commitPosition;
    std::shared_ptr<fw::RpcTransport> m_transport;
};
