// The invoice list of the CC-e screen: the company's electronic invoices (model 55) that
// match the criteria, each with its latest letter, and every letter of those invoices.
#include <QSet>
#include <QSqlDriver>
#include <QSqlQuery>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "nfe/Status.h"
#include "server/methods/Messages.h"
#include "server/methods/MethodSupport.h"
#include "server/methods/PacketFields.h"
#include "server/methods/PacketWriter.h"
#include "server/methods/SqliteStatement.h"
#include "server/methods/TransmissaoMethods.h"

namespace srv::methods {

namespace {

constexpr int kMaxShortArg = 60;
constexpr int kMaxOperList = 8000;
constexpr int kMaxOperKeys = 400;

const QString kAll = QStringLiteral("T");

struct Filter {
    QStringList clauses;
    QVariantList binds;

    void equal(const char* column, const QString& value)
    {
        if (value == kAll)
            return;
        clauses << QStringLiteral("N.%1 = ?").arg(QLatin1String(column));
        binds << value;
    }
    QString where() const { return clauses.join(QLatin1String(" AND ")); }
};

// Builds the conditions, or returns the message that refuses the criteria.
QString buildFilter(const QVariantList& p, Filter* f)
{
    auto arg = [&](int i) { return p.value(i).toString(); };
    for (int i = 0; i < 13; ++i) {
        const int limit = i == 2 ? kMaxOperList : i == 12 ? 200 : kMaxShortArg;
        if (arg(i).size() > limit)
            return msg::criterioLongo(QStringLiteral("A%1").arg(i + 1));
    }
    const QString company = arg(3);
    if (company.trimmed().isEmpty() || company == kAll)
        return msg::empresaDeveInf();
    const QString kind = arg(8);
    if (kind != kAll && kind != QLatin1String("C") && kind != QLatin1String("F") && kind != QLatin1String("L"))
        return msg::criterioTipoDest();
    const QString dateSwitch = arg(10);
    if (dateSwitch != kAll && dateSwitch != QLatin1String("N") && !dateSwitch.isEmpty())
        return msg::criterioPeriodo();
    const QString direction = arg(11);
    if (direction != kAll && direction != QLatin1String("S") && direction != QLatin1String("E"))
        return msg::criterioOperacao();

    f->clauses << QStringLiteral("N.CDEMPRESA = ?") << QStringLiteral("N.CDMODELONF = '55'");
    f->binds << company;
    f->equal("CDFILIEMIT", arg(0));
    f->equal("CDFILIAL", arg(1));

    // Operation types: "S01;S05", direction letter and operation code. An empty list
    // restricts nothing, like "T".
    const QString opers = arg(2);
    if (opers != kAll && !opers.trimmed().isEmpty()) {
        QSet<QString> seen;
        QStringList alternatives;
        QVariantList binds;
        const QStringList keys = opers.split(QLatin1Char(';'));
        for (const QString& raw : keys) {
            const QString key = raw.trimmed();
            if (key.isEmpty())
                continue;
            const QChar dir = key[0];
            if (key.size() < 2 || key.size() > 3 || (dir != QLatin1Char('S') && dir != QLatin1Char('E')))
                return msg::criterioTipoOper();
            if (seen.contains(key))
                continue;
            seen.insert(key);
            alternatives << QStringLiteral("(N.IDENTRSAIDOP = ? AND N.CDTIPOOPER = ?)");
            binds << QString(dir) << key.mid(1);
        }
        if (seen.size() > kMaxOperKeys)
            return msg::criterioTiposDemais();
        if (!alternatives.isEmpty()) {
            f->clauses << QLatin1Char('(') + alternatives.join(QLatin1String(" OR ")) + QLatin1Char(')');
            f->binds << binds;
        }
    }

    f->equal("CDINSCESTA", arg(4));
    f->equal("CDINSCMUNI", arg(5));
    f->equal("CDSERIE", arg(6));
    f->equal("CDFILIRECE", arg(7));
    f->equal("IDORIGDESTNF", kind);
    f->equal("NRINSJURNF", arg(9));

    // Departure dates, both days included; a null bound is no bound.
    if (dateSwitch != kAll) {
        const QDateTime from = p.value(14).toDateTime();
        const QDateTime to = p.value(15).toDateTime();
        if (!fw::isNullOrEmpty(p.value(14)) && from.isValid()) {
            f->clauses << QStringLiteral("N.DTSAIDA >= ?");
            f->binds << QDateTime(from.date(), QTime(0, 0));
        }
        if (!fw::isNullOrEmpty(p.value(15)) && to.isValid()) {
            f->clauses << QStringLiteral("N.DTSAIDA < ?");
            f->binds << QDateTime(to.date().addDays(1), QTime(0, 0));
        }
    }

    f->equal("IDENTRSAIDOP", direction);

    // Emission types: an invoice matches when "_" + its type + "_" occurs in A13.
    const QString tokens = arg(12);
    if (!tokens.isEmpty() && tokens != kAll) {
        QStringList marks;
        QSet<QChar> types;
        for (int i = 0; i + 2 < tokens.size(); ++i) {
            if (tokens[i] == QLatin1Char('_') && tokens[i + 2] == QLatin1Char('_') &&
                tokens[i + 1] != QLatin1Char('_') && !types.contains(tokens[i + 1])) {
                types.insert(tokens[i + 1]);
                marks << QStringLiteral("?");
                f->binds << QString(tokens[i + 1]);
            }
        }
        f->clauses << (marks.isEmpty() ? QStringLiteral("1 = 0")
                                       : QStringLiteral("N.IDTIPOEMISNFE IN (%1)").arg(marks.join(QLatin1Char(','))));
    }
    return QString();
}

// Prepares the statement, binds the criteria's values in order and runs it.
void runFiltered(Store& store, QSqlQuery& q, const QString& sql, const QVariantList& binds)
{
    if (!q.prepare(sql))
        databaseFault(store, q.lastError(), "GetNotaFiscal");
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!q.exec())
        databaseFault(store, q.lastError(), "GetNotaFiscal");
}

// A QSqlQuery row, seen as SqliteStatement's rows are.
class QueryRow {
public:
    explicit QueryRow(QSqlQuery& q) : m_q(q) {}
    bool isNull(int c) const { return m_q.value(c).isNull(); }
    QVariant value(int c) const { return m_q.value(c); }
    bool textIs(int c, const QString& s) const { return m_q.value(c).toString() == s; }
    void stringOrNull(PacketWriter& w, int c) const { w.stringOrNull(m_q.value(c)); }
    void textOrEmpty(PacketWriter& w, int c) const { w.string(text(m_q.value(c))); }
    void numberOrNull(PacketWriter& w, int c) const { w.numberOrNull(m_q.value(c)); }
    void dateTimeOrNull(PacketWriter& w, int c) const { w.dateTimeOrNull(m_q.value(c)); }
    void brazilianDate(PacketWriter& w, int c) const { w.brazilianDate(m_q.value(c)); }

private:
    QSqlQuery& m_q;
};

const QString kTransmNot = QStringLiteral("N");
const QString kTransmDenied = QStringLiteral("D");

QString invoiceSql(const QString& where)
{
    return QStringLiteral(
               "SELECT N.CDFILIEMIT, N.NRINSJURNF, N.NMRAZSOCCLIE, N.NRNOTAFISCALELE, N.DTSAIDA, N.DTEMISSAO, "
               "N.CDSERIE, "
               "N.VRNOTAFISC, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.IDTPAMBNFE, L.IDTRANSMCCE, N.CDFILIAL, N.NRLANCTONF, "
               "N.CDEMPRESA, N.CDINSCESTA, N.CDINSCMUNI, N.NRLICENCAUSO, N.CDCLIENTE, N.CDFILIRECE, N.CDFORNECED, "
               "N.IDTIPOEMISNFE, N.CDTIPOOPER, N.IDENTRSAIDOP, L.NRSEQCCE, N.IDORIGDESTNF, N.IDTPIJURNF, "
               "L.CDSTATUSCCE, "
               "N.NRACESSONFE, N.NRINSJURTRAN, N.DTHRPROTOCOLNFE "
               "FROM NOTAFISCAL N "
               "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
               "AND L.NRSEQCCE = (SELECT MAX(X.NRSEQCCE) FROM CARTACORRECAO X "
               "WHERE X.CDFILIAL = N.CDFILIAL AND X.NRLANCTONF = N.NRLANCTONF) "
               "WHERE %1")
        .arg(where);
}

QString letterSql(const QString& where)
{
    return QStringLiteral(
               "SELECT L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE, L.DSCORRECAONFE, L.CDSTATUSCCE, L.DSOBSSTATUSCCE, "
               "L.DTHRPROTOCOLCCE, L.NRPROTOCOLCCE, L.IDEMAILCCE, L.IDEMAILCCETRANS "
               "FROM NOTAFISCAL N JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
               "WHERE %1")
        .arg(where);
}

// An invoice's row of the answer: the invoice's own values with those of its latest
// letter in between, kept apart so that one pass over invoices and all their letters
// can give each invoice the letter of its group's last row.
class InvoiceRow {
public:
    template <class Row>
    void setInvoice(const Row& r)
    {
        m_invoice.clear();
        PacketWriter w(&m_invoice);
        int part = 0;
        auto end = [&] {
            m_invoiceEnd[part++] = m_invoice.size();
            w.beginValues();
        };
        w.latin1("N");
        for (int c = 0; c < 4; ++c)
            r.stringOrNull(w, c);
        r.brazilianDate(w, 4);
        r.brazilianDate(w, 5);
        r.stringOrNull(w, 6);
        r.numberOrNull(w, 7);
        end();
        r.stringOrNull(w, 10);
        end();
        for (int c = 12; c <= 23; ++c)
            r.stringOrNull(w, c);
        end();
        r.stringOrNull(w, 25);
        r.stringOrNull(w, 26);
        end();
        r.stringOrNull(w, 28);
        r.stringOrNull(w, 29);
        r.dateTimeOrNull(w, 30);
        end();
    }

