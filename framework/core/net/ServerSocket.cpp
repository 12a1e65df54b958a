#include "core/net/ServerSocket.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

namespace fw {

namespace {

QString day(const QDateTime& t) { return t.toLocalTime().toString(QStringLiteral("dd/MM/yyyy")); }

QString names(const QSslCertificate& c)
{
    QStringList out = c.subjectInfo(QSslCertificate::CommonName);
    for (const QString& n : c.subjectAlternativeNames().values())
        if (!out.contains(n))
            out << n;
    return out.join(QStringLiteral(", "));
}

QString said(const QSslError& e, const QString& host)
{
    const QSslCertificate c = e.certificate();
    switch (e.error()) {
    case QSslError::CertificateExpired:
        return QStringLiteral("o certificado do servidor venceu em %1").arg(day(c.expiryDate()));
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("o certificado do servidor só vale a partir de %1").arg(day(c.effectiveDate()));
    case QSslError::HostNameMismatch:
        return QStringLiteral("o certificado do servidor não vale para o endereço %1 (vale para %2)")
            .arg(host, names(c));
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return QStringLiteral("o certificado do servidor não foi emitido por uma autoridade confiável (emissor: %1); "
                              "confira a autoridade configurada em [server] ca")
            .arg(c.issuerDisplayName());
    case QSslError::CertificateRevoked: return QStringLiteral("o certificado do servidor foi revogado");
    default: return e.errorString();
    }
}

// The last session each server gave, under the policy it was verified by: the next
// connection resumes it instead of a whole handshake (one call is one connection).
QMutex g_ticketsMutex;
QHash<QString, QByteArray>& tickets()
{
    static QHash<QString, QByteArray> t;
    return t;
}

QString ticketKey(const RpcRequest& r)
{
    return QStringList{r.host, QString::number(r.port), r.tls.caFile, TlsPolicy::normalisedPin(r.tls.pinSha256),
                       r.tls.certificateFile}
        .join(QLatin1Char('\n'));
}

} // namespace

ServerSocket::ServerSocket(const RpcRequest& request, QObject* parent)
    : QObject(parent), m_request(request), m_tls(request.tls.enabledFor(request.host))
{
    if (!m_tls) {
        m_socket = new QTcpSocket(this);
    } else {
        auto* s = new QSslSocket(this);
        m_socket = s;
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setProtocol(QSsl::TlsV1_2OrLater);
        conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
        const TlsPolicy& p = request.tls;
        if (!p.caFile.isEmpty()) {
            const QList<QSslCertificate> cas = QSslCertificate::fromPath(p.caFile, QSsl::Pem);
            if (cas.isEmpty())
                m_setupError = QStringLiteral("o arquivo da autoridade certificadora %1 não pôde ser lido (PEM "
                                              "esperado)")
                                   .arg(p.caFile);
            conf.setCaCertificates(cas);
        }
        if (!p.pinSha256.isEmpty() && TlsPolicy::normalisedPin(p.pinSha256).isEmpty())
            m_setupError = QStringLiteral("a impressão digital configurada em [server] pin não é um SHA-256 (64 "
                                          "dígitos hexadecimais)");
        if (!p.certificateFile.isEmpty()) {
            const QList<QSslCertificate> mine = QSslCertificate::fromPath(p.certificateFile, QSsl::Pem);
            QFile keyFile(p.keyFile);
            QSslKey key;
            if (keyFile.open(QIODevice::ReadOnly)) {
                const QByteArray pem = keyFile.readAll();
                for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec})
                    if (key.isNull())
                        key = QSslKey(pem, a);
            }
            if (mine.isEmpty() || key.isNull())
                m_setupError = QStringLiteral("o certificado do cliente %1 ou a sua chave %2 não puderam ser lidos "
                                              "(PEM esperado)")
                                   .arg(p.certificateFile, p.keyFile);
            else {
                conf.setLocalCertificateChain(mine);
                conf.setPrivateKey(key);
            }
        }
        conf.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
        {
            QMutexLocker lock(&g_ticketsMutex);
            const QByteArray ticket = tickets().value(ticketKey(request));
            if (!ticket.isEmpty())
                conf.setSessionTicket(ticket);
        }
        s->setSslConfiguration(conf);
        connect(s, &QSslSocket::newSessionTicketReceived, this, [this, s] {
            QMutexLocker lock(&g_ticketsMutex);
            tickets().insert(ticketKey(m_request), s->sslConfiguration().sessionTicket());
        });
        connect(s, &QSslSocket::sslErrors, this, &ServerSocket::onSslErrors);
        connect(s, &QSslSocket::encrypted, this, &ServerSocket::onEncrypted);
    }
    // The application server is reached directly, never through a proxy of the environment.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    if (!m_tls)
        connect(m_socket, &QTcpSocket::connected, this, &ServerSocket::ready);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_reached = true;
        // A request is one write, after the handshake's last flight: it goes at once.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        // Reached but not secured: whatever went wrong, it went wrong in TLS.
        if (m_tls && m_reached && m_insecure.isEmpty() && !static_cast<QSslSocket*>(m_socket)->isEncrypted())
            m_insecure =
                QStringLiteral("o servidor não completou a conexão segura (TLS): %1").arg(m_socket->errorString());
        emit failed();
    });
}

void ServerSocket::open()
{
    if (m_tls)
        static_cast<QSslSocket*>(m_socket)->connectToHostEncrypted(m_request.host, quint16(m_request.port));
    else
        m_socket->connectToHost(m_request.host, quint16(m_request.port));
}

void ServerSocket::onSslErrors(const QList<QSslError>& errors)
{
    QStringList texts;
    for (const QSslError& e : errors) {
        const QString t = said(e, m_request.host);
        if (!texts.contains(t))
            texts << t;
    }
    m_insecure = texts.join(QStringLiteral("; "));
    // Nothing is ignored: Qt ends the handshake, and failed() follows.
}

void ServerSocket::onEncrypted()
{
    auto* s = static_cast<QSslSocket*>(m_socket);
    const QString pin = TlsPolicy::normalisedPin(m_request.tls.pinSha256);
    const QString seen = QString::fromLatin1(s->peerCertificate().digest(QCryptographicHash::Sha256).toHex());
    if (!pin.isEmpty() && seen != pin) {
        m_insecure = QStringLiteral("o certificado do servidor (SHA-256 %1) não é o fixado em [server] pin").arg(seen);
        s->abort();
        emit failed();
        return;
    }
    emit ready();
}

} // namespace fw
