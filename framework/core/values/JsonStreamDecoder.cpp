// The reply is checked byte by byte by a small machine that can stop anywhere and go on
// when more bytes come; a value is decoded once its text is whole, by the decoders the
// whole-text road uses, so both give the same values and the same words for what is
// wrong. Only the text still needed is held: the token being read, a value kept whole
// (a member read later, a row until it is packed) and what follows.
#include "core/values/JsonStreamDecoder.h"

#include <vector>

#include "core/values/JsonRow_p.h"
#include "core/values/PackedRows.h"

namespace fw::json {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHex(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool inNumber(unsigned char c) { return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// The length of the number at p (n bytes) as JSON writes numbers; -1 when it is none.
qsizetype numberLength(const unsigned char* p, qsizetype n)
{
    qsizetype i = 0;
    if (i < n && p[i] == '-')
        ++i;
    if (i < n && p[i] == '0') {
        ++i;
    } else if (i < n && isDigit(p[i])) {
        while (i < n && isDigit(p[i]))
            ++i;
    } else {
        return -1;
    }
    if (i < n && p[i] == '.') {
        ++i;
        if (i >= n || !isDigit(p[i]))
            return -1;
        while (i < n && isDigit(p[i]))
            ++i;
    }
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        if (i < n && (p[i] == '+' || p[i] == '-'))
            ++i;
        if (i >= n || !isDigit(p[i]))
            return -1;
        while (i < n && isDigit(p[i]))
            ++i;
    }
    return i;
}

// "yyyy-MM-ddTHH:mm:ss" of plain bytes as dateTimeFromText() reads it, false for any
// other text (which then goes its whole way).
bool plainDateTime(QByteArrayView raw, QDateTime* out)
{
    if (raw.size() != 19)
        return false;
    int n[6] = {};
    static const int at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
    static const char sep[6] = {'-', '-', 'T', ':', ':', 0};
    for (int k = 0; k < 6; ++k) {
        for (int i = at[k]; i < at[k] + len[k]; ++i) {
            const char d = raw[i];
            if (d < '0' || d > '9')
                return false;
            n[k] = n[k] * 10 + (d - '0');
        }
        if (sep[k] && raw[at[k] + len[k]] != sep[k])
            return false;
    }
    const QDate date(n[0], n[1], n[2]);
    const QTime time(n[3], n[4], n[5]);
    if (!date.isValid() || !time.isValid())
        return false;
    *out = QDateTime(date, time);
    return out->isValid();
}

// A row longer than this is read piece by piece, not again from its start as pieces come.
constexpr qsizetype kLongRow = 64 * 1024;

// What a value is read for.
enum class Role : quint8 {
    Skip, // checked only
    Envelope, // the reply object
    Keep, // its text kept whole: a member read later, a small wrapped value
    Value, // any value of the wire: the result, an element of a list
    List,
    Wrapper, // an object wrapping a date-time, a packet or a delta
    Packet, // the inside of {"$packet": ...}
    Rows, // a packet's rows, each packed once it is whole
    Row,
};

// What a finished value gives the one that holds it.
struct Outcome {
    QVariant value;
    QString error; // not empty: not a value of the wire
    qsizetype start = 0, end = 0; // its text
};

// The compact rows of a packet, as readRow() gives them.
struct PackedSink {
    PackedRows& rows;
    bool keeps(int) const { return true; }
    void null() { rows.addNull(); }
    void text(Reader& r)
    {
        QByteArrayView raw;
        if (r.readPlainString(&raw)) {
            rows.addText(raw);
            return;
        }
        QString s;
        r.readString(&s);
        rows.addText(s);
    }
    void integer(qint64 v) { rows.addInteger(v); }
    void real(double v) { rows.addFloat(v); }
    void boolean(bool v) { rows.addBoolean(v); }
    void dateTime(const QDateTime& v) { rows.addDateTime(v); }
};

} // namespace

struct StreamDecoder::Impl {
    enum class Expect : quint8 { FirstValue, Value, FirstKey, Key, Colon, CommaOrEnd };
    enum class Fast : quint8 { Done, More, No };
    enum class Token : quint8 { None, String, Number, Literal };

