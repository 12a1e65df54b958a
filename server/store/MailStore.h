#pragma once
// The SQL of e-mailing letters: what a letter's message is made of, the addresses from the
// registries, the invoices whose recipient e-mail is pending, and the record that a
// message left (one transaction holding only that, with its row of the audit trail).
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

#include "server/store/Store.h"

namespace srv {

struct LetterMail {
    QString cdFilial, nrLanctoNF, seq; // seq "01".."20"
    QString cdEmpresa, nrNotaFiscal, serie, chNFe, tpAmb;
    QString correction; // DSCORRECAONFE as stored
    QString status, protocol; // CDSTATUSCCE, NRPROTOCOLCCE
    QString registeredAt; // DTHRPROTOCOLCCE, "dd/MM/yyyy HH:mm:ss" on the issuer state's clock
    QByteArray procEvento; // the stored procEventoNFe; empty when none was kept
    QString emailFlag, carrierEmailFlag; // IDEMAILCCE, IDEMAILCCETRANS
    QString companyName, branchName; // the issuer
    // The invoice's counterpart: its kind ("C" customer, "F" supplier, "L" own branch),
    // its code in that registry, whether the registry has it, and its address there.
    QString recipientKind, recipientCode, recipientName, recipientEmail;
    bool recipientRegistered = false;
    // The carrier, by the registration the invoice names (empty: no carrier).
    QString carrierDocument, carrierName, carrierEmail;
    bool carrierRegistered = false;
};

class MailStore {
public:
    explicit MailStore(Store& store) : m_store(store) {}

    // The letter with everything its message needs; none when there is no such letter.
    std::optional<LetterMail> letter(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq);

    // Of the given invoices, those whose latest letter is accepted (135, 136) and whose
    // recipient e-mail is pending, with that letter's sequence, in key order.
    struct PendingMail {
        QString cdFilial, nrLanctoNF, seq;
    };
    QList<PendingMail> pendingRecipientMails(const QList<QPair<QString, QString>>& invoices);

    // Records the message as sent ("E") to the recipient or the carrier, in a transaction
    // of its own. False when the letter is no longer an accepted one.
    bool markSent(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq, bool carrier);
    // Records in the audit trail that a message did not go, and why.
    void recordFailure(const QString& cdFilial, const QString& nrLanctoNF, const QString& seq, bool carrier,
                       const QString& reason);

private:
    Store& m_store;
};

} // namespace srv
