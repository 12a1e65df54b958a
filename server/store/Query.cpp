#include "server/store/Query.h"

#include <QSqlError>

#include "server/store/DatabaseFault.h"

namespace srv {

Query::Query(Store& store, const QSqlDatabase& db, const char* where) : m_store(store), m_q(db), m_where(where)
{
    m_q.setForwardOnly(true);
}

void Query::prepare(const QString& sql)
{
    if (!m_q.prepare(sql))
        databaseFault(m_store, m_q.lastError(), m_where);
}

void Query::exec(const QVariantList& binds)
{
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