    // The letter of r (none when its NRSEQCCE is null).
    template <class Row>
    void setLetter(const Row& r)
    {
        m_letter.clear();
        PacketWriter w(&m_letter);
        int part = 0;
        auto end = [&] {
            m_letterEnd[part++] = m_letter.size();
            w.beginValues();
        };
        const bool hasLetter = !r.isNull(24);
        for (int c = 8; c <= 9; ++c) {
            if (hasLetter)
                r.textOrEmpty(w, c);
            else
                w.string(QString());
        }
        end();
        if (!hasLetter)
            w.latin1("0");
        else if (r.textIs(11, kTransmNot) || r.textIs(11, kTransmDenied))
            w.latin1("1");
        else if (nfe::status::eventRegistered(r.value(27).toString()))
            w.latin1("2");
        else
            w.latin1("3");
        end();
        if (hasLetter)
            r.stringOrNull(w, 24);
        else
            w.latin1("00");
        end();
        if (hasLetter)
            r.textOrEmpty(w, 27);
        else
            w.string(QString());
        end();
    }

    void write(PacketWriter& w) const
    {
        w.beginRow();
        for (int i = 0; i < 5; ++i) {
            const qsizetype from = i == 0 ? 0 : m_invoiceEnd[i - 1];
            w.json(m_invoice.constData() + from, m_invoiceEnd[i] - from);
            if (i < 4) {
                const qsizetype at = i == 0 ? 0 : m_letterEnd[i - 1];
                w.json(m_letter.constData() + at, m_letterEnd[i] - at);
            }
        }
        w.endRow();
    }

private:
    QByteArray m_invoice, m_letter;
    qsizetype m_invoiceEnd[5] = {};
    qsizetype m_letterEnd[4] = {};
};

// A letter's row; its columns begin at from.
template <class Row>
void writeLetter(PacketWriter& w, const Row& r, int from = 0)
{
    w.beginRow();
    for (int c = 0; c < 6; ++c)
        r.stringOrNull(w, from + c);
    r.dateTimeOrNull(w, from + 6);
    for (int c = 7; c < 10; ++c)
        r.stringOrNull(w, from + c);
    w.endRow();
}

// Runs sql through QSqlQuery and writes each row as a packet's row.
template <class WriteRow>
void writeThroughQuery(Store& store, QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                       QSql::NumericalPrecisionPolicy precision, const fw::FieldDefs& fields, QByteArray& json,
                       WriteRow writeRow)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.setNumericalPrecisionPolicy(precision);
    runFiltered(store, q, sql, binds);
    PacketWriter w(&json, fields);
    const QueryRow row(q);
    while (q.next())
        writeRow(w, row);
    if (q.lastError().isValid())
        databaseFault(store, q.lastError(), "GetNotaFiscal");
    w.finish();
}

