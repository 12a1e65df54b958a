#pragma once
// The two kinds of transaction of the server: one that writes, taking the write lock at
// once, and one consistent read of several statements.
//
// On PostgreSQL, BEGIN waits in the transaction's queue (PgSession.h) and leaves with its
// first statement; the commit goes with whatever still waits and asks, in the same
// message, for the primary's log position it reached (CommitPosition.h). A transaction
// that never sent a statement never reached the database.
#include <QSqlDatabase>
#include <memory>

struct pg_conn;

namespace srv {

class PgQueue;
class Store;

// SQLite takes the write lock at once (BEGIN IMMEDIATE), so two writers queue instead of
// failing half-way; PostgreSQL serialises through row locks. Rolls back when destroyed
// uncommitted.
class WriteTransaction {
public:
    WriteTransaction(Store& store, QSqlDatabase db);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;
    void commit();

private:
    Store& m_store;
    QSqlDatabase m_db;
    pg_conn* m_pg = nullptr;
    std::unique_ptr<PgQueue> m_queue;
    bool m_open = false;
};

// One snapshot for every statement until finish() (or the end of its life).
class ReadTransaction {
public:
    ReadTransaction(Store& store, QSqlDatabase db);
    ~ReadTransaction();
    ReadTransaction(const ReadTransaction&) = delete;
    ReadTransaction& operator=(const ReadTransaction&) = delete;
    void finish();

private:
    Store& m_store;
    QSqlDatabase m_db;
    pg_conn* m_pg = nullptr;
    std::unique_ptr<PgQueue> m_queue;
    bool m_open = false;
};

} // namespace srv
