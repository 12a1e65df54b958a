// An HTTP answer read in pieces of any size: its status and its body, by whatever framing
// and coding it comes in; an answer cut short is told apart from a whole one.
#include <gtest/gtest.h>
#include <zlib.h>

#include "core/net/HttpReplyReader.h"

namespace {

QByteArray gzip(const QByteArray& in)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&z, uLong(in.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

struct Read {
    int status = 0;
    bool done = false;
    QString failure;
    QByteArray body;
};

// The answer fed in pieces of `piece` bytes, then the connection's end.
Read read(const QByteArray& answer, qsizetype piece)
{
    Read r;
    fw::HttpReplyReader reader([&r](QByteArrayView b) { r.body.append(b.data(), b.size()); });
    for (qsizetype at = 0; at < answer.size(); at += piece)
        reader.feed(QByteArrayView(answer).sliced(at, qMin(piece, answer.size() - at)));
    reader.finish();
    r.status = reader.status();
    r.done = reader.done();
    r.failure = reader.failure();
    return r;
}

} // namespace

TEST(HttpReplyReader, EveryFramingAndCodingGivesTheBodyWhereverItIsCut)
{
    QByteArray body;
    for (int i = 0; i < 3000; ++i)
        body += "linha " + QByteArray::number(i) + " da lista; ";
    const QByteArray packed = gzip(body);
    QByteArray chunks;
    for (qsizetype at = 0; at < packed.size(); at += 1000)
        chunks += QByteArray::number(qMin<qsizetype>(1000, packed.size() - at), 16) + ";ext=1\r\n" +
                  packed.mid(at, 1000) + "\r\n";
    chunks += "0\r\nX-Trailer: 1\r\n\r\n";
    const QByteArray answers[] = {
        "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\n\r\n" + body,
        "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body,
        "HTTP/1.1 200 OK\r\ntransfer-encoding: chunked\r\nContent-Encoding: gzip\r\n\r\n" + chunks,
        "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + packed,
    };
    for (const QByteArray& answer : answers)
        for (qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(4096), answer.size()}) {
            const Read r = read(answer, piece);
            EXPECT_EQ(r.status, 200);
            EXPECT_TRUE(r.done);
            EXPECT_TRUE(r.failure.isEmpty()) << r.failure.toStdString();
            EXPECT_EQ(r.body, body) << answer.left(60).constData() << " in pieces of " << piece;
        }
    const Read error = read("HTTP/1.1 401 Unauthorized\r\nContent-Length: 2\r\n\r\n{}", 3);
    EXPECT_EQ(error.status, 401);
    EXPECT_EQ(error.body, QByteArray("{}"));
}

TEST(HttpReplyReader, AnAnswerCutShortIsNotTakenForWhole)
{
    const QByteArray packed = gzip("texto da resposta");
    for (const QByteArray& cut : {
             QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n12345"),
             QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n12345\r\n"),
             "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + packed.left(packed.size() - 4),
         }) {
        const Read r = read(cut, 3);
        EXPECT_FALSE(r.failure.isEmpty()) << cut.constData();
        EXPECT_FALSE(r.done);
    }
    for (const QByteArray& wrong : {QByteArray("HTTP/1.1 20x OK\r\n\r\n"), QByteArray("SSH-2.0\r\n\r\n"),
                                    QByteArray("HTTP/1.1 200 OK\r\nContent-Encoding: br\r\n\r\nx"),
                                    QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")})
        EXPECT_FALSE(read(wrong, 5).failure.isEmpty()) << wrong.constData();
}
