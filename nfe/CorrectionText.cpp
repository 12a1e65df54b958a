#include "nfe/CorrectionText.h"

#include <QList>

#include "vocabulary/LetterText.h"

namespace nfe {

namespace {

// The plain equivalent of a typographic character, or 0 when it has none.
char32_t plainOf(char32_t c)
{
    switch (c) {
    case U'\t': return U' ';
    case U'\u2018':
    case U'\u2019':
    case U'\u201A':
    case U'\u201B':
    case U'\u2032': return U'\'';
    case U'\u201C':
    case U'\u201D':
    case U'\u201E':
    case U'\u201F':
    case U'\u2033': return U'"';
    case U'\u2010':
    case U'\u2011':
    case U'\u2012':
    case U'\u2013':
    case U'\u2014':
    case U'\u2015':
    case U'\u2212': return U'-';
    default: return 0;
    }
}

QString describe(char32_t c)
{
    const QString hex = QStringLiteral("U+") + QStringLiteral("%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return QStringLiteral("de controle %1").arg(hex);
    return QStringLiteral("«%1» (%2)").arg(QString::fromUcs4(&c, 1), hex);
}

QString fold(const QString& s)
{
    QString out;
    const QString decomposed = s.normalized(QString::NormalizationForm_D);
    out.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            out.append(c);
    // Decomposition never leaves the range, but recompose what stayed accented.
    return out.normalized(QString::NormalizationForm_C);
}

} // namespace

CorrectionText normaliseCorrection(const QString& typed, bool foldAccents)
{
    // The text as it is stored: trimmed before its line breaks become ";".
    const QString trimmed = typed.trimmed();
    QString s;
    s.reserve(trimmed.size());
    const QList<uint> codes = trimmed.toUcs4();
    for (int i = 0; i < codes.size(); ++i) {
        const char32_t c = codes.at(i);
        if (c == U'\r' || c == U'\n' || c == U'\u2028' || c == U'\u2029') {
            if (c == U'\r' && i + 1 < codes.size() && codes.at(i + 1) == U'\n')
                ++i;
            s.append(QLatin1Char(';'));
            continue;
        }
        if (const char32_t p = plainOf(c)) {
            s.append(QChar(p));
            continue;
        }
        if (c < 0x20 || c > 0xFF || (c >= 0x7F && c < 0xA0))
            return {QString(), QStringLiteral("Descrição da correção contém o caractere %1, que não é aceito na carta "
                                              "de correção eletrônica. Use apenas letras, números, pontuação e "
                                              "acentos comuns.")
                                   .arg(describe(c))};
        s.append(QChar(c));
    }
    if (!cce::letterLengthFits(trimmed))
        return {QString(), cce::letterLengthMessage()};
    return {foldAccents ? fold(s) : s, QString()};
}

} // namespace nfe
