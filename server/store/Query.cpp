#include "server/store/Query.h"

#include <QSqlError>

#include "server/store/DatabaseFault.h"
#include "server/store/PgStatement.h"

namespace srv {

Query::Query(Store& store, const QSqlDatabase& db, const char* where)
    : m_store(store), m_q(db), m_where(where), m_pg(PgStatement::handle(db))
{
    m_q.setForwardOnly(true);
}

void Query::prepare(const QString& sql)
{
    m_sql = sql;
    m_prepared = !m_pg;
    if (m_prepared && !m_q.prepare(sql))
        databaseFault(m_store, m_q.lastError(), m_where);
}

void Query::exec(const QVariantList& binds)
{
    if (!m_prepared) {
        QByteArray text;
        if (withLiterals(m_pg, m_sql, binds, &text)) {
            if (!m_q.exec(QString::fromUtf8(text)))
                databaseFault(m_store, m_q.lastError(), m_where);
            return;
        }
        m_prepared = true;
        if (!m_q.prepare(m_sql))
            databaseFault(m_store, m_q.lastError(), m_where);
    }
    for (int i = 0; i < binds.size(); ++i)
        m_q.bindValue(i, binds.at(i));
    if (!m_q.exec())
        databaseFault(m_store, m_q.lastError(), m_where);
}

bool Query::next()
{
    if (m_q.next())
        return true;
    if (m_q.lastError().isValid())
        databaseFault(m_store, m_q.lastError(), m_where);
    return false;
}

} // namespace srv
