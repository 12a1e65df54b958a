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
    PQclear(m_row);
    m_row = nullptr;
    while (m_running) {
        PGresult* r = PQgetResult(m_conn);
        m_running = r != nullptr;
        PQclear(r);
    }
}

void PgStatement::fail(const char* what)
{
    const bool lost = PQstatus(m_conn) != CONNECTION_OK;
    m_error = QSqlError(QString::fromLatin1(what), QString::fromUtf8(PQerrorMessage(m_conn)).trimmed(),
                        lost ? QSqlError::ConnectionError : QSqlError::StatementError);
}

QByteArray numberedMarks(const QString& sql)
{
    const QByteArray text = sql.toUtf8();
    QByteArray out;
    out.reserve(text.size() + 32);
    char quote = 0;
    int mark = 0;
    for (const char c : text) {
        if (quote) {
            quote = c == quote ? 0 : quote;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '?') {
            out += '$' + QByteArray::number(++mark);
            continue;
        }
        out += c;
    }
    return out;
}

bool PgStatement::run(const QString& sql, const QVariantList& binds)
{
    drain();
    m_error = QSqlError();
    m_kinds.clear();
    std::vector<QByteArray> texts(size_t(binds.size()));
    std::vector<const char*> values(size_t(binds.size()), nullptr);
    for (qsizetype i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds[i];
        if (v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isNull()))
            continue;
        switch (v.typeId()) {
        case QMetaType::QString:
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong: texts[size_t(i)] = v.toString().toUtf8(); break;
        default:
            // Dates and the rest the Qt driver writes as literals of its own; none is needed here.
            m_error = QSqlError(QStringLiteral("Unable to bind value"), QString::fromLatin1(v.typeName()),
                                QSqlError::StatementError);
            return false;
        }
        values[size_t(i)] = texts[size_t(i)].constData();
    }
    const QByteArray text = numberedMarks(sql);
    if (!PQsendQueryParams(m_conn, text.constData(), int(binds.size()), nullptr, values.data(), nullptr, nullptr, 0)) {
        fail("Unable to send query");
        return false;
    }
    m_running = true;
    // Row by row: a whole company's list is never held by libpq at once.
    PQsetSingleRowMode(m_conn);
    return true;
}

bool PgStatement::next()
{
    PQclear(m_row);
    m_row = nullptr;
    while (m_running) {
        PGresult* r = PQgetResult(m_conn);
        if (!r) {
            m_running = false;
            break;
        }
        switch (PQresultStatus(r)) {
        case PGRES_SINGLE_TUPLE: {
            m_row = r;
            const int n = PQnfields(r);
            if (m_kinds.empty()) {
                for (int c = 0; c < n; ++c)
                    m_kinds.push_back(isTextType(type(c))     ? Kind::Text
                                      : isNumberType(type(c)) ? Kind::Number
                                                              : Kind::Other);
                m_cells.resize(size_t(n));
            }
            for (int c = 0; c < n; ++c)
                m_cells[size_t(c)] = Cell{PQgetvalue(r, 0, c), PQgetlength(r, 0, c), PQgetisnull(r, 0, c) != 0};
            return true;
        }
        case PGRES_TUPLES_OK:
        case PGRES_COMMAND_OK: break; // the end: the next result is none
        default:
            if (!m_error.isValid())
                m_error = QSqlError(
                    QStringLiteral("Unable to read rows"), QString::fromUtf8(PQresultErrorMessage(r)).trimmed(),
                    PQstatus(m_conn) != CONNECTION_OK ? QSqlError::ConnectionError : QSqlError::StatementError);
            break;
        }
        PQclear(r);
    }
    return false;
}

unsigned PgStatement::type(int c) const { return PQftype(m_row, c); }

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
