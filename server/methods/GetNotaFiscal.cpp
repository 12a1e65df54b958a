// The invoice list of the CC-e screen: the company's electronic invoices (model 55) that
// match the criteria, each with its latest letter, and every letter of those invoices.
#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlQuery>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "nfe/Status.h"
#include "server/methods/Messages.h"
#include "server/methods/MethodSupport.h"
#include "server/methods/PacketFields.h"
#include "server/methods/PacketRow.h"
#include "server/methods/PacketWriter.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/DatabaseFault.h"
#include "server/store/SqliteStatement.h"
#include "server/store/Transactions.h"

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

const QString kTransmNot = QStringLiteral("N");
const QString kTransmDenied = QStringLiteral("D");

// The invoice's columns, its latest letter's among them.
const char kInvoiceColumns[] =
    "N.CDFILIEMIT, N.NRINSJURNF, N.NMRAZSOCCLIE, N.NRNOTAFISCALELE, N.DTSAIDA, N.DTEMISSAO, N.CDSERIE, "
    "N.VRNOTAFISC, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.IDTPAMBNFE, L.IDTRANSMCCE, N.CDFILIAL, N.NRLANCTONF, "
    "N.CDEMPRESA, N.CDINSCESTA, N.CDINSCMUNI, N.NRLICENCAUSO, N.CDCLIENTE, N.CDFILIRECE, N.CDFORNECED, "
    "N.IDTIPOEMISNFE, N.CDTIPOOPER, N.IDENTRSAIDOP, L.NRSEQCCE, N.IDORIGDESTNF, N.IDTPIJURNF, L.CDSTATUSCCE, "
    "N.NRACESSONFE, N.NRINSJURTRAN, N.DTHRPROTOCOLNFE";
// A letter's columns: those of its row in the answer, then what its invoice's row shows of it.
const char kLetterColumns[] = "L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE, L.DSCORRECAONFE, L.CDSTATUSCCE, "
                              "L.DSOBSSTATUSCCE, L.DTHRPROTOCOLCCE, L.NRPROTOCOLCCE, L.IDEMAILCCE, "
                              "L.IDEMAILCCETRANS, L.IDTRANSMCCE";

QString invoiceSql(const QString& where)
{
    return QStringLiteral("SELECT %1 FROM NOTAFISCAL N "
                          "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
                          "AND L.NRSEQCCE = (SELECT MAX(X.NRSEQCCE) FROM CARTACORRECAO X "
                          "WHERE X.CDFILIAL = N.CDFILIAL AND X.NRLANCTONF = N.NRLANCTONF) "
                          "WHERE %2")
        .arg(QLatin1String(kInvoiceColumns), where);
}

QString letterSql(const QString& where)
{
    return QStringLiteral("SELECT %1 FROM NOTAFISCAL N JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND "
                          "L.NRLANCTONF = N.NRLANCTONF WHERE %2")
        .arg(QLatin1String(kLetterColumns), where);
}

// The invoices alone, in the columns of invoiceSql, their letter's left null.
QString invoiceOnlySql(const QString& where)
{
    QString columns = QLatin1String(kInvoiceColumns);
    columns.replace(QRegularExpression(QStringLiteral("L\\.\\w+")), QStringLiteral("NULL"));
    return QStringLiteral("SELECT %1 FROM NOTAFISCAL N WHERE %2").arg(columns, where);
}

// Where each part of a row lies in a text shared by many rows: part i runs from
// end[i - 1] (from at, for the first) to end[i].
template <int N>
struct Parts {
    qsizetype at = 0;
    qsizetype end[N] = {};
    qsizetype from(int i) const { return i == 0 ? at : end[i - 1]; }
};
// An invoice's own values, in the five parts between which its latest letter's four go.
using InvoiceParts = Parts<5>;
using LatestParts = Parts<4>;

// The columns of a row that hold the letter an invoice's row shows.
struct LatestColumns {
    int email, emailTrans, transm, seq, status;
};
constexpr LatestColumns kJoinedLatest{8, 9, 11, 24, 27}; // of kInvoiceColumns
constexpr LatestColumns kLetterLatest{8, 9, 10, 2, 4}; // of kLetterColumns
constexpr int kInvoiceKey = 12, kLetterKey = 0; // CDFILIAL, then NRLANCTONF

