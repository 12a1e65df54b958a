#include "server/rpc/Sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <QByteArray>

namespace srv::http {

int listenSocket(const QString& host, int port, int* boundPort)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), QByteArray::number(port).constData(), &hints, &found) != 0 || !found)
        return -1;
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
    int yes = 1;
    const bool bound = fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0 &&
                       ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0;
    ::freeaddrinfo(found);
    if (!bound) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    sockaddr_storage local{};
    socklen_t len = sizeof(local);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len);
    *boundPort = local.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(local).sin6_port)
                                             : ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port);
    return fd;
}

std::string peerAddress(const sockaddr_storage& addr)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, text, sizeof(text));
    else if (addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, text, sizeof(text));
    return text;
}

} // namespace srv::http
