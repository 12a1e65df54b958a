// The filter expression parser on its own: which rows each expression lets through, what
// it refuses and at which step, and the equalities the data set turns into key ranges.
#include <gtest/gtest.h>

#include "core/dataset/FilterExpression.h"
#include "core/errors/Errors.h"
#include "core/values/Value.h"

using namespace fw;

namespace {

FieldDefs fields()
{
    return {{QStringLiteral("NOME"), FieldType::String, 20}, {QStringLiteral("QTD"), FieldType::Integer},
            {QStringLiteral("VALOR"), FieldType::Float},     {QStringLiteral("ATIVO"), FieldType::Boolean},
            {QStringLiteral("DATA"), FieldType::DateTime},   {QStringLiteral("UF"), FieldType::String, 2}};
}

QDateTime at(int month, int day, int hour = 0) { return QDateTime(QDate(2026, month, day), QTime(hour, 0)); }

const QList<Row>& rows()
{
    static const QList<Row> r = {
        {QStringLiteral("Ana"), qlonglong(1), 10.5, true, at(3, 1, 10), QStringLiteral("SP")},
        {QStringLiteral("Bia"), qlonglong(5), -2.0, false, at(3, 15), QStringLiteral("RJ")},
        {QStringLiteral("it's"), qlonglong(10), nullValue(), nullValue(), nullValue(), QStringLiteral("SP")},
        {nullValue(), nullValue(), 0.25, true, at(4, 1), QStringLiteral("MG")},
        {QString(), qlonglong(3), 100.0, false, at(3, 15, 12), QString()},
    };
    return r;
}

FilterExpression bound(const char* text)
{
    FilterExpression e = FilterExpression::parse(QString::fromUtf8(text));
    e.bind(fields());
    return e;
}

// The positions of the rows the expression lets through, as "0,2".
QString matching(const char* text)
{
    const FilterExpression e = bound(text);
    QStringList out;
    for (int i = 0; i < rows().size(); ++i)
        if (e.matches(rows()[i]))
            out << QString::number(i);
    return out.join(QLatin1Char(','));
}

} // namespace

TEST(FilterExpression, EachExpressionLetsThroughItsRows)
{
    const std::pair<const char*, const char*> table[] = {
        {"", "0,1,2,3,4"},
        {"NOME = 'Ana'", "0"},
        {"nome = 'ana'", ""}, // names ignore case, values do not
        {"NOME = 'it''s'", "2"},
        {"[uf] = 'SP'", "0,2"},
        {"UF <> 'SP'", "1,3,4"},
        {"UF != 'SP'", "1,3,4"},
        {"NOME = ''", "3,4"}, // a null text reads as empty
        {"NOME IS NULL", "3,4"},
        {"NOME IS NOT NULL", "0,1,2"},
        {"QTD IS NULL", "3"},
        {"QTD > 3", "1,2"}, // a null number compares as false
        {"3 < QTD", "1,2"},
        {"QTD <> 5", "0,2,4"},
        {"QTD >= 5 AND QTD <= 10", "1,2"},
        {"VALOR > .3", "0,4"},
        {"VALOR = -2", "1"},
        {"VALOR = 0.25", "3"},
        {"ATIVO = 'S'", "0,3"},
        {"ATIVO = 0", "1,4"},
        {"DATA = '15/03/2026'", "1"},
        {"DATA >= '2026-03-15'", "1,3,4"},
        {"DATA < '2026-03-15 12:00'", "0,1"},
        {"NOT UF = 'SP'", "1,3,4"},
        {"NOT NOT UF = 'MG'", "3"},
        {"UF = 'SP' OR UF = 'RJ' AND QTD > 1", "0,1,2"}, // AND binds first
        {"(UF = 'SP' OR UF = 'RJ') AND QTD > 1", "1,2"},
        {"not (uf = 'SP') and qtd is not null", "1,4"},
    };
    for (const auto& [text, expected] : table)
        EXPECT_EQ(matching(text), QString::fromLatin1(expected)) << text;
}

TEST(FilterExpression, MalformedTextIsRefusedWhenParsedAndUnfitValuesWhenBound)
{
    for (const char* text :
         {"NOME = 'aberta", "NOME =", "(UF = 'SP'", "UF = 'SP')", "UF = 'SP' AND", "NOME == 'x'", "UF 'SP'",
          "[UF = 'SP'", "[ ] = 'x'", "NOME IS 'x'", "'x' IS NULL", "AND = 'x'", "NOME = 'x' #", "QTD = 1.2.3"})
        EXPECT_THROW(FilterExpression::parse(QString::fromLatin1(text)), DataSetError) << text;
    for (const char* text : {"NAOEXISTE = 'x'", "QTD = 'abc'", "QTD = 1.5", "DATA = 'amanhã'", "ATIVO = 'talvez'"}) {
        FilterExpression e;
        ASSERT_NO_THROW(e = FilterExpression::parse(QString::fromUtf8(text))) << text;
        EXPECT_THROW(e.bind(fields()), DataSetError) << text;
    }
}

TEST(FilterExpression, EqualitiesOfTheTopConjunctionComeOutWithTheFieldsTypes)
{
    const struct {
        const char* text;
        QString expected; // field=value, in the expression's order
        bool only;
    } table[] = {
        {"UF = 'SP' AND QTD = '5'", QStringLiteral("5='SP' 1=5"), true},
        {"'SP' = UF", QStringLiteral("5='SP'"), true},
        {"(UF = 'SP' AND NOME = 'Ana') AND QTD = 1", QStringLiteral("5='SP' 0='Ana' 1=1"), true},
        {"UF = 'SP' AND QTD > 1", QStringLiteral("5='SP'"), false},
        {"UF = 'SP' OR QTD = 1", QString(), false},
        {"NOT UF = 'SP'", QString(), false},
    };
    for (const auto& row : table) {
        bool only = !row.only;
        QStringList got;
        for (const FilterExpression::Equality& e : bound(row.text).equalities(&only)) {
            const bool text = e.value.metaType().id() == QMetaType::QString;
            got << QStringLiteral("%1=%2").arg(e.field).arg(text ? "'" + e.value.toString() + "'" : e.value.toString());
            if (e.field == 1) {
                EXPECT_EQ(e.value.metaType().id(), QMetaType::LongLong) << row.text;
            }
        }
        EXPECT_EQ(got.join(QLatin1Char(' ')), row.expected) << row.text;
        EXPECT_EQ(only, row.only) << row.text;
    }
}
