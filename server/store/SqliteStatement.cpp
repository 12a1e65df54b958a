#include "server/store/SqliteStatement.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QTime>
#include <cstring>
#include <sqlite3.h>

namespace srv {

static_assert(SqliteStatement::Integer == SQLITE_INTEGER && SqliteStatement::Float == SQLITE_FLOAT &&
              SqliteStatement::Text == SQLITE_TEXT && SqliteStatement::Blob == SQLITE_BLOB &&
              SqliteStatement::Null == SQLITE_NULL);

sqlite3* SqliteStatement::handle(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant h = db.driver()->handle();
    if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0)
        return nullptr;
    sqlite3* lite = *static_cast<sqlite3* const*>(h.constData());
    if (!lite)
        return nullptr;
    // A UTF-16 database would give its text converted twice, not as the driver reads it.
    sqlite3_stmt* s = nullptr;
    bool utf8 = false;
    if (sqlite3_prepare_v2(lite, "PRAGMA encoding", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
        utf8 = qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "UTF-8") == 0;
    sqlite3_finalize(s);
    return utf8 ? lite : nullptr;
}

SqliteStatement::SqliteStatement(sqlite3* db) : m_db(db) { sqlite3_mutex_enter(sqlite3_db_mutex(m_db)); }

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
    sqlite3_mutex_leave(sqlite3_db_mutex(m_db));
}

void SqliteStatement::fail(const char* what, int code, QSqlError::ErrorType type)
{
    m_error =
        QSqlError(QString::fromLatin1(what), QString::fromUtf8(sqlite3_errmsg(m_db)), type, QString::number(code));
}

namespace {

// Null as the Qt driver binds null: nothing, or a null text, an invalid time.
bool boundNull(const QVariant& v)
{
    if (v.isNull())
        return true;
    switch (v.typeId()) {
    case QMetaType::QString: return v.toString().isNull();
    case QMetaType::QByteArray: return v.toByteArray().isNull();
    case QMetaType::QDateTime: return !v.toDateTime().isValid();
    case QMetaType::QDate: return !v.toDate().isValid();
    case QMetaType::QTime: return !v.toTime().isValid();
    default: return false;
    }
}

int bindText16(sqlite3_stmt* s, int at, const QString& text)
{
    return sqlite3_bind_text16(s, at, text.utf16(), int(text.size() * sizeof(QChar)), SQLITE_TRANSIENT);
}

} // namespace

bool SqliteStatement::prepare(const QString& sql, const QVariantList& binds)
{
    sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_done = false;
    const QByteArray text = sql.toUtf8();
    int rc = sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        fail("Unable to execute statement", rc, QSqlError::StatementError);
        return false;
    }
    if (sqlite3_bind_parameter_count(m_stmt) != binds.size()) {
        m_error = QSqlError(QStringLiteral("Parameter count mismatch"), QString(), QSqlError::StatementError);
        return false;
    }
    for (int i = 0; i < binds.size(); ++i) {
        const QVariant& v = binds[i];
        const int at = i + 1;
        if (boundNull(v)) {
            rc = sqlite3_bind_null(m_stmt, at);
        } else {
            switch (v.typeId()) {
            case QMetaType::QByteArray: {
                const QByteArray b = v.toByteArray();
                rc = sqlite3_bind_blob(m_stmt, at, b.constData(), int(b.size()), SQLITE_TRANSIENT);
                break;
            }
            case QMetaType::Int:
            case QMetaType::Bool: rc = sqlite3_bind_int(m_stmt, at, v.toInt()); break;
            case QMetaType::Double: rc = sqlite3_bind_double(m_stmt, at, v.toDouble()); break;
            case QMetaType::UInt:
            case QMetaType::LongLong: rc = sqlite3_bind_int64(m_stmt, at, v.toLongLong()); break;
            case QMetaType::QDateTime: rc = bindText16(m_stmt, at, v.toDateTime().toString(Qt::ISODateWithMs)); break;
            case QMetaType::QTime: rc = bindText16(m_stmt, at, v.toTime().toString(u"hh:mm:ss.zzz")); break;
            default: rc = bindText16(m_stmt, at, v.toString()); break;
            }
        }
        if (rc != SQLITE_OK) {
            fail("Unable to bind parameters", rc, QSqlError::StatementError);
            return false;
        }
    }
    return true;
}

