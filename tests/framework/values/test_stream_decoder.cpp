// A reply decoded as its bytes arrive, in pieces of any size, must come out as the whole
// text decodes: the same verdict on the text, the same members, the same result or the
// same words for what is wrong with it.
#include <QDateTime>
#include <gtest/gtest.h>

#include "core/values/JsonReader.h"
#include "core/values/JsonStreamDecoder.h"
#include "core/values/JsonTextDecoder.h"
#include "core/values/PackedRows.h"
#include "core/values/Value.h"

using namespace fw;

namespace {

// A value written out with the type of every part, so that equal texts mean equal values.
QString describe(const QVariant& v)
{
    if (v.metaType() == QMetaType::fromType<DataPacket>()) {
        const DataPacket p = v.value<DataPacket>();
        QString out = QStringLiteral("packet(");
        for (const FieldDef& f : p.fields)
            out +=
                QStringLiteral("%1:%2:%3:%4:%5 ").arg(f.name).arg(int(f.type)).arg(f.size).arg(f.fixed).arg(f.required);
        for (int i = 0; i < p.rowCount(); ++i)
            out += describe(p.row(i));
        return out + QLatin1Char(')');
    }
    if (v.metaType() == QMetaType::fromType<DeltaPacket>())
        return QStringLiteral("delta(%1)").arg(v.value<DeltaPacket>().changes.size());
    if (v.metaType().id() == QMetaType::QVariantList) {
        QString out = QStringLiteral("[");
        for (const QVariant& e : v.toList())
            out += describe(e) + QLatin1Char(',');
        return out + QLatin1Char(']');
    }
    if (v.metaType().id() == QMetaType::QDateTime)
        return QStringLiteral("datetime:") + v.toDateTime().toString(Qt::ISODateWithMs);
    return QStringLiteral("%1:%2").arg(QString::fromLatin1(v.typeName()), v.toString());
}

struct Verdict {
    bool json = false, object = false;
    QByteArray jsonrpc, id, error;
    bool hasResult = false;
    QString result; // described, or "error: ..."

    bool operator==(const Verdict& o) const
    {
        return json == o.json && object == o.object && jsonrpc == o.jsonrpc && id == o.id && error == o.error &&
               hasResult == o.hasResult && result == o.result;
    }
};

std::ostream& operator<<(std::ostream& os, const Verdict& v)
{
    return os << "json " << v.json << " object " << v.object << " jsonrpc " << v.jsonrpc.constData() << " id "
              << v.id.constData() << " error " << v.error.constData() << " result " << v.hasResult << " "
              << v.result.toStdString();
}

QString outcome(const QVariant& v, const QString& error)
{
    return v.isValid() ? describe(v) : QStringLiteral("error: ") + error;
}

// The whole text at once, as a connection read it before.
Verdict whole(const QByteArray& text)
{
    Verdict v;
    v.json = json::validate(text, 64).kind == json::SyntaxError::Kind::None;
    v.object = v.json && json::Reader(text).peek() == json::Type::Object;
    if (!v.object)
        return v;
    qsizetype resultAt = -1;
    json::Reader(text).forEachMember([&](const QString& key, qsizetype at) {
        json::Reader r(text, at);
        r.skip();
        const QByteArray raw = text.mid(at, r.offset() - at);
        if (key == QLatin1String("jsonrpc"))
            v.jsonrpc = raw;
        else if (key == QLatin1String("id"))
            v.id = raw;
        else if (key == QLatin1String("error"))
            v.error = raw;
        else if (key == QLatin1String("result"))
            resultAt = at;
    });
    v.hasResult = resultAt >= 0;
    if (v.hasResult) {
        QString error;
        const QVariant r = json::decodeText(text, resultAt, &error);
        v.result = outcome(r, error);
    }
    return v;
}

// The same text in pieces of `piece` bytes.
Verdict streamed(const QByteArray& text, qsizetype piece)
{
    json::StreamDecoder d(64);
    for (qsizetype at = 0; at < text.size(); at += piece)
        d.feed(QByteArrayView(text).sliced(at, qMin(piece, text.size() - at)));
    d.finish();
    Verdict v;
    v.json = d.syntax().kind == json::SyntaxError::Kind::None;
    v.object = d.isObject();
    if (!v.object)
        return v;
    v.jsonrpc = d.member(QLatin1StringView("jsonrpc"));
    v.id = d.member(QLatin1StringView("id"));
    v.error = d.member(QLatin1StringView("error"));
    v.hasResult = d.hasResult();
    if (v.hasResult) {
        QString error;
        const QVariant r = d.result(&error);
        v.result = outcome(r, error);
    }
    return v;
}

void expectSame(const QByteArray& text)
{
    const Verdict expected = whole(text);
    for (qsizetype piece : {qsizetype(1), qsizetype(2), qsizetype(5), qsizetype(64), text.size() + 1})
        EXPECT_EQ(streamed(text, piece), expected) << "in pieces of " << piece << ": " << text.constData();
}

QByteArray reply(const QByteArray& result) { return R"({"jsonrpc":"2.0","id":7,"result":)" + result + "}"; }

const QByteArray kFields = R"([{"name":"S","type":"string","size":10},{"name":"I","type":"integer"},)"
                           R"({"name":"F","type":"float"},{"name":"B","type":"boolean"},)"
                           R"({"name":"D","type":"datetime"},{"name":"X","type":"blob"}])";

QByteArray packet(const QByteArray& rows, const QByteArray& fields = kFields)
{
    return R"({"$packet":{"fields":)" + fields + R"(,"rows":)" + rows + "}}";
}

} // namespace

