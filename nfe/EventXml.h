#pragma once
// The CC-e event (tpEvento 110110) and its batch (envEvento 1.00), as the published
// schemas lay them out. The event is built unsigned; Signer signs it; the batch wraps
// the signed events' exact bytes, so that signed XML is never serialised again.
#include <QByteArray>
#include <QList>
#include <QString>

namespace nfe {

inline const QByteArray kNamespace = QByteArrayLiteral("http://www.portalfiscal.inf.br/nfe");
inline const QString kTipoEventoCCe = QStringLiteral("110110");
// The most events one envEvento may carry.
constexpr int kMaxEventsPerBatch = 20;

struct CceEvent {
    int cOrgao = 0; // the issuer's state (IBGE)
    int tpAmb = 2; // 1 production, 2 homologation
    QString cnpj; // the issuer: CNPJ (14) or CPF (11)
    QString cpf;
    QString chNFe; // 44 digits
    QString dhEvento; // nfe::eventTime()
    int nSeqEvento = 1; // 1..20
    QString xCorrecao; // already normalised (CorrectionText)
    QString xCondUso; // the condition of use, as the screen passed it
};

// "ID" + "110110" + chNFe + the sequence in two digits.
QString eventId(const QString& chNFe, int nSeqEvento);

// <evento versao="1.00" xmlns="..."><infEvento Id="...">...</infEvento></evento>, no
// declaration, no white space between elements.
QByteArray buildEvento(const CceEvent& event);

// <envEvento versao="1.00" xmlns="..."><idLote>..</idLote><evento>..</evento>...</envEvento>
QByteArray buildEnvEvento(qint64 idLote, const QList<QByteArray>& signedEventos);

} // namespace nfe
