#include "core/net/HttpReplyReader.h"

#include <QList>
#include <algorithm>
#include <climits>
#include <zlib.h>

namespace fw {

namespace {

constexpr qsizetype kHeadLimit = 64 * 1024;

QString malformed() { return QStringLiteral("resposta HTTP malformada"); }

} // namespace

struct HttpReplyReader::Inflater {
    z_stream z{};
    bool ok = false, ended = false;
    Inflater() { ok = inflateInit2(&z, 15 + 16) == Z_OK; }
    ~Inflater()
    {
        if (ok)
            inflateEnd(&z);
    }
};

HttpReplyReader::HttpReplyReader(std::function<void(QByteArrayView)> body) : m_body(std::move(body)) {}

HttpReplyReader::~HttpReplyReader() = default;

void HttpReplyReader::fail(const QString& why)
{
    if (m_failure.isEmpty())
        m_failure = why;
}

void HttpReplyReader::feed(QByteArrayView bytes)
{
    if (m_done || !m_failure.isEmpty() || bytes.isEmpty())
        return;
    if (headRead())
        return body(bytes);
    m_pending.append(bytes.data(), bytes.size());
    // "100 Continue" heads come before the answer's own, which has the body.
    while (m_failure.isEmpty() && !headRead()) {
        const qsizetype end = m_pending.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_pending.size() > kHeadLimit)
                fail(malformed());
            return;
        }
        const QByteArray text = m_pending.left(end);
        m_pending.remove(0, end + 4);
        const QList<QByteArray> lines = text.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        bool ok = false;
        const int status = first.value(1).toInt(&ok);
        if (!first.value(0).startsWith("HTTP/1.") || !ok || status < 100 || status > 599)
            return fail(malformed());
        if (status == 100)
            continue;
        m_status = status;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed().toLower();
            if (name == "transfer-encoding") {
                if (value != "chunked")
                    return fail(malformed());
                m_framing = Framing::Chunks;
            } else if (name == "content-length" && m_framing != Framing::Chunks) {
                m_left = value.toLongLong(&ok);
                if (!ok || m_left < 0)
                    return fail(malformed());
                m_framing = Framing::Length;
            } else if (name == "x-cce-commit-position") {
                const QByteArray position = line.mid(colon + 1).trimmed().left(64);
                const bool printable =
                    std::all_of(position.begin(), position.end(), [](char ch) { return ch > 0x20 && ch < 0x7f; });
                m_commitPosition = printable ? position : QByteArray();
            } else if (name == "content-encoding" && value != "identity") {
                if (value != "gzip")
                    return fail(QStringLiteral("codificação da resposta desconhecida"));
                m_gzip = std::make_unique<Inflater>();
            }
        }
        if (m_framing == Framing::Length && m_left == 0)
            m_done = true;
    }
    const QByteArray rest = std::exchange(m_pending, QByteArray());
    if (!rest.isEmpty() && !m_done)
        body(rest);
}

void HttpReplyReader::body(QByteArrayView bytes)
{
    switch (m_framing) {
    case Framing::End: return deliver(bytes);
    case Framing::Length: {
        const qsizetype n = qsizetype(qMin<qint64>(m_left, bytes.size()));
        m_left -= n;
        m_done = m_left == 0;
        return deliver(bytes.first(n));
    }
    case Framing::Chunks: break;
    }
    qsizetype at = 0;
    while (at < bytes.size() && !m_done && m_failure.isEmpty()) {
        if (m_chunk == Chunk::Data) {
            const qsizetype n = qsizetype(qMin<qint64>(m_left, bytes.size() - at));
            deliver(bytes.sliced(at, n));
            at += n;
            m_left -= n;
            if (m_left == 0)
                m_chunk = Chunk::DataEnd;
            continue;
        }
        // A size line, the end of a chunk's data or the trailer: a line at a time.
        const qsizetype eol = bytes.sliced(at).indexOf('\n');
        if (eol < 0) {
            m_pending.append(bytes.sliced(at).data(), bytes.size() - at);
            if (m_pending.size() > kHeadLimit)
                fail(malformed());
            return;
        }
        m_pending.append(bytes.sliced(at).data(), eol + 1);
        at += eol + 1;
        const QByteArray line = std::exchange(m_pending, QByteArray()).trimmed();
        switch (m_chunk) {
        case Chunk::Size: {
            bool ok = false;
            m_left = line.left(line.indexOf(';') < 0 ? line.size() : line.indexOf(';')).trimmed().toLongLong(&ok, 16);
            if (!ok || m_left < 0)
                return fail(malformed());
            m_chunk = m_left == 0 ? Chunk::Trailer : Chunk::Data;
            break;
        }
        case Chunk::DataEnd:
            if (!line.isEmpty())
                return fail(malformed());
            m_chunk = Chunk::Size;
            break;
        case Chunk::Trailer: m_done = line.isEmpty(); break;
        case Chunk::Data: break;
        }
    }
}

void HttpReplyReader::deliver(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_gzip)
        return m_body(bytes);
    Inflater& g = *m_gzip;
    if (!g.ok || g.ended)
        return fail(QStringLiteral("resposta comprimida malformada"));
    g.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    g.z.avail_in = uInt(bytes.size());
    char out[64 * 1024];
    while (g.z.avail_in > 0 && !g.ended) {
        g.z.next_out = reinterpret_cast<Bytef*>(out);
        g.z.avail_out = sizeof(out);
        const int rc = inflate(&g.z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return fail(QStringLiteral("resposta comprimida malformada"));
        g.ended = rc == Z_STREAM_END;
        m_body(QByteArrayView(out, qsizetype(sizeof(out) - g.z.avail_out)));
        if (rc == Z_BUF_ERROR && g.z.avail_out != 0)
            break;
    }
}

void HttpReplyReader::finish()
{
    if (!headRead() || !m_failure.isEmpty())
        return;
    if (!m_done && m_framing != Framing::End)
        return fail(QStringLiteral("a resposta chegou incompleta"));
    if (m_gzip && !m_gzip->ended && m_status != 204)
        return fail(QStringLiteral("a resposta comprimida chegou incompleta"));
    m_done = true;
}

} // namespace fw
