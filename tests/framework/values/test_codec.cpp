// The wire encoding of values and packets, checked against the protocol's text.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/JsonTextDecoder.h"
#include "core/values/Value.h"

using namespace fw;

namespace {

QJsonValue parse(const char* json)
{
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(QByteArray("[") + json + "]", &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << json;
    return d.array().at(0);
}

QByteArray text(const QJsonValue& v)
{
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

// Goes through the bytes, as a value does between client and server.
QVariant throughWire(const QVariant& v)
{
    const QByteArray bytes = QJsonDocument(QJsonArray{json::encode(v)}).toJson(QJsonDocument::Compact);
    QString error;
    const QVariant out = json::decode(QJsonDocument::fromJson(bytes).array().at(0), &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    return out;
}

FieldDefs everyType()
{
    return {{QStringLiteral("IDCHECK"), FieldType::String, 1, true, true},
            {QStringLiteral("NRSEQ"), FieldType::Integer, 0, false, false},
            {QStringLiteral("VRNOTAFISC"), FieldType::Float, 0, false, false},
            {QStringLiteral("IDOK"), FieldType::Boolean, 0, false, false},
            {QStringLiteral("DTHRPROTOCOLNFE"), FieldType::DateTime, 0, false, false},
            {QStringLiteral("DSARQXMLNFE"), FieldType::Blob, 0, false, false}};
}

} // namespace

TEST(Codec, NullAndEmptyBothTravelAsNullAndComeBackAsNull)
{
    EXPECT_TRUE(json::encode(nullValue()).isNull());
    EXPECT_TRUE(json::encode(emptyValue()).isNull());
    const QVariant back = throughWire(emptyValue());
    EXPECT_TRUE(isNull(back));
    EXPECT_FALSE(isEmpty(back));
    // An empty string is a value, not null: the server's "" means success.
    EXPECT_EQ(text(json::encode(QString())), QByteArray("\"\""));
    const QVariant s = throughWire(QString(""));
    EXPECT_EQ(s.metaType().id(), QMetaType::QString);
}

TEST(Codec, ScalarsKeepTheirKinds)
{
    EXPECT_EQ(text(json::encode(true)), QByteArray("true"));
    EXPECT_EQ(text(json::encode(42)), QByteArray("42"));
    EXPECT_EQ(text(json::encode(2.5)), QByteArray("2.5"));
    EXPECT_EQ(throughWire(42).metaType().id(), QMetaType::LongLong);
    EXPECT_EQ(throughWire(2.5).metaType().id(), QMetaType::Double);
    EXPECT_EQ(throughWire(false).metaType().id(), QMetaType::Bool);
    EXPECT_EQ(throughWire(QStringLiteral("S01;S05")).toString(), QStringLiteral("S01;S05"));
}

TEST(Codec, DateTimeIsWrappedAtTopLevelWithSecondsAndNoOffset)
{
    const QDateTime dt(QDate(2026, 12, 7), QTime(14, 5, 0, 870));
    EXPECT_EQ(text(json::encode(dt)), QByteArray(R"({"$datetime":"2026-12-07T14:05:00"})"));
    const QVariant back = throughWire(dt);
    ASSERT_EQ(back.metaType().id(), QMetaType::QDateTime);
    EXPECT_EQ(back.toDateTime(), QDateTime(QDate(2026, 12, 7), QTime(14, 5, 0)));
    // A null date-time is null, not a wrapper around nothing.
    EXPECT_TRUE(json::encode(QDateTime()).isNull());
    QString error;
    EXPECT_TRUE(isNull(json::decode(parse(R"({"$datetime":null})"), &error)));
}

TEST(Codec, ArraysNestAndKeepOrder)
{
    const QVariantList list{QStringLiteral("S"), nullValue(), 7, QVariantList{true, QStringLiteral("x")},
                            QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59))};
    EXPECT_EQ(text(json::encode(list)), QByteArray(R"(["S",null,7,[true,"x"],{"$datetime":"2026-01-31T23:59:59"}])"));
    const QVariantList back = throughWire(list).toList();
    ASSERT_EQ(back.size(), 5);
    EXPECT_EQ(back[0].toString(), QStringLiteral("S"));
    EXPECT_TRUE(isNull(back[1]));
    EXPECT_EQ(back[2].toLongLong(), 7);
    EXPECT_EQ(back[3].toList().at(1).toString(), QStringLiteral("x"));
    EXPECT_EQ(back[4].toDateTime(), QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59)));
}

