#include "server/methods/PacketWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "server/methods/MethodSupport.h"

namespace srv::methods {

namespace {

// "yyyy-MM-ddTHH:mm:ss", quoted, of a stored text that already has that shape (SQLite
// keeps it so, with a T or a blank); false when it must be parsed.
bool storedDateTime(const QString& s, char (&text)[21])
{
    if (s.size() < 19 || (s.size() > 19 && s[19] != QLatin1Char('.')))
        return false;
    text[0] = '"';
    for (int i = 0; i < 19; ++i) {
        const char16_t c = s[i].unicode();
        const bool digit = c >= u'0' && c <= u'9';
        const bool ok = (i == 4 || i == 7)     ? c == u'-'
                        : (i == 13 || i == 16) ? c == u':'
                        : i == 10              ? (c == u'T' || c == u' ')
                                               : digit;
        if (!ok)
            return false;
        text[i + 1] = i == 10 ? 'T' : char(c);
    }
    auto num = [&](int at, int len) {
        int n = 0;
        for (int i = at; i < at + len; ++i)
            n = n * 10 + (text[i + 1] - '0');
        return n;
    };
    if (!QDate::isValid(num(0, 4), num(5, 2), num(8, 2)) || !QTime::isValid(num(11, 2), num(14, 2), num(17, 2)))
        return false;
    text[20] = '"';
    return true;
}

} // namespace

void appendJsonString(QByteArray& out, const QString& s)
{
    static const char hex[] = "0123456789abcdef";
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
            if (c >= 0x20 && c != u'"' && c != u'\\') {
                *d++ = char(c);
                continue;
            }
            *d++ = '\\';
            switch (c) {
            case u'"': *d++ = '"'; break;
            case u'\\': *d++ = '\\'; break;
            case u'\b': *d++ = 'b'; break;
            case u'\f': *d++ = 'f'; break;
            case u'\n': *d++ = 'n'; break;
            case u'\r': *d++ = 'r'; break;
            case u'\t': *d++ = 't'; break;
            default:
                *d++ = 'u';
                *d++ = '0';
                *d++ = '0';
                *d++ = hex[c >> 4];
                *d++ = hex[c & 15];
                break;
            }
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
    const double d = v.toDouble();
    if (v.isNull() || !std::isfinite(d))
        return null();
    separate();
    m_out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

void PacketWriter::dateTimeOrNull(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return null();
    char text[21];
    if (v.metaType().id() == QMetaType::QString && storedDateTime(v.toString(), text)) {
        separate();
        m_out.append(text, 21);
        return;
    }
    const QDateTime t = toDateTime(v);
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
        const QChar* c = s.constData();
        if (s.size() >= 10 && c[4] == QLatin1Char('-') && c[7] == QLatin1Char('-')) {
            bool ascii = true;
            for (int i = 0; i < 10; ++i)
                ascii = ascii && c[i].unicode() < 0x80 && c[i].unicode() >= 0x20 && c[i] != QLatin1Char('"') &&
                        c[i] != QLatin1Char('\\');
            if (ascii) {
                const char text[12] = {'"',
                                       char(c[8].unicode()),
                                       char(c[9].unicode()),
                                       '/',
                                       char(c[5].unicode()),
                                       char(c[6].unicode()),
                                       '/',
                                       char(c[0].unicode()),
                                       char(c[1].unicode()),
                                       char(c[2].unicode()),
                                       char(c[3].unicode()),
                                       '"'};
                separate();
                m_out.append(text, 12);
                return;
            }
        }
    }
    string(methods::brazilianDate(v));
}

void PacketWriter::finish() { m_out += "]}}"; }

} // namespace srv::methods
