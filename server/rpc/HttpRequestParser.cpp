#include "server/rpc/HttpRequestParser.h"

#include <cstring>

namespace srv::http {

namespace {

Progress refuse(Refusal* refusal, int status, const QString& message)
{
    refusal->status = status;
    refusal->message = message;
    return Progress::Refused;
}

bool isTokenChar(char c)
{
    static const char* const separators = "()<>@,;:\\\"/[]?={} \t";
    return c > 0x20 && c < 0x7f && !std::strchr(separators, c);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray percentDecoded(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int hi = text[i] == '%' && i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int lo = hi >= 0 ? hexValue(text[i + 2]) : -1;
        if (lo >= 0) {
            out.append(char(hi * 16 + lo));
            i += 2;
        } else {
            out.append(text[i]);
        }
    }
    return out;
}

// Only digits: no sign, no blanks inside, at most 18 of them (fits in qint64).
bool parseLength(const QByteArray& text, qint64* length)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    qint64 n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *length = n;
    return true;
}

const QString& badRequestText()
{
    static const QString text = QStringLiteral("Requisição HTTP inválida.");
    return text;
}

} // namespace

QList<QByteArray> RequestHead::values(const char* lowerName) const
{
    QList<QByteArray> out;
    for (const auto& h : headers)
        if (h.first == lowerName)
            out.append(h.second);
    return out;
}

QByteArray RequestHead::value(const char* lowerName) const
{
    for (const auto& h : headers)
        if (h.first == lowerName)
            return h.second;
    return QByteArray();
}

