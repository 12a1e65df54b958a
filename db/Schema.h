#pragma once
// The company database's schema: versioned migrations applied in order, recorded in
// SCHEMA_VERSION. The same SQL text serves SQLite and PostgreSQL; a statement that opens
// with "/*postgresql*/" or "/*sqlite*/" runs on that engine alone.
#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace db {

enum class Engine { SQLite, PostgreSQL, Other };
Engine engineOf(const QSqlDatabase& db);

// Highest version the migrations bring a database to.
int latestSchemaVersion();
// Version recorded in the database; 0 for an empty database, -1 on a read failure.
int schemaVersion(QSqlDatabase& db, QString* error = nullptr);

// Creates or upgrades the schema. Each migration runs in its own transaction; a
// database already at (or beyond) the latest version is left alone. Safe when several
// processes migrate the same database at once: the loser of a race finds the work done.
bool migrate(QSqlDatabase& db, QString* error);

// Runs work in one transaction: committed when it succeeds, rolled back otherwise, the
// failure's text (work's own, or the database's) in *error.
bool inTransaction(QSqlDatabase& db, const std::function<bool(QString* error)>& work, QString* error);

// Per-connection settings: SQLite gets WAL, a busy timeout and foreign keys.
bool configureConnection(QSqlDatabase& db, QString* error);

// Splits a script into statements at ";" that ends a line; "--" comment lines dropped.
QStringList splitStatements(const QString& script);

} // namespace db
