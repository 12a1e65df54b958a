#include "server/store/Transactions.h"

#include <QSqlQuery>
#include <libpq-fe.h>

#include "server/store/CommitPosition.h"
#include "server/store/DatabaseFault.h"
#include "server/store/PgSession.h"
#include "server/store/PgStatement.h"
#include "server/store/Store.h"

namespace srv {

namespace {

// Ends a transaction of the queue's connection that is still open: one whose statements
// never left ends where it stands.
void abandon(pg_conn* conn, PgQueue& queue)
{
    if (queue.unsent())
        queue.drop();
    else
        pgRollback(conn);
}

} // namespace

WriteTransaction::WriteTransaction(Store& store, QSqlDatabase db)
    : m_store(store), m_db(std::move(db)), m_pg(PgStatement::handle(m_db))
{
    if (m_pg) {
        m_queue = std::make_unique<PgQueue>(m_pg);
        m_queue->add("BEGIN");
    } else if (m_store.engine() == db::Engine::SQLite) {
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
    if (m_pg) {
        abandon(m_pg, *m_queue);
    } else if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("ROLLBACK"));
    } else {
        m_db.rollback();
    }
}

void WriteTransaction::commit()
{
    if (m_pg) {
        if (m_queue->unsent() && m_queue->waiting() <= 1) {
            m_queue->drop(); // BEGIN alone: nothing was written
            m_open = false;
            return;
        }
        std::vector<PgResult> results;
        QSqlError error;
        pgExec(m_pg, {"COMMIT", "SELECT pg_current_wal_lsn()"}, &results, &error);
        // A transaction that failed on the way answers COMMIT with ROLLBACK.
        const bool committed =
            !results.empty() && results[0].ok() && qstrcmp(PQcmdStatus(results[0].get()), "COMMIT") == 0;
        if (!committed)
            databaseFault(m_store,
                          error.isValid() ? error
                                          : QSqlError(QStringLiteral("Unable to commit transaction"),
                                                      QStringLiteral("rolled back"), QSqlError::TransactionError),
                          "commit");
        m_open = false;
        if (results.size() > 1)
            CommitPosition::noteReached(results[1].firstValue());
        return;
    }
    if (m_store.engine() == db::Engine::SQLite) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("COMMIT")))
            databaseFault(m_store, q.lastError(), "commit");
    } else if (!m_db.commit()) {
        databaseFault(m_store, m_db.lastError(), "commit");
    }
    m_open = false;
}

ReadTransaction::ReadTransaction(Store& store, QSqlDatabase db)
    : m_store(store), m_db(std::move(db)), m_pg(PgStatement::handle(m_db))
{
    if (m_pg) {
        m_queue = std::make_unique<PgQueue>(m_pg);
        m_queue->add("BEGIN ISOLATION LEVEL REPEATABLE READ, READ ONLY");
        m_open = true;
        return;
    }
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
        finish();
}

void ReadTransaction::finish()
{
    m_open = false;
    if (m_pg)
        abandon(m_pg, *m_queue); // nothing was written; releases the snapshot
    else
        m_db.rollback();
}

} // namespace srv
