// The invoice list of the CC-e screen: the company's electronic invoices (model 55) that
// match the criteria, each with its latest letter, and every letter of those invoices.
// The answer's JSON is written as the rows are read: [<invoices>, <letters>], and goes to
// the client in pieces as it is written when the call is served so (AnswerText).
#include "core/values/JsonCodec.h"
#include "server/methods/AnswerText.h"
#include "server/methods/HeldAnswer.h"
#include "server/methods/LettersFirst.h"
#include "server/methods/ListCriteria.h"
#include "server/methods/ListLayout.h"
#include "server/methods/PacketFields.h"
#include "server/methods/PacketRow.h"
#include "server/methods/ReadOrder.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/rpc/AnswerStream.h"
#include "server/store/CommitPosition.h"
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
void writeThroughQuery(Store& store, const InvoiceList& list, AnswerText& answer)
{
    const QSqlDatabase db = openConnection(store);
    {
        Query q(store, db, "GetNotaFiscal");
        list.invoices(q);
        PacketWriter w(&answer.json(), fields::notaFiscal());
        InvoiceRowWriter write;
        const QueryRow row(q);
        while (q.next()) {
            write(w, row);
            answer.written();
        }
        w.finish();
    }
    answer.json().append(',');
    Query q(store, db, "GetNotaFiscal");
    list.letters(q);
    PacketWriter w(&answer.json(), fields::cartaCorrecao());
    const QueryRow row(q);
    while (q.next()) {
        LetterRowWriter()(w, row);
        answer.written();
    }
    w.finish();
}

// The same two statements through SQLite's own calls.
void writeThroughSqlite(Store& store, sqlite3* lite, const InvoiceList& list, AnswerText& answer)
{
    auto write = [&](void (InvoiceList::*prepare)(SqliteStatement&) const, const fw::FieldDefs& fields, auto writeRow) {
        SqliteStatement s(lite);
        (list.*prepare)(s);
        PacketWriter w(&answer.json(), fields);
        const SqliteRow row(s);
        while (s.next()) {
            writeRow(w, row);
            answer.written();
        }
        if (s.error().isValid())
            databaseFault(store, s.error(), "GetNotaFiscal");
        w.finish();
    };
    write(&InvoiceList::invoices, fields::notaFiscal(), InvoiceRowWriter());
    answer.json().append(',');
    write(&InvoiceList::letters, fields::cartaCorrecao(), LetterRowWriter());
}

// The invoices read alone, their letters joined in memory; false, with nothing written,
// where that cannot give the two statements' answer. *taken says how the letters came.
bool writeInvoicesFirst(Store& store, sqlite3* lite, const InvoiceList& list, RowReader asked, AnswerText& answer,
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
    held.write(answer);
    *taken = scan ? RowReader::LettersScanned : RowReader::LettersLookedUp;
    return true;
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
    sqlite3* lite = reader == RowReader::QueryOnly ? nullptr : SqliteStatement::handle(db);
    pg_conn* pg = reader == RowReader::QueryOnly || lite ? nullptr : PgStatement::handle(db);
    const InvoiceList list(store, criteria);
    AnswerText answer;
    answer.json().append('[');
    RowReader road = RowReader::LettersFirst;
    if (pg) {
        // One message, one snapshot, every row read before the first is written.
        PgStatement letters, invoices;
        list.readLettersFirst(pg, readsWholeCompany(params), letters, invoices);
        writeLettersFirst<PgStatement, PgRow>(store, letters, invoices, answer);
        answer.json().append(']');
        if (taken)
            *taken = road;
        return QVariant::fromValue(fw::json::RawJson{answer.take()});
    }
    ReadTransaction tx(store, db);
    auto lettersFirst = [&] {
        SqliteStatement letters(lite), invoices(lite);
        list.everyLetter(letters);
        list.invoicesAlone(invoices);
        return writeLettersFirst<SqliteStatement, SqliteRow>(store, letters, invoices, answer);
    };
    if (lite && readLettersFirst(reader, readsWholeCompany(params), lite) && lettersFirst()) {
        // written
    } else if (lite && readInvoicesFirst(reader, lite) &&
               writeInvoicesFirst(store, lite, list, reader, answer, &road)) {
        // written
    } else if (lite) {
        writeThroughSqlite(store, lite, list, answer);
        road = RowReader::TwoStatements;
    } else {
        writeThroughQuery(store, list, answer);
        road = RowReader::QueryOnly;
    }
    answer.json().append(']');
    tx.finish();
    if (taken)
        *taken = road;
    return QVariant::fromValue(fw::json::RawJson{answer.take()});
}

QVariant getNotaFiscal(ReadReplica& replica, const QVariantList& params)
{
    Store& from = replica.forList(CommitPosition::wanted());
    if (&from == &replica.primary())
        return getNotaFiscal(from, params);
    try {
        return getNotaFiscal(from, params);
    } catch (const DatabaseFault&) {
        // PostgreSQL's rows are all read before the answer's first byte is written: a
        // standby that fails has put nothing into it, unless the answer was on its way.
        const AnswerStream* stream = AnswerStream::current();
        if (stream && stream->started())
            throw;
        replica.failed(QStringLiteral("uma lista falhou nela"));
        return getNotaFiscal(replica.primary(), params);
    }
}

} // namespace srv::methods