// The same through SQLite's own statement.
template <class WriteRow>
void writeThroughSqlite(Store& store, sqlite3* lite, const QString& sql, const QVariantList& binds,
                        const fw::FieldDefs& fields, QByteArray& json, WriteRow writeRow)
{
    SqliteStatement s(lite);
    if (!s.prepare(sql, binds))
        databaseFault(store, s.error(), "GetNotaFiscal");
    PacketWriter w(&json, fields);
    while (s.next())
        writeRow(w, s);
    if (s.error().isValid())
        databaseFault(store, s.error(), "GetNotaFiscal");
    w.finish();
}

// Invoices and all their letters in one statement: each invoice's row, then its letters'
// in the order of the letters' key (NRSEQCCE last), so the last row of an invoice holds
// its latest letter.
QString onePassSql(const QString& where)
{
    return QStringLiteral(
               "SELECT N.CDFILIEMIT, N.NRINSJURNF, N.NMRAZSOCCLIE, N.NRNOTAFISCALELE, N.DTSAIDA, N.DTEMISSAO, "
               "N.CDSERIE, "
               "N.VRNOTAFISC, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.IDTPAMBNFE, L.IDTRANSMCCE, N.CDFILIAL, N.NRLANCTONF, "
               "N.CDEMPRESA, N.CDINSCESTA, N.CDINSCMUNI, N.NRLICENCAUSO, N.CDCLIENTE, N.CDFILIRECE, N.CDFORNECED, "
               "N.IDTIPOEMISNFE, N.CDTIPOOPER, N.IDENTRSAIDOP, L.NRSEQCCE, N.IDORIGDESTNF, N.IDTPIJURNF, "
               "L.CDSTATUSCCE, "
               "N.NRACESSONFE, N.NRINSJURTRAN, N.DTHRPROTOCOLNFE, "
               "L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE, L.DSCORRECAONFE, L.CDSTATUSCCE, L.DSOBSSTATUSCCE, "
               "L.DTHRPROTOCOLCCE, L.NRPROTOCOLCCE, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.rowid "
               "FROM NOTAFISCAL N "
               "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
               "WHERE %1")
        .arg(where);
}
constexpr int kOnePassLetter = 31;
constexpr int kOnePassInvoice = 41;

