#include "server/store/Transactions.h"

#include <QSqlQuery>

#include "server/store/DatabaseFault.h"
#include "server/store/Store.h"

namespace srv {

WriteTransaction::WriteTransaction(Store& store, QSqlDatabase db) : m_store(store), m_db(std::move(db))
{
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            databaseFault(m_store, q.lastError(), "begin");
    } else if (!m_db.transaction()) {
        databaseFault(m_store, m_db.lastError(), "begin");
    }
    m_open = true;
}

WriteTransaction::~WriteTransaction()
{
    if (!m_open)
        return;
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("ROLLBACK"));
    } else {
        m_db.rollback();
    }
}

void WriteTransaction::commit()
{
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("COMMIT")))
            databaseFault(m_store, q.lastError(), "commit");
    } else if (!m_db.commit()) {
        databaseFault(m_store, m_db.lastError(), "commit");
    }
    m_open = false;
}

ReadTransaction::ReadTransaction(Store& store, QSqlDatabase db) : m_store(store), m_db(std::move(db))
{
    if (!m_db.transaction())
        databaseFault(m_store, m_db.lastError(), "begin read");
    m_open = true;
    if (m_store.engine() == db::Engine::PostgreSQL) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY")))
            databaseFault(m_store, q.lastError(), "begin read");
    }
}

ReadTransaction::~ReadTransaction()
{
    if (m_open)
        m_db.rollback();
}

void ReadTransaction::finish()
{
    m_open = false;
    m_db.rollback(); // nothing was written; releases the snapshot
}

} // namespace srv