bool SqliteStatement::rerun(const Stored* values, int count)
{
    if (!m_stmt)
        return false;
    sqlite3_reset(m_stmt);
    m_done = false;
    int rc = sqlite3_clear_bindings(m_stmt);
    for (int i = 0; i < count && rc == SQLITE_OK; ++i) {
        const Stored& v = values[i];
        switch (v.type) {
        case SQLITE_TEXT: rc = sqlite3_bind_text(m_stmt, i + 1, v.data, v.size, SQLITE_TRANSIENT); break;
        case SQLITE_BLOB: // an empty blob has no bytes, and a null pointer would bind null
            rc = v.data ? sqlite3_bind_blob(m_stmt, i + 1, v.data, v.size, SQLITE_TRANSIENT)
                        : sqlite3_bind_zeroblob(m_stmt, i + 1, 0);
            break;
        case SQLITE_NULL: rc = sqlite3_bind_null(m_stmt, i + 1); break;
        default: rc = SQLITE_MISMATCH; break;
        }
    }
    if (rc != SQLITE_OK) {
        fail("Unable to bind parameters", rc, QSqlError::StatementError);
        return false;
    }
    return true;
}

bool SqliteStatement::next()
{
    if (!m_stmt || m_done)
        return false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    m_done = true;
    if (rc != SQLITE_DONE)
        fail("Unable to fetch row", rc, QSqlError::ConnectionError);
    return false;
}

// Each sqlite3_column_* call takes the connection's mutex; the value behind a column,
// read while the statement holds that mutex, costs one call instead of three.
sqlite3_value* SqliteStatement::column(int c) const { return sqlite3_column_value(m_stmt, c); }

namespace {

// The value's UTF-8 bytes when it holds text; false for any other kind.
bool textOf(sqlite3_value* v, const char** s, qsizetype* n)
{
    if (sqlite3_value_type(v) != SQLITE_TEXT)
        return false;
    *s = reinterpret_cast<const char*>(sqlite3_value_text(v));
    *n = sqlite3_value_bytes(v);
    return *s != nullptr;
}

// What the Qt driver makes of a value.
QVariant variantOf(sqlite3_value* v)
{
    switch (sqlite3_value_type(v)) {
    case SQLITE_BLOB: return QByteArray(static_cast<const char*>(sqlite3_value_blob(v)), sqlite3_value_bytes(v));
    case SQLITE_INTEGER: return qint64(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_NULL: return QVariant(QMetaType::fromType<QString>());
    default: break;
    }
    const char* s;
    qsizetype n;
    if (textOf(v, &s, &n)) {
        bool ascii = true;
        for (qsizetype i = 0; ascii && i < n; ++i)
            ascii = static_cast<unsigned char>(s[i]) < 0x80;
        if (ascii)
            return QString::fromLatin1(s, n);
    }
    // SQLite's own conversion, as the driver reads it: invalid UTF-8 comes out as it
    // decides, the same on both roads.
    const void* text = sqlite3_value_text16(v);
    const int bytes = sqlite3_value_bytes16(v);
    return QString(static_cast<const QChar*>(text), bytes / qsizetype(sizeof(QChar)));
}

} // namespace

SqliteStatement::Stored SqliteStatement::stored(int c) const
{
    sqlite3_value* v = column(c);
    Stored s;
    s.type = sqlite3_value_type(v);
    if (s.type == SQLITE_TEXT) {
        s.data = reinterpret_cast<const char*>(sqlite3_value_text(v));
        s.size = sqlite3_value_bytes(v);
    } else if (s.type == SQLITE_BLOB) {
        s.data = static_cast<const char*>(sqlite3_value_blob(v));
        s.size = sqlite3_value_bytes(v);
    }
    return s;
}

qint64 SqliteStatement::int64(int c) const { return sqlite3_value_int64(column(c)); }

double SqliteStatement::real(int c) const { return sqlite3_value_double(column(c)); }

bool SqliteStatement::isNull(int c) const { return sqlite3_value_type(column(c)) == SQLITE_NULL; }

QVariant SqliteStatement::value(int c) const { return variantOf(column(c)); }

bool SqliteStatement::textIs(int c, QLatin1String ascii) const
{
    sqlite3_value* v = column(c);
    const char* s;
    qsizetype n;
    if (!textOf(v, &s, &n))
        return variantOf(v).toString() == ascii;
    // Bytes that are not this ASCII text never decode to it.
    if (n != ascii.size())
        return false;
    return std::memcmp(s, ascii.data(), size_t(n)) == 0;
}

} // namespace srv
