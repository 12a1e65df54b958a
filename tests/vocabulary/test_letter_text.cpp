// A letter's length is counted once, the way the authority counts xCorrecao after the
// server's own transformation; the screen, the server and the event builder all use it.
#include <gtest/gtest.h>

#include "vocabulary/LetterText.h"

namespace {

TEST(LetterText, CountsCharactersOfTheTrimmedTextWithEachLineBreakOne)
{
    const struct {
        QString text;
        int length;
    } cases[] = {
        {QString(), 0},
        {QStringLiteral("  \t\r\n "), 0},
        {QStringLiteral("abc"), 3},
        {QStringLiteral("  abc \n"), 3}, // the ends go, as the text is stored trimmed
        {QStringLiteral("Ação"), 4}, // accented letters are one each, whatever their bytes
        {QStringLiteral("a\r\nb"), 3}, // a line break becomes one ";", whatever ends the line
        {QStringLiteral("a\nb\rc"), 5},
        {QStringLiteral("a\r\n\r\nb"), 4},
        {QStringLiteral("a\n\rb"), 4},
        {QStringLiteral("a😀b"), 3}, // one character beyond the basic plane, two UTF-16 units
        {QString(QChar(0xD83D)) + QStringLiteral("b"), 2}, // half a pair counts as itself
    };
    for (const auto& c : cases)
        EXPECT_EQ(cce::letterLength(c.text), c.length) << c.text.toStdString();
}

TEST(LetterText, FitsFromFifteenToOneThousandCharactersWithOneMessage)
{
    const QString lines = QStringLiteral("abcdef\r\n"); // 7 characters each
    EXPECT_FALSE(cce::letterLengthFits(QString(14, QLatin1Char('x'))));
    EXPECT_TRUE(cce::letterLengthFits(QString(15, QLatin1Char('x'))));
    EXPECT_TRUE(cce::letterLengthFits(lines.repeated(142) + QStringLiteral("123456"))); // 1000 characters, 1142 units
    EXPECT_FALSE(cce::letterLengthFits(lines.repeated(142) + QStringLiteral("1234567")));
    EXPECT_TRUE(cce::letterLengthFits(QStringLiteral("😀").repeated(1000)));
    EXPECT_FALSE(cce::letterLengthFits(QStringLiteral("😀").repeated(1001)));
    EXPECT_EQ(cce::letterLengthMessage(),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
}

} // namespace
