#pragma once
// Calls to the tax authority's services: SOAP 1.2 over HTTPS with the issuer's A1
// certificate as client certificate (from memory), the authority's certificate always
// verified against the trust store.
#include <QByteArray>
#include <QString>

#include "server/fiscal/CertificateStore.h"

namespace srv::fiscal {

struct AuthorityReply {
    enum class Outcome {
        Answered, // the authority answered (body holds it, whatever the HTTP status)
        NotSent, // nothing left this server: the letters are as they were
        NoAnswer, // sent, or maybe sent, and no answer: the letters are in doubt
    };
    Outcome outcome = Outcome::NotSent;
    int httpStatus = 0;
    QByteArray body;
    QString error; // Portuguese, for the operator and the answer's line
};

class Authority {
public:
    virtual ~Authority() = default;
    virtual AuthorityReply call(const QString& url, const QByteArray& service, const QByteArray& soap,
                                const LoadedCertificate& client) = 0;
};

class CurlAuthority : public Authority {
public:
    CurlAuthority(QString trustStore, int timeoutMs) : m_trustStore(std::move(trustStore)), m_timeoutMs(timeoutMs) {}
    AuthorityReply call(const QString& url, const QByteArray& service, const QByteArray& soap,
                        const LoadedCertificate& client) override;

private:
    QString m_trustStore;
    int m_timeoutMs;
};

} // namespace srv::fiscal
