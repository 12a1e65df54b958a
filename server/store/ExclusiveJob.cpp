#include "server/store/ExclusiveJob.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAtomicInteger>
#include <QSqlError>

#include "server/store/PgSession.h"
#include "server/store/PgStatement.h"
#include "server/store/Store.h"

namespace srv {

namespace {
QAtomicInteger<quint64> g_serial;
} // namespace

std::unique_ptr<ExclusiveJob> ExclusiveJob::tryTake(Store& store, int key, QString* why)
{
    std::unique_ptr<ExclusiveJob> job(new ExclusiveJob);
    if (store.engine() == db::Engine::SQLite) {
        const QString file = store.sqliteFile();
        if (file.isEmpty() || file == QLatin1String(":memory:"))
            return job; // a database of this process alone
        const QByteArray path = QStringLiteral("%1.job-%2.lock").arg(file).arg(key).toLocal8Bit();
        job->m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (job->m_fd < 0) {
            if (why)
                *why = QStringLiteral("o arquivo de trava %1 não pôde ser aberto").arg(QString::fromLocal8Bit(path));
            return nullptr;
        }
        if (::flock(job->m_fd, LOCK_EX | LOCK_NB) != 0)
            return nullptr;
        return job;
    }
    // A connection of its own: the lock lives as long as it, whatever thread runs the job.
    job->m_connection = QStringLiteral("cce_job_%1_%2").arg(key).arg(++g_serial);
    QSqlDatabase db = store.newConnection(job->m_connection, why);
    if (!db.isOpen()) {
        job->m_connection.clear();
        return nullptr;
    }
    // A transaction's lock, held by a transaction left open for the job's length: a pooler
    // in transaction mode keeps the server connection with it, where a session's lock would
    // stay behind on a server connection others then use.
    pg_conn* conn = PgStatement::handle(db);
    QSqlError error;
    std::vector<PgResult> taken;
    if (conn)
        pgExec(conn, {"BEGIN", "SELECT pg_try_advisory_xact_lock(" + QByteArray::number(key) + ')'}, &taken, &error);
    if (taken.size() != 2 || taken[1].firstValue() != "t") {
        if (why && error.isValid())
            *why = error.text();
        if (conn)
            pgRollback(conn);
        return nullptr;
    }
    return job;
}

ExclusiveJob::~ExclusiveJob()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (pg_conn* conn = PgStatement::handle(db))
            pgRollback(conn); // the transaction's end releases the lock
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

} // namespace srv
