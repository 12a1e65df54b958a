#include "server/store/PgStatement.h"

#include <QDateTime>
#include <QHash>
#include <QSqlDriver>
#include <array>
#include <cstring>
#include <libpq-fe.h>
#include <mutex>

#include "server/store/PgSession.h"

namespace srv {

namespace {

// The types of pg_type this reader tells apart.
enum Oid : unsigned {
    kBool = 16,
    kInt8 = 20,
    kInt2 = 21,
    kInt4 = 23,
    kOid = 26,
    kBytea = 17,
    kFloat4 = 700,
    kFloat8 = 701,
    kNumeric = kPgNumeric,
    kDate = 1082,
    kTime = 1083,
    kTimestamp = 1114,
    kTimestampTz = 1184,
};

bool isNumberType(unsigned t)
{
    return t == kNumeric || t == kFloat8 || t == kFloat4 || t == kInt2 || t == kInt4 || t == kInt8;
}

bool isTextType(unsigned t)
{
    switch (t) {
    case kBool:
    case kInt8:
    case kInt2:
    case kInt4:
    case kOid:
    case kBytea:
    case kFloat4:
    case kFloat8:
    case kNumeric:
    case kDate:
    case kTime:
    case kTimestamp:
    case kTimestampTz: return false;
    default: return true; // the driver reads every other type as text
    }
}

// The columns' types of the statements read so far, by their text: COPY does not tell
// them, and asking costs a round trip. A statement's text names its columns, whose types
// the schema fixes.
class KnownTypes {
public:
    bool find(const QByteArray& sql, std::vector<unsigned>* types)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_types.constFind(sql);
        if (it == m_types.constEnd())
            return false;
        *types = *it;
        return true;
    }
    void keep(const QByteArray& sql, const std::vector<unsigned>& types)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_types.size() >= kMost)
            m_types.clear(); // the lists' shapes are few; this bounds a server that meets many
        m_types.insert(sql, types);
    }

private:
    static constexpr qsizetype kMost = 256;
    std::mutex m_mutex;
    QHash<QByteArray, std::vector<unsigned>> m_types;
};

KnownTypes& knownTypes()
{
    static KnownTypes types;
    return types;
}

// The columns' types of sql (numbered marks, count binds): parsed, not run, in one round
// trip whatever a pooler does between transactions.
bool describe(PGconn* conn, const QByteArray& sql, int count, std::vector<unsigned>* types, QSqlError* error)
{
    if (knownTypes().find(sql, types))
        return true;
    if (!PQenterPipelineMode(conn)) {
        *error = pgError(conn, nullptr, "Unable to prepare statement");
        return false;
    }
    bool sent = PQsendPrepare(conn, "", sql.constData(), count, nullptr) && PQsendDescribePrepared(conn, "") &&
                PQpipelineSync(conn);
    bool described = false;
    if (!sent)
        *error = pgError(conn, nullptr, "Unable to prepare statement");
    // The prepare's result, the description's, then the end of the pipeline.
    for (int step = 0; sent && step < 3;) {
        PGresult* r = PQgetResult(conn);
        if (!r) {
            if (PQstatus(conn) != CONNECTION_OK) {
                *error = pgError(conn, nullptr, "Unable to prepare statement");
                sent = false;
            }
            continue; // the end of one statement's results
        }
        const ExecStatusType s = PQresultStatus(r);
        if (s == PGRES_PIPELINE_SYNC) {
            step = 3;
        } else if (s == PGRES_COMMAND_OK && step == 1) {
            types->clear();
            for (int c = 0; c < PQnfields(r); ++c)
                types->push_back(PQftype(r, c));
            described = true;
            ++step;
        } else if (s == PGRES_COMMAND_OK) {
            ++step;
        } else {
            if (!error->isValid())
                *error = pgError(conn, r, "Unable to prepare statement");
            ++step;
        }
        PQclear(r);
    }
    PQexitPipelineMode(conn);
    if (!described && !error->isValid())
        *error = pgError(conn, nullptr, "Unable to prepare statement");
    if (described)
        knownTypes().keep(sql, *types);
    return described;
}

