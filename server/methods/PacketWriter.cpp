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

void appendHex4(QByteArray& out, unsigned v)
{
    static const char digits[] = "0123456789abcdef";
    const char esc[6] = {'\\', 'u', digits[(v >> 12) & 15], digits[(v >> 8) & 15], digits[(v >> 4) & 15],
                         digits[v & 15]};
    out.append(esc, 6);
}

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
    out.append('"');
    const QChar* p = s.constData();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i].unicode();
        if (c < 0x80) {
            if (c >= 0x20 && c != u'"' && c != u'\\') {
                out.append(char(c));
                continue;
            }
            out.append('\\');
            switch (c) {
            case u'"': out.append('"'); break;
            case u'\\': out.append('\\'); break;
            case u'\b': out.append('b'); break;
            case u'\f': out.append('f'); break;
            case u'\n': out.append('n'); break;
            case u'\r': out.append('r'); break;
            case u'\t': out.append('t'); break;
            default:
                out.chop(1);
                appendHex4(out, c);
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
            out.append(char(0xc0 | (cp >> 6)));
        } else if (cp < 0x10000) {
            out.append(char(0xe0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3f)));
        } else {
            out.append(char(0xf0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3f)));
            out.append(char(0x80 | ((cp >> 6) & 0x3f)));
        }
        out.append(char(0x80 | (cp & 0x3f)));
    }
    out.append('"');
}

PacketWriter::PacketWriter(QByteArray* out, const fw::FieldDefs& fields) : m_out(*out)
{
    fw::DataPacket empty;
    empty.fields = fields;
    const QJsonArray described = fw::json::encodePacket(empty).toObject().value(QStringLiteral("$packet"))
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

void PacketWriter::finish() { m_out += "]}}"; }

} // namespace srv::methods
