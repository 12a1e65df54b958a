#pragma once
// Exceptions of the framework. Abort is the silent abort: it ends the running
// operation without a message. Every other Error is shown to the user once by the
// dispatcher that runs event-loop entries (see Dispatch.h).
#include <QString>
#include <exception>

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT Error : public std::exception {
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

class FW_CORE_EXPORT Abort : public Error {
public:
    Abort() : Error(QStringLiteral("Operation aborted")) {}
};

// Raised by a data set for a misuse (no such field, not in edit state, required value).
class FW_CORE_EXPORT DataSetError : public Error {
public:
    using Error::Error;
};

// Raised by a server connection on a transport failure (no server, timeout, 401, fault).
class FW_CORE_EXPORT ConnectionError : public Error {
public:
    using Error::Error;
};

// Raised by the SQL query component when the database refuses a statement.
class FW_CORE_EXPORT SqlError : public Error {
public:
    using Error::Error;
};

} // namespace fw