// Reads the rows of the COPY the connection is at into rows, as libpq hands them over.
bool readCopy(PGconn* conn, std::vector<std::pair<char*, int>>* rows, QSqlError* error)
{
    for (;;) {
        char* line = nullptr;
        const int n = PQgetCopyData(conn, &line, 0);
        if (n > 0) {
            rows->emplace_back(line, n);
            continue;
        }
        PQfreemem(line);
        if (n == -2) {
            *error = pgError(conn, nullptr, "Unable to read rows");
            return false;
        }
        // The COPY's own outcome follows its rows: a failure on the way is told there.
        PGresult* r = PQgetResult(conn);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            *error = pgError(conn, r, "Unable to read rows");
        PQclear(r);
        return ok;
    }
}

} // namespace

pg_conn* PgStatement::handle(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || (qstrcmp(h.typeName(), "pg_conn*") != 0 && qstrcmp(h.typeName(), "PGconn*") != 0))
        return nullptr;
    PGconn* conn = *static_cast<PGconn* const*>(h.constData());
    // The driver asks for UTF-8 when it connects; text in any other encoding would not
    // be what it reads.
    if (!conn || PQstatus(conn) != CONNECTION_OK || qstrcmp(pg_encoding_to_char(PQclientEncoding(conn)), "UTF8") != 0)
        return nullptr;
    return conn;
}

namespace {

// sql with each ? outside a quoted literal replaced by mark(n) for the n-th, from 1.
template <typename Mark>
QByteArray replaceMarks(const QString& sql, Mark mark)
{
    const QByteArray text = sql.toUtf8();
    QByteArray out;
    out.reserve(text.size() + 32);
    char quote = 0;
    int n = 0;
    for (const char c : text) {
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?') {
            out += mark(++n);
            continue;
        }
        out += c;
    }
    return out;
}

// A value's text for a literal; false for a kind no statement binds.
bool literalText(const QVariant& v, QByteArray* text)
{
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: *text = v.toString().toUtf8(); return true;
    case QMetaType::Bool: *text = v.toBool() ? "true" : "false"; return true;
    case QMetaType::Double: {
        const double d = v.toDouble();
        *text = qIsNaN(d)   ? QByteArray("NaN")
                : qIsInf(d) ? QByteArray(d > 0 ? "Infinity" : "-Infinity")
                            : QByteArray::number(d, 'g', 17);
        return true;
    }
    // The columns keep this machine's wall-clock time: written as that, the session's
    // time zone (which a pooler may not keep) has no say.
    case QMetaType::QDateTime:
        *text = v.toDateTime().toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
        return true;
    case QMetaType::QDate: *text = v.toDate().toString(Qt::ISODate).toLatin1(); return true;
    default: return false;
    }
}

bool isNullValue(const QVariant& v)
{
    if (v.isNull())
        return true;
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString().isNull();
    case QMetaType::QDateTime: return !v.toDateTime().isValid();
    case QMetaType::QDate: return !v.toDate().isValid();
    default: return false;
    }
}

} // namespace

QByteArray numberedMarks(const QString& sql)
{
    return replaceMarks(sql, [](int n) { return '$' + QByteArray::number(n); });
}

bool withLiterals(pg_conn* conn, const QString& sql, const QVariantList& binds, QByteArray* out)
{
    std::vector<QByteArray> literals(size_t(binds.size()), QByteArrayLiteral("NULL"));
    for (qsizetype i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds[i];
        if (isNullValue(v))
            continue;
        QByteArray text;
        if (!literalText(v, &text))
            return false;
        // Quoted, a number too: a literal of no type takes the type the statement gives it,
        // as a parameter does.
        char* literal = PQescapeLiteral(conn, text.constData(), size_t(text.size()));
        if (!literal)
            return false;
        literals[size_t(i)] = literal;
        PQfreemem(literal);
    }
    bool counted = true;
    *out = replaceMarks(sql, [&](int n) {
        counted = counted && n <= binds.size();
        return counted ? literals[size_t(n - 1)] : QByteArray();
    });
    return counted;
}

