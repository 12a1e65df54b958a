#include "server/store/PgSession.h"

#include <algorithm>
#include <libpq-fe.h>

namespace srv {

namespace {

thread_local PgQueue* t_queues = nullptr;

bool failed(ExecStatusType s) { return s == PGRES_FATAL_ERROR || s == PGRES_BAD_RESPONSE || s == PGRES_NONFATAL_ERROR; }

// A COPY nobody wants, let go so the connection can go on: its rows read and dropped, or
// its input ended. False when s is no COPY.
bool letCopyGo(PGconn* conn, ExecStatusType s)
{
    if (s == PGRES_COPY_IN) {
        PQputCopyEnd(conn, "not wanted");
        return true;
    }
    if (s != PGRES_COPY_OUT)
        return false;
    for (;;) {
        char* line = nullptr;
        const int n = PQgetCopyData(conn, &line, 0);
        PQfreemem(line);
        if (n < 0)
            return true;
    }
}

QByteArray joined(const std::vector<PgQueue::Waiting>& waiting, const QList<QByteArray>& statements)
{
    QByteArray text;
    auto add = [&](const QByteArray& s) {
        if (!text.isEmpty())
            text += "; ";
        text += s;
    };
    for (const PgQueue::Waiting& w : waiting)
        add(w.sql);
    for (const QByteArray& s : statements)
        add(s);
    return text;
}

std::vector<PgQueue::Waiting> waitingOn(pg_conn* conn)
{
    PgQueue* queue = PgQueue::of(conn);
    return queue ? queue->take() : std::vector<PgQueue::Waiting>();
}

} // namespace

PgResult::~PgResult() { PQclear(m_r); }

PgResult& PgResult::operator=(PgResult&& o) noexcept
{
    if (this != &o) {
        PQclear(m_r);
        m_r = std::exchange(o.m_r, nullptr);
    }
    return *this;
}

bool PgResult::ok() const
{
    const ExecStatusType s = PQresultStatus(m_r);
    return m_r && (s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK);
}

int PgResult::rows() const { return m_r ? PQntuples(m_r) : 0; }

QByteArray PgResult::firstValue() const
{
    if (!ok() || PQntuples(m_r) < 1 || PQnfields(m_r) < 1 || PQgetisnull(m_r, 0, 0))
        return QByteArray();
    return QByteArray(PQgetvalue(m_r, 0, 0), PQgetlength(m_r, 0, 0));
}

PgQueue::PgQueue(pg_conn* conn) : m_conn(conn), m_previous(t_queues) { t_queues = this; }

PgQueue::~PgQueue()
{
    // Queues end in the reverse order of their making, as the transactions holding them.
    if (t_queues == this)
        t_queues = m_previous;
}

PgQueue* PgQueue::of(pg_conn* conn)
{
    for (PgQueue* q = t_queues; q; q = q->m_previous)
        if (q->m_conn == conn)
            return q;
    return nullptr;
}

std::vector<PgQueue::Waiting> PgQueue::take()
{
    m_sent = m_sent || !m_waiting.empty();
    return std::exchange(m_waiting, {});
}

bool PgQueue::holds(const PgResult* slot) const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(), [&](const Waiting& w) { return w.slot == slot; });
}

void PgQueue::forget(const PgResult* slot)
{
    for (Waiting& w : m_waiting)
        if (w.slot == slot)
            w.slot = nullptr;
}

QSqlError pgError(pg_conn* conn, pg_result* r, const char* what)
{
    const bool lost = PQstatus(conn) != CONNECTION_OK;
    const QString detail = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(conn)).trimmed();
    return QSqlError(QString::fromLatin1(what), detail, lost ? QSqlError::ConnectionError : QSqlError::StatementError);
}

void pgDrain(pg_conn* conn)
{
    while (PGresult* r = PQgetResult(conn)) {
        const ExecStatusType s = PQresultStatus(r);
        PQclear(r);
        letCopyGo(conn, s);
        if (PQstatus(conn) != CONNECTION_OK)
            return;
    }
}