    // What a list, a wrapper or a packet gathers while it is read.
    struct Parts {
        QVariantList list;
        Outcome dateTime, packet, delta; // a wrapper's last of each kind
        bool hasDateTime = false, hasPacket = false, hasDelta = false;
        bool hasFields = false, hasRows = false;
        FieldDefs fields;
        std::shared_ptr<PackedRows> rows;
        qsizetype rowsStart = -1; // rows that came before the fields, read at the end
    };
    struct Frame {
        bool object = false;
        Role role = Role::Skip;
        Expect expect = Expect::Value;
        qsizetype start = 0;
        QString key; // the member being read, for the roles that look at names
        QString error; // the first thing wrong with what it builds
        std::unique_ptr<Parts> parts;
    };

    explicit Impl(int depth) : maxDepth(depth) {}

    int maxDepth;
    QByteArray buf; // the text from base on
    qsizetype base = 0, pos = 0; // positions in the whole text
    Token token = Token::None;
    qsizetype tokenStart = 0, scan = 0;
    bool tokenIsKey = false;
    Role tokenRole = Role::Skip;
    const char* word = nullptr;
    std::vector<Frame> stack;
    bool started = false, done = false, object = false, finished = false;
    SyntaxError syntax;

    QByteArray jsonrpcText, idText, errorText;
    bool hasResult = false;
    Outcome result;

    bool failed() const { return syntax.kind != SyntaxError::Kind::None; }
    void fail(const QString& why, SyntaxError::Kind kind = SyntaxError::Kind::Syntax)
    {
        if (failed())
            return;
        syntax.kind = kind;
        syntax.message = why;
        syntax.offset = pos;
    }
    const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(buf.constData()); }
    qsizetype end() const { return base + buf.size(); }
    unsigned char at(qsizetype i) const { return bytes()[i - base]; }
    QByteArray text(const Outcome& o) const { return buf.mid(o.start - base, o.end - o.start); }

    void run(bool final);
    Fast packRow(bool final);
    bool scanString(bool final);
    bool scanNumber(bool final);
    bool scanLiteral(bool final);
    void beginValue(unsigned char c, Role role);
    void completeToken();
    void close();
    void deliver(Role role, Outcome&& o);
    Role childRole(Frame& f);
    Outcome decodeScalar(Role role, qsizetype start, qsizetype end);
    Outcome closeFrame(Frame& f, qsizetype end);
    void packRows(Parts& packet, QString* error);
    void compact();
};

void StreamDecoder::Impl::run(bool final)
{
    while (!failed()) {
        if (token != Token::None) {
            const bool whole = token == Token::String   ? scanString(final)
                               : token == Token::Number ? scanNumber(final)
                                                        : scanLiteral(final);
            if (!whole)
                return;
            continue;
        }
        while (pos < end() && isBlank(char(at(pos))))
            ++pos;
        if (pos >= end())
            return;
        const unsigned char c = at(pos);
        if (stack.empty()) {
            if (done)
                return fail(QStringLiteral("texto depois do fim do valor"));
            started = true;
            object = c == '{';
            beginValue(c, object ? Role::Envelope : Role::Skip);
            continue;
        }
        Frame& f = stack.back();
        switch (f.expect) {
        case Expect::FirstValue:
            if (c == ']') {
                ++pos;
                close();
                continue;
            }
            [[fallthrough]];
        case Expect::Value: {
            const Role role = childRole(f);
            if (role == Role::Row && c == '[') {
                const Fast fast = packRow(final);
                if (fast == Fast::Done)
                    continue;
                if (fast == Fast::More)
                    return; // the row is not all here yet
            }
            beginValue(c, role);
            continue;
        }
        case Expect::FirstKey:
            if (c == '}') {
                ++pos;
                close();
                continue;
            }
            [[fallthrough]];
        case Expect::Key:
            if (c != '"')
                return fail(QStringLiteral("falta o nome de um membro de objeto"));
            token = Token::String;
            tokenStart = pos;
            scan = pos + 1;
            tokenIsKey = true;
            continue;
        case Expect::Colon:
            if (c != ':')
                return fail(QStringLiteral("falta : depois do nome de um membro"));
            ++pos;
            f.expect = Expect::Value;
            continue;
        case Expect::CommaOrEnd:
            if (c == ',') {
                ++pos;
                f.expect = f.object ? Expect::Key : Expect::Value;
                continue;
            }
            if (c == (f.object ? '}' : ']')) {
                ++pos;
                close();
                continue;
            }
            return fail(f.object ? QStringLiteral("falta vírgula ou } num objeto")
                                 : QStringLiteral("falta vírgula ou ] numa lista"));
        }
    }
}