void PgStatement::setTypes(const std::vector<unsigned>& types)
{
    m_types = types;
    m_kinds.clear();
    for (const unsigned t : m_types)
        m_kinds.push_back(isTextType(t) ? Kind::Text : isNumberType(t) ? Kind::Number : Kind::Other);
    m_cells.assign(m_types.size(), Cell{});
}

bool PgStatement::read(pg_conn* conn, const std::vector<Part>& parts, QSqlError* error)
{
    // COPY hands the rows over as lines of text in one buffer each, a fraction of the work
    // of a result per row; it takes no parameters, so the values go in as literals.
    *error = QSqlError();
    QByteArray text;
    const bool snapshot = parts.size() > 1;
    if (snapshot)
        text = "BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY; ";
    for (const Part& p : parts) {
        QByteArray select;
        if (!withLiterals(conn, p.sql, p.binds, &select)) {
            *error = QSqlError(QStringLiteral("Unable to bind value"), QString(), QSqlError::StatementError);
            return false;
        }
        std::vector<unsigned> types;
        if (!describe(conn, numberedMarks(p.sql), int(p.binds.size()), &types, error))
            return false;
        p.into->setTypes(types);
        p.into->clear();
        p.into->m_error = QSqlError();
        text += "COPY (" + select + ") TO STDOUT; ";
    }
    if (snapshot)
        text += "COMMIT";
    if (!pgSend(conn, text, error))
        return false;
    bool ok = true;
    PGresult* r = snapshot ? PQgetResult(conn) : nullptr; // BEGIN's
    if (snapshot && PQresultStatus(r) != PGRES_COMMAND_OK) {
        *error = pgError(conn, r, "Unable to read rows");
        ok = false;
    }
    PQclear(r);
    for (size_t i = 0; ok && i < parts.size(); ++i) {
        r = PQgetResult(conn);
        ok = PQresultStatus(r) == PGRES_COPY_OUT;
        if (!ok)
            *error = pgError(conn, r, "Unable to read rows");
        PQclear(r);
        ok = ok && readCopy(conn, &parts[i].into->m_rows, error);
    }
    if (ok && snapshot) {
        r = PQgetResult(conn); // COMMIT's
        ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        if (!ok)
            *error = pgError(conn, r, "Unable to read rows");
        PQclear(r);
    }
    pgDrain(conn);
    if (!ok) {
        pgRollback(conn);
        for (const Part& p : parts)
            p.into->clear();
    }
    return ok;
}

PgStatement::~PgStatement() { clear(); }

void PgStatement::clear()
{
    for (const auto& [line, size] : m_rows)
        PQfreemem(line);
    m_rows.clear();
    m_next = 0;
}

bool PgStatement::next()
{
    if (m_next >= m_rows.size())
        return false;
    const auto [line, size] = m_rows[m_next++];
    if (split(line, size))
        return true;
    m_next = m_rows.size(); // a line of the wrong shape: the rest is dropped
    return false;
}