QStringList queryPlan(sqlite3* lite, const QString& sql, const QVariantList& binds)
{
    QStringList lines;
    SqliteStatement s(lite);
    if (!s.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + sql, binds))
        return {};
    while (s.next())
        lines << s.value(3).toString();
    return s.error().isValid() ? QStringList() : lines;
}

// The one pass gives the two statements' rows in their order only when SQLite walks the
// invoices the same way in all three and each invoice's letters by their key. Else the
// two statements run as they are.
bool onePassKeepsOrder(sqlite3* lite, const QString& where, const QVariantList& binds)
{
    {
        SqliteStatement s(lite);
        if (!s.prepare(QStringLiteral("PRAGMA reverse_unordered_selects"), {}) || !s.next() || s.value(0).toInt())
            return false;
    }
    const QString byKey =
        QStringLiteral("SEARCH L USING INDEX sqlite_autoindex_CARTACORRECAO_1 (CDFILIAL=? AND NRLANCTONF=?)");
    const QStringList one = queryPlan(lite, onePassSql(where), binds);
    if (one.size() < 2 || one.last() != byKey + QStringLiteral(" LEFT-JOIN"))
        return false;
    const QStringList invoices = one.mid(0, one.size() - 1);
    for (const QString& line : invoices)
        if (!line.contains(QLatin1String(" N")) || line.contains(QLatin1String(" L ")))
            return false;
    if (queryPlan(lite, letterSql(where), binds) != invoices + QStringList{byKey})
        return false;
    const QStringList latest = queryPlan(lite, invoiceSql(where), binds);
    return latest.size() > invoices.size() && latest.mid(0, invoices.size()) == invoices &&
           latest[invoices.size()].startsWith(QLatin1String("SEARCH L "));
}