// A packet's row at pos, whole in the text, checked and packed in one pass: the rows are
// nearly all of a large answer. Done, with pos past it; More when its end has not come
// yet; No for anything that is not a plain, well-typed row, which then goes the way of
// every value and meets its checks and their words there.
StreamDecoder::Impl::Fast StreamDecoder::Impl::packRow(bool final)
{
    if (int(stack.size()) + 1 > maxDepth)
        return Fast::No;
    Parts& packet = *stack[stack.size() - 2].parts;
    PackedRows& out = *packet.rows;
    const FieldDefs& defs = packet.fields;
    const unsigned char* p = bytes();
    const qsizetype n = buf.size(), from = pos - base;
    qsizetype i = from + 1;
    auto more = [&]() {
        out.dropRow();
        return final || i - from > kLongRow ? Fast::No : Fast::More;
    };
    auto no = [&]() {
        out.dropRow();
        return Fast::No;
    };
    auto blanks = [&]() {
        while (i < n && isBlank(char(p[i])))
            ++i;
    };
    auto raw = [p](qsizetype a, qsizetype b) { return QByteArrayView(reinterpret_cast<const char*>(p) + a, b - a); };
    if (defs.isEmpty())
        return Fast::No;
    for (qsizetype col = 0; col < defs.size(); ++col) {
        blanks();
        if (i >= n)
            return more();
        const unsigned char c = p[i];
        const FieldType type = defs[col].type;
        if (c == 'n' || c == 't' || c == 'f') {
            const char* literal = c == 'n' ? "null" : c == 't' ? "true" : "false";
            const qsizetype len = qsizetype(qstrlen(literal));
            if (i + len > n)
                return more();
            if (raw(i, i + len) != QByteArrayView(literal, len) || (c != 'n' && type != FieldType::Boolean))
                return no();
            if (c == 'n')
                out.addNull();
            else
                out.addBoolean(c == 't');
            i += len;
        } else if (c == '"') {
            const qsizetype start = i + 1;
            qsizetype j = start;
            bool escaped = false;
            for (;;) {
                if (j >= n)
                    return i = j, more();
                const unsigned char b = p[j];
                if (b == '"')
                    break;
                if (b < 0x20)
                    return no();
                if (b == '\\') {
                    escaped = true;
                    if (j + 1 >= n || (p[j + 1] == 'u' && j + 6 > n))
                        return i = j, more();
                    const unsigned char e = p[j + 1];
                    if (e == 'u') {
                        for (int k = 2; k < 6; ++k)
                            if (!isHex(p[j + k]))
                                return no();
                        j += 6;
                    } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' ||
                               e == 't') {
                        j += 2;
                    } else {
                        return no();
                    }
                    continue;
                }
                if (b < 0x80) {
                    ++j;
                    continue;
                }
                int extra = 0;
                unsigned min = 0, cp = 0;
                if (b >= 0xc2 && b <= 0xdf)
                    extra = 1, min = 0x80, cp = b & 0x1f;
                else if (b >= 0xe0 && b <= 0xef)
                    extra = 2, min = 0x800, cp = b & 0x0f;
                else if (b >= 0xf0 && b <= 0xf4)
                    extra = 3, min = 0x10000, cp = b & 0x07;
                else
                    return no();
                if (j + extra >= n)
                    return i = j, more();
                for (int k = 1; k <= extra; ++k) {
                    if ((p[j + k] & 0xc0) != 0x80)
                        return no();
                    cp = (cp << 6) | (p[j + k] & 0x3f);
                }
                if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
                    return no();
                j += extra + 1;
            }
            if (type == FieldType::String || type == FieldType::Blob) {
                if (!escaped) {
                    out.addText(raw(start, j));
                } else {
                    QString text;
                    Reader(buf, i).readString(&text);
                    out.addText(text);
                }
            } else {
                QDateTime dt;
                if (type != FieldType::DateTime || escaped || !plainDateTime(raw(start, j), &dt))
                    return no();
                out.addDateTime(dt);
            }
            i = j + 1;
        } else if (c == '-' || isDigit(c)) {
            qsizetype j = i;
            while (j < n && inNumber(p[j]))
                ++j;
            if (j >= n)
                return more();
            bool ok = false;
            const double d = raw(i, j).toDouble(&ok);
            if (numberLength(p + i, j - i) != j - i || !ok)
                return no();
            if (type == FieldType::Integer && integralNumber(d))
                out.addInteger(static_cast<qint64>(d));
            else if (type == FieldType::Float)
                out.addFloat(d);
            else
                return no();
            i = j;
        } else {
            return no();
        }
        blanks();
        if (i >= n)
            return more();
        if (p[i] != (col + 1 < defs.size() ? ',' : ']'))
            return no();
        ++i;
    }
    if (!out.endRow())
        return Fast::No;
    pos = base + i;
    stack.back().expect = Expect::CommaOrEnd;
    return Fast::Done;
}

