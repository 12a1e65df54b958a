#pragma once
// The batches of transmissions: the latest letter of each marked invoice with what its
// event needs, the claim of letters into a batch (one transaction, before anything is
// sent), the outcome of each letter (one transaction, before the call answers), and what
// the batches kept: accepted events and the XML of failed batches.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <optional>

#include "server/store/Store.h"

namespace srv {

// An invoice's latest letter and what its event is built from, as the database holds them.
struct LetterToSend {
    QString cdFilial, nrLanctoNF, nrNotaFiscal, cdEmpresa;
    QString seq; // "01".."20"
    QString text; // as stored
    QString transmission; // IDTRANSMCCE: N, D (in doubt), R
    QString status; // CDSTATUSCCE
    int version = 0; // NRVERSAOREG
    QString signedEvent; // DSXMLEVENTO: the event last sent (in doubt: to reconcile)
    QDateTime changedAt; // DTHRALTERACAO: a claim this recent may still be on its way
    bool callEnded = true; // false: its last send recorded no ending (the call may be under way)
    // false: the authority never answered anything of this invoice and its registry was
    // never read; events registered elsewhere may be there
    bool answerSeen = true;
    QString chNFe, tpAmb, uf, certificate, issuerDocument, situacao;
    QString tpEmis; // IDTIPOEMISNFE: 1 normal, the others contingency
};

// The batch a claim builds: its XML, the signed event of each claimed letter (same order),
// or the schema's refusal.
struct BuiltBatch {
    QByteArray xml;
    QList<QByteArray> signedEvents;
    QString schemaError; // not empty: the batch failed the schema check and is not sent
};

struct LetterOutcome {
    enum class Kind { Accepted, Rejected, InDoubt, Released };
    QString cdFilial, nrLanctoNF, seq;
    Kind kind = Kind::Rejected;
    QString cStat, xMotivo, nProt;
    QString observation; // what the letter shows of it; "cStat - xMotivo" when empty
    QString dhRegEvento; // accepted: the registration as the authority wrote it (with its offset)
    QString registeredAt; // accepted: the same instant on the issuer state's clock, "yyyy-MM-ddTHH:mm:ss"
    QByteArray procEvento; // accepted: the signed event followed by the authority's answer
    QString restore; // released: the transmission state it had before the claim
};

class BatchStore {
public:
    explicit BatchStore(Store& store) : m_store(store) {}

    // The latest letter of each (CDFILIAL, NRLANCTONF) of the company; invoices without
    // letters or of another company are left out.
    QList<LetterToSend> latestLetters(const QString& company, const QList<QPair<QString, QString>>& invoices);

    // In one transaction: a new batch number; each letter still as it was read (version and
    // state) is claimed ("in doubt"); build() makes the batch of the claimed ones; the batch
    // row with its exact XML and the letters' signed events are stored. A batch the schema
    // refused is stored as "S" and its letters rejected with the message. Returns the batch
    // number (0 when no letter could be claimed) and the claimed letters in *claimed.
    qint64 claim(const QString& company, const QList<LetterToSend>& letters,
                 const std::function<BuiltBatch(qint64 batch, const QList<LetterToSend>& claimed)>& build,
                 QList<LetterToSend>* claimed, BuiltBatch* built);

    // In one transaction: the batch's answer and type ("P" processed, "R" rejected, "D" no
    // answer) and every letter's outcome.
    void record(qint64 batch, const QString& type, const QString& cStat, const QString& xMotivo,
                const QByteArray& answer, const QList<LetterOutcome>& outcomes);
    // One letter's outcome, inside the caller's write transaction on db.
    static void writeOutcome(Store& store, const QSqlDatabase& db, const LetterOutcome& o);

    // Every signed event this server sent or built for the letter at that sequence: the
    // batches that carried it and the event it keeps. A registered event is this
    // server's only when it is one of these.
    QList<QByteArray> sentXml(const QString& filial, const QString& lancto, const QString& seq);

    struct AcceptedEvent {
        QString chNFe;
        int seq = 0;
        QByteArray procEvento; // exactly as stored
    };
    // Every accepted event of the company registered between from and to (days of the
    // issuer state's calendar, inclusive; an invalid date is no bound), in key order.
    QList<AcceptedEvent> acceptedEvents(const QString& company, const QDate& from, const QDate& to);

    struct FailedBatch {
        QString kind; // IDTIPOARQXML: "S" failed the schema check, "R" rejected
        QString sent; // the batch's XML
        QString answer; // the authority's answer; empty when there was none
    };
    // The invoice's latest batch that failed the schema check or was rejected, if any.
    std::optional<FailedBatch> latestFailedBatch(const QString& filial, const QString& lancto);

    // The invoices, of every company, whose latest letter is in doubt: at most limit, those
    // left longest first, by company (CDEMPRESA -> (CDFILIAL, NRLANCTONF)).
    QHash<QString, QList<QPair<QString, QString>>> inDoubt(int limit);
    // In one transaction: the letter, still in doubt at the version read, is pending again
    // with the observation, and the audit trail says so. False when it changed meanwhile.
    bool releaseInDoubt(const LetterToSend& letter, const QString& observation);

private:
    Store& m_store;
};

} // namespace srv
