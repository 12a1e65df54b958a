#include "server/store/Query.h"

#include <QSqlError>
#include <QSqlRecord>
#include <libpq-fe.h>

#include "server/store/DatabaseFault.h"
#include "server/store/PgStatement.h"

namespace srv {

Query::Query(Store& store, const QSqlDatabase& db, const char* where)
    : m_store(store), m_q(db), m_where(where), m_pg(PgStatement::handle(db))
{
    m_q.setForwardOnly(true);
}

Query::~Query()
{
    if (PgQueue* queue = m_pg ? PgQueue::of(m_pg) : nullptr)
        queue->forget(&m_result);
}

void Query::prepare(const QString& sql)
{
    m_sql = sql;
    m_result = PgResult();
    m_row = -1;
    if (!m_pg && !m_q.prepare(sql))
        databaseFault(m_store, m_q.lastError(), m_where);
}

QByteArray Query::literalText(const QVariantList& binds) const
{
    QByteArray text;
    if (!withLiterals(m_pg, m_sql, binds, &text))
        databaseFault(m_store, QSqlError(QStringLiteral("Unable to bind value"), QString(), QSqlError::StatementError),
                      m_where);
    return text;
}

void Query::exec(const QVariantList& binds)
{
    if (m_pg) {
        const QByteArray text = literalText(binds);
        QSqlError error;
        m_result = pgExec(m_pg, text, &error);
        m_row = -1;
        if (!m_result.get())
            databaseFault(m_store, error, m_where);
        return;
    }
    for (int i = 0; i < binds.size(); ++i)
        m_q.bindValue(i, binds.at(i));
    if (!m_q.exec())
        databaseFault(m_store, m_q.lastError(), m_where);
}

void Query::runLater(const QString& sql, const QVariantList& binds)
{
    PgQueue* queue = m_pg ? PgQueue::of(m_pg) : nullptr;
    if (!queue) {
        run(sql, binds);
        finish();
        return;
    }
    m_sql = sql;
    queue->add(literalText(binds));
}

void Query::runAhead(const QString& sql, const QVariantList& binds)
{
    PgQueue* queue = m_pg ? PgQueue::of(m_pg) : nullptr;
    if (!queue) {
        run(sql, binds);
        return;
    }
    prepare(sql);
    queue->add(literalText(binds), &m_result);
}

void Query::arrive()
{
    PgQueue* queue = PgQueue::of(m_pg);
    if (queue && queue->holds(&m_result)) {
        QSqlError error;
        if (!pgExec(m_pg, {}, nullptr, &error))
            databaseFault(m_store, error, m_where);
    }
    if (m_result.get() && !m_result.ok())
        databaseFault(m_store, pgError(m_pg, m_result.get(), "Unable to execute statement"), m_where);
}

bool Query::next()
{
    if (m_pg) {
        arrive();
        return m_result.get() && ++m_row < m_result.rows();
    }
    if (m_q.next())
        return true;
    if (m_q.lastError().isValid())
        databaseFault(m_store, m_q.lastError(), m_where);
    return false;
}

QVariant Query::value(int c) const
{
    if (!m_pg)
        return m_q.value(c);
    pg_result* r = m_result.get();
    if (!r || m_row < 0 || m_row >= PQntuples(r) || c < 0 || c >= PQnfields(r))
        return QVariant();
    const unsigned type = PQftype(r, c);
    if (m_highPrecision && type == kPgNumeric && !PQgetisnull(r, m_row, c))
        return QString::fromLatin1(PQgetvalue(r, m_row, c), PQgetlength(r, m_row, c));
    return pgValue(type, PQgetvalue(r, m_row, c), PQgetlength(r, m_row, c), PQgetisnull(r, m_row, c));
}

int Query::columnCount() const
{
    if (!m_pg)
        return m_q.record().count();
    return m_result.get() ? PQnfields(m_result.get()) : 0;
}

QString Query::columnName(int c) const
{
    if (!m_pg)
        return m_q.record().fieldName(c);
    return m_result.get() ? QString::fromUtf8(PQfname(m_result.get(), c)) : QString();
}

int Query::rowsAffected() const
{
    if (!m_pg)
        return m_q.numRowsAffected();
    const char* n = m_result.get() ? PQcmdTuples(m_result.get()) : "";
    return *n ? QByteArray(n).toInt() : -1;
}

void Query::finish()
{
    if (!m_pg)
        m_q.finish();
    m_result = PgResult();
    m_row = -1;
}

void Query::setNumericalPrecisionPolicy(QSql::NumericalPrecisionPolicy p)
{
    m_highPrecision = p == QSql::HighPrecision;
    m_q.setNumericalPrecisionPolicy(p);
}

} // namespace srv