TEST(Codec, PacketWithEveryFieldTypeMatchesTheWireFormatAndRoundTrips)
{
    DataPacket p;
    p.fields = everyType();
    p.rows.append(Row{QStringLiteral("S"), 3, 1234.5, true, QDateTime(QDate(2026, 12, 7), QTime(14, 5, 0)),
                      QStringLiteral("<xml>ção</xml>")});
    p.rows.append(Row{QStringLiteral("N"), nullValue(), nullValue(), false, nullValue(), nullValue()});

    const QJsonObject body =
        json::encode(QVariant::fromValue(p)).toObject().value(QStringLiteral("$packet")).toObject();
    const QJsonArray fields = body.value(QStringLiteral("fields")).toArray();
    ASSERT_EQ(fields.size(), 6);
    EXPECT_EQ(text(fields[0]),
              QByteArray(R"({"fixed":true,"name":"IDCHECK","required":true,"size":1,"type":"string"})"));
    EXPECT_EQ(fields[1].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("integer"));
    EXPECT_EQ(fields[2].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("float"));
    EXPECT_EQ(fields[3].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("boolean"));
    EXPECT_EQ(fields[4].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("datetime"));
    EXPECT_EQ(fields[5].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("blob"));
    // Inside rows a date-time is plain text, without the wrapper.
    EXPECT_EQ(text(body.value(QStringLiteral("rows")).toArray().at(0)),
              QByteArray(R"(["S",3,1234.5,true,"2026-12-07T14:05:00","<xml>ção</xml>"])"));
    EXPECT_EQ(text(body.value(QStringLiteral("rows")).toArray().at(1)),
              QByteArray(R"(["N",null,null,false,null,null])"));

    const QVariant back = throughWire(QVariant::fromValue(p));
    ASSERT_EQ(back.metaType().id(), qMetaTypeId<DataPacket>());
    EXPECT_TRUE(back.value<DataPacket>() == p);
}

TEST(Codec, DeltaKeepsOperationsInOrderWithOldAndNewRows)
{
    DeltaPacket d;
    d.fields = {{QStringLiteral("NRSEQCCE"), FieldType::String, 2, false, true},
                {QStringLiteral("DSCORRECAONFE"), FieldType::String, 1000, false, false}};
    d.changes.append({DeltaChange::Op::Modify, Row{QStringLiteral("01"), QStringLiteral("antes")},
                      Row{QStringLiteral("01"), QStringLiteral("depois")}});
    d.changes.append({DeltaChange::Op::Insert, Row{}, Row{QStringLiteral("02"), QStringLiteral("nova")}});
    d.changes.append({DeltaChange::Op::Delete, Row{QStringLiteral("01"), QStringLiteral("depois")}, Row{}});

    const QJsonArray changes = json::encode(QVariant::fromValue(d))
                                   .toObject()
                                   .value(QStringLiteral("$delta"))
                                   .toObject()
                                   .value(QStringLiteral("changes"))
                                   .toArray();
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ(text(changes[0]), QByteArray(R"({"new":["01","depois"],"old":["01","antes"],"op":"modify"})"));
    EXPECT_EQ(text(changes[1]), QByteArray(R"({"op":"insert","row":["02","nova"]})"));
    EXPECT_EQ(text(changes[2]), QByteArray(R"({"old":["01","depois"],"op":"delete"})"));

    const QVariant back = throughWire(QVariant::fromValue(d));
    ASSERT_EQ(back.metaType().id(), qMetaTypeId<DeltaPacket>());
    EXPECT_TRUE(back.value<DeltaPacket>() == d);
}

TEST(Codec, Utf8StringsKeepTheirCharacters)
{
    // 15 characters, 19 bytes in UTF-8: limits are counted in the former.
    const QString s = QStringLiteral("Correção açúcar");
    ASSERT_EQ(s.size(), 15);
    const QByteArray wire = QJsonDocument(QJsonArray{json::encode(s)}).toJson(QJsonDocument::Compact);
    EXPECT_TRUE(wire.contains("Corre\xc3\xa7\xc3\xa3o"));
    const QString back = throughWire(s).toString();
    EXPECT_EQ(back, s);
    EXPECT_EQ(back.size(), 15);

    DataPacket p;
    p.fields = {{QStringLiteral("NMRAZSOCCLIE"), FieldType::String, 50, false, false}};
    p.rows.append(Row{QStringLiteral("Indústria São João Ltda.")});
    EXPECT_EQ(throughWire(QVariant::fromValue(p)).value<DataPacket>().rows[0][0].toString(),
              QStringLiteral("Indústria São João Ltda."));
}

