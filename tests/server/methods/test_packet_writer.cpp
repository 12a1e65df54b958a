// The packet JSON written straight from a statement's values reads back, through the
// client's own decoder, as the values themselves: every character, number and time.
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "server/methods/PacketWriter.h"

namespace {

using srv::methods::PacketWriter;

TEST(PacketWriterTest, WrittenRowsReadBackAsTheirValues)
{
    const fw::FieldDefs fields{{"TEXTO", fw::FieldType::String, 200},
                               {"VALOR", fw::FieldType::Float},
                               {"QUANDO", fw::FieldType::DateTime},
                               {"FIXO", fw::FieldType::String, 2}};
    const QString tricky = QString::fromUtf8("aspas \" barra \\ / nova\nlinha\ttab \x01\x1f fim ção € ") +
                           QString::fromUcs4(U"\U0001F600") + QChar(0xd800) + QStringLiteral("x");
    QByteArray json;
    PacketWriter w(&json, fields);
    struct In {
        QVariant text, value, when;
    };
    const QDateTime when(QDate(2026, 11, 9), QTime(17, 6, 5));
    for (const In& in :
         {In{tricky, 1234.56, QStringLiteral("2026-11-09T17:06:05")},
          In{QVariant(), QVariant(), QStringLiteral("2026-11-09 17:06:05.250")}, In{QString(), 1e21, QVariant(when)},
          In{QStringLiteral("x"), -0.1, QStringLiteral("2026-02-30 10:00:00")},
          In{QStringLiteral("y"), 3.0, QVariant()}}) {
        w.beginRow();
        w.stringOrNull(in.text);
        w.numberOrNull(in.value);
        w.dateTimeOrNull(in.when);
        w.latin1("00");
        w.endRow();
    }
    w.finish();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << ": " << json.toStdString();
    fw::DataPacket p;
    QString why;
    ASSERT_TRUE(fw::json::decodePacket(doc.object(), &p, &why)) << why.toStdString();
    EXPECT_EQ(p.fields, fields);
    ASSERT_EQ(p.rows.size(), 5);
    // A lone surrogate half cannot travel in UTF-8: it arrives as the replacement character.
    QString sent = tricky;
    sent.replace(QChar(0xd800), QChar(0xfffd));
    EXPECT_EQ(p.rows[0][0].toString(), sent);
    EXPECT_DOUBLE_EQ(p.rows[0][1].toDouble(), 1234.56);
    EXPECT_EQ(p.rows[0][2].toDateTime(), when);
    EXPECT_EQ(p.rows[0][3].toString(), QStringLiteral("00"));
    EXPECT_TRUE(fw::isNull(p.rows[1][0]));
    EXPECT_TRUE(fw::isNull(p.rows[1][1]));
    EXPECT_EQ(p.rows[1][2].toDateTime(), when) << "fractions of a second are dropped";
    EXPECT_EQ(p.rows[2][0].toString(), QString());
    EXPECT_FALSE(fw::isNull(p.rows[2][0])) << "an empty text is not null";
    EXPECT_DOUBLE_EQ(p.rows[2][1].toDouble(), 1e21);
    EXPECT_EQ(p.rows[2][2].toDateTime(), when);
    EXPECT_DOUBLE_EQ(p.rows[3][1].toDouble(), -0.1);
    EXPECT_TRUE(fw::isNull(p.rows[3][2])) << "a day that does not exist is no date-time";
    EXPECT_TRUE(fw::isNull(p.rows[4][2]));
}

} // namespace
