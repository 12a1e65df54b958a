#pragma once
// The SOAP 1.2 envelopes of the authority's services and the reading of their answers:
// the batch answer (retEnvEvento) and the protocol query's (retConsSitNFe). The answers'
// signed parts are kept as the exact bytes received.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace srv::fiscal {

inline const QByteArray kRecepcaoEvento = QByteArrayLiteral("NFeRecepcaoEvento4");
inline const QByteArray kConsultaProtocolo = QByteArrayLiteral("NFeConsultaProtocolo4");

// The envelope carrying message (envEvento, consSitNFe) for service.
QByteArray envelope(const QByteArray& service, const QByteArray& message);
// The Content-Type of a call to service's one operation.
QByteArray contentType(const QByteArray& service);

struct EventAnswer {
    QString cStat, xMotivo, chNFe, tpEvento, nProt;
    int nSeqEvento = 0; // 0 when absent
    QString dhRegEvento; // as the authority wrote it, with its offset
    QByteArray bytes; // the retEvento element exactly as received
};

struct BatchAnswer {
    bool readable = false; // false: not an answer of the service
    QString cStat, xMotivo;
    QList<EventAnswer> events;
};
BatchAnswer readBatchAnswer(const QByteArray& soap);

struct RegisteredEvent {
    QString chNFe, tpEvento, cStat, xMotivo, nProt;
    int nSeqEvento = 0;
    QString dhRegEvento; // as the authority wrote it, with its offset
    QByteArray procEvento; // the procEventoNFe element exactly as received
};
struct ProtocolAnswer {
    bool readable = false;
    QString cStat, xMotivo;
    QList<RegisteredEvent> events;
};
QByteArray consSitNFe(const QString& tpAmb, const QString& chNFe);
ProtocolAnswer readProtocolAnswer(const QByteArray& soap);
// The answer tells the NF-e's state and events (it was read: authorised, cancelled, denied,
// unknown there); false for a refusal of the query itself (schema, environment, key, abuse).
bool registryRead(const ProtocolAnswer& answer);

// "2026-12-08T12:04:05-03:00" as an instant; invalid when it is not one (an offset is required).
QDateTime parseAuthorityTime(const QString& text);

} // namespace srv::fiscal