// Values no decoder may take, each for its own reason.
const char* const kMalformed[] = {
    R"({"$datetime":"07/12/2026"})",
    R"({"$something":1})",
    R"({"$packet":{"fields":"x","rows":[]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"money"}],"rows":[]}})",
    R"({"$packet":{"fields":[{"type":"string"}],"rows":[]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"string","size":1}],"rows":[["a","b"]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"integer"}],"rows":[["1"]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"integer"}],"rows":[[1.5]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"boolean"}],"rows":[["S"]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"string"}],"rows":[[true]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"datetime"}],"rows":[[{"$datetime":"2026-12-07T14:05:00"}]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"datetime"}],"rows":[["ontem"]]}})",
    R"({"$packet":{"fields":[{"name":"A","type":"string"}]}})",
    R"({"$delta":{"fields":[{"name":"A","type":"string"}],"changes":[{"op":"upsert","row":["a"]}]}})",
    R"({"$delta":{"fields":[{"name":"A","type":"string"}],"changes":[{"op":"modify","old":["a"]}]}})",
    R"([1,{"$datetime":"x"}])",
};

TEST(Codec, MalformedInputIsRefusedWithAReason)
{
    for (const char* json : kMalformed) {
        QString error;
        const QVariant v = json::decode(parse(json), &error);
        EXPECT_TRUE(isEmpty(v)) << json;
        EXPECT_FALSE(error.isEmpty()) << json;
    }
}

TEST(Codec, RowValuesFollowTheFieldType)
{
    const FieldDef f{QStringLiteral("VRNOTAFISC"), FieldType::Float, 0, false, false};
    QVariant out;
    QString error;
    // A whole number in a float field stays a float.
    ASSERT_TRUE(json::decodeRowValue(f, QJsonValue(2.0), &out, &error));
    EXPECT_EQ(out.metaType().id(), QMetaType::Double);
    const FieldDef i{QStringLiteral("N"), FieldType::Integer, 0, false, false};
    ASSERT_TRUE(json::decodeRowValue(i, QJsonValue(9007199254740992.0), &out, &error));
    EXPECT_EQ(out.toLongLong(), 9007199254740992LL);
    EXPECT_FALSE(json::decodeRowValue(i, QJsonValue(1e300), &out, &error));
}

namespace {

// A value with its kinds, rows included, so that two decodings compare exactly.
QString shape(const QVariant& v)
{
    if (isNull(v))
        return QStringLiteral("null");
    const int t = v.metaType().id();
    auto row = [](const Row& r) {
        QStringList out;
        for (const QVariant& x : r)
            out << shape(x);
        return QLatin1Char('[') + out.join(QLatin1Char(',')) + QLatin1Char(']');
    };
    auto fields = [](const FieldDefs& defs) {
        QStringList out;
        for (const FieldDef& f : defs)
            out << QStringLiteral("%1:%2:%3:%4:%5")
                       .arg(f.name, fieldTypeName(f.type))
                       .arg(f.size)
                       .arg(f.fixed)
                       .arg(f.required);
        return out.join(QLatin1Char(' '));
    };
    if (t == qMetaTypeId<DataPacket>()) {
        const DataPacket p = v.value<DataPacket>();
        QString out = QStringLiteral("packet{") + fields(p.fields) + QLatin1Char('|');
        for (const Row& r : p.rows)
            out += row(r);
        return out + QLatin1Char('}');
    }
    if (t == qMetaTypeId<DeltaPacket>()) {
        const DeltaPacket d = v.value<DeltaPacket>();
        QString out = QStringLiteral("delta{") + fields(d.fields) + QLatin1Char('|');
        for (const DeltaChange& c : d.changes)
            out += QString::number(int(c.op)) + row(c.oldRow) + row(c.newRow);
        return out + QLatin1Char('}');
    }
    if (t == QMetaType::QVariantList)
        return row(v.toList());
    return QString::fromLatin1(v.metaType().name()) + QLatin1Char('=') + v.toString();
}

} // namespace