// Appends a part after part of a row, each closed by end().
template <int N>
class PartsWriter {
public:
    explicit PartsWriter(QByteArray& out) : m_out(out), m_w(&out) { m_parts.at = out.size(); }
    PacketWriter& w() { return m_w; }
    void end()
    {
        m_parts.end[m_part++] = m_out.size();
        m_w.beginValues();
    }
    Parts<N> parts() const { return m_parts; }

private:
    QByteArray& m_out;
    PacketWriter m_w;
    Parts<N> m_parts;
    int m_part = 0;
};

template <class Row>
InvoiceParts appendInvoice(QByteArray& out, const Row& r)
{
    PartsWriter<5> p(out);
    PacketWriter& w = p.w();
    w.latin1("N");
    for (int c = 0; c < 4; ++c)
        r.stringOrNull(w, c);
    r.brazilianDate(w, 4);
    r.brazilianDate(w, 5);
    r.stringOrNull(w, 6);
    r.numberOrNull(w, 7);
    p.end();
    r.stringOrNull(w, 10);
    p.end();
    for (int c = 12; c <= 23; ++c)
        r.stringOrNull(w, c);
    p.end();
    r.stringOrNull(w, 25);
    r.stringOrNull(w, 26);
    p.end();
    r.stringOrNull(w, 28);
    r.stringOrNull(w, 29);
    r.dateTimeOrNull(w, 30);
    p.end();
    return p.parts();
}

// What the row of an invoice without letters shows in their place.
LatestParts appendNoLetter(QByteArray& out)
{
    PartsWriter<4> p(out);
    PacketWriter& w = p.w();
    w.string(QString());
    w.string(QString());
    p.end();
    w.latin1("0");
    p.end();
    w.latin1("00");
    p.end();
    w.string(QString());
    p.end();
    return p.parts();
}

// The letter r holds at the columns c, as its invoice's row shows it.
template <class Row>
LatestParts appendLatest(QByteArray& out, const Row& r, const LatestColumns& c)
{
    PartsWriter<4> p(out);
    PacketWriter& w = p.w();
    r.textOrEmpty(w, c.email);
    r.textOrEmpty(w, c.emailTrans);
    p.end();
    if (r.textIs(c.transm, kTransmNot) || r.textIs(c.transm, kTransmDenied))
        w.latin1("1");
    else if (nfe::status::eventRegistered(r.value(c.status).toString()))
        w.latin1("2");
    else
        w.latin1("3");
    p.end();
    r.stringOrNull(w, c.seq);
    p.end();
    r.textOrEmpty(w, c.status);
    p.end();
    return p.parts();
}

void writeInvoiceRow(PacketWriter& w, const QByteArray& invoices, const InvoiceParts& i, const QByteArray& latest,
                     const LatestParts& l)
{
    w.beginRow();
    for (int k = 0; k < 5; ++k) {
        w.json(invoices.constData() + i.from(k), i.end[k] - i.from(k));
        if (k < 4)
            w.json(latest.constData() + l.from(k), l.end[k] - l.from(k));
    }
    w.endRow();
}

// A letter's values, in the columns of kLetterColumns.
template <class Row>
void writeLetterValues(PacketWriter& w, const Row& r)
{
    for (int c = 0; c < 6; ++c)
        r.stringOrNull(w, c);
    r.dateTimeOrNull(w, 6);
    for (int c = 7; c < 10; ++c)
        r.stringOrNull(w, c);
}

template <class Row>
void writeLetter(PacketWriter& w, const Row& r)
{
    w.beginRow();
    writeLetterValues(w, r);
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
    const SqliteRow row(s);
    while (s.next())
        writeRow(w, row);
    if (s.error().isValid())
        databaseFault(store, s.error(), "GetNotaFiscal");
    w.finish();
}

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

// Reading the invoices alone and then their letters gives the two statements' rows in
// their order only when SQLite walks the invoices the same way in all three and each
// invoice's letters by their key. Else the two statements run as they are.
bool invoicesFirstKeepsOrder(sqlite3* lite, const QString& where, const QVariantList& binds)
{
    {
        SqliteStatement s(lite);
        if (!s.prepare(QStringLiteral("PRAGMA reverse_unordered_selects"), {}) || !s.next() || s.value(0).toInt())
            return false;
    }
    const QStringList invoices = queryPlan(lite, invoiceOnlySql(where), binds);
    if (invoices.isEmpty())
        return false;
    for (const QString& line : invoices)
        if (!line.contains(QLatin1String(" N")) || line.contains(QLatin1String(" L ")))
            return false;
    const QString byKey =
        QStringLiteral("SEARCH L USING INDEX sqlite_autoindex_CARTACORRECAO_1 (CDFILIAL=? AND NRLANCTONF=?)");
    if (queryPlan(lite, letterSql(where), binds) != invoices + QStringList{byKey})
        return false;
    const QStringList latest = queryPlan(lite, invoiceSql(where), binds);
    return latest.size() > invoices.size() && latest.mid(0, invoices.size()) == invoices &&
           latest[invoices.size()].startsWith(QLatin1String("SEARCH L "));
}

