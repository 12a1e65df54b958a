#include "server/store/PgStatement.h"

#include <QDateTime>
#include <QSqlDriver>
#include <cstring>
#include <libpq-fe.h>
#include <vector>

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
    kNumeric = 1700,
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

PgStatement::~PgStatement() { drain(); }

void PgStatement::drain()
{
    PQfreemem(m_line);
    m_line = nullptr;
    while (m_copying) {
        char* line = nullptr;
        const int n = PQgetCopyData(m_conn, &line, 0);
        PQfreemem(line);
        m_copying = n > 0;
    }
    // The statement's outcome comes after its rows: a failure on the way is told here.
    while (m_running) {
        PGresult* r = PQgetResult(m_conn);
        m_running = r != nullptr;
        if (r && PQresultStatus(r) != PGRES_COMMAND_OK)
            fail("Unable to read rows", r);
        PQclear(r);
    }
}

void PgStatement::fail(const char* what)
{
    const bool lost = PQstatus(m_conn) != CONNECTION_OK;
    m_error = QSqlError(QString::fromLatin1(what), QString::fromUtf8(PQerrorMessage(m_conn)).trimmed(),
                        lost ? QSqlError::ConnectionError : QSqlError::StatementError);
}

void PgStatement::fail(const char* what, pg_result* r)
{
    if (!m_error.isValid())
        m_error = QSqlError(QString::fromLatin1(what), QString::fromUtf8(PQresultErrorMessage(r)).trimmed(),
                            PQstatus(m_conn) != CONNECTION_OK ? QSqlError::ConnectionError : QSqlError::StatementError);
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
        if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isNull()))
            continue;
        switch (v.typeId()) {
        case QMetaType::QString:
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: break;
        default: return false; // dates and the rest the Qt driver writes as literals of its own
        }
        // Quoted, a number too: a literal of no type takes the type the statement gives it,
        // as a parameter does.
        const QByteArray text = v.toString().toUtf8();
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

bool PgStatement::run(const QString& sql, const QVariantList& binds)
{
    drain();
    m_error = QSqlError();
    m_types.clear();
    m_kinds.clear();
    // COPY hands the rows over as lines of text in one buffer each, a fraction of the work
    // of a result per row; it takes no parameters, so the values go in as literals.
    QByteArray select;
    if (!withLiterals(m_conn, sql, binds, &select)) {
        m_error = QSqlError(QStringLiteral("Unable to bind value"), QString(), QSqlError::StatementError);
        return false;
    }
    // The columns' types, which COPY does not tell: the statement parsed, not run.
    PGresult* r = PQprepare(m_conn, "", numberedMarks(sql).constData(), int(binds.size()), nullptr);
    const bool prepared = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!prepared)
        fail("Unable to prepare statement", r);
    PQclear(r);
    if (!prepared)
        return false;
    r = PQdescribePrepared(m_conn, "");
    const bool described = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (described) {
        for (int c = 0; c < PQnfields(r); ++c)
            m_types.push_back(PQftype(r, c));
    } else {
        fail("Unable to prepare statement", r);
    }
    PQclear(r);
    if (!described)
        return false;
    for (const unsigned t : m_types)
        m_kinds.push_back(isTextType(t) ? Kind::Text : isNumberType(t) ? Kind::Number : Kind::Other);
    m_cells.assign(m_types.size(), Cell{});

    if (!PQsendQuery(m_conn, ("COPY (" + select + ") TO STDOUT").constData())) {
        fail("Unable to send query");
        return false;
    }
    m_running = true;
    r = PQgetResult(m_conn);
    m_copying = PQresultStatus(r) == PGRES_COPY_OUT;
    if (!m_copying)
        fail("Unable to read rows", r);
    PQclear(r);
    return m_copying;
}

bool PgStatement::next()
{
    PQfreemem(m_line);
    m_line = nullptr;
    if (!m_copying)
        return false;
    const int n = PQgetCopyData(m_conn, &m_line, 0);
    if (n > 0 && split(m_line, n))
        return true;
    m_copying = n > 0; // a line of the wrong shape: the rest is read and dropped
    if (n == -2)
        fail("Unable to read rows");
    drain();
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
    while (c < m_cells.size()) {
        char* out = in;
        char* const start = in;
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

unsigned PgStatement::type(int c) const { return m_types[size_t(c)]; }

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
    const unsigned t = type(c);
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
    if (isNull(c))
        return QVariant(meta);
    const char* v = text(c);
    const QByteArray raw = QByteArray::fromRawData(v, size(c));
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