TEST(StreamDecoder, RepliesComeOutAsTheWholeTextDecodes)
{
    const QByteArray rows =
        R"([["abc",1,1.5,true,"2026-12-07T14:05:00","x"],[null,null,null,null,null,null],)"
        R"(["a\"b\\c\/\n\u00e7\ud83d\ude00 \u0000",-9007199254740991,1e300,false,"2026-02-28","ção €"],)"
        R"(["\ud800 lone",0,-0.0,true,"2026-12-07T14:05:00",""]])";
    for (const QByteArray& result : {
             packet(rows),
             "[" + packet(rows) + "," + packet("[]") + "]",
             QByteArray(R"("texto")"),
             QByteArray("null"),
             QByteArray("12.5e3"),
             QByteArray(R"(["S","linha\nnova",[1,2,[true]],{"$datetime":"2026-12-07T14:05:00"},{"$datetime":null}])"),
             QByteArray(
                 R"({"$delta":{"fields":[{"name":"A","type":"string"}],"changes":[{"op":"insert","row":["x"]}]}})"),
         })
        expectSame(reply(result));
    // Members in another order, blanks between tokens, an error beside the result.
    expectSame(" { \"result\" : [ 1 , \"x\" ] ,\n\"id\":\"abc\", \"error\" : {\"code\":-32603,\"message\":\"m\"},"
               " \"jsonrpc\":\"2.0\"}\t");
    expectSame(R"({"jsonrpc":"2.0","id":1,"error":{"code":-32601,"message":"Método desconhecido"}})");
}

TEST(StreamDecoder, UnusualShapesReadAsTheWholeTextReadsThem)
{
    for (const QByteArray& result : {
             // The last result counts; rows before fields; members a packet ignores.
             QByteArray(R"(1,"result":2)"),
             R"({"$packet":{"rows":[["a",1,2,true,"2026-12-07T14:05:00","b"]],"extra":[1],"fields":)" + kFields + "}}",
             // A wrapper with more members: a date-time counts before a packet, the last of each.
             R"({"$packet":{"fields":)" + kFields + R"(,"rows":[]},"$datetime":"2026-12-07T14:05:00"})",
             R"({"$packet":{"fields":)" + kFields + R"(,"rows":[[1]]},"$packet":{"fields":[],"rows":[]}})",
             R"({"$packet":{"fields":[],"rows":[]},"$packet":{"fields":)" + kFields + R"(,"rows":[[1]]}})",
             QByteArray(R"({"outro":1})"),
             QByteArray("{}"),
         })
        expectSame(reply(result));
}

