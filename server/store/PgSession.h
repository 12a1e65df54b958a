#pragma once
// The server's statements on a PostgreSQL connection go through libpq as plain text, their
// values written in as quoted literals (withLiterals): nothing is prepared under a name and
// nothing is set for the session, so a pooler in transaction mode (PgBouncer) may hand each
// transaction another server connection. Inside a transaction, statements whose answer
// nobody waits for (its BEGIN, an audit row) wait in the transaction's queue and leave with
// the next statement sent, in one message: a letter's save costs two or three round trips
// instead of one per statement, which is most of its time when the machine is busy and
// every trip waits for the database's process to get its turn.
#include <QByteArray>
#include <QList>
#include <QSqlError>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace srv {

// One statement's result, freed with it.
class PgResult {
public:
    PgResult() = default;
    explicit PgResult(pg_result* r) : m_r(r) {}
    ~PgResult();
    PgResult(PgResult&& o) noexcept : m_r(std::exchange(o.m_r, nullptr)) {}
    PgResult& operator=(PgResult&& o) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    pg_result* get() const { return m_r; }
    // The statement ran: a command, or rows.
    bool ok() const;
    int rows() const;
    // The first row's first column, as text ("" when there is none).
    QByteArray firstValue() const;

private:
    pg_result* m_r = nullptr;
};

// The statements that wait to leave with the next one on a connection, kept by the
// transaction that queued them for as long as it lives. The newest of a thread on a
// connection is the one its statements go through.
class PgQueue {
public:
    explicit PgQueue(pg_conn* conn);
    ~PgQueue();
    PgQueue(const PgQueue&) = delete;
    PgQueue& operator=(const PgQueue&) = delete;

    // This thread's queue on conn; null when no transaction of this thread holds one.
    static PgQueue* of(pg_conn* conn);

    // sql waits; its result, when slot is given, goes there once it has run.
    void add(QByteArray sql, PgResult* slot = nullptr) { m_waiting.push_back(Waiting{std::move(sql), slot}); }
    // The slot's statement has not left yet.
    bool holds(const PgResult* slot) const;
    // Its result is wanted no more (its owner goes).
    void forget(const PgResult* slot);
    // Nothing was sent yet: the transaction has not reached the database.
    bool unsent() const { return !m_sent; }
    qsizetype waiting() const { return qsizetype(m_waiting.size()); }
    struct Waiting {
        QByteArray sql;
        PgResult* slot;
    };
    std::vector<Waiting> take();
    void drop() { m_waiting.clear(); }

private:
    pg_conn* m_conn;
    PgQueue* m_previous;
    std::vector<Waiting> m_waiting;
    bool m_sent = false;
};

// Sends the statements waiting in conn's queue and statements, in one message, and reads
// every result: those of statements in order, into *results (as far as they ran). False,
// with the first failure in *error, when any statement failed, one that waited included.
bool pgExec(pg_conn* conn, const QList<QByteArray>& statements, std::vector<PgResult>* results, QSqlError* error);
// One statement, as pgExec: its result, or a null one with *error.
PgResult pgExec(pg_conn* conn, const QByteArray& sql, QSqlError* error);
// Sends what waits and sql (which may hold several statements) and reads the results of
// what waited: the connection is left at sql's first result, which the caller reads with
// PQgetResult up to the null one. False, everything read, on a failure.
bool pgSend(pg_conn* conn, const QByteArray& sql, QSqlError* error);
// Reads and drops whatever the connection still has to say: rows of a COPY, results.
void pgDrain(pg_conn* conn);
// A failure of r (or of the connection when r is null), as the Qt driver would tell it.
QSqlError pgError(pg_conn* conn, pg_result* r, const char* what);

// Ends conn's transaction, if one is open on the server, by a rollback (nothing said).
void pgRollback(pg_conn* conn);

// A primary's log position ("16/B374D848") as a number that orders them; false when text
// is not one.
bool parseLogPosition(const QByteArray& text, quint64* position);

} // namespace srv
