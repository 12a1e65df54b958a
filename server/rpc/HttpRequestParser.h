#pragma once
// Reading an HTTP/1.1 request as its bytes arrive: the head first (request line and
// headers), judged on its own before any body is read, then the body by its
// Content-Length or its chunks. Pure parsing, no sockets, so every framing rule is
// tested without a network.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace srv::http {

struct RequestHead {
    QByteArray method;
    QByteArray target; // as sent
    QByteArray path; // target without its query, percent-decoded
    QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased, values trimmed

    QList<QByteArray> values(const char* lowerName) const;
    bool has(const char* lowerName) const { return !values(lowerName).isEmpty(); }
    QByteArray value(const char* lowerName) const; // the first, or empty
};

// A refusal found while reading: the HTTP status and the text of the fault envelope.
struct Refusal {
    int status = 0; // 0: none
    QString message;
    explicit operator bool() const { return status != 0; }
};

enum class Progress { NeedMore, Done, Refused };

// Looks for the end of the head in buffer; on Done, *headSize is the count of bytes
// the head took (the body starts there). Heads over headLimit bytes are refused.
Progress parseHead(const QByteArray& buffer, qsizetype headLimit, RequestHead* head, qsizetype* headSize,
                   Refusal* refusal);

// How the body is delimited, from Content-Length and Transfer-Encoding. Conflicting or
// malformed lengths are refused here, before a byte of the body is read.
struct Framing {
    enum class Kind { None, Length, Chunked } kind = Kind::None;
    qint64 length = 0;
};
Framing bodyFraming(const RequestHead& head, Refusal* refusal);

// Collects a body as it arrives, never holding more than limit bytes of it.
class BodyReader {
public:
    BodyReader() = default;
    BodyReader(Framing framing, qint64 limit) : m_framing(framing), m_limit(limit) {}

    // Consumes what it needs of data (the rest belongs to nobody: one request per
    // connection) and says whether the body is complete.
    Progress feed(const char* data, qsizetype size, Refusal* refusal);
    QByteArray& body() { return m_body; }

private:
    Progress feedChunked(const char* data, qsizetype size, Refusal* refusal);

    Framing m_framing;
    qint64 m_limit = 0;
    QByteArray m_body;
    bool m_done = false;
    // Chunked state: the line being read (size or trailer), the data still due in the
    // current chunk, and whether its closing CRLF is due.
    enum class Chunk { SizeLine, Data, DataEnd, Trailer } m_chunk = Chunk::SizeLine;
    QByteArray m_line;
    qint64 m_remaining = 0;
};

} // namespace srv::http
