#pragma once
// One statement on a connection: its values bound in order, run and its rows read, every
// failure a DatabaseFault. The one way the store's classes run their SQL.
//
// On PostgreSQL the statement goes through libpq once, its values written in as literals,
// never prepared under a name (PgSession.h), and its values read as Qt's driver would
// give them; on SQLite through Qt's driver, prepared.
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "server/store/PgSession.h"

struct pg_conn;

namespace srv {

class Store;

class Query {
public:
    // where names the statement in the operator's log.
    Query(Store& store, const QSqlDatabase& db, const char* where);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void prepare(const QString& sql);
    void exec(const QVariantList& binds = {}); // the prepared statement with these values
    void run(const QString& sql, const QVariantList& binds = {})
    {
        prepare(sql);
        exec(binds);
    }
    // A statement whose result nobody reads: inside a transaction on PostgreSQL it leaves
    // with the next statement sent (or the commit), and its failure is theirs; elsewhere it
    // runs now.
    void runLater(const QString& sql, const QVariantList& binds = {});
    // A statement whose rows are read later: inside a transaction on PostgreSQL it waits
    // for the next statement sent, or for its own rows to be asked for, whichever comes
    // first; elsewhere it runs now.
    void runAhead(const QString& sql, const QVariantList& binds = {});
    bool next(); // false at the end
    QVariant value(int c) const;
    int columnCount() const;
    QString columnName(int c) const;
    int rowsAffected() const;
    void finish(); // done with the rows; may run again
    void setNumericalPrecisionPolicy(QSql::NumericalPrecisionPolicy p);

private:
    QByteArray literalText(const QVariantList& binds) const;
    void arrive(); // a statement run ahead has its rows (or its failure is told)

    Store& m_store;
    QSqlQuery m_q;
    const char* m_where;
    pg_conn* m_pg; // the connection's libpq handle on PostgreSQL, else nullptr
    QString m_sql;
    PgResult m_result;
    int m_row = -1;
    bool m_highPrecision = false;
};

} // namespace srv
