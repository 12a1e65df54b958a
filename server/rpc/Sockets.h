#pragma once
// The few socket calls of the connection loop that are not about a request: the listening
// socket and a peer's address as text.
#include <QString>
#include <string>
#include <sys/socket.h>

namespace srv::http {

// A non-blocking listening socket on host:port (port 0: any free one); its descriptor and
// *boundPort, or -1. SO_REUSEADDR only, never SO_REUSEPORT: a second server must fail to
// start rather than silently share the port.
int listenSocket(const QString& host, int port, int* boundPort);

// The numeric address of a peer, IPv4 or IPv6.
std::string peerAddress(const sockaddr_storage& addr);

} // namespace srv::http