// The screen reads large answers straight from their text; it must read every value, and
// refuse every malformed one, exactly as a parsed document is read.
TEST(Codec, TheTextDecoderReadsWhatTheDocumentDecoderReads)
{
    QList<QByteArray> texts = {
        R"(null)",
        R"(true)",
        R"("Corre\u00e7\u00e3o \"citada\"\n\\ \ud83d\ude00 açúcar")",
        R"(-0.25)",
        R"(12345678901)",
        R"(1e300)",
        R"(["S",null,7,[true,"x"],{"$datetime":"2026-01-31T23:59:59"},{"$datetime":null}])",
        R"({"$packet":{"rows":[],"fields":[{"name":"A","type":"string"}]}})",
        R"({"$packet":{"fields":[{"name":"A","type":"integer"},{"name":"B","type":"float"}],"rows":[[2,2],[null,2.5],[-9007199254740992,1e-3]]}})",
        R"({"$packet":{"fields":[{"name":"A","type":"datetime"},{"name":"B","type":"boolean"}],"rows":[["2026-12-07T14:05:00",false],["2026-12-07 14:05:00.870",true]]}})",
        R"({"$delta":{"fields":[{"name":"A","type":"string","size":2,"required":true}],"changes":[{"op":"insert","row":["a"]},{"op":"modify","old":["a"],"new":["b"]},{"op":"delete","old":["b"]}]}})",
    };
    for (const char* bad : kMalformed)
        texts << QByteArray(bad);
    for (const char* bad : {
             R"({"$packet":{"fields":[{"name":"A","type":"string","size":1}],"rows":[[]]}})",
             R"({"$packet":{"fields":[{"name":"A","type":"string"}],"rows":["a"]}})",
             R"({"$packet":{"fields":[{"name":"A","type":"integer"}],"rows":[[1e300]]}})",
             R"({"$packet":{"fields":[{"name":"A","type":"string"}],"rows":[[["x"]]]}})",
             R"({"$packet":{"rows":[[1]],"fields":[{"name":"A","type":"string"}]}})",
         })
        texts << QByteArray(bad);

    for (const QByteArray& t : texts) {
        ASSERT_EQ(json::validate(t, 64).kind, json::SyntaxError::Kind::None) << t.constData();
        QString documentError, textError;
        const QVariant fromDocument = json::decode(parse(t.constData()), &documentError);
        const QVariant fromText = json::decodeText(t, 0, &textError);
        EXPECT_EQ(fromText.isValid(), fromDocument.isValid()) << t.constData();
        if (fromDocument.isValid())
            EXPECT_EQ(shape(fromText), shape(fromDocument)) << t.constData();
        else
            EXPECT_FALSE(textError.isEmpty()) << t.constData();
    }
}

TEST(Codec, TheTextDecoderKeepsOnlyTheNamedColumnsButChecksEveryRow)
{
    const QByteArray t =
        R"({"fields":[{"name":"IDCHECK","type":"string"},{"name":"NRSEQ","type":"integer"},{"name":"DSTEXTO","type":"string"}],)"
        R"("rows":[["S",1,"a"],["N",2,"b"],["S",3,"c"]]})";
    json::TextDecoder d(t);
    const DataPacket p = d.packet(0, {QStringLiteral("idcheck"), QStringLiteral("NRSEQ")}, 1);
    ASSERT_EQ(p.fields.size(), 2);
    EXPECT_EQ(p.fields[1].name, QStringLiteral("NRSEQ"));
    // One row past the bound stays, so the caller sees there were more.
    ASSERT_EQ(p.rows.size(), 2);
    EXPECT_EQ(p.rows[1], (Row{QStringLiteral("N"), 2LL}));
    const QByteArray badLast = QByteArray(t).replace(R"(["S",3,"c"])", R"(["S","3","c"])");
    EXPECT_THROW(json::TextDecoder(badLast).packet(0, {QStringLiteral("IDCHECK")}, 1), json::DecodeError);
}

TEST(Codec, AListOfLargePacketsDecodesTheSameOnSeveralThreads)
{
    auto packetText = [](const char* field, int rows, const QByteArray& last) {
        QByteArray t = QByteArray(R"({"$packet":{"fields":[{"name":")") + field +
                       R"(","type":"string"},{"name":"N","type":"integer"},{"name":"D","type":"datetime"}],"rows":[)";
        for (int i = 0; i < rows; ++i)
            t += QByteArray(R"(["linha )") + QByteArray::number(i) + R"( ção",)" + QByteArray::number(i) +
                 R"(,"2026-12-07T14:05:00"],)";
        return t + last + "]}}";
    };
    const QByteArray good = R"(["fim",0,null])", badKind = R"(["fim","0",null])", badArity = R"(["fim",0])";
    const int rows = 50000; // some megabytes: past the size from which threads are used
    const QByteArray both = '[' + packetText("A", rows, good) + ',' + packetText("B", rows, good) + ",\"x\"]";
    ASSERT_GT(both.size(), 4 * 1024 * 1024);
    ASSERT_EQ(json::validate(both, 64).kind, json::SyntaxError::Kind::None);
    QString error;
    const QVariant fromText = json::decodeText(both, 0, &error);
    ASSERT_TRUE(fromText.isValid()) << error.toStdString();
    EXPECT_EQ(shape(fromText), shape(json::decode(QJsonDocument::fromJson(both).array(), nullptr)));

    // A fault in any of them fails the whole, naming the first one in the text's order.
    const QByteArray second = '[' + packetText("A", rows, good) + ',' + packetText("B", rows, badKind) + ']';
    EXPECT_FALSE(json::decodeText(second, 0, &error).isValid());
    EXPECT_TRUE(error.contains(QStringLiteral("campo N"))) << error.toStdString();
    const QByteArray twice = '[' + packetText("A", rows, badArity) + ',' + packetText("B", rows, badKind) + ']';
    EXPECT_FALSE(json::decodeText(twice, 0, &error).isValid());
    EXPECT_TRUE(error.contains(QStringLiteral("um valor para cada campo"))) << error.toStdString();
}
