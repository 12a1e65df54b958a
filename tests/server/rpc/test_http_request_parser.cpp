// The HTTP request parser, by tables: the head judged on its own, the body's framing
// decided from the head, and the body read as it arrives in any pieces.
#include <gtest/gtest.h>

#include "server/rpc/HttpRequestParser.h"

namespace {

using namespace srv::http;

TEST(HttpRequestParser, HeadsAreReadOrRefusedOnTheirOwn)
{
    const struct {
        const char* bytes;
        Progress progress;
        int status; // of a refusal
        const char* method;
        const char* path;
    } cases[] = {
        {"POST /rpc/Dfs59000.rdmTransmissaoCCe HTTP/1.1\r\nHost: h\r\n\r\n", Progress::Done, 0, "POST",
         "/rpc/Dfs59000.rdmTransmissaoCCe"},
        {"POST /rpc/a HTTP/1.1\r\nHost: h\r\n", Progress::NeedMore, 0, "", ""},
        {"\r\nGET / HTTP/1.0\r\n\r\n", Progress::Done, 0, "GET", "/"}, // an empty line first is allowed
        {"POST /x HTTP/1.1\nA: b\n\n", Progress::Done, 0, "POST", "/x"}, // bare line feeds
        {"POST /rpc/a%20b%2fc?x=%41 HTTP/1.1\r\n\r\n", Progress::Done, 0, "POST", "/rpc/a b/c"},
        {"POST /bad%zz%4 HTTP/1.1\r\n\r\n", Progress::Done, 0, "POST", "/bad%zz%4"},
        {"POST /x HTTP/2.0\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST /x\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST  /x HTTP/1.1\r\n\r\n", Progress::Refused, 400, "", ""},
        {"PO(ST /x HTTP/1.1\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST /x HTTP/1.1\r\nNo colon here\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST /x HTTP/1.1\r\n: empty name\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST /x HTTP/1.1\r\nA: b\r\n folded: c\r\n\r\n", Progress::Refused, 400, "", ""},
        {"POST /x HTTP/1.1\r\nBad Name: x\r\n\r\n", Progress::Refused, 400, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        RequestHead head;
        qsizetype size = -1;
        Refusal refusal;
        const QByteArray bytes(c.bytes);
        ASSERT_EQ(parseHead(bytes, 1024, &head, &size, &refusal), c.progress);
        EXPECT_EQ(refusal.status, c.status);
        if (c.progress == Progress::Done) {
            EXPECT_EQ(head.method, c.method);
            EXPECT_EQ(head.path, c.path);
            EXPECT_EQ(size, bytes.size());
        }
    }
}

TEST(HttpRequestParser, HeadersAreNamedInLowerCaseWithTheirValuesTrimmedAndTheBodyIsLeft)
{
    const QByteArray bytes("POST /x?q HTTP/1.1\r\nContent-Type:  application/json \r\nX-A: 1\r\nx-a: 2\r\n\r\n{\"id\"");
    RequestHead head;
    qsizetype size = 0;
    Refusal refusal;
    ASSERT_EQ(parseHead(bytes, 1024, &head, &size, &refusal), Progress::Done);
    EXPECT_EQ(head.target, "/x?q");
    EXPECT_EQ(head.value("content-type"), "application/json");
    EXPECT_EQ(head.values("x-a"), (QList<QByteArray>{"1", "2"}));
    EXPECT_FALSE(head.has("content-length"));
    EXPECT_EQ(bytes.mid(size), "{\"id\"");

    // A head that does not end within the limit is refused; one that still may, waits.
    const QByteArray open = "POST /x HTTP/1.1\r\nX: " + QByteArray(100, 'a');
    EXPECT_EQ(parseHead(open, 64, &head, &size, &refusal), Progress::Refused);
    EXPECT_EQ(refusal.status, 431);
    EXPECT_EQ(parseHead(open, 4096, &head, &size, &refusal), Progress::NeedMore);
}

TEST(HttpRequestParser, TheBodysFramingComesFromTheHeadAndConflictsAreRefused)
{
    using Kind = Framing::Kind;
    const struct {
        QList<QPair<QByteArray, QByteArray>> headers;
        int status;
        Kind kind;
        qint64 length;
    } cases[] = {
        {{}, 0, Kind::None, 0},
        {{{"content-length", "10"}}, 0, Kind::Length, 10},
        {{{"content-length", "0"}}, 0, Kind::Length, 0},
        {{{"content-length", "10, 10"}}, 0, Kind::Length, 10},
        {{{"content-length", "10"}, {"content-length", "10"}}, 0, Kind::Length, 10},
        {{{"content-length", "10"}, {"content-length", "11"}}, 400, Kind::None, 0},
        {{{"content-length", "10, 11"}}, 400, Kind::None, 0},
        {{{"content-length", "-1"}}, 400, Kind::None, 0},
        {{{"content-length", "+1"}}, 400, Kind::None, 0},
        {{{"content-length", "1 0"}}, 400, Kind::None, 0},
        {{{"content-length", ""}}, 400, Kind::None, 0},
        {{{"content-length", "1234567890123456789"}}, 400, Kind::None, 0},
        {{{"transfer-encoding", "chunked"}}, 0, Kind::Chunked, 0},
        {{{"transfer-encoding", "Chunked"}}, 0, Kind::Chunked, 0},
        {{{"transfer-encoding", "gzip, chunked"}}, 501, Kind::None, 0},
        {{{"transfer-encoding", "chunked"}, {"transfer-encoding", "chunked"}}, 501, Kind::None, 0},
        {{{"transfer-encoding", "chunked"}, {"content-length", "5"}}, 400, Kind::None, 0},
    };
    for (const auto& c : cases) {
        RequestHead head;
        head.headers = c.headers;
        QByteArray shown;
        for (const auto& [name, value] : c.headers)
            shown += name + ": " + value + "; ";
        SCOPED_TRACE(shown.constData());
        Refusal refusal;
        const Framing f = bodyFraming(head, &refusal);
        EXPECT_EQ(refusal.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(f.kind, c.kind);
            EXPECT_EQ(f.length, c.length);
        }
    }
}

// Feeds the pieces in turn: the progress after the last, and the body.
std::pair<Progress, QByteArray> feed(const Framing& framing, qint64 limit, const QList<QByteArray>& pieces,
                                     Refusal* refusal)
{
    BodyReader reader(framing, limit);
    Progress p = Progress::NeedMore;
    for (const QByteArray& piece : pieces) {
        p = reader.feed(piece.constData(), piece.size(), refusal);
        if (p == Progress::Refused)
            break;
    }
    return {p, reader.body()};
}

QList<QByteArray> byteByByte(const QByteArray& text)
{
    QList<QByteArray> out;
    for (char c : text)
        out << QByteArray(1, c);
    return out;
}

TEST(HttpRequestParser, BodiesArriveInAnyPiecesAndMalformedChunksAreRefused)
{
    const Framing length{Framing::Kind::Length, 5};
    const Framing chunked{Framing::Kind::Chunked, 0};
    const QByteArray chunks("5\r\nhello\r\n6;ext=1\r\n world\r\n0\r\nTrailer: x\r\n\r\n");
    const struct {
        const char* what;
        Framing framing;
        QList<QByteArray> pieces;
        Progress progress;
        int status;
        QByteArray body;
    } cases[] = {
        {"length, in two pieces", length, {"he", "llo"}, Progress::Done, 0, "hello"},
        {"length, short", length, {"hell"}, Progress::NeedMore, 0, "hell"},
        {"length, what follows is nobody's", length, {"hello, more"}, Progress::Done, 0, "hello"},
        {"none", Framing{}, {"ignored"}, Progress::Done, 0, ""},
        {"chunks, whole", chunked, {chunks}, Progress::Done, 0, "hello world"},
        {"chunks, byte by byte", chunked, byteByByte(chunks), Progress::Done, 0, "hello world"},
        {"chunks, bare line feeds", chunked, {"3\nabc\n0\n\n"}, Progress::Done, 0, "abc"},
        {"chunks, not yet ended", chunked, {"5\r\nhello\r\n0\r\n"}, Progress::NeedMore, 0, "hello"},
        {"chunk size not hex", chunked, {"g\r\n"}, Progress::Refused, 400, ""},
        {"chunk size empty", chunked, {"\r\n"}, Progress::Refused, 400, ""},
        {"chunk size too long", chunked, {"1000000000000000\r\n"}, Progress::Refused, 400, ""},
        {"chunk data overruns", chunked, {"5\r\nhelloX\r\n"}, Progress::Refused, 400, "hello"},
        {"chunk line endless", chunked, {QByteArray(5000, '1')}, Progress::Refused, 400, ""},
        {"chunks past the limit", chunked, {"400\r\n"}, Progress::Refused, 413, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Refusal refusal;
        const auto [progress, body] = feed(c.framing, 1000, c.pieces, &refusal);
        EXPECT_EQ(progress, c.progress);
        EXPECT_EQ(refusal.status, c.status);
        EXPECT_EQ(body, c.body);
    }
}

} // namespace
