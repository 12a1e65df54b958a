#pragma once
// The reader of an answer that arrives in pieces (JsonStreamDecoder.h) on the inside,
// shared by its two files: JsonStreamDecoder.cpp checks the text byte by byte with a
// small machine that can stop anywhere and go on when more bytes come; JsonStreamValues.cpp
// builds the values as each one's text is whole. Not part of the framework's interface.
#include <QDateTime>
#include <vector>

#include "core/values/JsonRow_p.h"
#include "core/values/JsonStreamDecoder.h"
#include "core/values/PackedRows.h"

namespace fw::json {

// What a value is read for.
enum class ValueRole : quint8 {
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
struct ValueOutcome {
    QVariant value;
    QString error; // not empty: not a value of the wire
    qsizetype start = 0, end = 0; // its text
};

// The compact rows of a packet, as readRow() gives them.
struct PackedRowSink {
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

struct StreamDecoder::Impl {
    enum class Expect : quint8 { FirstValue, Value, FirstKey, Key, Colon, CommaOrEnd };
    enum class Fast : quint8 { Done, More, No };
    enum class Token : quint8 { None, String, Number, Literal };

    // What a list, a wrapper or a packet gathers while it is read.
    struct Parts {
        QVariantList list;
        ValueOutcome dateTime, packet, delta; // a wrapper's last of each kind
        bool hasDateTime = false, hasPacket = false, hasDelta = false;
        bool hasFields = false, hasRows = false;
        FieldDefs fields;
        std::shared_ptr<PackedRows> rows;
        qsizetype rowsStart = -1; // rows that came before the fields, read at the end
    };
    struct Frame {
        bool object = false;
        ValueRole role = ValueRole::Skip;
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
    ValueRole tokenRole = ValueRole::Skip;
    const char* word = nullptr;
    std::vector<Frame> stack;
    bool started = false, done = false, object = false, finished = false;
    SyntaxError syntax;

    QByteArray jsonrpcText, idText, errorText;
    bool hasResult = false;
    ValueOutcome result;

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
    QByteArray text(const ValueOutcome& o) const { return buf.mid(o.start - base, o.end - o.start); }

    void run(bool final);
    Fast packRow(bool final);
    bool scanString(bool final);
    bool scanNumber(bool final);
    bool scanLiteral(bool final);
    void beginValue(unsigned char c, ValueRole role);
    void completeToken();
    void close();
    void deliver(ValueRole role, ValueOutcome&& o);
    ValueRole childRole(Frame& f);
    ValueOutcome decodeScalar(ValueRole role, qsizetype start, qsizetype end);
    ValueOutcome closeFrame(Frame& f, qsizetype end);
    void packRows(Parts& packet, QString* error);
    void compact();
};

} // namespace fw::json
