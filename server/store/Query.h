#pragma once
// One statement on a connection: prepared, its values bound in order, run and its rows
// read, every failure a DatabaseFault. The one way the store's classes run their SQL
// through Qt's driver.
//
// On PostgreSQL the driver prepares, runs and frees a statement in three round trips; one
// whose values are texts, whole numbers and nulls is sent once with them as literals, as
// the driver sends them to the prepared one, and its rows read by the driver as ever.
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

struct pg_conn;

namespace srv {

class Store;

class Query {
public:
    // where names the statement in the operator's log.
    Query(Store& store, const QSqlDatabase& db, const char* where);

    void prepare(const QString& sql);
    void exec(const QVariantList& binds = {}); // the prepared statement with these values
    void run(const QString& sql, const QVariantList& binds = {})
    {
        prepare(sql);
        exec(binds);
    }
    bool next(); // false at the end
    QVariant value(int c) const { return m_q.value(c); }
    int rowsAffected() const { return m_q.numRowsAffected(); }
    void finish() { m_q.finish(); } // done with the rows; may run again
    void setNumericalPrecisionPolicy(QSql::NumericalPrecisionPolicy p) { m_q.setNumericalPrecisionPolicy(p); }

private:
    Store& m_store;
    QSqlQuery m_q;
    const char* m_where;
    pg_conn* m_pg; // the connection's libpq handle on PostgreSQL, else nullptr
    QString m_sql;
    bool m_prepared = false; // by the driver
};

} // namespace srv