bool pgExec(pg_conn* conn, const QList<QByteArray>& statements, std::vector<PgResult>* results, QSqlError* error)
{
    const std::vector<PgQueue::Waiting> waiting = waitingOn(conn);
    const size_t waited = waiting.size();
    if (!PQsendQuery(conn, joined(waiting, statements).constData())) {
        *error = pgError(conn, nullptr, "Unable to send query");
        return false;
    }
    bool ok = true;
    size_t i = 0;
    while (PGresult* r = PQgetResult(conn)) {
        const ExecStatusType s = PQresultStatus(r);
        if (s == PGRES_COPY_OUT || s == PGRES_COPY_IN) {
            // Not a statement for this road: its rows are let go, and it counts as failed.
            PQclear(r);
            letCopyGo(conn, s);
            if (ok)
                *error = QSqlError(QStringLiteral("Unable to execute statement"), QStringLiteral("unexpected COPY"),
                                   QSqlError::StatementError);
            ok = false;
            continue;
        }
        if (failed(s) && ok) {
            *error = pgError(conn, r, "Unable to execute statement");
            ok = false;
        }
        if (i < waited && waiting[i].slot)
            *waiting[i].slot = PgResult(r);
        else if (i >= waited && results)
            results->emplace_back(r);
        else
            PQclear(r);
        ++i;
        if (PQstatus(conn) != CONNECTION_OK)
            break;
    }
    if (ok && PQstatus(conn) != CONNECTION_OK) {
        *error = pgError(conn, nullptr, "Unable to execute statement");
        ok = false;
    }
    if (ok && i < waited + size_t(statements.size())) {
        *error = QSqlError(QStringLiteral("Unable to execute statement"), QStringLiteral("results missing"),
                           QSqlError::StatementError);
        ok = false;
    }
    return ok;
}

PgResult pgExec(pg_conn* conn, const QByteArray& sql, QSqlError* error)
{
    std::vector<PgResult> results;
    if (!pgExec(conn, {sql}, &results, error) || results.empty())
        return PgResult();
    return std::move(results.back());
}

bool pgSend(pg_conn* conn, const QByteArray& sql, QSqlError* error)
{
    const std::vector<PgQueue::Waiting> waiting = waitingOn(conn);
    if (!PQsendQuery(conn, joined(waiting, {sql}).constData())) {
        *error = pgError(conn, nullptr, "Unable to send query");
        return false;
    }
    for (const PgQueue::Waiting& w : waiting) {
        PGresult* r = PQgetResult(conn);
        if (!r || failed(PQresultStatus(r)) || PQstatus(conn) != CONNECTION_OK) {
            *error = pgError(conn, r, "Unable to execute statement");
            PQclear(r);
            pgDrain(conn);
            return false;
        }
        if (w.slot)
            *w.slot = PgResult(r);
        else
            PQclear(r);
    }
    return true;
}

void pgRollback(pg_conn* conn)
{
    if (PQstatus(conn) != CONNECTION_OK)
        return;
    if (PQtransactionStatus(conn) == PQTRANS_ACTIVE)
        pgDrain(conn);
    if (PQtransactionStatus(conn) == PQTRANS_IDLE)
        return;
    PQclear(PQexec(conn, "ROLLBACK"));
    pgDrain(conn);
}

bool parseLogPosition(const QByteArray& text, quint64* position)
{
    const qsizetype slash = text.indexOf('/');
    if (slash < 1 || slash > 8 || text.size() - slash - 1 < 1 || text.size() - slash - 1 > 8)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex && i != slash)
            return false;
    }
    bool high = false, low = false;
    const quint64 h = text.left(slash).toULongLong(&high, 16);
    const quint64 l = text.mid(slash + 1).toULongLong(&low, 16);
    if (!high || !low)
        return false;
    *position = (h << 32) | l;
    return true;
}

} // namespace srv