void StreamDecoder::Impl::beginValue(unsigned char c, Role role)
{
    tokenStart = pos;
    tokenIsKey = false;
    tokenRole = role;
    switch (c) {
    case '{':
    case '[': {
        if (int(stack.size()) + 1 > maxDepth)
            return fail(QStringLiteral("valores aninhados em profundidade demais"), SyntaxError::Kind::TooDeep);
        Frame f;
        f.object = c == '{';
        f.start = pos;
        f.expect = f.object ? Expect::FirstKey : Expect::FirstValue;
        switch (role) {
        case Role::Value: f.role = f.object ? Role::Wrapper : Role::List; break;
        case Role::Packet:
            f.role = f.object ? Role::Packet : Role::Skip;
            if (!f.object)
                f.error = QStringLiteral("não é um pacote de dados");
            break;
        case Role::Rows:
            f.role = f.object ? Role::Skip : Role::Rows;
            if (f.object)
                f.error = QStringLiteral("as linhas do pacote devem ser um array");
            break;
        default: f.role = role; break;
        }
        if (f.role == Role::List || f.role == Role::Wrapper || f.role == Role::Packet)
            f.parts = std::make_unique<Parts>();
        stack.push_back(std::move(f));
        ++pos;
        return;
    }
    case '"':
        token = Token::String;
        scan = pos + 1;
        return;
    case 't':
    case 'f':
    case 'n':
        token = Token::Literal;
        word = c == 't' ? "true" : c == 'f' ? "false" : "null";
        scan = pos;
        return;
    default:
        if (c == '-' || isDigit(c)) {
            token = Token::Number;
            scan = pos;
            return;
        }
        return fail(QStringLiteral("valor desconhecido"));
    }
}

bool StreamDecoder::Impl::scanString(bool final)
{
    const unsigned char* p = bytes();
    const qsizetype n = buf.size();
    qsizetype i = scan - base;
    auto bad = [&](const QString& why, SyntaxError::Kind kind = SyntaxError::Kind::Syntax) {
        pos = base + i;
        fail(why, kind);
        return false;
    };
    while (i < n) {
        const unsigned char c = p[i];
        if (c == '"') {
            pos = base + i + 1;
            completeToken();
            return true;
        }
        if (c < 0x20)
            return bad(QStringLiteral("caractere de controle sem escape dentro de um texto"),
                       SyntaxError::Kind::ControlCharacter);
        if (c == '\\') {
            if (i + 1 >= n)
                break;
            const unsigned char e = p[i + 1];
            if (e == 'u') {
                const qsizetype digits = qMin<qsizetype>(4, n - i - 2);
                for (qsizetype k = 0; k < digits; ++k)
                    if (!isHex(p[i + 2 + k]))
                        return bad(QStringLiteral("escape \\u malformado"));
                if (digits < 4)
                    break;
                i += 6;
            } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
                i += 2;
            } else {
                return bad(QStringLiteral("escape desconhecido dentro de um texto"));
            }
            continue;
        }
        if (c < 0x80) {
            ++i;
            continue;
        }
        // UTF-8 as the standard has it: no overlong forms, no surrogates, nothing past U+10FFFF.
        int extra = 0;
        unsigned min = 0, cp = 0;
        if (c >= 0xc2 && c <= 0xdf)
            extra = 1, min = 0x80, cp = c & 0x1f;
        else if (c >= 0xe0 && c <= 0xef)
            extra = 2, min = 0x800, cp = c & 0x0f;
        else if (c >= 0xf0 && c <= 0xf4)
            extra = 3, min = 0x10000, cp = c & 0x07;
        bool ok = extra > 0;
        const qsizetype have = qMin<qsizetype>(extra, n - i - 1);
        for (qsizetype k = 1; ok && k <= have; ++k) {
            ok = (p[i + k] & 0xc0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3f);
        }
        if (ok && have < extra) {
            if (final)
                ok = false;
            else
                break;
        }
        if (!ok || cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return bad(QStringLiteral("UTF-8 inválido"), SyntaxError::Kind::Utf8);
        i += extra + 1;
    }
    scan = base + i;
    if (final) {
        pos = end();
        fail(QStringLiteral("texto não terminado"));
    }
    return false;
}

