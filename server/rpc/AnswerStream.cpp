#include "server/rpc/AnswerStream.h"

#include <climits>
#include <zlib.h>

#include "server/rpc/HttpResponse.h"

namespace srv {

namespace {

thread_local AnswerStream* t_current = nullptr;

// A worker this far ahead of the socket waits for it: a streamed answer costs the server
// a few pieces, not the whole answer.
constexpr qsizetype kAhead = 4 * 1024 * 1024;

} // namespace

Outbox::Next Outbox::take(QByteArray* out, bool callEnded)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (pieces.empty())
        return !finished || !callEnded ? Next::Wait : broken ? Next::CutShort : Next::End;
    *out = std::move(pieces.front());
    pieces.pop_front();
    queued -= out->size();
    room.notify_all();
    return Next::Piece;
}

bool Outbox::ready(bool callEnded)
{
    std::lock_guard<std::mutex> lock(mutex);
    return !pieces.empty() || (finished && callEnded);
}

void Outbox::leave()
{
    std::lock_guard<std::mutex> lock(mutex);
    gone = true;
    room.notify_all();
}

AnswerStream::~AnswerStream() = default;

AnswerStream* AnswerStream::current() { return t_current; }

AnswerStreamGuard::AnswerStreamGuard(AnswerStream* stream) : m_previous(t_current) { t_current = stream; }

AnswerStreamGuard::~AnswerStreamGuard() { t_current = m_previous; }

// gzip as the whole answers have it (fast rather than small), each piece flushed so that
// the client can read what came.
struct ConnectionStream::Deflater {
    z_stream z{};
    bool ok = false;
    Deflater() { ok = deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK; }
    ~Deflater()
    {
        if (ok)
            deflateEnd(&z);
    }
    QByteArray run(const QByteArray& in, bool last)
    {
        QByteArray out;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
        z.avail_in = uInt(in.size());
        int rc = Z_OK;
        do {
            const qsizetype at = out.size();
            out.resize(at + 64 * 1024);
            z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
            z.avail_out = 64 * 1024;
            rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
            out.resize(out.size() - qsizetype(z.avail_out));
        } while (rc == Z_OK && (z.avail_out == 0 || (last && rc != Z_STREAM_END)));
        return out;
    }
};

ConnectionStream::ConnectionStream(bool gzip, QByteArray requestId,
                                   std::function<void(std::shared_ptr<Outbox>)> started, std::function<void()> wake)
    : m_onStart(std::move(started)), m_wake(std::move(wake)), m_requestId(std::move(requestId))
{
    if (gzip) {
        m_gzip = std::make_unique<Deflater>();
        if (!m_gzip->ok)
            m_gzip.reset();
    }
}

ConnectionStream::~ConnectionStream()
{
    if (m_started && !m_done)
        abort();
}

bool ConnectionStream::push(QByteArray bytes, bool last)
{
    {
        std::unique_lock<std::mutex> lock(m_outbox->mutex);
        m_outbox->room.wait(lock, [this] { return m_outbox->gone || m_outbox->queued <= kAhead; });
        if (m_outbox->gone)
            return false;
        m_outbox->queued += bytes.size();
        m_outbox->pieces.push_back(std::move(bytes));
        m_outbox->finished = last;
    }
    m_done = last;
    m_wake();
    return true;
}

bool ConnectionStream::write(const QByteArray& piece)
{
    if (m_started)
        return push(m_gzip ? m_gzip->run(piece, false) : piece, false);
    m_started = true;
    m_outbox = std::make_shared<Outbox>();
    const QByteArray body = m_opening + piece;
    m_onStart(m_outbox);
    http::Headers headers;
    headers.requestId = m_requestId;
    headers.gzipped = bool(m_gzip);
    return push(http::streamedHead(headers) + (m_gzip ? m_gzip->run(body, false) : body), false);
}

void ConnectionStream::finish(const QByteArray& rest) { push(m_gzip ? m_gzip->run(rest, true) : rest, true); }

void ConnectionStream::abort()
{
    {
        std::lock_guard<std::mutex> lock(m_outbox->mutex);
        m_outbox->broken = true;
        m_outbox->finished = true;
    }
    m_done = true;
    m_wake();
}

} // namespace srv
