#include "db/Schema.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

namespace db {

namespace {

struct Migration {
    int version;
    QString name;
    const char* sql;
};

const QList<Migration>& migrations()
{
    static const QList<Migration> list = {
#include "SchemaMigrations.inc"
    };
    return list;
}

bool exec(QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    return true;
}

bool hasVersionTable(QSqlDatabase& db)
{
    const QStringList tables = db.tables();
    for (const QString& t : tables)
        if (t.compare(QLatin1String("SCHEMA_VERSION"), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A statement that opens with "/*postgresql*/" or "/*sqlite*/" is for that engine alone.
bool forEngine(const QString& stmt, Engine engine)
{
    if (stmt.startsWith(QLatin1String("/*postgresql*/")))
        return engine == Engine::PostgreSQL;
    if (stmt.startsWith(QLatin1String("/*sqlite*/")))
        return engine == Engine::SQLite;
    return true;
}

bool applyMigration(QSqlDatabase& db, const Migration& m, QString* error)
{
    return inTransaction(
        db,
        [&](QString* err) {
            for (const QString& stmt : splitStatements(QString::fromUtf8(m.sql))) {
                if (!forEngine(stmt, engineOf(db)))
                    continue;
                if (!exec(db, stmt, err)) {
                    *err = QStringLiteral("%1: %2").arg(m.name, *err);
                    return false;
                }
            }
            QSqlQuery q(db);
            q.prepare(
                QStringLiteral("INSERT INTO SCHEMA_VERSION (VERSION, NMARQUIVO, DTHRAPLICACAO) VALUES (?, ?, ?)"));
            q.addBindValue(m.version);
            q.addBindValue(m.name);
            q.addBindValue(QDateTime::currentDateTime());
            if (!q.exec()) {
                *err = q.lastError().text();
                return false;
            }
            return true;
        },
        error);
}

} // namespace

bool inTransaction(QSqlDatabase& db, const std::function<bool(QString* error)>& work, QString* error)
{
    if (!db.transaction()) {
        if (error)
            *error = db.lastError().text();
        return false;
    }
    QString err;
    bool ok = work(&err);
    if (ok && !db.commit()) {
        err = db.lastError().text();
        ok = false;
    }
    if (!ok) {
        db.rollback();
        if (error)
            *error = err;
    }
    return ok;
}

Engine engineOf(const QSqlDatabase& db)
{
    const QString d = db.driverName();
    if (d == QLatin1String("QSQLITE"))
        return Engine::SQLite;
    if (d == QLatin1String("QPSQL"))
        return Engine::PostgreSQL;
    return Engine::Other;
}

QStringList splitStatements(const QString& script)
{
    QStringList out;
    QString current;
    const QStringList lines = script.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QString t = line.trimmed();
        if (t.isEmpty() || t.startsWith(QLatin1String("--")))
            continue;
        current += line;
        current += QLatin1Char('\n');
        if (t.endsWith(QLatin1Char(';'))) {
            QString stmt = current.trimmed();
            stmt.chop(1);
            out.append(stmt);
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        out.append(current.trimmed());
    return out;
}

int latestSchemaVersion()
{
    int v = 0;
    for (const Migration& m : migrations())
        v = std::max(v, m.version);
    return v;
}

int schemaVersion(QSqlDatabase& db, QString* error)
{
    if (!hasVersionTable(db))
        return 0;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MAX(VERSION) FROM SCHEMA_VERSION"))) {
        if (error)
            *error = q.lastError().text();
        return -1;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

bool configureConnection(QSqlDatabase& db, QString* error)
{
    if (engineOf(db) == Engine::PostgreSQL) {
        // Qt hands date-times to PostgreSQL as instants, which the session's zone turns back
        // into the columns' wall-clock times: the session takes this process's zone, so that
        // a time is read back as it was written whatever zone the database server runs in.
        const QByteArray zone = QTimeZone::systemTimeZoneId();
        static const QRegularExpression ianaId(QStringLiteral("^[A-Za-z0-9_+/-]{1,64}$"));
        if (QTimeZone(zone).isValid() && ianaId.match(QString::fromLatin1(zone)).hasMatch())
            exec(db, QStringLiteral("SET TIME ZONE '%1'").arg(QString::fromLatin1(zone)), nullptr);
        return true;
    }
    if (engineOf(db) != Engine::SQLite)
        return true;
    // WAL lets the host read while the server writes; the busy timeout makes writers
    // queue instead of failing at once. Mapping the file and a larger cache spare the
    // copies of every page read when a whole company is listed.
    for (const char* pragma :
         {"PRAGMA busy_timeout = 15000", "PRAGMA journal_mode = WAL", "PRAGMA synchronous = NORMAL",
          "PRAGMA foreign_keys = ON", "PRAGMA mmap_size = 268435456", "PRAGMA cache_size = -32000"}) {
        if (!exec(db, QString::fromLatin1(pragma), error))
            return false;
    }
    return true;
}

bool migrate(QSqlDatabase& db, QString* error)
{
    if (!db.isOpen()) {
        if (error)
            *error = QStringLiteral("O banco de dados não está aberto.");
        return false;
    }
    if (!hasVersionTable(db)) {
        QString err;
        if (!exec(db,
                  QStringLiteral("CREATE TABLE SCHEMA_VERSION (VERSION INTEGER NOT NULL PRIMARY KEY, "
                                 "NMARQUIVO VARCHAR(100), DTHRAPLICACAO TIMESTAMP)"),
                  &err)) {
            // Another process may have created it meanwhile.
            if (!hasVersionTable(db)) {
                if (error)
                    *error = err;
                return false;
            }
        }
    }
    for (const Migration& m : migrations()) {
        QString err;
        const int current = schemaVersion(db, &err);
        if (current < 0) {
            if (error)
                *error = err;
            return false;
        }
        if (m.version <= current)
            continue;
        if (!applyMigration(db, m, &err)) {
            // A concurrent migrator may have applied it first.
            if (schemaVersion(db) >= m.version)
                continue;
            if (error)
                *error = err;
            return false;
        }
    }
    return true;
}

} // namespace db
