#pragma once
// The server's company database: one connection per worker thread, the schema and the
// demo data.
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

#include "db/Schema.h"

namespace srv {

class Store {
public:
    // url: "sqlite:PATH" (file created when missing) or "postgresql://USER@HOST:PORT/DBNAME"
    // (password from PGPASSWORD if any)
    // connectNow: the calling thread's connection is opened at once, so a bad URL shows;
    // else only the URL is checked (a standby that may be down when the server starts).
    static std::unique_ptr<Store> open(const QString& url, QString* error, bool connectNow = true);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool migrate(QString* error); // creates or upgrades the schema (versioned)
    // Demo data; invoices <= 0 means the default. A database that already holds companies
    // is left as it is (and that is a success), so the initialisation can run again.
    bool fillDemo(int invoices, QString* error);
    // This thread's own connection (thread-safe; one per thread). It is closed when the
    // thread ends, so a pool that retires idle threads does not pile up connections.
    // warn: a connection that cannot be opened is said in the log (else only kept for
    // lastOpenError(), for a watch that asks again and again).
    QSqlDatabase connection(bool warn = true);
    QStringList connectionNames() const; // the open ones, for diagnostics
    // Closes this thread's connection after a lost link, so the next call reconnects.
    void dropConnection();
    // Why the last connection failed to open, in the operator's words (with the
    // driver's own text after them).
    QString lastOpenError() const;

    db::Engine engine() const { return m_engine; }
    // SQLite: the database's file ("" on PostgreSQL).
    QString sqliteFile() const { return m_engine == db::Engine::SQLite ? m_database : QString(); }
    // A connection of the caller's own under name, outside the per-thread ones (the caller
    // closes and removes it); not open on failure, with *error saying why.
    QSqlDatabase newConnection(const QString& name, QString* error);

private:
    Store() = default;
    QString threadConnectionName() const;
    bool openConnection(const QString& name, QString* error);
    QSqlDatabase addConnection(const QString& name) const; // added with this store's settings, not opened
    QString describeOpenFailure(const QString& driverText) const;

    db::Engine m_engine = db::Engine::SQLite;
    QString m_driver;
    QString m_database;
    QString m_host;
    int m_port = 5432;
    QString m_user;
    QString m_password;
    QString m_prefix;
    // Shared with the hooks that close a worker's connection when its thread ends, which
    // may run after the store is gone.
    struct Connections {
        QMutex mutex;
        QStringList names;
        bool alive = true;
        QString lastOpenError;
    };
    std::shared_ptr<Connections> m_connections = std::make_shared<Connections>();
};

} // namespace srv