TEST(StreamDecoder, WrongValuesAreNamedAsTheWholeTextNamesThem)
{
    for (const QByteArray& result : {
             packet(R"([["a",1,2,true,"2026-12-07T14:05:00"]])"), // a value short
             packet(R"([["a",1,2,true,"2026-12-07T14:05:00","b",3]])"), // one too many
             packet(R"([["a",1.5,2,true,"2026-12-07T14:05:00","b"]])"), // not an integer
             packet(R"([["a",1,"2",true,"2026-12-07T14:05:00","b"]])"),
             packet(R"([["a",1,2,true,"ontem","b"]])"),
             packet(R"([["a",1,2,true,"2026-12-07T14:05:00","b"],{"a":1}])"),
             packet(R"([[["a"],1,2,true,"2026-12-07T14:05:00","b"]])"),
             packet(R"([["a",1e400,2,true,"2026-12-07T14:05:00","b"]])"), // out of range
             packet(R"({"a":1})"),
             packet("[]", R"([{"type":"string"}])"),
             packet("[]", R"([{"name":"A","type":"texto"}])"),
             QByteArray(R"({"$packet":[1]})"),
             QByteArray(R"({"$packet":{"fields":[],"fields":[],"rows":[]}})"),
             QByteArray(R"({"$packet":{"rows":[]}})"),
             QByteArray(R"({"$datetime":"ontem"})"),
             QByteArray(R"([1,{"$datetime":5},3])"),
         })
        expectSame(reply(result));
}

TEST(StreamDecoder, TextThatIsNotJsonIsRefusedWhereverItIsCut)
{
    for (const QByteArray& text : {
             QByteArray(""),
             QByteArray("   "),
             QByteArray(R"({"result":1)"),
             QByteArray(R"({"result":1}x)"),
             QByteArray(R"({"result":"a)"),
             QByteArray("{\"result\":\"a\x01\"}"),
             QByteArray("{\"result\":\"\xc3\"}"),
             QByteArray("{\"result\":\"\xed\xa0\x80\"}"),
             QByteArray(R"({"result":"\q"})"),
             QByteArray(R"({"result":"\u12"})"),
             QByteArray(R"({"result":01})"),
             QByteArray(R"({"result":-})"),
             QByteArray(R"({"result":1.})"),
             QByteArray(R"({"result":tru})"),
             QByteArray(R"({"result":[1,]})"),
             QByteArray(R"({"result" 1})"),
             QByteArray(R"({"result":1,})"),
             QByteArray(R"({result:1})"),
             QByteArray("[1,2]"),
             QByteArray(R"("só um texto")"),
             QByteArray(70, '[') + QByteArray(70, ']'),
             reply(QByteArray(62, '[') + QByteArray(62, ']')), // deep, within bounds
         })
        expectSame(text);
}

TEST(StreamDecoder, RowsArePackedAndTheirTextLetGo)
{
    // A large answer in small pieces: every row packed, none of the text held at the end.
    QByteArray rows = "[";
    for (int i = 0; i < 20000; ++i)
        rows += (i ? "," : "") + QByteArray(R"(["linha )") + QByteArray::number(i) +
                R"(",1,2.5,true,"2026-12-07T14:05:00","texto da linha"])";
    rows += "]";
    const QByteArray text = reply(packet(rows));
    json::StreamDecoder d(64);
    qsizetype held = 0;
    for (qsizetype at = 0; at < text.size(); at += 4096) {
        d.feed(QByteArrayView(text).sliced(at, qMin<qsizetype>(4096, text.size() - at)));
        held = qMax(held, d.held());
    }
    d.finish();
    EXPECT_LT(held, text.size() / 4) << "the text read is let go as the rows are packed";
    QString error;
    const DataPacket p = d.result(&error).value<DataPacket>();
    ASSERT_TRUE(p.packed) << error.toStdString();
    EXPECT_TRUE(p.rows.isEmpty());
    ASSERT_EQ(p.rowCount(), 20000);
    EXPECT_EQ(p.row(19999).at(0).toString(), QStringLiteral("linha 19999"));
    EXPECT_EQ(p.row(7).at(4).toDateTime(), QDateTime(QDate(2026, 12, 7), QTime(14, 5)));
}
