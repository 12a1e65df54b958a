#pragma once
// A statement run with libpq on the connection under a QSqlDatabase of Qt's PostgreSQL
// driver, for the large reads: the rows arrive one by one as the database sends them (as
// COPY's lines), and a column's text is handed over as the database wrote it, without a
// QString or a QVariant per value; value() gives what the Qt driver would have made of it, so a reader
// that falls back on it answers what QSqlQuery gives.
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <vector>

struct pg_conn;
struct pg_result;

namespace srv {

class PgStatement {
public:
    // The connection's libpq handle; nullptr when db is not an open connection of Qt's
    // PostgreSQL driver speaking UTF-8 (the others keep the QSqlQuery road).
    static pg_conn* handle(const QSqlDatabase& db);

    explicit PgStatement(pg_conn* conn) : m_conn(conn) {}
    // Rows not read are read and dropped: the connection is ready for the next statement.
    ~PgStatement();
    PgStatement(const PgStatement&) = delete;
    PgStatement& operator=(const PgStatement&) = delete;

    // Sends sql with its ? marks bound in order to binds: texts, numbers and nulls, as the
    // Qt driver binds them. The rows come by next(). sql is a single SELECT.
    bool run(const QString& sql, const QVariantList& binds);
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
    void fail(const char* what);
    void fail(const char* what, pg_result* r);
    void drain();
    bool split(char* line, int size);
    unsigned type(int c) const;

    pg_conn* m_conn;
    char* m_line = nullptr; // the current row as COPY sent it, its columns unescaped in place
    bool m_copying = false; // rows still to come
    bool m_running = false; // results still to come
    QSqlError m_error;
    // The current row's columns (each ended by a zero); the columns' types and kinds.
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

// sql with each ? outside a quoted literal replaced in order by its value of binds, quoted
// (texts and whole numbers; a null as NULL), which the database types as it would type a
// parameter there. False when a value is of another kind, or there are fewer values than
// marks.
bool withLiterals(pg_conn* conn, const QString& sql, const QVariantList& binds, QByteArray* out);

} // namespace srv
