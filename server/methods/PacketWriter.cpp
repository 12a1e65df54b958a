#include "server/methods/PacketWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <cstring>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "server/store/ColumnValues.h"

namespace srv::methods {

namespace {

// "yyyy-MM-ddTHH:mm:ss", quoted, of a stored text that already has that shape (SQLite
// keeps it so, with a T or a blank); false when it must be parsed. at(i) is the i-th
// character of a text of size units.
template <class At>
bool storedDateTimeText(qsizetype size, At at, char (&text)[21])
{
    if (size < 19 || (size > 19 && at(19) != u'.'))
        return false;
    text[0] = '"';
    for (int i = 0; i < 19; ++i) {
        const char16_t c = at(i);
        const bool digit = c >= u'0' && c <= u'9';
        const bool ok = (i == 4 || i == 7)     ? c == u'-'
                        : (i == 13 || i == 16) ? c == u':'
                        : i == 10              ? (c == u'T' || c == u' ')
                                               : digit;
        if (!ok)
            return false;
        text[i + 1] = i == 10 ? 'T' : char(c);
    }
    auto num = [&](int from, int len) {
        int n = 0;
        for (int i = from; i < from + len; ++i)
            n = n * 10 + (text[i + 1] - '0');
        return n;
    };
    if (!QDate::isValid(num(0, 4), num(5, 2), num(8, 2)) || !QTime::isValid(num(11, 2), num(14, 2), num(17, 2)))
        return false;
    text[20] = '"';
    return true;
}

// "dd/MM/yyyy", quoted, of a text beginning "yyyy-MM-dd" in plain ASCII.
template <class At>
bool storedDateText(qsizetype size, At at, char (&text)[12])
{
    if (size < 10 || at(4) != u'-' || at(7) != u'-')
        return false;
    for (int i = 0; i < 10; ++i) {
        const char16_t c = at(i);
        if (c >= 0x80 || c < 0x20 || c == u'"' || c == u'\\')
            return false;
    }
    const int order[10] = {8, 9, -1, 5, 6, -1, 0, 1, 2, 3};
    text[0] = '"';
    for (int i = 0; i < 10; ++i)
        text[i + 1] = order[i] < 0 ? '/' : char(at(order[i]));
    text[11] = '"';
    return true;
}

const char kHex[] = "0123456789abcdef";

// The escape of an ASCII character that JSON does not take as it is.
char* escapeAscii(char* d, unsigned char c)
{
    *d++ = '\\';
    switch (c) {
    case '"': *d++ = '"'; break;
    case '\\': *d++ = '\\'; break;
    case '\b': *d++ = 'b'; break;
    case '\f': *d++ = 'f'; break;
    case '\n': *d++ = 'n'; break;
    case '\r': *d++ = 'r'; break;
    case '\t': *d++ = 't'; break;
    default:
        *d++ = 'u';
        *d++ = '0';
        *d++ = '0';
        *d++ = kHex[c >> 4];
        *d++ = kHex[c & 15];
        break;
    }
    return d;
}

} // namespace

void appendJsonString(QByteArray& out, const QString& s)
{
    const QChar* p = s.constData();
    const qsizetype n = s.size();
    // Room for the worst case (every unit escaped as \uXXXX), given back at the end.
    const qsizetype start = out.size();
    out.resize(start + n * 6 + 2);
    char* d = out.data() + start;
    *d++ = '"';
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < 0x80) {
            if (c >= 0x20 && c != u'"' && c != u'\\')
                *d++ = char(c);
            else
                d = escapeAscii(d, static_cast<unsigned char>(c));
            continue;
        }
        char32_t cp = c;
        if (QChar::isHighSurrogate(c) && i + 1 < n && p[i + 1].isLowSurrogate())
            cp = QChar::surrogateToUcs4(c, p[++i].unicode());
        else if (QChar::isSurrogate(c))
            cp = 0xfffd; // a lone half cannot be UTF-8
        if (cp < 0x800) {
            *d++ = char(0xc0 | (cp >> 6));
        } else if (cp < 0x10000) {
            *d++ = char(0xe0 | (cp >> 12));
            *d++ = char(0x80 | ((cp >> 6) & 0x3f));
        } else {
            *d++ = char(0xf0 | (cp >> 18));
            *d++ = char(0x80 | ((cp >> 12) & 0x3f));
            *d++ = char(0x80 | ((cp >> 6) & 0x3f));
        }
        *d++ = char(0x80 | (cp & 0x3f));
    }
    *d++ = '"';
    out.resize(d - out.constData());
}

