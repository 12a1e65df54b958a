#include "core/values/JsonReader.h"

#include <QByteArrayView>
#include <cstring>

namespace fw::json {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

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

// One pass over the text, checking as it goes; recursion is bounded by the depth limit.
class Validator {
public:
    Validator(const QByteArray& text, int maxDepth)
        : p(reinterpret_cast<const unsigned char*>(text.constData())), n(text.size()), limit(maxDepth)
    {}

    SyntaxError run()
    {
        blanks();
        if (!value(0))
            return error;
        blanks();
        if (i != n)
            fail(QStringLiteral("texto depois do fim do valor"));
        return error;
    }

private:
    bool fail(const QString& why, SyntaxError::Kind kind = SyntaxError::Kind::Syntax)
    {
        if (error.kind == SyntaxError::Kind::None) {
            error.kind = kind;
            error.message = why;
            error.offset = i;
        }
        return false;
    }
    void blanks()
    {
        while (i < n && isBlank(char(p[i])))
            ++i;
    }
    bool value(int depth)
    {
        if (i >= n)
            return fail(QStringLiteral("fim inesperado do texto"));
        switch (p[i]) {
        case '{': return object(depth + 1);
        case '[': return array(depth + 1);
        case '"': return string();
        case 't': return word("true");
        case 'f': return word("false");
        case 'n': return word("null");
        default: return number();
        }
    }
    bool word(const char* w)
    {
        for (; *w; ++w, ++i)
            if (i >= n || p[i] != static_cast<unsigned char>(*w))
                return fail(QStringLiteral("valor desconhecido"));
        return true;
    }
    bool number()
    {
        const qsizetype start = i;
        if (i < n && p[i] == '-')
            ++i;
        if (i < n && p[i] == '0') {
            ++i;
        } else if (i < n && isDigit(char(p[i]))) {
            while (i < n && isDigit(char(p[i])))
                ++i;
        } else {
            i = start;
            return fail(QStringLiteral("valor desconhecido"));
        }
        if (i < n && p[i] == '.') {
            ++i;
            if (i >= n || !isDigit(char(p[i])))
                return fail(QStringLiteral("número malformado"));
            while (i < n && isDigit(char(p[i])))
                ++i;
        }
        if (i < n && (p[i] == 'e' || p[i] == 'E')) {
            ++i;
            if (i < n && (p[i] == '+' || p[i] == '-'))
                ++i;
            if (i >= n || !isDigit(char(p[i])))
                return fail(QStringLiteral("número malformado"));
            while (i < n && isDigit(char(p[i])))
                ++i;
        }
        return true;
    }
    // UTF-8 as the standard has it: no overlong forms, no surrogates, nothing past U+10FFFF.
    bool utf8Sequence()
    {
        const unsigned char c = p[i];
        int extra = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1, min = 0x80, cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2, min = 0x800, cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return fail(QStringLiteral("UTF-8 inválido"), SyntaxError::Kind::Utf8);
        }
        if (i + extra >= n)
            return fail(QStringLiteral("UTF-8 inválido"), SyntaxError::Kind::Utf8);
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xc0) != 0x80)
                return fail(QStringLiteral("UTF-8 inválido"), SyntaxError::Kind::Utf8);
            cp = (cp << 6) | (cc & 0x3f);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return fail(QStringLiteral("UTF-8 inválido"), SyntaxError::Kind::Utf8);
        i += extra + 1;
        return true;
    }
    bool string()
    {
        ++i; // the opening quote
        while (i < n) {
            const unsigned char c = p[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20)
                return fail(QStringLiteral("caractere de controle sem escape dentro de um texto"),
                            SyntaxError::Kind::ControlCharacter);
            if (c == '\\') {
                if (i + 1 >= n)
                    break;
                const char e = char(p[i + 1]);
                if (e == 'u') {
                    for (int k = 2; k < 6; ++k)
                        if (i + k >= n || hexValue(char(p[i + k])) < 0)
                            return fail(QStringLiteral("escape \\u malformado"));
                    i += 6;
                } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
                           e == 't') {
                    i += 2;
                } else {
                    return fail(QStringLiteral("escape desconhecido dentro de um texto"));
                }
                continue;
            }
            if (c < 0x80) {
                ++i;
                continue;
            }
            if (!utf8Sequence())
                return false;
        }
        return fail(QStringLiteral("texto não terminado"));
    }
    bool enter(int depth)
    {
        if (depth > limit)
            return fail(QStringLiteral("valores aninhados em profundidade demais"), SyntaxError::Kind::TooDeep);
        ++i;
        blanks();
        return true;
    }
    bool array(int depth)
    {
        if (!enter(depth))
            return false;
        if (i < n && p[i] == ']') {
            ++i;
            return true;
        }
        for (;;) {
            blanks();
            if (!value(depth))
                return false;
            blanks();
            if (i < n && p[i] == ',') {
                ++i;
                continue;
            }
            if (i < n && p[i] == ']') {
                ++i;
                return true;
            }
            return fail(QStringLiteral("falta vírgula ou ] numa lista"));
        }
    }
    bool object(int depth)
    {
        if (!enter(depth))
            return false;
        if (i < n && p[i] == '}') {
            ++i;
            return true;
        }
        for (;;) {
            blanks();
            if (i >= n || p[i] != '"')
                return fail(QStringLiteral("falta o nome de um membro de objeto"));
            if (!string())
                return false;
            blanks();
            if (i >= n || p[i] != ':')
                return fail(QStringLiteral("falta : depois do nome de um membro"));
            ++i;
            blanks();
            if (!value(depth))
                return false;
            blanks();
            if (i < n && p[i] == ',') {
                ++i;
                continue;
            }
            if (i < n && p[i] == '}') {
                ++i;
                return true;
            }
            return fail(QStringLiteral("falta vírgula ou } num objeto"));
        }
    }

    const unsigned char* p;
    qsizetype n;
    int limit;
    qsizetype i = 0;
    SyntaxError error;
};

