// The invoice list of the CC-e screen: the company's electronic invoices (model 55) that
// match the criteria, each with its latest letter, and every letter of those invoices.
// The answer's JSON is written as the rows are read: [<invoices>, <letters>].
#include "core/values/JsonCodec.h"
#include "server/methods/HeldAnswer.h"
#include "server/methods/LetterGroups.h"
#include "server/methods/ListCriteria.h"
#include "server/methods/ListLayout.h"
#include "server/methods/PacketFields.h"
#include "server/methods/PacketRow.h"
#include "server/methods/ReadOrder.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"
#include "server/store/Transactions.h"
#include "vocabulary/GetNotaFiscalArgs.h"

namespace srv::methods {

namespace {

// Writes an invoices' statement's row with its latest letter.
class InvoiceRowWriter {
public:
    template <class Row>
    void operator()(PacketWriter& w, const Row& r)
    {
        m_invoice.clear();
        m_latest.clear();
        const InvoiceParts i = appendInvoice(m_invoice, r);
        const LatestParts l =
            r.isNull(kJoinedLatest.seq) ? appendNoLetter(m_latest) : appendLatest(m_latest, r, kJoinedLatest);
        writeInvoiceRow(w, m_invoice, i, m_latest, l);
    }

private:
    QByteArray m_invoice, m_latest;
};

struct LetterRowWriter {
    template <class Row>
    void operator()(PacketWriter& w, const Row& r) const
    {
        w.beginRow();
        writeLetterValues(w, r);
        w.endRow();
    }
};

// The two statements through Qt's driver, whatever the database.
void writeThroughQuery(Store& store, const InvoiceList& list, QByteArray& json)
{
    const QSqlDatabase db = openConnection(store);
    {
        Query q(store, db, "GetNotaFiscal");
        list.invoices(q);
        PacketWriter w(&json, fields::notaFiscal());
        InvoiceRowWriter write;
        const QueryRow row(q);
        while (q.next())
            write(w, row);
        w.finish();
    }
    json.append(',');
    Query q(store, db, "GetNotaFiscal");
    list.letters(q);
    PacketWriter w(&json, fields::cartaCorrecao());
    const QueryRow row(q);
    while (q.next())
        LetterRowWriter()(w, row);
    w.finish();
}

// The same two statements through SQLite's own calls.
void writeThroughSqlite(Store& store, sqlite3* lite, const InvoiceList& list, QByteArray& json)
{
    auto write = [&](void (InvoiceList::*prepare)(SqliteStatement&) const, const fw::FieldDefs& fields, auto writeRow) {
        SqliteStatement s(lite);
        (list.*prepare)(s);
        PacketWriter w(&json, fields);
        const SqliteRow row(s);
        while (s.next())
            writeRow(w, row);
        if (s.error().isValid())
            databaseFault(store, s.error(), "GetNotaFiscal");
        w.finish();
    };
    write(&InvoiceList::invoices, fields::notaFiscal(), InvoiceRowWriter());
    json.append(',');
    write(&InvoiceList::letters, fields::cartaCorrecao(), LetterRowWriter());
}

// The invoices read alone, their letters joined in memory; false, with nothing written,
// where that cannot give the two statements' answer. *taken says how the letters came.
bool writeInvoicesFirst(Store& store, sqlite3* lite, const InvoiceList& list, RowReader asked, QByteArray& json,
                        RowReader* taken)
{
    HeldAnswer held;
    {
        SqliteStatement s(lite);
        list.invoicesAlone(s);
        if (!held.readInvoices(s)) {
            if (s.error().isValid())
                databaseFault(store, s.error(), "GetNotaFiscal");
            return false;
        }
    }
    const bool scan = scanLetters(asked, held.size(), InvoiceList::letterRowsBound(lite));
    SqliteStatement s(lite);
    if (scan) {
        list.everyLetter(s);
        while (s.next()) {
            const int invoice = held.invoiceOf(s);
            if (invoice >= 0 && !held.addLetter(invoice, s))
                return false;
        }
    } else {
        list.lettersOfOneInvoice(s);
        SqliteStatement::Stored key[2];
        for (int i = 0; i < held.size() && !s.error().isValid(); ++i) {
            held.keyOf(i, key);
            if (!s.rerun(key, 2))
                break;
            while (s.next())
                if (!held.addLetter(i, s))
                    return false;
        }
    }
    if (s.error().isValid())
        databaseFault(store, s.error(), "GetNotaFiscal");
    held.write(json);
    *taken = scan ? RowReader::LettersScanned : RowReader::LettersLookedUp;
    return true;
}

// PostgreSQL through libpq: the letters first, kept by invoice, then the invoices in the
// statements' order, each written with its latest letter as soon as it is read.
void writeLettersFirst(Store& store, pg_conn* pg, const InvoiceList& list, QByteArray& json)
{
    LetterGroups letters;
    {
        PgStatement s(pg);
        list.letters(s);
        const PgRow row(s);
        while (s.next())
            letters.add(row); // a letter without a key of text joins no invoice
        if (s.error().isValid())
            databaseFault(store, s.error(), "GetNotaFiscal");
    }
    letters.close();
    std::vector<int> listed;
    {
        PgStatement s(pg);
        list.invoicesAlone(s);
        PacketWriter w(&json, fields::notaFiscal());
        const PgRow row(s);
        QByteArray invoice;
        while (s.next()) {
            invoice.clear();
            const InvoiceParts parts = appendInvoice(invoice, row);
            const int group = letters.find(row);
            if (group >= 0)
                listed.push_back(group);
            letters.writeInvoiceRow(w, invoice, parts, group);
        }
        if (s.error().isValid())
            databaseFault(store, s.error(), "GetNotaFiscal");
        w.finish();
    }
    json.append(',');
    PacketWriter w(&json, fields::cartaCorrecao());
    letters.writeLetters(w, listed);
    w.finish();
}

} // namespace

QVariant getNotaFiscal(Store& store, const QVariantList& params, RowReader reader, RowReader* taken)
{
    InvoiceCriteria criteria;
    const QString refusal = readCriteria(params, &criteria);
    if (!refusal.isEmpty())
        return refusal;
    // Every invoice listed is of the company asked for.
    const QString outside = companyScopeRefusal(params.value(cce::getNotaFiscal::Company).toString());
    if (!outside.isEmpty())
        return outside;

    const QSqlDatabase db = openConnection(store);
    ReadTransaction tx(store, db);
    sqlite3* lite = reader == RowReader::QueryOnly ? nullptr : SqliteStatement::handle(db);
    pg_conn* pg = reader == RowReader::QueryOnly || lite ? nullptr : PgStatement::handle(db);
    const InvoiceList list(store, criteria);
    QByteArray json;
    json.append('[');
    RowReader road = RowReader::TwoStatements;
    if (pg) {
        writeLettersFirst(store, pg, list, json);
        road = RowReader::LettersFirst;
    } else if (lite && readInvoicesFirst(reader, lite) && writeInvoicesFirst(store, lite, list, reader, json, &road)) {
        // written
    } else if (lite) {
        writeThroughSqlite(store, lite, list, json);
    } else {
        writeThroughQuery(store, list, json);
        road = RowReader::QueryOnly;
    }
    json.append(']');
    tx.finish();
    if (taken)
        *taken = road;
    return QVariant::fromValue(fw::json::RawJson{std::move(json)});
}

} // namespace srv::methods
