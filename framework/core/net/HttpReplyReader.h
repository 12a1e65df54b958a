#pragma once
// An HTTP/1.1 answer read as its bytes arrive: the status line and headers, then the body
// by its framing (a length, chunks, or the connection's end), inflated when it comes
// gzipped, each piece handed on as soon as it is read. A streamed answer (the server's
// lists) has no length: the connection's end ends it.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT HttpReplyReader {
public:
    explicit HttpReplyReader(std::function<void(QByteArrayView)> body);
    ~HttpReplyReader();
    HttpReplyReader(const HttpReplyReader&) = delete;
    HttpReplyReader& operator=(const HttpReplyReader&) = delete;

    void feed(QByteArrayView bytes);
    // The connection ended: a body framed by a length or chunks must be whole by now.
    void finish();

    bool headRead() const { return m_status > 0; }
    int status() const { return m_status; }
    // The body is whole by its framing: nothing more is to be read.
    bool done() const { return m_done; }
    // Not an answer that can be read, in Portuguese; empty while all is well.
    QString failure() const { return m_failure; }
    // The head's X-CCE-Commit-Position, as sent (printable ASCII only); empty when none.
    QByteArray commitPosition() const { return m_commitPosition; }

private:
    void head();
    void body(QByteArrayView bytes);
    void deliver(QByteArrayView bytes);
    void fail(const QString& why);

    enum class Framing { Length, Chunks, End };
    std::function<void(QByteArrayView)> m_body;
    QByteArray m_pending; // the head, or a chunk's size line, not whole yet
    int m_status = 0;
    Framing m_framing = Framing::End;
    qint64 m_left = 0; // of the length, or of the chunk
    enum class Chunk { Size, Data, DataEnd, Trailer } m_chunk = Chunk::Size;
    bool m_done = false;
    QString m_failure;
    QByteArray m_commitPosition;
    struct Inflater;
    std::unique_ptr<Inflater> m_gzip;
};

} // namespace fw
