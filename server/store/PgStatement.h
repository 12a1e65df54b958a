#pragma once
// Statements read with libpq on the connection under a QSqlDatabase of Qt's PostgreSQL
// driver, for the large reads: the rows come as COPY's lines, a column's text handed over
// as the database wrote it, without a QString or a QVariant per value; value() gives what
// the Qt driver would have made of it, so a reader that falls back on it answers what
// QSqlQuery gives.
//
// Every row is read before read() returns: the database's part is over then (its snapshot,
// its locks, a pooled server connection), however slowly the rows are written on to a
// client, and a database that fails half-way has not yet put anything into an answer.
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <utility>
#include <vector>

struct pg_conn;

namespace srv {

// The types of pg_type a value's conversion tells apart.
inline constexpr unsigned kPgNumeric = 1700;

// A column's text as Qt's PostgreSQL driver gives it, by the column's type.
QVariant pgValue(unsigned type, const char* text, int size, bool null);

class PgStatement {
public:
    // The connection's libpq handle; nullptr when db is not an open connection of Qt's
    // PostgreSQL driver speaking UTF-8 (the others keep the QSqlQuery road).
    static pg_conn* handle(const QSqlDatabase& db);

    PgStatement() = default;
    ~PgStatement();
    PgStatement(const PgStatement&) = delete;
    PgStatement& operator=(const PgStatement&) = delete;

    // A SELECT with its ? marks bound in order to binds (texts, numbers, date-times and
    // nulls), for read().
    struct Part {
        PgStatement* into;
        QString sql;
        QVariantList binds;
    };
    // Reads the statements' rows, each into its own statement, in one message; more than
    // one in one snapshot that writes nothing. False on a failure, *error saying it.
    static bool read(pg_conn* conn, const std::vector<Part>& parts, QSqlError* error);

    // The next row; false at the end and on a failure (then error() is valid).
    bool next();
    QSqlError error() const { return m_error; }

    bool isNull(int c) const { return m_cells[size_t(c)].null; }
    // The column's text as the database sent it (UTF-8, never null), valid until next().
    const char* text(int c) const { return m_cells[size_t(c)].text; }
    int size(int c) const { return m_cells[size_t(c)].size; }
    // Whether the column is text (any of the character types) or a number, by its type.
    bool isText(int c) const { return m_kinds[size_t(c)] == Kind::Text; }
    bool isNumber(int c) const { return m_kinds[size_t(c)] == Kind::Number; }
    QVariant value(int c) const; // as QSqlQuery::value would give it
    bool textIs(int c, QLatin1String ascii) const; // value(c).toString() == ascii

private:
    void setTypes(const std::vector<unsigned>& types);
    void clear();
    bool split(char* line, int size);

    // Every row as COPY sent it, ended by its newline, in libpq's memory.
    std::vector<std::pair<char*, int>> m_rows;
    size_t m_next = 0; // the next row
    QSqlError m_error;
    // The current row's columns (each ended by a zero, unescaped in place); the columns'
    // types and kinds.
    struct Cell {
        const char* text = nullptr;
        int size = 0;
        bool null = true;
    };
    std::vector<Cell> m_cells;
    std::vector<unsigned> m_types;
    enum class Kind : unsigned char { Text, Number, Other };
    std::vector<Kind> m_kinds;
};

// sql with each ? outside a quoted literal numbered as libpq takes them: $1, $2, ...
QByteArray numberedMarks(const QString& sql);

// sql with each ? outside a quoted literal replaced in order by its value of binds, quoted,
// which the database types as it would type a parameter there: texts and numbers as they
// are, a date-time as this machine's wall-clock time (as the columns keep it), a null as
// NULL. False when a value is of another kind, or there are fewer values than marks.
bool withLiterals(pg_conn* conn, const QString& sql, const QVariantList& binds, QByteArray* out);

} // namespace srv