bool StreamDecoder::Impl::scanNumber(bool final)
{
    const unsigned char* p = bytes();
    qsizetype i = scan - base;
    while (i < buf.size() && inNumber(p[i]))
        ++i;
    scan = base + i;
    if (i == buf.size() && !final)
        return false; // more digits may come
    const qsizetype n = i - (tokenStart - base);
    const qsizetype length = numberLength(p + (tokenStart - base), n);
    if (length != n) {
        pos = tokenStart + qMax<qsizetype>(length, 0);
        fail(length < 0 ? QStringLiteral("número malformado") : QStringLiteral("falta vírgula entre valores"));
        return false;
    }
    pos = scan;
    completeToken();
    return true;
}

bool StreamDecoder::Impl::scanLiteral(bool final)
{
    const qsizetype length = qsizetype(qstrlen(word));
    for (qsizetype k = scan - tokenStart; k < length; ++k) {
        if (tokenStart + k >= end()) {
            scan = tokenStart + k;
            if (final) {
                pos = end();
                fail(QStringLiteral("valor desconhecido"));
            }
            return false;
        }
        if (at(tokenStart + k) != static_cast<unsigned char>(word[k])) {
            pos = tokenStart + k;
            fail(QStringLiteral("valor desconhecido"));
            return false;
        }
    }
    pos = tokenStart + length;
    completeToken();
    return true;
}

void StreamDecoder::Impl::completeToken()
{
    token = Token::None;
    if (tokenIsKey) {
        Frame& f = stack.back();
        if (f.role == Role::Envelope || f.role == Role::Wrapper || f.role == Role::Packet)
            Reader(buf, tokenStart - base).readString(&f.key);
        f.expect = Expect::Colon;
        return;
    }
    deliver(tokenRole, decodeScalar(tokenRole, tokenStart, pos));
}

// The role of the value that begins inside f, and what its name makes wrong.
Role StreamDecoder::Impl::childRole(Frame& f)
{
    if (!f.error.isEmpty())
        return Role::Skip;
    switch (f.role) {
    case Role::Envelope:
        if (f.key == QLatin1String("result"))
            return Role::Value;
        if (f.key == QLatin1String("jsonrpc") || f.key == QLatin1String("id") || f.key == QLatin1String("error"))
            return Role::Keep;
        return Role::Skip;
    case Role::List: return Role::Value;
    case Role::Wrapper:
        if (f.key == QLatin1String("$packet"))
            return Role::Packet;
        if (f.key == QLatin1String("$datetime") || f.key == QLatin1String("$delta"))
            return Role::Keep;
        return Role::Skip;
    case Role::Packet: {
        const bool fields = f.key == QLatin1String("fields"), rows = f.key == QLatin1String("rows");
        if ((fields && f.parts->hasFields) || (rows && f.parts->hasRows)) {
            f.error = QStringLiteral("o pacote repete o membro %1").arg(f.key);
            return Role::Skip;
        }
        if (fields)
            return Role::Keep;
        if (rows)
            return f.parts->hasFields ? Role::Rows : Role::Keep;
        return Role::Skip;
    }
    case Role::Rows: return Role::Row;
    default: return Role::Skip;
    }
}