// The answer of a list read invoices first: their rows are held until their letters are
// known, the letters looked up invoice by invoice or read in one walk of their table.
class HeldAnswer {
public:
    // Reads the invoices; false (nothing held) when a key is neither text nor bytes.
    bool readInvoices(SqliteStatement& s)
    {
        const SqliteRow row(s);
        while (s.next()) {
            m_parts.push_back(appendInvoice(m_invoices, row));
            const qsizetype at = qsizetype(m_keys.size());
            if (!appendKey(m_keys, s, kInvoiceKey))
                return false;
            m_keyAt.push_back(at);
        }
        m_keyAt.push_back(qsizetype(m_keys.size()));
        // The texts no longer move: the table's keys are views into them.
        m_byKey.reserve(m_parts.size());
        for (size_t i = 0; i + 1 < m_keyAt.size(); ++i)
            m_byKey.emplace(key(int(i)), int(i));
        return !s.error().isValid();
    }
    int size() const { return int(m_parts.size()); }

    // The invoice held under the letter's key, -1 for none.
    int invoiceOf(const SqliteStatement& s)
    {
        m_scratch.clear();
        if (!appendKey(m_scratch, s, kLetterKey))
            return -1;
        const auto it = m_byKey.find(m_scratch);
        return it == m_byKey.end() ? -1 : it->second;
    }
    // The key's two values of invoice i, to look its letters up with.
    void keyOf(int i, SqliteStatement::Stored (&values)[2]) const
    {
        const char* p = m_keys.data() + m_keyAt[size_t(i)];
        for (auto& v : values) {
            v.type = static_cast<unsigned char>(*p++);
            std::memcpy(&v.size, p, sizeof v.size);
            p += sizeof v.size;
            v.data = p;
            p += v.size;
        }
    }

    // Holds the letter of s for invoice i; false when its sequence cannot be ordered as
    // SQLite orders text and bytes.
    bool addLetter(int invoice, const SqliteStatement& s)
    {
        const SqliteStatement::Stored seq = s.stored(kLetterLatest.seq);
        if (seq.type != SqliteStatement::Text && seq.type != SqliteStatement::Blob)
            return false;
        Held h;
        h.invoice = invoice;
        h.seqType = seq.type;
        h.seqAt = m_seqs.size();
        h.seqSize = seq.size;
        m_seqs.append(seq.data, seq.size);
        h.rowAt = m_letters.size();
        PacketWriter w(&m_letters);
        const SqliteRow row(s);
        writeLetterValues(w, row);
        h.rowEnd = m_letters.size();
        h.latest = appendLatest(m_latest, row, kLetterLatest);
        m_held.push_back(h);
        return true;
    }

    // The answer: [<invoices>, <letters>] less its brackets, appended to json.
    void write(QByteArray& json)
    {
        // Each invoice's letters by their key's last column, as SQLite orders it: text
        // before bytes, then byte by byte.
        std::stable_sort(m_held.begin(), m_held.end(), [this](const Held& a, const Held& b) {
            if (a.invoice != b.invoice)
                return a.invoice < b.invoice;
            if (a.seqType != b.seqType)
                return a.seqType == SqliteStatement::Text;
            return seq(a) < seq(b);
        });
        QByteArray none;
        const LatestParts noneParts = appendNoLetter(none);
        json.reserve(json.size() + m_invoices.size() + m_latest.size() + m_letters.size() +
                     qsizetype(m_parts.size() + m_held.size()) * 8 + 4096);
        PacketWriter iw(&json, fields::notaFiscal());
        size_t k = 0;
        for (size_t i = 0; i < m_parts.size(); ++i) {
            size_t e = k;
            while (e < m_held.size() && m_held[e].invoice == int(i))
                ++e;
            if (e > k)
                writeInvoiceRow(iw, m_invoices, m_parts[i], m_latest, m_held[e - 1].latest);
            else
                writeInvoiceRow(iw, m_invoices, m_parts[i], none, noneParts);
            k = e;
        }
        iw.finish();
        json.append(',');
        PacketWriter lw(&json, fields::cartaCorrecao());
        for (const Held& h : m_held) {
            lw.beginRow();
            lw.json(m_letters.constData() + h.rowAt, h.rowEnd - h.rowAt);
            lw.endRow();
        }
        lw.finish();
    }

private:
    struct Held {
        int invoice = 0;
        int seqType = 0;
        qsizetype seqAt = 0;
        int seqSize = 0;
        qsizetype rowAt = 0, rowEnd = 0;
        LatestParts latest;
    };

