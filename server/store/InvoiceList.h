#pragma once
// The statements of the invoice list (GetNotaFiscal): the company's electronic invoices
// that meet the criteria, each with its latest letter, and their letters; for SQLite also
// the invoices alone and their letters apart, which the methods join in memory, and the
// facts that say whether that join gives the statements' own order.
//
// On SQLite the invoices are the outer loop of every statement: a LEFT JOIN is never
// reordered and the letters' statement says CROSS JOIN, which SQLite takes as the order to
// keep. So each statement walks the invoices the same way, by the same terms on the same
// table (the whole table in its order, for a company that holds much of it). On PostgreSQL the two statements order their rows by the invoice's key (and the
// letter's sequence, byte by byte); libpq's road reads the invoices alone in that order
// and their letters in any, and joins them in memory.
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <optional>

#include "vocabulary/PacketFields.h"

struct pg_conn;
struct sqlite3;

namespace srv {

class PgStatement;
class Query;
class SqliteStatement;
class Store;

// What the list is narrowed by. Company and model always; an unset criterion narrows nothing.
struct InvoiceCriteria {
    QString company; // CDEMPRESA
    std::optional<QString> issuingBranch; // CDFILIEMIT
    std::optional<QString> originBranch; // CDFILIAL
    // (IDENTRSAIDOP, CDTIPOOPER) pairs, any of which matches; empty: every operation.
    QList<QPair<QString, QString>> operations;
    std::optional<QString> stateRegistration; // CDINSCESTA
    std::optional<QString> municipalRegistration; // CDINSCMUNI
    std::optional<QString> series; // CDSERIE
    std::optional<QString> recipientBranch; // CDFILIRECE
    std::optional<QString> counterpartKind; // IDORIGDESTNF
    std::optional<QString> counterpartRegistration; // NRINSJURNF
    QDateTime departureFrom, departureBefore; // DTSAIDA from the first, before the second; invalid: no bound
    std::optional<QString> direction; // IDENTRSAIDOP
    std::optional<QStringList> emissionTypes; // IDTIPOEMISNFE among these (none: no invoice)
};

// The invoices' statements select, for each field of the invoices' packet after IDCHECK,
// in the packet's order, the stored value it is made of: the letter's IDTRANSMCCE for
// IDSTATUSCCE, the dates for DATASAIDA and DATAEMISSAO, the latest letter's own for its
// fields. The value of field f is at column invoiceColumn(f).
constexpr int invoiceColumn(cce::packet::notaFiscal::Column field) { return field - 1; }

// The letters' statements select the fields of the letters' packet (cdsCCe) in its order,
// then the letter's IDTRANSMCCE.
constexpr int kLetterTransmissionColumn = cce::packet::cartaCorrecao::kColumnCount;

class InvoiceList {
public:
    InvoiceList(Store& store, const InvoiceCriteria& criteria);

    // Each prepares its statement, bound to the criteria; a failure is a DatabaseFault.
    void invoices(Query& q) const; // with the latest letter
    void invoices(SqliteStatement& s) const;
    void letters(Query& q) const; // every letter of the listed invoices
    void letters(SqliteStatement& s) const;
    void invoicesAlone(SqliteStatement& s) const; // the latest letter's columns null
    void everyLetter(SqliteStatement& s) const; // of the whole table, in no order
    // The letters of one invoice in the order of their key, to run again and again bound to
    // each invoice's (CDFILIAL, NRLANCTONF).
    void lettersOfOneInvoice(SqliteStatement& s) const;
    // PostgreSQL: the letters in no order (of the listed invoices, or every letter of the
    // table when everyLetter) and the invoices alone in the statements' order, the letter's
    // columns null: read in one message and one snapshot. A failure is a DatabaseFault.
    void readLettersFirst(pg_conn* conn, bool everyLetter, PgStatement& letters, PgStatement& invoices) const;

    // Facts of an SQLite database that decide whether the invoices read alone, with
    // their letters joined in memory by invoice and sequence, give the statements'
    // answer in the statements' order: the letters' only index that an invoice's key can
    // use is the primary key the schema creates (key, then sequence, ascending, compared
    // byte by byte), and SQLite is not told to walk unordered loops backwards.
    static bool joinKeepsOrder(sqlite3* db);
    // The letters' table holds at most this many rows (SQLite).
    static qint64 letterRowsBound(sqlite3* db);

private:
    Store& m_store;
    bool m_pg;
    QString m_from = QStringLiteral("NOTAFISCAL N");
    QString m_where;
    QVariantList m_binds;
};

} // namespace srv
