#include "server/rpc/ConnectionIo.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

namespace srv::http {

namespace {

// One TLS write at most: a record is 16 KiB; this keeps a large answer's writes few.
constexpr size_t kTlsWriteChunk = 256 * 1024;

ssize_t tlsMoved(Connection& c, TlsChannel::Io io, int n)
{
    switch (io) {
    case TlsChannel::Io::Done: return n;
    case TlsChannel::Io::WantRead: c.tlsWants = POLLIN; return -1;
    case TlsChannel::Io::WantWrite: c.tlsWants = POLLOUT; return -1;
    case TlsChannel::Io::Closed:
    case TlsChannel::Io::Failed: break;
    }
    return 0;
}

} // namespace

ssize_t receive(Connection& c, char* buffer, size_t size)
{
    if (!c.tls) {
        const ssize_t n = ::recv(c.fd, buffer, size, 0);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : 0;
        return n;
    }
    int n = 0;
    const TlsChannel::Io io = c.tls->read(buffer, int(size), &n);
    return tlsMoved(c, io, n);
}

ssize_t transmit(Connection& c, const char* data, size_t size)
{
    if (!c.tls) {
        for (;;) {
            const ssize_t n = ::send(c.fd, data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
            return n;
        }
    }
    int n = 0;
    const TlsChannel::Io io = c.tls->write(data, int(std::min(size, kTlsWriteChunk)), &n);
    return tlsMoved(c, io, n);
}

} // namespace srv::http
