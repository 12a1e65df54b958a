#pragma once
// Helpers shared by the server's methods: connections, transactions, value conversion
// and the faults that report database failures without revealing them.
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include "server/store/Store.h"

namespace srv::methods {

// Logs the detail for the operator and throws a -32603 fault with a plain message.
[[noreturn]] void databaseFault(Store& store, const QSqlError& error, const char* where);

// This thread's open connection, or a fault.
QSqlDatabase openConnection(Store& store);

// A write transaction. SQLite takes the write lock at once (BEGIN IMMEDIATE), so two
// writers queue instead of failing half-way; PostgreSQL serialises through row locks.
// Rolls back when destroyed uncommitted.
class WriteTransaction {
public:
    WriteTransaction(Store& store, QSqlDatabase db);
    ~WriteTransaction();
    void commit();

private:
    Store& m_store;
    QSqlDatabase m_db;
    bool m_open = false;
};

// A consistent read of several statements (one snapshot).
class ReadTransaction {
public:
    ReadTransaction(Store& store, QSqlDatabase db);
    ~ReadTransaction();
    void finish();

private:
    Store& m_store;
    QSqlDatabase m_db;
    bool m_open = false;
};

// The caller's company scope (the token's, see server/rpc/CompanyScope.h). Each answers
// "" when the caller may reach what it names, else the text to return as the method's
// result, before anything is read or changed. A caller reaching every company costs no
// query; an invoice or branch that does not exist is left to the method to report.
QString companyScopeRefusal(const QString& company);
QString branchScopeRefusal(Store& store, QSqlDatabase db, const QString& filial);
QString invoiceScopeRefusal(Store& store, QSqlDatabase db, const QString& filial, const QString& lancto);
// Every invoice (CDFILIAL, NRLANCTONF) of a list, a few queries for thousands of them.
QString invoicesScopeRefusal(Store& store, QSqlDatabase db, const QList<QPair<QString, QString>>& invoices);

// Column values as the packets want them.
QVariant stringOrNull(const QVariant& v); // null stays null, anything else a QString
QString text(const QVariant& v); // null gives ""
QDateTime toDateTime(const QVariant& v); // text of SQLite or a date-time of PostgreSQL
QString brazilianDate(const QVariant& v); // "dd/MM/yyyy", "" for null

// Characters as the user sees them (a surrogate pair is one).
int characterCount(const QString& s);

} // namespace srv::methods
