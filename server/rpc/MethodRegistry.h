#pragma once
// The methods a server exposes, by server name and method name, with the kinds of
// their arguments. The dispatcher's argument decoder checks each argument against its
// declared kind while it decodes it (-32602 naming the argument on a mismatch); the HTTP
// server then calls the method on a worker thread of its lane.
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <exception>
#include <functional>

namespace srv {

enum class ArgKind { String, Boolean, DateTime, DataPacket, DeltaPacket, Any };

struct ArgSpec {
    QString name;
    ArgKind kind = ArgKind::String;
    bool nullable = false; // null accepted (date-times: a null bound)
    // Data packets: the fields the method reads. Every row is still checked against the
    // whole field list, but only these columns are kept, so a large packet costs little.
    // Empty: every field.
    QStringList columns = {};
    // Data and delta packets: more rows (changes) than this the method refuses anyway;
    // one more is kept, so that it sees there were more, and the rest only checked. 0: no bound.
    int maxRows = 0;
    // Strings: more characters than this are refused before the text is built; 0: the
    // server's bound for every string (kMaxStringArgument).
    int maxLength = 0;
};

// No argument of this system needs more; the methods keep their own, tighter bounds.
constexpr int kMaxStringArgument = 65536;

// A protocol fault: turned into a JSON-RPC error with this code. Application errors
// are normal string results, never faults.
class RpcFault : public std::exception {
public:
    RpcFault(int code, QString message) : m_code(code), m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    int code() const { return m_code; }
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    int m_code;
    QString m_message;
    QByteArray m_utf8;
};

namespace fault {
constexpr int ParseError = -32700;
constexpr int InvalidRequest = -32600;
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int InternalError = -32603;
constexpr int Unauthorized = -32001;
} // namespace fault

// params are decoded values (fw::json::decode) already checked against the ArgSpecs.
// The result is any encodable value. Throw RpcFault for a protocol fault; any other
// exception becomes -32603 with a generic message.
using MethodFn = std::function<QVariant(const QVariantList& params)>;

// Where a call may run. The server keeps workers of their own for quick calls, so that a
// letter save never waits behind whole-company lists or calls that wait on the authority.
enum class MethodLane {
    General, // may take long: lists, transmissions, e-mail
    Quick, // a few statements on a few rows
};

struct Method {
    QString server;
    QString name;
    QList<ArgSpec> args;
    MethodFn fn;
    MethodLane lane = MethodLane::General;
    // Whether a call with these arguments reads a whole company: the server runs only a
    // few such at once, so that narrower calls always find a worker. Unset: never.
    std::function<bool(const QVariantList& args)> heavy;
};

class MethodRegistry {
public:
    void add(const QString& server, const QString& name, QList<ArgSpec> args, MethodFn fn)
    {
        m_methods.insert(key(server, name),
                         Method{server, name, std::move(args), std::move(fn), MethodLane::General, {}});
    }
    // Moves a registered method to another lane.
    void setLane(const QString& server, const QString& name, MethodLane lane)
    {
        auto it = m_methods.find(key(server, name));
        if (it != m_methods.end())
            it->lane = lane;
    }
    void setHeavy(const QString& server, const QString& name, std::function<bool(const QVariantList&)> heavy)
    {
        auto it = m_methods.find(key(server, name));
        if (it != m_methods.end())
            it->heavy = std::move(heavy);
    }
    // Puts every registered method inside wrap(method), for what must surround each call.
    void wrapAll(const std::function<MethodFn(MethodFn)>& wrap)
    {
        for (Method& m : m_methods)
            m.fn = wrap(std::move(m.fn));
    }
    const Method* find(const QString& server, const QString& name) const
    {
        auto it = m_methods.constFind(key(server, name));
        return it == m_methods.constEnd() ? nullptr : &it.value();
    }
    bool hasServer(const QString& server) const
    {
        for (const Method& m : m_methods)
            if (m.server == server)
                return true;
        return false;
    }

private:
    static QString key(const QString& s, const QString& n) { return s + QLatin1Char('/') + n; }
    QHash<QString, Method> m_methods;
};

} // namespace srv
