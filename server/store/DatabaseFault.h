#pragma once
// A failure of the company database, told to the caller in plain words: the detail, which
// may name tables, files or values, goes to the operator's log only. The methods answer it
// as the protocol's internal error.
#include <QByteArray>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <exception>

namespace srv {

class Store;

class DatabaseFault : public std::exception {
public:
    DatabaseFault();
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Logs the detail and throws a DatabaseFault. A lost link also closes this thread's
// connection, so that the next call reconnects.
[[noreturn]] void databaseFault(Store& store, const QSqlError& error, const char* where);

// This thread's open connection, or a DatabaseFault.
QSqlDatabase openConnection(Store& store);

} // namespace srv