bool appendJsonUtf8(QByteArray& out, const char* s, qsizetype n)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    const qsizetype start = out.size();
    out.resize(start + n * 6 + 2);
    char* d = out.data() + start;
    *d++ = '"';
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c >= 0x20 && c != '"' && c != '\\')
                *d++ = char(c);
            else
                d = escapeAscii(d, c);
            ++i;
            continue;
        }
        // A whole sequence, neither overlong nor a surrogate nor past U+10FFFF, copied
        // as it is: the QString road would give the same bytes back.
        int len = 0;
        char32_t cp = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            len = 2;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            len = 3;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            len = 4;
            cp = c & 0x07;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xc0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3f);
        }
        const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (!ok || cp < least || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe || cp == 0xffff) {
            out.resize(start);
            return false;
        }
        for (int k = 0; k < len; ++k)
            *d++ = char(p[i + k]);
        i += len;
    }
    *d++ = '"';
    out.resize(d - out.constData());
    return true;
}

PacketWriter::PacketWriter(QByteArray* out, const fw::FieldDefs& fields) : m_out(*out)
{
    fw::DataPacket empty;
    empty.fields = fields;
    const QJsonArray described = fw::json::encodePacket(empty)
                                     .toObject()
                                     .value(QStringLiteral("$packet"))
                                     .toObject()
                                     .value(QStringLiteral("fields"))
                                     .toArray();
    m_out += R"({"$packet":{"fields":)";
    m_out += QJsonDocument(described).toJson(QJsonDocument::Compact);
    m_out += R"(,"rows":[)";
}

void PacketWriter::beginRow()
{
    if (!m_firstRow)
        m_out.append(',');
    m_firstRow = false;
    m_firstValue = true;
    m_out.append('[');
}

void PacketWriter::endRow() { m_out.append(']'); }

void PacketWriter::beginValues() { m_firstValue = true; }

void PacketWriter::json(const char* s, qsizetype n)
{
    separate();
    m_out.append(s, n);
}

void PacketWriter::separate()
{
    if (!m_firstValue)
        m_out.append(',');
    m_firstValue = false;
}

void PacketWriter::null()
{
    separate();
    m_out.append("null", 4);
}

void PacketWriter::string(const QString& s)
{
    separate();
    appendJsonString(m_out, s);
}

void PacketWriter::latin1(const char* s)
{
    separate();
    m_out.append('"');
    m_out.append(s);
    m_out.append('"');
}

void PacketWriter::stringOrNull(const QVariant& v)
{
    if (v.isNull())
        null();
    else
        string(v.toString());
}

void PacketWriter::numberOrNull(const QVariant& v)
{
    if (v.isNull())
        return null();
    number(v.toDouble());
}

void PacketWriter::number(double d)
{
    if (!std::isfinite(d))
        return null();
    separate();
    m_out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

bool PacketWriter::utf8(const char* s, qsizetype n)
{
    // Most texts are printable ASCII: copied whole, with their comma and quotes.
    qsizetype plain = 0;
    while (plain < n) {
        const auto c = static_cast<unsigned char>(s[plain]);
        if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
            break;
        ++plain;
    }
    if (plain == n) {
        const qsizetype at = m_out.size();
        const int comma = m_firstValue ? 0 : 1;
        m_firstValue = false;
        m_out.resize(at + comma + n + 2);
        char* d = m_out.data() + at;
        if (comma)
            *d++ = ',';
        *d++ = '"';
        std::memcpy(d, s, size_t(n));
        d[n] = '"';
        return true;
    }
    const bool first = m_firstValue;
    const qsizetype at = m_out.size();
    separate();
    if (appendJsonUtf8(m_out, s, n))
        return true;
    m_out.resize(at);
    m_firstValue = first;
    return false;
}

bool PacketWriter::storedDateTime(const char* s, qsizetype n)
{
    char text[21];
    if (!storedDateTimeText(
            n, [s](int i) { return char16_t(static_cast<unsigned char>(s[i])); }, text))
        return false;
    separate();
    m_out.append(text, 21);
    return true;
}

bool PacketWriter::storedBrazilianDate(const char* s, qsizetype n)
{
    char text[12];
    if (!storedDateText(
            n, [s](int i) { return char16_t(static_cast<unsigned char>(s[i])); }, text))
        return false;
    separate();
    m_out.append(text, 12);
    return true;
}

void PacketWriter::dateTimeOrNull(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return null();
    char text[21];
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString();
        if (storedDateTimeText(
                s.size(), [&s](int i) { return s[i].unicode(); }, text)) {
            separate();
            m_out.append(text, 21);
            return;
        }
    }
    const QDateTime t = column::toDateTime(v);
    if (!t.isValid())
        return null();
    separate();
    appendJsonString(m_out, fw::dateTimeToText(t));
}

void PacketWriter::brazilianDate(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QString) {
        // SQLite's text, "yyyy-MM-dd..." : the digits change places.
        const QString s = v.toString();
        char text[12];
        if (storedDateText(
                s.size(), [&s](int i) { return s[i].unicode(); }, text)) {
            separate();
            m_out.append(text, 12);
            return;
        }
    }
    string(column::brazilianDate(v));
}

void PacketWriter::finish() { m_out += "]}}"; }

} // namespace srv::methods
