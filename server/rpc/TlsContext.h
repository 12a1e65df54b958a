#pragma once
// The server's side of TLS: its certificate and key (PEM), TLS 1.2 and 1.3 only at OpenSSL's
// security level 2, and optionally the authority whose certificates clients must present
// (mutual TLS). Loaded once at start and shared by every connection.
#include <QDateTime>
#include <QString>
#include <memory>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct x509_st X509;

namespace srv {

struct TlsSettings {
    QString certificate; // PEM: the server's certificate, then its chain
    QString key; // PEM, not encrypted, readable by the service's user alone
    QString clientCa; // PEM; empty: no client certificate asked

    bool enabled() const { return !certificate.isEmpty() || !key.isEmpty(); }
};

class TlsContext {
public:
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    // Null with *error (in Portuguese, naming the file) when a file is missing, unreadable,
    // not PEM, the key is readable by others or does not match the certificate.
    static std::shared_ptr<TlsContext> load(const TlsSettings& settings, QString* error);

    SSL_CTX* context() const { return m_ctx; }
    QDateTime notBefore() const { return m_notBefore; } // UTC
    QDateTime notAfter() const { return m_notAfter; } // UTC
    QString subject() const { return m_subject; }
    bool asksClientCertificate() const { return m_mutual; }

private:
    TlsContext() = default;
    SSL_CTX* m_ctx = nullptr;
    QDateTime m_notBefore, m_notAfter;
    QString m_subject;
    bool m_mutual = false;
};

// A certificate's subject as text (RFC 2253, UTF-8), for the log and the audit trail.
QString subjectOf(const X509* certificate);

} // namespace srv
