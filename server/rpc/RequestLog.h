#pragma once
// A request's log line: its id, "<server>/<method>" (or the page), the time it took, the
// outcome, the client's address, the token's name and the user it acts for, at a level
// that says whether anyone needs to look. Never a value the client sent beyond those names.
#include <QByteArray>

#include "server/rpc/HttpConnection.h"

namespace srv::http {

QByteArray requestLogLine(const Connection& c, qint64 ms);

// The user a client program says it acts for (X-CCE-User): percent-encoded UTF-8, bounded,
// on one line.
QString userFromHeader(const QByteArray& header);

// The client a balancer forwarded: the last address of X-Forwarded-For (the one the
// balancer itself added), when it is an IP address; "" otherwise.
std::string forwardedClient(const QByteArray& header);

} // namespace srv::http