Outcome StreamDecoder::Impl::decodeScalar(Role role, qsizetype start, qsizetype end)
{
    Outcome o;
    o.start = start;
    o.end = end;
    switch (role) {
    case Role::Value: try { o.value = TextDecoder(buf).value(start - base);
        } catch (const DecodeError& e) {
            o.error = e.why;
        }
        break;
    case Role::Packet: o.error = QStringLiteral("não é um pacote de dados"); break;
    case Role::Rows: o.error = QStringLiteral("as linhas do pacote devem ser um array"); break;
    case Role::Row: o.error = QStringLiteral("uma linha do pacote não tem um valor para cada campo"); break;
    default: break;
    }
    return o;
}

void StreamDecoder::Impl::close()
{
    Outcome o = closeFrame(stack.back(), pos);
    const Role role = stack.back().role;
    stack.pop_back();
    deliver(role, std::move(o));
}

Outcome StreamDecoder::Impl::closeFrame(Frame& f, qsizetype end)
{
    Outcome o;
    o.start = f.start;
    o.end = end;
    switch (f.role) {
    case Role::List:
        if (f.error.isEmpty())
            o.value = std::move(f.parts->list);
        o.error = f.error;
        return o;
    case Role::Wrapper: {
        // A date-time before a packet before a delta, the last of each, as TextDecoder reads them.
        Parts& w = *f.parts;
        if (w.hasDateTime)
            return std::move(w.dateTime);
        if (w.hasPacket)
            return std::move(w.packet);
        if (w.hasDelta)
            return std::move(w.delta);
        o.error = QStringLiteral("objeto de valor desconhecido");
        return o;
    }
    case Role::Packet: {
        Parts& p = *f.parts;
        if (f.error.isEmpty() && !p.hasFields)
            f.error = QStringLiteral("a lista de campos do pacote deve ser um array");
        if (f.error.isEmpty() && !p.hasRows)
            f.error = QStringLiteral("as linhas do pacote devem ser um array");
        if (f.error.isEmpty() && p.rowsStart >= 0)
            packRows(p, &f.error);
        if (f.error.isEmpty()) {
            DataPacket packet;
            packet.fields = p.fields;
            packet.packed = std::move(p.rows);
            o.value = QVariant::fromValue(std::move(packet));
        }
        o.error = f.error;
        return o;
    }
    case Role::Row: {
        Parts& packet = *stack[stack.size() - 3].parts;
        try {
            Reader r(buf, f.start - base);
            PackedSink sink{*packet.rows};
            readRow(r, packet.fields, sink);
            packet.rows->endRow();
        } catch (const DecodeError& e) {
            packet.rows->dropRow();
            o.error = e.why;
        }
        return o;
    }
    default: o.error = f.error; return o;
    }
}

// Rows kept whole because they came before the fields.
void StreamDecoder::Impl::packRows(Parts& packet, QString* error)
{
    try {
        Reader r(buf, packet.rowsStart - base);
        if (!r.enterArray())
            decodeFailure(QStringLiteral("as linhas do pacote devem ser um array"));
        PackedSink sink{*packet.rows};
        while (r.nextElement()) {
            try {
                readRow(r, packet.fields, sink);
            } catch (...) {
                packet.rows->dropRow();
                throw;
            }
            packet.rows->endRow();
        }
    } catch (const DecodeError& e) {
        *error = e.why;
    }
}

