#pragma once
// The host's SQL query component: one statement per database kind, named
// parameters bound to every occurrence, rows loaded into the data set engine.
#include <QSqlDatabase>
#include <QStringList>
#include <map>
#include <memory>

#include "core/dataset/DataSet.h"

#include "core/CoreExport.h"

namespace fw {

// A named query parameter; its value is always bound, never written into the SQL.
class FW_CORE_EXPORT QueryParam {
public:
    explicit QueryParam(QString name) : m_name(std::move(name)) {}
    QString name() const { return m_name; }
    QVariant value() const { return m_value; }
    void setValue(const QVariant& v) { m_value = v; }
    QString asString() const { return m_value.isValid() && !m_value.isNull() ? m_value.toString() : QString(); }
    void setAsString(const QString& s) { m_value = s; }
    bool isNull() const { return !m_value.isValid() || m_value.isNull(); }
    void clear() { m_value = QVariant(); }

private:
    QString m_name;
    QVariant m_value;
};

class FW_CORE_EXPORT TADOIBQuery : public DataSet {
    Q_OBJECT
public:
    explicit TADOIBQuery(QObject* parent = nullptr);
    ~TADOIBQuery() override;

    // One statement per database kind, each a list of lines: Oracle, SQL Server and
    // InterBase/Firebird have their own; every other kind (SQLite, PostgreSQL) runs SQL.
    // A kind whose statement is empty runs SQL as well.
    QStringList SQL, SQL_ORACLE, SQL_MSSQL, SQL_IB;

    // The QSqlDatabase connection name; empty = "company" when that connection
    // exists, else Qt's default connection.
    void setConnectionName(const QString& name) { m_connectionName = name; }
    QString connectionName() const { return m_connectionName; }
    QSqlDatabase database() const;

    // The parameter named so (case-insensitive) in any of the statements; throws
    // SqlError when no statement has it. The object stays valid while the query lives.
    QueryParam* ParamByName(const QString& name);
    QStringList paramNames() const; // as written, first occurrence order

    // Runs BeforeOpen, executes the statement of the connection's kind and loads its rows.
    void open() override;
    void Open() { open(); }
    void Close() { close(); }
    bool IsEmpty() const { return isEmpty(); }

    // The statement chosen for a driver ("QOCI", "QSQLITE", ...), as text.
    QString statementFor(const QString& driverName) const;

    // Rewrites :NAME parameters into positional "?" placeholders, returning the name of
    // each placeholder in order. String literals, quoted identifiers, comments and
    // PostgreSQL "::" casts are left alone.
    static QString toPositional(const QString& sql, QStringList* names);

private:
    QString m_connectionName;
    std::map<QString, std::unique_ptr<QueryParam>> m_params; // key: upper-case name
};

} // namespace fw
