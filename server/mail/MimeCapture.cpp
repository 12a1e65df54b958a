#include "server/mail/MimeCapture.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "server/curl/CurlReason.h"
#include "server/mail/CurlMessage.h"
#include "server/mail/SmtpTransport.h"

namespace srv::mail {

namespace {

constexpr qsizetype kMaxMessage = 64 * 1024 * 1024;

// The receiving end: just enough SMTP for curl to hand over one message.
class Receiver {
public:
    explicit Receiver(int fd) : m_fd(fd) {}

    void run()
    {
        if (!say("220 outbox ESMTP\r\n"))
            return;
        bool inData = false;
        QByteArray line;
        while (readLine(&line)) {
            if (inData) {
                if (line == ".") {
                    inData = false;
                    m_complete = true;
                    if (!say("250 kept\r\n"))
                        return;
                    continue;
                }
                // Undo the sender's dot-stuffing.
                m_message += line.startsWith('.') ? line.mid(1) : line;
                m_message += "\r\n";
                if (m_message.size() > kMaxMessage)
                    return;
                continue;
            }
            const QByteArray verb = line.left(4).toUpper();
            if (verb == "EHLO" || verb == "HELO" || verb == "MAIL" || verb == "RCPT" || verb == "RSET" ||
                verb == "NOOP") {
                if (!say("250 ok\r\n"))
                    return;
            } else if (verb == "DATA") {
                inData = true;
                if (!say("354 go on\r\n"))
                    return;
            } else if (verb == "QUIT") {
                say("221 bye\r\n");
                return;
            } else if (!say("502 not here\r\n")) {
                return;
            }
        }
    }

    bool complete() const { return m_complete; }
    const QByteArray& message() const { return m_message; }

private:
    bool say(const char* text)
    {
        const size_t n = strlen(text);
        return ::send(m_fd, text, n, MSG_NOSIGNAL) == ssize_t(n);
    }

    // One CRLF-terminated line, without the CRLF; false at the end of the conversation.
    bool readLine(QByteArray* line)
    {
        for (;;) {
            const qsizetype at = m_buffer.indexOf("\r\n");
            if (at >= 0) {
                *line = m_buffer.left(at);
                m_buffer.remove(0, at + 2);
                return true;
            }
            if (m_buffer.size() > kMaxMessage)
                return false;
            char chunk[16384];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            m_buffer.append(chunk, qsizetype(n));
        }
    }

    int m_fd;
    QByteArray m_buffer, m_message;
    bool m_complete = false;
};

void setTimeouts(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// A listening socket in the abstract namespace (no file), named for this call alone.
int listenAbstract(QByteArray* name)
{
    static std::atomic<unsigned> counter{0};
    *name = QStringLiteral("cce-outbox-%1-%2-%3")
                .arg(::getpid())
                .arg(++counter)
                .arg(QRandomGenerator::global()->generate64(), 0, 16)
                .toLatin1();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, name->constData(), size_t(name->size())); // sun_path[0] = 0: abstract
    const auto len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name->size()));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The one connection of this process's own curl; anyone else who finds the name first is
// turned away.
int acceptOwn(int listener, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd p{listener, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(qMax<qint64>(1, timeoutMs - clock.elapsed())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return -1; // timed out, or shut down because curl gave up
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED)
                continue;
            return -1;
        }
        ucred cred{};
        socklen_t len = sizeof cred;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.pid == ::getpid())
            return fd;
        ::close(fd);
    }
    return -1;
}

} // namespace

QByteArray captureMessage(const MailMessage& message, int timeoutMs, QString* error)
{
    ensureCurl();
    QByteArray name;
    const int listener = listenAbstract(&name);
    if (listener < 0) {
        *error = QStringLiteral("Falha ao preparar a mensagem de e-mail (socket local).");
        return {};
    }
    // The receiver gives up on its own if curl never comes or stalls.
    std::unique_ptr<Receiver> receiver;
    std::thread thread([&receiver, listener, timeoutMs] {
        const int fd = acceptOwn(listener, timeoutMs);
        if (fd < 0)
            return;
        setTimeouts(fd, timeoutMs);
        receiver = std::make_unique<Receiver>(fd);
        receiver->run();
        ::close(fd);
    });

    CURLcode rc = CURLE_FAILED_INIT;
    char errors[CURL_ERROR_SIZE] = {};
    if (CURL* curl = curl_easy_init()) {
        {
            CurlMessage m(curl, message);
            curl_easy_setopt(curl, CURLOPT_URL, "smtp://localhost/outbox");
            curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp");
            curl_easy_setopt(curl, CURLOPT_ABSTRACT_UNIX_SOCKET, name.constData());
            curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
            curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs));
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errors);
            if (m.ok())
                rc = curl_easy_perform(curl);
            curl_easy_cleanup(curl);
        }
    }
    if (rc != CURLE_OK)
        ::shutdown(listener, SHUT_RDWR); // wakes a receiver still waiting for curl
    thread.join();
    ::close(listener);

    if (rc != CURLE_OK || !receiver || !receiver->complete()) {
        *error = QStringLiteral("Falha ao montar a mensagem de e-mail: %1.").arg(curlReason(rc, errors));
        return {};
    }
    return receiver->message();
}

} // namespace srv::mail