void StreamDecoder::Impl::deliver(Role role, Outcome&& o)
{
    if (stack.empty()) {
        done = true;
        return;
    }
    Frame& f = stack.back();
    f.expect = Expect::CommaOrEnd;
    if (role == Role::Skip && o.error.isEmpty())
        return;
    switch (f.role) {
    case Role::Envelope:
        if (f.key == QLatin1String("result")) {
            hasResult = true;
            result = std::move(o);
        } else if (f.key == QLatin1String("jsonrpc")) {
            jsonrpcText = text(o);
        } else if (f.key == QLatin1String("id")) {
            idText = text(o);
        } else if (f.key == QLatin1String("error")) {
            errorText = text(o);
        }
        return;
    case Role::List:
        if (!f.error.isEmpty())
            return;
        if (!o.error.isEmpty()) {
            f.error = o.error;
            f.parts->list.clear();
        } else {
            f.parts->list.append(std::move(o.value));
        }
        return;
    case Role::Wrapper: {
        const QByteArray kept = f.key == QLatin1String("$packet") ? QByteArray() : text(o);
        auto decode = [&](auto read) {
            Outcome w;
            try {
                w.value = read(TextDecoder(kept));
            } catch (const DecodeError& e) {
                w.error = e.why;
            }
            return w;
        };
        Parts& w = *f.parts;
        if (f.key == QLatin1String("$packet")) {
            w.packet = std::move(o);
            w.hasPacket = true;
        } else if (f.key == QLatin1String("$datetime")) {
            w.dateTime = decode([](TextDecoder d) { return d.dateTime(0); });
            w.hasDateTime = true;
        } else if (f.key == QLatin1String("$delta")) {
            w.delta = decode([](TextDecoder d) { return QVariant::fromValue(d.delta(0)); });
            w.hasDelta = true;
        }
        return;
    }
    case Role::Packet:
        if (!f.error.isEmpty())
            return;
        if (!o.error.isEmpty()) {
            f.error = o.error;
        } else if (f.key == QLatin1String("fields")) {
            try {
                const QByteArray kept = text(o);
                f.parts->fields = TextDecoder(kept).fields(0);
                f.parts->hasFields = true;
                f.parts->rows = std::make_shared<PackedRows>(int(f.parts->fields.size()));
            } catch (const DecodeError& e) {
                f.error = e.why;
            }
        } else if (f.key == QLatin1String("rows")) {
            f.parts->hasRows = true;
            if (role == Role::Keep)
                f.parts->rowsStart = o.start;
        }
        return;
    case Role::Rows:
        if (f.error.isEmpty() && !o.error.isEmpty())
            f.error = o.error;
        return;
    default: return;
    }
}

void StreamDecoder::Impl::compact()
{
    qsizetype keep = token != Token::None ? tokenStart : pos;
    for (const Frame& f : stack) {
        if (f.role == Role::Keep || f.role == Role::Row)
            keep = qMin(keep, f.start);
        if (f.parts && f.parts->rowsStart >= 0)
            keep = qMin(keep, f.parts->rowsStart);
    }
    const qsizetype drop = keep - base;
    if (drop > 0 && (drop >= 256 * 1024 || drop == buf.size())) {
        buf.remove(0, drop);
        base = keep;
    }
}

StreamDecoder::StreamDecoder(int maxDepth) : d(std::make_unique<Impl>(maxDepth)) {}

StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::feed(QByteArrayView bytes)
{
    if (d->finished || d->failed() || bytes.isEmpty())
        return;
    d->buf.append(bytes.data(), bytes.size());
    d->run(false);
    d->compact();
}

void StreamDecoder::finish()
{
    if (d->finished)
        return;
    d->finished = true;
    if (d->failed())
        return;
    d->run(true);
    if (d->failed())
        return;
    if (!d->started)
        d->fail(QStringLiteral("fim inesperado do texto"));
    else if (d->token != Impl::Token::None || !d->stack.empty())
        d->fail(QStringLiteral("fim inesperado do texto"));
    d->buf.clear();
}

qsizetype StreamDecoder::held() const { return d->buf.size(); }

SyntaxError StreamDecoder::syntax() const { return d->syntax; }

bool StreamDecoder::isObject() const { return d->object && !d->failed(); }

QByteArray StreamDecoder::member(QLatin1StringView name) const
{
    if (name == QLatin1String("jsonrpc"))
        return d->jsonrpcText;
    if (name == QLatin1String("id"))
        return d->idText;
    if (name == QLatin1String("error"))
        return d->errorText;
    return QByteArray();
}

bool StreamDecoder::hasResult() const { return d->hasResult; }

QVariant StreamDecoder::result(QString* error) const
{
    if (!d->result.error.isEmpty()) {
        if (error)
            *error = d->result.error;
        return QVariant();
    }
    return d->result.value;
}

} // namespace fw::json
