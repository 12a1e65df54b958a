#pragma once
// The answers the HTTP server writes: the status line and headers around a JSON body,
// refusals as JSON-RPC fault envelopes, gzip for clients that take it, and the client's
// text as a log line may show it.
#include <QByteArray>
#include <QString>

namespace srv::http {

// What an answer says besides its status and body.
struct Headers {
    QByteArray requestId; // sent as X-Request-Id when not empty
    QByteArray contentType = "application/json";
    bool askForToken = false; // WWW-Authenticate
    bool gzipped = false; // the body is gzip
    QByteArray commitPosition; // sent as X-CCE-Commit-Position when not empty
};

// One request per connection: every answer closes it.
QByteArray response(int status, const QByteArray& body, const Headers& headers = {});
// The head of a 200 answer sent while it is made (AnswerStream.h): no length, the
// connection's end ends it.
QByteArray streamedHead(const Headers& headers);

// A refused request: status with a fault envelope (-32001 for 401, else -32600) holding
// message, or the status's own text when message is empty. bodyLimit goes into the text
// of 413.
QByteArray refusal(int status, const QString& message, qint64 bodyLimit, const QByteArray& requestId = {});

// Whether the client takes gzip answers: "gzip" among the codings, without q=0.
bool acceptsGzip(const QByteArray& acceptEncoding);
// Answers smaller than this gain nothing from gzip.
constexpr qsizetype kGzipFrom = 1024;
// The answer in gzip form, fast rather than small: lists compress several times over
// even so. Empty on failure (the answer then goes plain).
QByteArray gzip(const QByteArray& data);

// Log text that came from the client: printable ASCII only, bounded.
QByteArray printable(const QByteArray& text);

} // namespace srv::http
