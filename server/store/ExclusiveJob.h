#pragma once
// A job only one server at a time may run on a database, however many share it: the
// letters left in doubt are settled by one of them, not by all at once. PostgreSQL: a
// transaction's advisory lock on the job's own connection, the transaction open for the
// job's length; SQLite (one file, one machine): a lock on a file beside the database. Both
// end with the process, so a server that dies holding one never blocks the others.
#include <QSqlDatabase>
#include <QString>
#include <memory>

namespace srv {

class Store;

class ExclusiveJob {
public:
    // The job's turn when no other process holds it; null when one does (or the lock cannot
    // be asked for, *why saying so).
    static std::unique_ptr<ExclusiveJob> tryTake(Store& store, int key, QString* why = nullptr);
    ~ExclusiveJob();
    ExclusiveJob(const ExclusiveJob&) = delete;
    ExclusiveJob& operator=(const ExclusiveJob&) = delete;

    // The settling of letters in doubt.
    static constexpr int kReconcile = 59001;

private:
    ExclusiveJob() = default;
    int m_fd = -1; // SQLite: the lock file
    QString m_connection; // PostgreSQL: the connection holding the lock
};

} // namespace srv