bool PgStatement::split(char* line, int size)
{
    // COPY's text: the columns apart by tabs, the line ended by a newline, a null as \N,
    // and a backslash before a tab, a newline, a few other controls and itself.
    static char empty[1] = {0};
    char* in = line;
    char* const end = line + size;
    size_t c = 0;
    // The bytes that end a column's text or begin an escape; until the first backslash
    // nothing moves, the text being where it stays.
    static const auto stops = [] {
        std::array<bool, 256> s{};
        s[size_t('\t')] = s[size_t('\n')] = s[size_t('\\')] = true;
        return s;
    }();
    while (c < m_cells.size()) {
        char* const start = in;
        while (in < end && !stops[static_cast<unsigned char>(*in)])
            ++in;
        char* out = in;
        while (in < end && *in != '\t' && *in != '\n') {
            if (*in != '\\' || in + 1 == end) {
                *out++ = *in++;
                continue;
            }
            const char e = in[1];
            in += 2;
            switch (e) {
            case 'b': *out++ = '\b'; break;
            case 'f': *out++ = '\f'; break;
            case 'n': *out++ = '\n'; break;
            case 'r': *out++ = '\r'; break;
            case 't': *out++ = '\t'; break;
            case 'v': *out++ = '\v'; break;
            case 'N':
                if (in - start == 2 && (in == end || *in == '\t' || *in == '\n')) {
                    m_cells[c] = Cell{empty, 0, true};
                    out = nullptr;
                    break;
                }
                *out++ = e;
                break;
            default: *out++ = e; break;
            }
            if (!out)
                break;
        }
        const bool last = c + 1 == m_cells.size();
        if (in == end || (*in == '\t') == last)
            break; // fewer or more columns than the statement's
        if (out) {
            *out = 0;
            m_cells[c] = Cell{start, int(out - start), false};
        }
        ++in;
        ++c;
    }
    if (c == m_cells.size())
        return true;
    m_error = QSqlError(QStringLiteral("Unable to read rows"), QStringLiteral("a row of COPY had the wrong shape"),
                        QSqlError::StatementError);
    return false;
}

bool PgStatement::textIs(int c, QLatin1String ascii) const
{
    if (isNull(c))
        return ascii.isEmpty();
    if (!isText(c))
        return value(c).toString() == ascii;
    return size(c) == ascii.size() && std::memcmp(text(c), ascii.data(), size_t(ascii.size())) == 0;
}

QVariant PgStatement::value(int c) const
{
    const Cell& cell = m_cells[size_t(c)];
    return pgValue(m_types[size_t(c)], cell.text, cell.size, cell.null);
}

QVariant pgValue(unsigned t, const char* v, int size, bool null)
{
    QMetaType meta(QMetaType::QString);
    switch (t) {
    case kBool: meta = QMetaType(QMetaType::Bool); break;
    case kInt8: meta = QMetaType(QMetaType::LongLong); break;
    case kInt2:
    case kInt4:
    case kOid: meta = QMetaType(QMetaType::Int); break;
    case kFloat4:
    case kFloat8:
    case kNumeric: meta = QMetaType(QMetaType::Double); break;
    case kDate: meta = QMetaType(QMetaType::QDate); break;
    case kTime: meta = QMetaType(QMetaType::QTime); break;
    case kTimestamp:
    case kTimestampTz: meta = QMetaType(QMetaType::QDateTime); break;
    case kBytea: meta = QMetaType(QMetaType::QByteArray); break;
    default: break;
    }
    if (null)
        return QVariant(meta);
    const QByteArray raw = QByteArray::fromRawData(v, size);
    switch (meta.id()) {
    case QMetaType::Bool: return v[0] == 't';
    case QMetaType::LongLong: return v[0] == '-' ? QVariant(raw.toLongLong()) : QVariant(raw.toULongLong());
    case QMetaType::Int: return raw.toInt();
    case QMetaType::Double: {
        bool ok = false;
        const double d = raw.toDouble(&ok);
        if (ok)
            return d;
        if (qstricmp(v, "NaN") == 0)
            return qQNaN();
        if (qstricmp(v, "Infinity") == 0)
            return qInf();
        if (qstricmp(v, "-Infinity") == 0)
            return -qInf();
        return QVariant();
    }
    case QMetaType::QDate: return QDate::fromString(QString::fromLatin1(raw), Qt::ISODate);
    case QMetaType::QTime: return QTime::fromString(QString::fromLatin1(raw), Qt::ISODate);
    case QMetaType::QDateTime: return QDateTime::fromString(QString::fromLatin1(raw), Qt::ISODate);
    case QMetaType::QByteArray: {
        size_t n = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &n);
        const QByteArray out(reinterpret_cast<const char*>(bytes), qsizetype(n));
        PQfreemem(bytes);
        return out;
    }
    default: return QString::fromUtf8(raw);
    }
}

} // namespace srv