Progress parseHead(const QByteArray& buffer, qsizetype headLimit, RequestHead* head, qsizetype* headSize,
                   Refusal* refusal)
{
    // The head ends at the first empty line; lines end in CRLF, a bare LF is tolerated.
    qsizetype end = -1;
    qsizetype lineStart = 0;
    QList<QByteArray> lines;
    for (qsizetype i = 0; i < buffer.size() && i < headLimit; ++i) {
        if (buffer[i] != '\n')
            continue;
        QByteArray line = buffer.mid(lineStart, i - lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        lineStart = i + 1;
        if (line.isEmpty()) {
            if (lines.isEmpty())
                continue; // an empty line before the request line is allowed
            end = i + 1;
            break;
        }
        lines.append(line);
    }
    if (end < 0) {
        if (buffer.size() >= headLimit)
            return refuse(refusal, 431, QStringLiteral("O cabeçalho da requisição excede %1 bytes.").arg(headLimit));
        return Progress::NeedMore;
    }

    const QList<QByteArray> requestLine = lines.first().split(' ');
    if (requestLine.size() != 3 || requestLine[0].isEmpty() || requestLine[1].isEmpty() ||
        (requestLine[2] != "HTTP/1.1" && requestLine[2] != "HTTP/1.0"))
        return refuse(refusal, 400, badRequestText());
    for (char c : requestLine[0])
        if (!isTokenChar(c))
            return refuse(refusal, 400, badRequestText());
    head->method = requestLine[0];
    head->target = requestLine[1];
    const qsizetype query = head->target.indexOf('?');
    head->path = percentDecoded(query < 0 ? head->target : head->target.left(query));

    head->headers.clear();
    for (qsizetype l = 1; l < lines.size(); ++l) {
        const QByteArray& line = lines[l];
        const qsizetype colon = line.indexOf(':');
        // A line folded onto the one before, or a name with blanks, is how requests get
        // smuggled past proxies: refused.
        if (colon <= 0)
            return refuse(refusal, 400, badRequestText());
        for (qsizetype i = 0; i < colon; ++i)
            if (!isTokenChar(line[i]))
                return refuse(refusal, 400, badRequestText());
        head->headers.append({line.left(colon).toLower(), line.mid(colon + 1).trimmed()});
    }
    *headSize = end;
    return Progress::Done;
}

Framing bodyFraming(const RequestHead& head, Refusal* refusal)
{
    Framing framing;
    const QList<QByteArray> transfer = head.values("transfer-encoding");
    const QList<QByteArray> lengths = head.values("content-length");
    if (!transfer.isEmpty()) {
        if (!lengths.isEmpty()) {
            refuse(refusal, 400,
                   QStringLiteral("A requisição traz Content-Length e Transfer-Encoding ao mesmo tempo."));
            return framing;
        }
        // Only plain chunked bodies: any other coding would have to be undone here.
        if (transfer.size() != 1 || transfer.first().toLower() != "chunked") {
            refuse(refusal, 501, QStringLiteral("Transfer-Encoding não suportado: use chunked ou Content-Length."));
            return framing;
        }
        framing.kind = Framing::Kind::Chunked;
        return framing;
    }
    if (lengths.isEmpty())
        return framing;
    // Several Content-Length headers (or one with a list) are acceptable only when
    // they all say the same.
    bool first = true;
    for (const QByteArray& header : lengths) {
        for (const QByteArray& item : header.split(',')) {
            qint64 n = 0;
            if (!parseLength(item.trimmed(), &n)) {
                refuse(refusal, 400, QStringLiteral("Content-Length inválido."));
                return framing;
            }
            if (!first && n != framing.length) {
                refuse(refusal, 400, QStringLiteral("A requisição traz valores diferentes de Content-Length."));
                return framing;
            }
            framing.length = n;
            first = false;
        }
    }
    framing.kind = Framing::Kind::Length;
    return framing;
}

Progress BodyReader::feed(const char* data, qsizetype size, Refusal* refusal)
{
    if (m_done)
        return Progress::Done;
    switch (m_framing.kind) {
    case Framing::Kind::None: m_done = true; return Progress::Done;
    case Framing::Kind::Length: {
        const qint64 due = m_framing.length - m_body.size();
        m_body.append(data, qsizetype(qMin<qint64>(due, size)));
        m_done = m_body.size() == m_framing.length;
        return m_done ? Progress::Done : Progress::NeedMore;
    }
    case Framing::Kind::Chunked: return feedChunked(data, size, refusal);
    }
    return Progress::NeedMore;
}

Progress BodyReader::feedChunked(const char* data, qsizetype size, Refusal* refusal)
{
    constexpr qsizetype kLineLimit = 4096;
    qsizetype i = 0;
    while (i < size) {
        if (m_chunk == Chunk::Data) {
            const qsizetype take = qsizetype(qMin<qint64>(m_remaining, size - i));
            m_body.append(data + i, take);
            m_remaining -= take;
            i += take;
            if (m_remaining == 0)
                m_chunk = Chunk::DataEnd;
            continue;
        }
        const char c = data[i++];
        if (c != '\n') {
            if (m_line.size() >= kLineLimit)
                return refuse(refusal, 400, QStringLiteral("Corpo em chunks malformado."));
            m_line.append(c);
            continue;
        }
        QByteArray line = m_line;
        m_line.clear();
        if (line.endsWith('\r'))
            line.chop(1);
        if (m_chunk == Chunk::DataEnd) {
            if (!line.isEmpty())
                return refuse(refusal, 400, QStringLiteral("Corpo em chunks malformado."));
            m_chunk = Chunk::SizeLine;
        } else if (m_chunk == Chunk::SizeLine) {
            const qsizetype ext = line.indexOf(';');
            const QByteArray hex = (ext < 0 ? line : line.left(ext)).trimmed();
            qint64 n = 0;
            if (hex.isEmpty() || hex.size() > 15)
                return refuse(refusal, 400, QStringLiteral("Corpo em chunks malformado."));
            for (char h : hex) {
                const int v = hexValue(h);
                if (v < 0)
                    return refuse(refusal, 400, QStringLiteral("Corpo em chunks malformado."));
                n = n * 16 + v;
            }
            if (m_body.size() + n > m_limit)
                return refuse(refusal, 413, QString());
            if (n == 0) {
                m_chunk = Chunk::Trailer;
            } else {
                m_remaining = n;
                m_chunk = Chunk::Data;
            }
        } else if (line.isEmpty()) { // the empty line after the trailers ends the body
            m_done = true;
            return Progress::Done;
        }
    }
    return Progress::NeedMore;
}

} // namespace srv::http
