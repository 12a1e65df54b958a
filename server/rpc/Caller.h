#pragma once
// Who made the call running on this thread, as the transport saw it: the request's id (the
// one its log line and answer carry), the client's address, the name of the token it
// presented, the user its program says it acts for and, with mutual TLS, the subject of its
// certificate. The transport sets it around each
// method call, as it does the company scope; outside a call every field is empty.
#include <QString>

namespace srv {

struct Caller {
    QString requestId;
    QString address;
    QString tokenName;
    QString user;
    QString certificate; // mutual TLS: the subject of the client's certificate

    static const Caller& current();
};

// Makes a caller the current one of this thread for as long as it lives.
class CallerGuard {
public:
    explicit CallerGuard(const Caller& caller);
    ~CallerGuard();
    CallerGuard(const CallerGuard&) = delete;
    CallerGuard& operator=(const CallerGuard&) = delete;

private:
    const Caller* m_previous;
};

} // namespace srv
