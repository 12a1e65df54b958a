#include "core/dataset/NumberFormat.h"

#include <cmath>

#include "core/values/FieldValue.h"

namespace fw {

// Numbers with a display format such as "###,##0.00" (',' groups, '.' marks the
// decimals, '0' a digit always shown, '#' one shown when significant), written with
// Brazilian separators. Text around the pattern is kept ("R$ #,##0.00").
QString formatNumber(double v, const QString& format, bool integral)
{
    QString fmt = format.section(QLatin1Char(';'), 0, 0);
    if (fmt.isEmpty()) {
        if (integral)
            return QString::number(static_cast<qlonglong>(v));
        QLocale l = brazilianLocale();
        l.setNumberOptions(QLocale::OmitGroupSeparator);
        return l.toString(v, 'g', QLocale::FloatingPointShortest);
    }
    auto isPat = [](QChar c) {
        return c == QLatin1Char('#') || c == QLatin1Char('0') || c == QLatin1Char(',') || c == QLatin1Char('.');
    };
    int first = -1, last = -1;
    for (int i = 0; i < fmt.size(); ++i)
        if (isPat(fmt[i])) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return fmt;
    const QString prefix = fmt.left(first), suffix = fmt.mid(last + 1);
    const QString pat = fmt.mid(first, last - first + 1);
    const bool grouping = pat.contains(QLatin1Char(','));
    const int dot = pat.indexOf(QLatin1Char('.'));
    int minDec = 0, maxDec = 0;
    if (dot >= 0)
        for (QChar c : pat.mid(dot + 1)) {
            if (c == QLatin1Char('0')) {
                ++minDec;
                ++maxDec;
            } else if (c == QLatin1Char('#')) {
                ++maxDec;
            }
        }
    const QString intPat = dot >= 0 ? pat.left(dot) : pat;
    const int minInt = int(intPat.count(QLatin1Char('0')));
    QLocale l = brazilianLocale();
    if (!grouping)
        l.setNumberOptions(QLocale::OmitGroupSeparator);
    // Rounded to zero shows without a minus sign.
    const double scale = std::pow(10.0, maxDec);
    if (std::round(std::fabs(v) * scale) == 0)
        v = 0;
    QString s = l.toString(v, 'f', maxDec);
    const QString dec = l.decimalPoint();
    if (maxDec > minDec) {
        int decimals = maxDec;
        while (decimals > minDec && s.endsWith(QLatin1Char('0'))) {
            s.chop(1);
            --decimals;
        }
        if (decimals == 0 && s.endsWith(dec))
            s.chop(dec.size());
    }
    if (minInt == 0) {
        if (s.startsWith(QLatin1String("0") + dec))
            s.remove(0, 1);
        else if (s.startsWith(QLatin1String("-0") + dec))
            s.remove(1, 1);
        else if (s == QLatin1String("0"))
            s.clear();
    }
    return prefix + s + suffix;
}

} // namespace fw
