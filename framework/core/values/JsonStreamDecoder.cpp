// The reply is checked byte by byte by a small machine that can stop anywhere and go on
// when more bytes come; a value is decoded once its text is whole, by the decoders the
// whole-text road uses, so both give the same values and the same words for what is
// wrong. Only the text still needed is held: the token being read, a value kept whole
// (a member read later, a row until it is packed) and what follows.
#include "core/values/JsonStreamDecoder.h"

#include <vector>

#include "core/values/JsonPlainRow_p.h"
#include "core/values/JsonScan_p.h"
#include "core/values/JsonStreamDecoder_p.h"

namespace fw::json {

using scan::isBlank;
using scan::isDigit;

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
        while (pos < end() && isBlank(at(pos)))
            ++pos;
        if (pos >= end())
            return;
        const unsigned char c = at(pos);
        if (stack.empty()) {
            if (done)
                return fail(QStringLiteral("texto depois do fim do valor"));
            started = true;
            object = c == '{';
            beginValue(c, object ? ValueRole::Envelope : ValueRole::Skip);
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
            const ValueRole role = childRole(f);
            if (role == ValueRole::Row && c == '[') {
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

// A packet's row at pos, packed in one pass when it is a plain one and whole in the text.
StreamDecoder::Impl::Fast StreamDecoder::Impl::packRow(bool final)
{
    if (int(stack.size()) + 1 > maxDepth)
        return Fast::No;
    Parts& packet = *stack[stack.size() - 2].parts;
    qsizetype end = 0;
    switch (packPlainRow(buf, pos - base, packet.fields, *packet.rows, final, &end)) {
    case PlainRow::Done:
        pos = base + end;
        stack.back().expect = Expect::CommaOrEnd;
        return Fast::Done;
    case PlainRow::More: return Fast::More;
    case PlainRow::No: break;
    }
    return Fast::No;
}

void StreamDecoder::Impl::beginValue(unsigned char c, ValueRole role)
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
        case ValueRole::Value: f.role = f.object ? ValueRole::Wrapper : ValueRole::List; break;
        case ValueRole::Packet:
            f.role = f.object ? ValueRole::Packet : ValueRole::Skip;
            if (!f.object)
                f.error = QStringLiteral("não é um pacote de dados");
            break;
        case ValueRole::Rows:
            f.role = f.object ? ValueRole::Skip : ValueRole::Rows;
            if (f.object)
                f.error = QStringLiteral("as linhas do pacote devem ser um array");
            break;
        default: f.role = role; break;
        }
        if (f.role == ValueRole::List || f.role == ValueRole::Wrapper || f.role == ValueRole::Packet)
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
    const scan::String s = scan::string(bytes(), scan - base, buf.size(), final);
    switch (s.stop) {
    case scan::String::Stop::End:
        pos = base + s.at + 1;
        completeToken();
        return true;
    case scan::String::Stop::More: scan = base + s.at; return false;
    case scan::String::Stop::Bad:
        pos = base + s.at;
        fail(s.why, s.kind);
        return false;
    }
    return false;
}

bool StreamDecoder::Impl::scanNumber(bool final)
{
    const unsigned char* p = bytes();
    qsizetype i = scan - base;
    while (i < buf.size() && scan::inNumber(p[i]))
        ++i;
    scan = base + i;
    if (i == buf.size() && !final)
        return false; // more digits may come
    const qsizetype n = i - (tokenStart - base);
    const qsizetype length = scan::numberLength(p + (tokenStart - base), n);
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
        if (f.role == ValueRole::Envelope || f.role == ValueRole::Wrapper || f.role == ValueRole::Packet)
            Reader(buf, tokenStart - base).readString(&f.key);
        f.expect = Expect::Colon;
        return;
    }
    deliver(tokenRole, decodeScalar(tokenRole, tokenStart, pos));
}

void StreamDecoder::Impl::compact()
{
    qsizetype keep = token != Token::None ? tokenStart : pos;
    for (const Frame& f : stack) {
        if (f.role == ValueRole::Keep || f.role == ValueRole::Row)
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
