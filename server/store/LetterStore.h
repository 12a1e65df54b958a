#pragma once
// The letters of one invoice as SetCCe changes them, inside the caller's write transaction:
// the invoice is locked first; a letter is rewritten or removed only at the version that
// was read, so a change made meanwhile by someone else is never overwritten. Each change
// writes its row of the audit trail in the same transaction.
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <vector>

#include "vocabulary/PacketFields.h"

namespace srv {

class Query;
class Store;

// A letter as stored: the values of the letters' packet (cdsCCe), in its order, with the
// row's transmission state and version.
struct StoredLetter {
    bool found = false;
    QVariant values[cce::packet::cartaCorrecao::kColumnCount];
    QString transmission; // IDTRANSMCCE
    int version = 0; // NRVERSAOREG
};

// What of the invoice decides whether it may take letters.
struct LetterInvoice {
    bool found = false;
    QString situation; // IDSITUACAONFE
    QString company; // CDEMPRESA
    bool hasCarrier = false; // NRINSJURTRAN given
};

class LetterStore {
public:
    LetterStore(Store& store, QString filial, QString lancto);

    // PostgreSQL locks the invoice's row until the end of the transaction; SQLite's
    // write transaction holds the whole database already. The invoice's letters are read
    // with it, in the same message, and answer letter() and latest() until this store
    // changes one: whoever else would write a letter of the invoice waits for its lock,
    // and a transmission that changes one meanwhile changes its version, which every
    // change here checks.
    LetterInvoice lockInvoice();
    StoredLetter letter(const QString& seq);
    StoredLetter latest();
    // A new letter, pending and never transmitted.
    void add(const QString& seq, const QString& text, const QString& observation, const QString& carrierEmail);
    // New text: pending again, what the authority said of the old one forgotten. False
    // (nothing changed) when the letter is no longer at the version read.
    bool rewrite(const StoredLetter& letter, const QString& text, const QString& observation);
    bool remove(const StoredLetter& letter);

private:
    StoredLetter fetch(const QString& where, const QVariantList& binds);
    static StoredLetter stored(const Query& q);
    // Records the change in the audit trail when there was one; says whether there was.
    bool recorded(const QSqlDatabase& db, bool changed, const StoredLetter& letter, QLatin1String action);

    Store& m_store;
    QString m_filial;
    QString m_lancto;
    // The invoice's letters as read with its lock, by sequence; stale once one is changed.
    std::vector<StoredLetter> m_letters;
    bool m_lettersRead = false;
};

} // namespace srv
