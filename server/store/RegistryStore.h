#pragma once
// An invoice's letters set against the authority's registry: what the invoice holds, and in
// one transaction the changes a reading of the registry calls for (letters registered
// elsewhere brought in as letters of their own, this server's letter adopted or moved to
// the next free sequence), with the reading recorded. When a letter changed meanwhile,
// nothing is written.
#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <optional>

#include "server/store/BatchStore.h"

namespace srv {

class Store;

struct LocalLetter {
    QString seq, text, transmission, status, protocol, origin;
    int version = 0;
};

// An event registered by another system, kept as the letter it is.
struct ImportedLetter {
    QString seq, text; // nSeqEvento in two digits, xCorrecao as registered
    QString cStat, observation, nProt;
    QString dhRegEvento, registeredAt; // as the authority wrote it; on the issuer state's clock
    QByteArray signedEvent, procEvento; // exactly as received
};

struct RegistryChanges {
    QString filial, lancto;
    QString nfeStatus; // the query's own cStat for the NF-e
    int events = 0; // CC-e events the registry listed
    QList<ImportedLetter> imports;
    // This server's letter taken to a later sequence, never transmitted there, its text kept.
    struct Move {
        QString from, to, observation;
        int version = 0;
    };
    std::optional<Move> move;
    // This server's letter given an outcome (its own event found registered, or no sequence
    // left for it), at the version read.
    std::optional<LetterOutcome> ours;
    int oursVersion = 0;
};

// An invoice the event sync reads at the authority.
struct RegistryInvoice {
    QString filial, lancto, nrNotaFiscal, chNFe, tpAmb, uf, certificate, issuerDocument, situacao;
};

class RegistryStore {
public:
    explicit RegistryStore(Store& store) : m_store(store) {}

    // Every letter of the invoice, by sequence.
    QList<LocalLetter> letters(const QString& filial, const QString& lancto);

    // The changes and the reading's record, in one transaction; false, with nothing
    // written, when this server's letter is no longer at the version read or a sequence to
    // be taken is taken.
    bool apply(const RegistryChanges& changes);

    // The company's invoices whose registry the sync reads: authorised or cancelled, with an
    // access key; issued on or after since when it is valid, else those with letters; not
    // those read at or after readSinceUtc ("yyyy-MM-ddTHH:mm:ss") with no letter in doubt.
    // One invoice alone (filial, lancto given) is read whatever its last reading.
    QList<RegistryInvoice> syncInvoices(const QString& company, const QDate& since, const QString& filial,
                                        const QString& lancto, const QString& readSinceUtc);

private:
    Store& m_store;
};

} // namespace srv