// Past the closing quote of a string whose text starts at `start`: the first quote not
// escaped, that is, after an even run of backslashes.
qsizetype stringEnd(const char* s, qsizetype n, qsizetype start)
{
    qsizetype i = start;
    for (;;) {
        const char* quote = static_cast<const char*>(std::memchr(s + i, '"', size_t(n - i)));
        if (!quote)
            return n;
        const qsizetype at = quote - s;
        qsizetype k = at;
        while (k > start && s[k - 1] == '\\')
            --k;
        if ((at - k) % 2 == 0)
            return at + 1;
        i = at + 1;
    }
}

} // namespace

SyntaxError validate(const QByteArray& text, int maxDepth) { return Validator(text, maxDepth).run(); }

bool Reader::literal(const char* word)
{
    const qsizetype len = qsizetype(qstrlen(word));
    if (m_pos + len > m_text->size() || QByteArrayView(*m_text).sliced(m_pos, len) != QByteArrayView(word, len))
        return false;
    m_pos += len;
    return true;
}

bool Reader::readNull() { return peek() == Type::Null && literal("null"); }

bool Reader::readBool(bool* out)
{
    if (peek() != Type::Bool)
        return false;
    *out = (*m_text)[m_pos] == 't';
    return literal(*out ? "true" : "false");
}

