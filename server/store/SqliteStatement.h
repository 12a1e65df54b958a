#pragma once
// A statement run with SQLite's own calls on the connection under a QSqlDatabase, for the
// large reads: a column's UTF-8 bytes are handed over as SQLite holds them, without a
// QString or a QVariant per value; value() gives what the Qt driver would have made of
// it, so a reader that falls back on it answers what QSqlQuery gives.
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_value;

namespace srv {

class SqliteStatement {
public:
    // The connection's SQLite handle; nullptr when db is not an open SQLite connection
    // of a database kept in UTF-8 (the others keep the QSqlQuery road).
    static sqlite3* handle(const QSqlDatabase& db);

    // Holds the connection's mutex from here to the end: the connection is this thread's.
    explicit SqliteStatement(sqlite3* db);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Prepares sql and binds binds in order, each as the Qt driver binds it.
    bool prepare(const QString& sql, const QVariantList& binds);
    // The next row; false at the end and on a failure (then error() is valid).
    bool next();
    QSqlError error() const { return m_error; }

    bool isNull(int c) const;
    QVariant value(int c) const; // as QSqlQuery::value would give it
    qint64 int64(int c) const;
    double real(int c) const;
    bool textIs(int c, QLatin1String ascii) const; // value(c).toString() == ascii

    // SQLite's storage classes, by SQLite's own numbers.
    enum StorageClass { Integer = 1, Float = 2, Text = 3, Blob = 4, Null = 5 };
    // A column as SQLite holds it: its storage class and, for text and blobs, its bytes,
    // valid until the next step (a text's may be null when SQLite ran out of memory).
    // Keys compared this way match as SQLite's own = does.
    struct Stored {
        int type = 0;
        const char* data = nullptr;
        int size = 0;
    };
    Stored stored(int c) const;
    // Runs the prepared statement again from its start with its parameters bound to
    // these values, bytes as they are: a lookup repeated for row after row of another.
    bool rerun(const Stored* values, int count);

private:
    sqlite3_value* column(int c) const;
    void fail(const char* what, int code, QSqlError::ErrorType type);

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_done = false; // stepped to its end (or failed): next() gives no more rows
    QSqlError m_error;
};

} // namespace srv
