#pragma once
// A connection's bytes through its socket, and through TLS when it speaks it: what the
// connection loop reads and writes. Each returns the bytes moved (>0), 0 when the peer
// closed or the connection failed, or -1 when nothing can move now: the connection then
// waits for its socket (with TLS, which way: Connection::tlsWants).
#include <sys/types.h>

#include "server/rpc/HttpConnection.h"

namespace srv::http {

ssize_t receive(Connection& c, char* buffer, size_t size);
ssize_t transmit(Connection& c, const char* data, size_t size);

} // namespace srv::http
