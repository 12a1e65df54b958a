#include "server/store/InvoiceList.h"

#include <QSet>

#include "server/store/DatabaseFault.h"
#include "server/store/PgStatement.h"
#include "server/store/Query.h"
#include "server/store/SqliteStatement.h"
#include "server/store/Store.h"

namespace srv {

namespace {

// What each field of the invoices' packet is made of; IDCHECK of nothing stored.
const char* const kInvoiceSources[cce::packet::notaFiscal::kColumnCount] = {
    nullptr,          "N.CDFILIEMIT",      "N.NRINSJURNF",   "N.NMRAZSOCCLIE", "N.NRNOTAFISCALELE", "N.DTSAIDA",
    "N.DTEMISSAO",    "N.CDSERIE",         "N.VRNOTAFISC",   "L.IDEMAILCCE",   "L.IDEMAILCCETRANS", "N.IDTPAMBNFE",
    "L.IDTRANSMCCE",  "N.CDFILIAL",        "N.NRLANCTONF",   "N.CDEMPRESA",    "N.CDINSCESTA",      "N.CDINSCMUNI",
    "N.NRLICENCAUSO", "N.CDCLIENTE",       "N.CDFILIRECE",   "N.CDFORNECED",   "N.IDTIPOEMISNFE",   "N.CDTIPOOPER",
    "N.IDENTRSAIDOP", "L.NRSEQCCE",        "N.IDORIGDESTNF", "N.IDTPIJURNF",   "L.CDSTATUSCCE",     "N.NRACESSONFE",
    "N.NRINSJURTRAN", "N.DTHRPROTOCOLNFE",
};

// A column as the statements select it. PostgreSQL's timestamps come as the text the
// database writes ("yyyy-MM-dd HH:mm:ss[.ffffff]"): as QDateTime, Qt's driver would round
// the fraction and lose a local time that a change of summer time skipped; as text every
// reader takes the digits stored, as it does of SQLite's text.
QString column(const QString& source, bool pg)
{
    static const QStringList timestamps{QStringLiteral("N.DTSAIDA"), QStringLiteral("N.DTEMISSAO"),
                                        QStringLiteral("N.DTHRPROTOCOLNFE"), QStringLiteral("L.DTHRPROTOCOLCCE")};
    return pg && timestamps.contains(source) ? QStringLiteral("CAST(%1 AS VARCHAR)").arg(source) : source;
}

// The invoices' statements' columns; with letterless, the letter's (L.) are null.
QString invoiceColumns(bool pg, bool letterless = false)
{
    QStringList out;
    for (int f = 0; f < cce::packet::notaFiscal::kColumnCount; ++f) {
        const char* source = kInvoiceSources[f];
        if (source)
            out << (letterless && source[0] == 'L' ? QStringLiteral("NULL") : column(QLatin1String(source), pg));
    }
    return out.join(QStringLiteral(", "));
}

// The letters' statements' columns: the letters' packet's fields, then IDTRANSMCCE.
QString letterColumns(bool pg)
{
    QStringList out;
    for (const cce::packet::Field& f : cce::packet::cartaCorrecao::kFields)
        out << column(QStringLiteral("L.") + QLatin1String(f.name), pg);
    return (out << QStringLiteral("L.IDTRANSMCCE")).join(QStringLiteral(", "));
}

// The conditions of the criteria, their values in order.
class Filter {
public:
    void add(const QString& clause) { m_clauses << clause; }
    void equal(const char* column, const std::optional<QString>& value)
    {
        if (!value)
            return;
        m_clauses << QStringLiteral("N.%1 = ?").arg(QLatin1String(column));
        m_binds << *value;
    }
    void bind(const QVariant& value) { m_binds << value; }
    QString where() const { return m_clauses.join(QLatin1String(" AND ")); }
    const QVariantList& binds() const { return m_binds; }

private:
    QStringList m_clauses;
    QVariantList m_binds;
};

void prepare(Store& store, SqliteStatement& s, const QString& sql, const QVariantList& binds)
{
    if (!s.prepare(sql, binds))
        databaseFault(store, s.error(), "GetNotaFiscal");
}

// Nothing narrows the list but the company, the direction and the emission types.
bool companyOnly(const InvoiceCriteria& c)
{
    return !c.issuingBranch && !c.originBranch && c.operations.isEmpty() && !c.stateRegistration &&
           !c.municipalRegistration && !c.series && !c.recipientBranch && !c.counterpartKind &&
           !c.counterpartRegistration && !c.departureFrom.isValid() && !c.departureBefore.isValid();
}

// SQLite walks a company's invoices through the company's index, a look-up of the table
// per row: where the company holds a quarter of the table or more, reading the whole table
// in its order costs a fraction of that.
bool companyIsLarge(Store& store, const QString& company)
{
    sqlite3* db = SqliteStatement::handle(store.connection());
    if (!db)
        return false;
    SqliteStatement s(db);
    if (!s.prepare(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE CDEMPRESA = ?"), {company}) || !s.next())
        return false;
    const qint64 invoices = s.int64(0);
    if (!s.prepare(QStringLiteral("SELECT MAX(rowid) FROM NOTAFISCAL"), {}) || !s.next())
        return false;
    return invoices * 4 >= s.int64(0);
}

} // namespace

InvoiceList::InvoiceList(Store& store, const InvoiceCriteria& c)
    : m_store(store), m_pg(store.engine() == db::Engine::PostgreSQL)
{
    Filter f;
    f.add(QStringLiteral("N.CDEMPRESA = ?"));
    f.bind(c.company);
    f.add(QStringLiteral("N.CDMODELONF = '55'"));
    f.equal("CDFILIEMIT", c.issuingBranch);
    f.equal("CDFILIAL", c.originBranch);
    if (!c.operations.isEmpty()) {
        QStringList alternatives;
        for (const auto& [direction, code] : c.operations) {
            alternatives << QStringLiteral("(N.IDENTRSAIDOP = ? AND N.CDTIPOOPER = ?)");
            f.bind(direction);
            f.bind(code);
        }
        f.add(QLatin1Char('(') + alternatives.join(QLatin1String(" OR ")) + QLatin1Char(')'));
    }
    f.equal("CDINSCESTA", c.stateRegistration);
    f.equal("CDINSCMUNI", c.municipalRegistration);
    f.equal("CDSERIE", c.series);
    f.equal("CDFILIRECE", c.recipientBranch);
    f.equal("IDORIGDESTNF", c.counterpartKind);
    f.equal("NRINSJURNF", c.counterpartRegistration);
    // PostgreSQL compares the bound wall-clock time itself: Qt's driver would bind it as
    // a moment in UTC, read back in the database session's zone.
    const QString bound = m_pg ? QStringLiteral("CAST(? AS TIMESTAMP)") : QStringLiteral("?");
    auto departure = [&](const char* op, const QDateTime& t) {
        if (!t.isValid())
            return;
        f.add(QStringLiteral("N.DTSAIDA %1 %2").arg(QLatin1String(op), bound));
        f.bind(m_pg ? QVariant(t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))) : QVariant(t));
    };
    departure(">=", c.departureFrom);
    departure("<", c.departureBefore);
    f.equal("IDENTRSAIDOP", c.direction);
    if (c.emissionTypes) {
        QStringList marks;
        for (const QString& type : *c.emissionTypes) {
            marks << QStringLiteral("?");
            f.bind(type);
        }
        f.add(marks.isEmpty() ? QStringLiteral("1 = 0")
                              : QStringLiteral("N.IDTIPOEMISNFE IN (%1)").arg(marks.join(QLatin1Char(','))));
    }
    m_where = f.where();
    m_binds = f.binds();
    if (!m_pg && companyOnly(c) && companyIsLarge(store, c.company))
        m_from += QStringLiteral(" NOT INDEXED");
}

namespace {

// PostgreSQL's joins keep no order of their own (a hash join that spills reads its rows
// back by batch): there the invoices come by their key, and their letters by the key and
// then the sequence compared byte by byte, as the readers that join them in memory do.
const char* const kInvoiceOrder = " ORDER BY N.CDFILIAL, N.NRLANCTONF";

QString invoicesSql(const QString& from, const QString& where, bool pg)
{
    return QStringLiteral("SELECT %1 FROM %5 "
                          "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
                          "AND L.NRSEQCCE%3 = (SELECT MAX(X.NRSEQCCE%3) FROM CARTACORRECAO X "
                          "WHERE X.CDFILIAL = N.CDFILIAL AND X.NRLANCTONF = N.NRLANCTONF) "
                          "WHERE %2%4")
        .arg(invoiceColumns(pg), where, pg ? QStringLiteral(" COLLATE \"C\"") : QString(),
             pg ? QLatin1String(kInvoiceOrder) : QLatin1String(), from);
}

QString lettersSql(const QString& from, const QString& where, bool pg, bool ordered = true)
{
    return QStringLiteral("SELECT %1 FROM %4 CROSS JOIN CARTACORRECAO L "
                          "WHERE L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF AND %2%3")
        .arg(letterColumns(pg), where,
             pg && ordered ? QStringLiteral(" ORDER BY L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE COLLATE \"C\"") : QString(),
             from);
}

QString invoicesAloneSql(const QString& from, const QString& where, bool pg)
{
    return QStringLiteral("SELECT %1 FROM %4 WHERE %2%3")
        .arg(invoiceColumns(pg, true), where, pg ? QLatin1String(kInvoiceOrder) : QLatin1String(), from);
}

} // namespace

void InvoiceList::invoices(Query& q) const
{
    q.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
    q.run(invoicesSql(m_from, m_where, m_pg), m_binds);
}

void InvoiceList::invoices(SqliteStatement& s) const
{
    prepare(m_store, s, invoicesSql(m_from, m_where, false), m_binds);
}

void InvoiceList::letters(Query& q) const { q.run(lettersSql(m_from, m_where, m_pg), m_binds); }

void InvoiceList::letters(SqliteStatement& s) const
{
    prepare(m_store, s, lettersSql(m_from, m_where, false), m_binds);
}

void InvoiceList::invoicesAlone(SqliteStatement& s) const
{
    prepare(m_store, s, invoicesAloneSql(m_from, m_where, false), m_binds);
}

void InvoiceList::everyLetter(SqliteStatement& s) const
{
    prepare(m_store, s, QStringLiteral("SELECT %1 FROM CARTACORRECAO L").arg(letterColumns(false)), {});
}

void InvoiceList::lettersOfOneInvoice(SqliteStatement& s) const
{
    prepare(m_store, s,
            QStringLiteral("SELECT %1 FROM CARTACORRECAO L WHERE L.CDFILIAL = ? AND L.NRLANCTONF = ?")
                .arg(letterColumns(false)),
            {QString(), QString()});
}

void InvoiceList::readLettersFirst(pg_conn* conn, bool everyLetter, PgStatement& letters, PgStatement& invoices) const
{
    const QString lettersAlone = QStringLiteral("SELECT %1 FROM CARTACORRECAO L").arg(letterColumns(true));
    QSqlError error;
    if (!PgStatement::read(conn,
                           {{&letters, everyLetter ? lettersAlone : lettersSql(m_from, m_where, true, false),
                             everyLetter ? QVariantList() : m_binds},
                            {&invoices, invoicesAloneSql(m_from, m_where, true), m_binds}},
                           &error))
        databaseFault(m_store, error, "GetNotaFiscal");
}

bool InvoiceList::joinKeepsOrder(sqlite3* db)
{
    SqliteStatement s(db);
    if (!s.prepare(QStringLiteral("PRAGMA reverse_unordered_selects"), {}) || !s.next() || s.int64(0) != 0)
        return false;
    struct Index {
        QString name, origin;
        bool unique, partial;
    };
    QList<Index> indexes;
    if (!s.prepare(QStringLiteral("SELECT name, origin, \"unique\", partial FROM pragma_index_list(?)"),
                   {QStringLiteral("CARTACORRECAO")}))
        return false;
    while (s.next())
        indexes.append(Index{s.value(0).toString(), s.value(1).toString(), s.int64(2) != 0, s.int64(3) != 0});
    if (s.error().isValid())
        return false;
    const QSet<QString> key{QStringLiteral("CDFILIAL"), QStringLiteral("NRLANCTONF")};
    int keyed = 0;
    for (const Index& index : indexes) {
        struct Column {
            QString name, collation;
            bool descending;
        };
        QList<Column> columns;
        if (!s.prepare(
                QStringLiteral("SELECT name, coll, \"desc\" FROM pragma_index_xinfo(?) WHERE key ORDER BY seqno"),
                {index.name}))
            return false;
        while (s.next())
            columns.append(Column{s.value(0).toString(), s.value(1).toString(), s.int64(2) != 0});
        if (s.error().isValid() || columns.isEmpty())
            return false;
        if (!key.contains(columns.first().name))
            continue; // of no use to a lookup by invoice
        ++keyed;
        const bool primary = index.origin == QLatin1String("pk") && index.unique && !index.partial &&
                             columns.size() == 3 && key.contains(columns[1].name) &&
                             columns[0].name != columns[1].name && columns[2].name == QLatin1String("NRSEQCCE");
        for (const Column& c : columns)
            if (c.descending || c.collation != QLatin1String("BINARY"))
                return false;
        if (!primary)
            return false;
    }
    return keyed == 1;
}

qint64 InvoiceList::letterRowsBound(sqlite3* db)
{
    SqliteStatement s(db);
    if (!s.prepare(QStringLiteral("SELECT MAX(rowid) FROM CARTACORRECAO"), {}) || !s.next())
        return -1;
    return s.int64(0);
}

} // namespace srv
