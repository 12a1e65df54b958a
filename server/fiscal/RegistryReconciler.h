#pragma once
// The authority's registry is the truth of an invoice's letters. Wherever the server reads
// it (a letter in doubt, a duplicate answer, the first letter of an invoice, the event
// sync), the answer is set against the invoice's letters the same way:
// - a registered event is this server's only when it is the very event this server signed
//   for the letter as it stands (its signature, not its key and sequence); it is adopted;
// - any other registered CC-e is a letter of its own, brought in as registered elsewhere,
//   with its text, protocol, times and procEventoNFe as received;
// - this server's open letter, when its sequence was taken or a later one registered,
//   moves to the next free sequence with its text, to be transmitted again (the newest
//   letter replaces the earlier ones, so the user reviews it first);
// - an accepted letter here that the registry holds under another protocol is a conflict:
//   told, never changed.
// All of an invoice's changes are written in one transaction, or none.
#include <QList>
#include <QString>
#include <QStringList>

#include "nfe/States.h"
#include "server/fiscal/Soap.h"
#include "server/store/BatchStore.h"
#include "server/store/RegistryStore.h"

namespace srv::fiscal {

struct RegistryInvoiceRef {
    QString filial, lancto, chNFe;
    const nfe::State* state = nullptr; // the issuer's: its clock keeps the registrations
    bool foldAccents = false; // its authority refuses accented letters
};

struct Reconciliation {
    enum class Ours {
        None, // no open letter of this server on the invoice
        Free, // its sequence is free at the authority: it may be sent as it is
        Adopted, // its own event was registered: accepted now
        Moved, // its sequence was taken (or a later one registered): moved, to be sent again
        Blocked, // no sequence left for it: rejected, its text kept
        Changed, // changed meanwhile by someone else: nothing written
    };
    Ours ours = Ours::None;
    QString oursSeq; // where the open letter is after the reading
    QString line; // what a transmission's answer says of the open letter
    QStringList imported; // one line per letter brought in
    QStringList conflicts; // one line per disagreement left as it was
    int absent = 0; // accepted letters here the registry does not list
};

// The authority's time ("...-03:00") on the issuer state's clock ("yyyy-MM-ddTHH:mm:ss");
// "" when the text names no instant.
QString issuerClock(const QString& authorityTime, const nfe::State& state);

// A letter accepted on the authority's record of its event; the registration on the
// issuer's clock (now, when the answer gave no time).
LetterOutcome acceptedOutcome(const QString& filial, const QString& lancto, const QString& seq, const QString& cStat,
                              const QString& xMotivo, const QString& nProt, const QString& dhRegEvento,
                              const nfe::State& state);

class RegistryReconciler {
public:
    explicit RegistryReconciler(Store& store) : m_batches(store), m_registry(store) {}

    Reconciliation reconcile(const RegistryInvoiceRef& invoice, const ProtocolAnswer& answer);

private:
    bool signedHere(const RegistryInvoiceRef& invoice, const LocalLetter& letter, const RegisteredEvent& event);

    BatchStore m_batches;
    RegistryStore m_registry;
};

} // namespace srv::fiscal