qsizetype Reader::numberEnd(qsizetype from) const
{
    qsizetype end = from;
    while (end < m_text->size()) {
        const char c = (*m_text)[end];
        if (!(isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
            break;
        ++end;
    }
    return end;
}

bool Reader::readNumber(double* out)
{
    if (peek() != Type::Number)
        return false;
    const qsizetype end = numberEnd(m_pos);
    bool ok = false;
    *out = QByteArrayView(*m_text).sliced(m_pos, end - m_pos).toDouble(&ok);
    if (!ok)
        return false; // out of range of a double
    m_pos = end;
    return true;
}

bool Reader::readPlainString(QByteArrayView* raw)
{
    if (peek() != Type::String)
        return false;
    const char* s = m_text->constData();
    const qsizetype i = m_pos + 1, n = m_text->size();
    const char* quote = static_cast<const char*>(std::memchr(s + i, '"', size_t(n - i)));
    const qsizetype end = quote ? quote - s : n;
    if (std::memchr(s + i, '\\', size_t(end - i)))
        return false;
    *raw = QByteArrayView(s + i, end - i);
    m_pos = end + 1;
    return true;
}

bool Reader::readString(QString* out)
{
    if (peek() != Type::String)
        return false;
    const char* s = m_text->constData();
    qsizetype i = m_pos + 1;
    // The common case, no escapes: one conversion of the whole run. A quote inside the
    // string is always escaped, so the first quote ends it when no backslash comes before.
    const char* quote = static_cast<const char*>(std::memchr(s + i, '"', size_t(m_text->size() - i)));
    const qsizetype quoteAt = quote ? quote - s : m_text->size();
    const char* backslash = static_cast<const char*>(std::memchr(s + i, '\\', size_t(quoteAt - i)));
    const qsizetype end = backslash ? backslash - s : quoteAt;
    if (end < m_text->size() && s[end] == '"') {
        if (out)
            *out = QString::fromUtf8(s + i, end - i);
        m_pos = end + 1;
        return true;
    }
    QString text;
    if (out)
        text.reserve(end - i + 16);
    while (i < m_text->size() && s[i] != '"') {
        qsizetype run = i;
        while (run < m_text->size() && s[run] != '"' && s[run] != '\\')
            ++run;
        if (out)
            text += QString::fromUtf8(s + i, run - i);
        i = run;
        if (i >= m_text->size() || s[i] == '"')
            break;
        const char e = s[i + 1];
        i += 2;
        char16_t c = 0;
        switch (e) {
        case 'b': c = u'\b'; break;
        case 'f': c = u'\f'; break;
        case 'n': c = u'\n'; break;
        case 'r': c = u'\r'; break;
        case 't': c = u'\t'; break;
        case 'u': {
            unsigned v = 0;
            for (int k = 0; k < 4; ++k)
                v = (v << 4) | unsigned(hexValue(s[i + k]));
            i += 4;
            c = char16_t(v);
            break;
        }
        default: c = char16_t(e); break; // " \ /
        }
        if (out)
            text += QChar(c);
    }
    m_pos = i + 1;
    if (out)
        *out = std::move(text);
    return true;
}

void Reader::skip()
{
    switch (peek()) {
    case Type::String: m_pos = stringEnd(m_text->constData(), m_text->size(), m_pos + 1); return;
    case Type::Number: m_pos = numberEnd(m_pos); return;
    case Type::Bool: {
        bool b = false;
        readBool(&b);
        return;
    }
    case Type::Null: readNull(); return;
    case Type::Invalid: return;
    case Type::Object:
    case Type::Array: break;
    }
    // Brackets are counted outside strings; the text is valid, so they balance.
    int depth = 0;
    const char* s = m_text->constData();
    while (m_pos < m_text->size()) {
        const char c = s[m_pos];
        if (c == '"') {
            m_pos = stringEnd(s, m_text->size(), m_pos + 1);
            continue;
        }
        ++m_pos;
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (--depth == 0)
                return;
        }
    }
}

QJsonValue Reader::readIdValue()
{
    const Type t = peek();
    if (t == Type::String) {
        QString s;
        readString(&s);
        return s;
    }
    if (t == Type::Number) {
        const qsizetype start = m_pos;
        const qsizetype end = numberEnd(start);
        const QByteArrayView digits = QByteArrayView(*m_text).sliced(start, end - start);
        bool ok = false;
        const qint64 whole = digits.toLongLong(&ok);
        if (ok) {
            m_pos = end;
            return QJsonValue(whole);
        }
        double d = 0;
        if (readNumber(&d))
            return d;
        m_pos = end;
        return QJsonValue(QJsonValue::Null);
    }
    if (readNull())
        return QJsonValue(QJsonValue::Null);
    return QJsonValue(QJsonValue::Undefined);
}

bool Reader::enterObject()
{
    if (peek() != Type::Object)
        return false;
    ++m_pos;
    return true;
}

bool Reader::nextMember(QString* key)
{
    blanks();
    if (m_pos < m_text->size() && (*m_text)[m_pos] == ',')
        ++m_pos;
    blanks();
    if (m_pos >= m_text->size() || (*m_text)[m_pos] == '}') {
        ++m_pos;
        return false;
    }
    readString(key);
    blanks();
    ++m_pos; // the colon
    blanks();
    return true;
}

bool Reader::enterArray()
{
    if (peek() != Type::Array)
        return false;
    ++m_pos;
    return true;
}

bool Reader::nextElement()
{
    blanks();
    if (m_pos < m_text->size() && (*m_text)[m_pos] == ',')
        ++m_pos;
    blanks();
    if (m_pos >= m_text->size() || (*m_text)[m_pos] == ']') {
        ++m_pos;
        return false;
    }
    return true;
}

} // namespace fw::json
