#pragma once
// The server's company database: one connection per worker thread, the schema and the
// demo data.
#include <QMutex>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

#include "Schema.h"

namespace srv {

class Store {
public:
    // url: "sqlite:PATH" (file created when missing) or "postgresql://USER@HOST:PORT/DBNAME"
    // (password from PGPASSWORD if any)
    static std::unique_ptr<Store> open(const QString& url, QString* error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool migrate(QString* error);                 // creates or upgrades the schema (versioned)
    // Demo data; invoices <= 0 means the default. A database that already holds companies
    // is left as it is (and that is a success), so the initialisation can run again.
    bool fillDemo(int invoices, QString* error);
    QSqlDatabase connection();                    // this thread's own connection (thread-safe; one per thread)
    // Closes this thread's connection after a lost link, so the next call reconnects.
    void dropConnection();

    db::Engine engine() const { return m_engine; }

private:
    Store() = default;
    QString threadConnectionName() const;
    bool openConnection(const QString& name, QString* error);

    db::Engine m_engine = db::Engine::SQLite;
    QString m_driver;
    QString m_database;
    QString m_host;
    int m_port = 5432;
    QString m_user;
    QString m_password;
    QString m_prefix;
    QMutex m_mutex;
    QStringList m_names;
};

} // namespace srv
