#pragma once
// Who made the call running on this thread, as the transport saw it: the request's id (the
// one its log line and answer carry), the client's address, the name of the token it
// presented, the user its program says it acts for and, with mutual TLS, the subject of its
// certificate. The transport sets it around each
// method call, as it does the company scope; outside a call every field is empty.
#include <QByteArray>
#include <QString>

namespace srv {

struct Caller {
    QString requestId;
    QString address;
    QString tokenName;
    QString user;
    QString certificate; // mutual TLS: the subject of the client's certificate
    // X-CCE-Commit-Position: the database position the client's own writes reached, as an
    // earlier answer told it (as sent: checked by whoever reads it).
    QByteArray commitPosition;

    static const Caller& current();
    // What the call running on this thread leaves for its answer's head: the database
    // position its writes reached ("" when none), sent as X-CCE-Commit-Position.
    static void setCommitPositionReached(const QByteArray& position);
};

// Makes a caller the current one of this thread for as long as it lives; what the call
// leaves for its answer goes to *reached (when given).
class CallerGuard {
public:
    explicit CallerGuard(const Caller& caller, QByteArray* reached = nullptr);
    ~CallerGuard();
    CallerGuard(const CallerGuard&) = delete;
    CallerGuard& operator=(const CallerGuard&) = delete;

private:
    const Caller* m_previous;
    QByteArray* m_previousReached;
};

} // namespace srv
