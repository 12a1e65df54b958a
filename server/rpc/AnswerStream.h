#pragma once
// An answer sent while its method is still writing it. A method whose result is JSON
// text it writes itself (RawJson) may hand the text on in pieces as it goes: the first
// piece leaves with the reply's head and the envelope's opening, the others as they come,
// so the client reads the first rows while the method still reads the database, and the
// server holds a few pieces instead of the whole answer. The reply then has no length:
// the connection's end closes it. A method asks AnswerStream::current(); outside a call
// served over HTTP (in process, in tests) there is none and it keeps its whole text.
//
// The bytes are those of the whole answer, in order: the wire is the same for any client.
#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace srv {

class AnswerStream {
public:
    virtual ~AnswerStream();
    // The stream of the call running on this thread; null when there is none.
    static AnswerStream* current();

    // The next piece of the result's text. False once the client has gone: the method
    // may stop writing (what it still writes goes nowhere).
    virtual bool write(const QByteArray& piece) = 0;
    bool started() const { return m_started; }

protected:
    bool m_started = false;
};

// Makes a stream the current one of this thread for as long as it lives.
class AnswerStreamGuard {
public:
    explicit AnswerStreamGuard(AnswerStream* stream);
    ~AnswerStreamGuard();
    AnswerStreamGuard(const AnswerStreamGuard&) = delete;
    AnswerStreamGuard& operator=(const AnswerStreamGuard&) = delete;

private:
    AnswerStream* m_previous;
};

// The bytes of a streamed answer on their way from a worker to the connection loop,
// which takes them as the socket takes them. A worker that gets too far ahead waits.
struct Outbox {
    // The connection loop's side. The next piece to send, into *out: Piece; or nothing yet
    // (Wait), or the answer's end, whole or cut short, once the call has ended too.
    enum class Next { Piece, Wait, End, CutShort };
    Next take(QByteArray* out, bool callEnded);
    bool ready(bool callEnded); // take() would not wait
    void leave(); // the client went away: the worker stops waiting and writing

    std::mutex mutex;
    std::condition_variable room;
    std::deque<QByteArray> pieces;
    qsizetype queued = 0;
    bool finished = false; // the last piece is in
    bool broken = false; // the answer cannot be completed: the connection ends short of it
    bool gone = false; // the client went away: nothing more is wanted
};

// The stream of a call served over HTTP: the reply's head and the envelope's opening go
// (with the request's id) before the first piece, gzip when the client takes it. started() tells the connection
// loop (once) that the connection is now streaming; wake() that there is more to send.
class ConnectionStream : public AnswerStream {
public:
    ConnectionStream(bool gzip, QByteArray requestId, std::function<void(std::shared_ptr<Outbox>)> started,
                     std::function<void()> wake);
    ~ConnectionStream() override;

    // What comes before the result: {"jsonrpc":"2.0","id":...,"result":
    void setOpening(const QByteArray& opening) { m_opening = opening; }
    bool write(const QByteArray& piece) override;
    // The rest of the answer, the envelope's closing included; the reply is then whole.
    void finish(const QByteArray& rest);
    // The answer cannot be completed (the method failed once pieces had gone).
    void abort();

private:
    bool push(QByteArray bytes, bool last);

    struct Deflater;
    std::unique_ptr<Deflater> m_gzip;
    std::function<void(std::shared_ptr<Outbox>)> m_onStart;
    std::function<void()> m_wake;
    std::shared_ptr<Outbox> m_outbox;
    QByteArray m_opening;
    QByteArray m_requestId; // the head's X-Request-Id
    bool m_done = false;
};

} // namespace srv
