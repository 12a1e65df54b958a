#pragma once
// Calls to the tax authority's services: SOAP 1.2 over HTTPS with the issuer's certificate
// as client certificate (an A1 from memory, an A3's key on its token), the authority's
// certificate always verified against the trust store.
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
    // trustStore: a file of certificates (PEM), or a folder whose every certificate file
    // (PEM or DER: .pem, .crt, .cer) is trusted, as the ICP-Brasil chains are published;
    // empty: the system's own store.
    CurlAuthority(QString trustStore, int timeoutMs);
    AuthorityReply call(const QString& url, const QByteArray& service, const QByteArray& soap,
                        const LoadedCertificate& client) override;

private:
    QString m_trustStore;
    QByteArray m_folderBundle; // a folder's certificates as one PEM bundle
    int m_timeoutMs;
};

struct ProtocolAnswer;
// The protocol query (NFeConsultaProtocolo4) for one NF-e: the answer, or one that is not
// readable with the reason in *why.
ProtocolAnswer consultProtocol(Authority& authority, const QString& url, const QString& tpAmb, const QString& chNFe,
                               const LoadedCertificate& client, QString* why);

// The certificates of a folder (PEM or DER files) as one PEM bundle; empty when none.
QByteArray trustBundle(const QString& folder);

} // namespace srv::fiscal