    // Two columns from c, each as its storage class, its size and its bytes: equal keys
    // are the ones SQLite's = on the two columns finds equal.
    static bool appendKey(std::string& out, const SqliteStatement& s, int c)
    {
        for (int k = c; k < c + 2; ++k) {
            const SqliteStatement::Stored v = s.stored(k);
            if (v.type != SqliteStatement::Text && v.type != SqliteStatement::Blob)
                return false;
            out.push_back(char(v.type));
            out.append(reinterpret_cast<const char*>(&v.size), sizeof v.size);
            out.append(v.data ? v.data : "", size_t(v.size));
        }
        return true;
    }
    std::string_view key(int i) const
    {
        return std::string_view(m_keys).substr(size_t(m_keyAt[size_t(i)]),
                                               size_t(m_keyAt[size_t(i) + 1] - m_keyAt[size_t(i)]));
    }
    std::string_view seq(const Held& h) const
    {
        return std::string_view(m_seqs.constData() + h.seqAt, size_t(h.seqSize));
    }

    QByteArray m_invoices, m_latest, m_letters, m_seqs;
    std::vector<InvoiceParts> m_parts;
    std::string m_keys, m_scratch;
    std::vector<qsizetype> m_keyAt;
    std::unordered_map<std::string_view, int> m_byKey;
    std::vector<Held> m_held;
};

// Lists read invoices first; false, with nothing written, where that cannot give the
// two statements' answer.
bool writeInvoicesFirst(Store& store, sqlite3* lite, const QString& where, const QVariantList& binds, RowReader reader,
                        QByteArray& json)
{
    HeldAnswer held;
    {
        SqliteStatement s(lite);
        if (!s.prepare(invoiceOnlySql(where), binds))
            databaseFault(store, s.error(), "GetNotaFiscal");
        if (!held.readInvoices(s)) {
            if (s.error().isValid())
                databaseFault(store, s.error(), "GetNotaFiscal");
            return false;
        }
    }
    bool scan = reader == RowReader::LettersScanned;
    if (reader == RowReader::Fastest) {
        // One walk of the whole letter table costs about what a lookup of every eighth
        // letter's invoice does.
        SqliteStatement count(lite);
        const bool counted = count.prepare(QStringLiteral("SELECT MAX(rowid) FROM CARTACORRECAO"), {}) && count.next();
        scan = counted && qint64(held.size()) * 8 >= count.int64(0);
    }
    SqliteStatement s(lite);
    const QString columns = QLatin1String(kLetterColumns);
    if (scan) {
        if (!s.prepare(QStringLiteral("SELECT %1 FROM CARTACORRECAO L").arg(columns), {}))
            databaseFault(store, s.error(), "GetNotaFiscal");
        while (s.next()) {
            const int invoice = held.invoiceOf(s);
            if (invoice >= 0 && !held.addLetter(invoice, s))
                return false;
        }
    } else {
        if (!s.prepare(
                QStringLiteral("SELECT %1 FROM CARTACORRECAO L WHERE L.CDFILIAL = ? AND L.NRLANCTONF = ?").arg(columns),
                {QString(), QString()}))
            databaseFault(store, s.error(), "GetNotaFiscal");
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
    return true;
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
    QByteArray invoiceText, latestText;
    auto invoices = [&](PacketWriter& w, const auto& r) {
        invoiceText.clear();
        latestText.clear();
        const InvoiceParts i = appendInvoice(invoiceText, r);
        const LatestParts l =
            r.isNull(kJoinedLatest.seq) ? appendNoLetter(latestText) : appendLatest(latestText, r, kJoinedLatest);
        writeInvoiceRow(w, invoiceText, i, latestText, l);
    };
    auto letters = [](PacketWriter& w, const auto& r) { writeLetter(w, r); };
    const bool invoicesFirst =
        reader == RowReader::Fastest || reader == RowReader::LettersScanned || reader == RowReader::LettersLookedUp;
    if (lite && invoicesFirst && invoicesFirstKeepsOrder(lite, where, filter.binds) &&
        writeInvoicesFirst(store, lite, where, filter.binds, reader, json)) {
        // written
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