void writeOnePass(Store& store, sqlite3* lite, const QString& where, const QVariantList& binds, QByteArray& json)
{
    SqliteStatement s(lite);
    if (!s.prepare(onePassSql(where), binds))
        databaseFault(store, s.error(), "GetNotaFiscal");
    QByteArray letters;
    PacketWriter invoices(&json, fields::notaFiscal());
    PacketWriter lw(&letters, fields::cartaCorrecao());
    InvoiceRow row;
    bool pending = false;
    qint64 current = 0;
    while (s.next()) {
        const qint64 invoice = s.int64(kOnePassInvoice);
        if (!pending || invoice != current) {
            if (pending)
                row.write(invoices);
            row.setInvoice(s);
            pending = true;
            current = invoice;
        }
        row.setLetter(s);
        if (!s.isNull(kOnePassLetter + 2))
            writeLetter(lw, s, kOnePassLetter);
    }
    if (s.error().isValid())
        databaseFault(store, s.error(), "GetNotaFiscal");
    if (pending)
        row.write(invoices);
    invoices.finish();
    lw.finish();
    json.append(',');
    json.append(letters);
}

} // namespace

QVariant getNotaFiscal(Store& store, const QVariantList& params, RowReader reader)
{
    Filter filter;
    const QString refusal = buildFilter(params, &filter);
    if (!refusal.isEmpty())
        return refusal;
    // Every invoice listed is of the company asked for (N.CDEMPRESA = A4).
    const QString outside = companyScopeRefusal(params.value(3).toString());
    if (!outside.isEmpty())
        return outside;

    QSqlDatabase db = openConnection(store);
    ReadTransaction tx(store, db);
    sqlite3* lite = reader == RowReader::QueryOnly ? nullptr : SqliteStatement::handle(db);

    // The answer's JSON is written as the rows are read: [<invoices>, <letters>].
    QByteArray json;
    json.append('[');
    const QString where = filter.where();
    InvoiceRow scratch;
    auto invoices = [&scratch](PacketWriter& w, const auto& r) {
        scratch.setInvoice(r);
        scratch.setLetter(r);
        scratch.write(w);
    };
    auto letters = [](PacketWriter& w, const auto& r) { writeLetter(w, r); };
    if (lite && reader == RowReader::Fastest && onePassKeepsOrder(lite, where, filter.binds)) {
        writeOnePass(store, lite, where, filter.binds, json);
    } else if (lite) {
        writeThroughSqlite(store, lite, invoiceSql(where), filter.binds, fields::notaFiscal(), json, invoices);
        json.append(',');
        writeThroughSqlite(store, lite, letterSql(where), filter.binds, fields::cartaCorrecao(), json, letters);
    } else {
        writeThroughQuery(store, db, invoiceSql(where), filter.binds, QSql::LowPrecisionDouble, fields::notaFiscal(),
                          json, invoices);
        json.append(',');
        writeThroughQuery(store, db, letterSql(where), filter.binds, db.driver()->numericalPrecisionPolicy(),
                          fields::cartaCorrecao(), json, letters);
    }
    json.append(']');
    tx.finish();
    return QVariant::fromValue(fw::json::RawJson{std::move(json)});
}

} // namespace srv::methods
