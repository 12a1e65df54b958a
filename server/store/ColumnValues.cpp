#include "server/store/ColumnValues.h"

#include "core/values/Value.h"

namespace srv::column {

QVariant stringOrNull(const QVariant& v)
{
    if (v.isNull())
        return fw::nullValue();
    return v.toString();
}

QString text(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

namespace {
int num(const QString& s, int pos, int len, bool* ok)
{
    int n = 0;
    for (int i = pos; i < pos + len; ++i) {
        const ushort c = s[i].unicode();
        if (c < '0' || c > '9') {
            *ok = false;
            return 0;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}
} // namespace

QDateTime toDateTime(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QDateTime();
    if (v.metaType().id() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.metaType().id() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    // SQLite keeps "yyyy-MM-ddTHH:mm:ss[.zzz]" (or a blank for the T, or the date alone).
    const QString s = v.toString();
    bool ok = s.size() >= 10;
    if (!ok)
        return QDateTime();
    const QDate d(num(s, 0, 4, &ok), num(s, 5, 2, &ok), num(s, 8, 2, &ok));
    QTime t(0, 0);
    if (s.size() >= 19)
        t = QTime(num(s, 11, 2, &ok), num(s, 14, 2, &ok), num(s, 17, 2, &ok));
    if (!ok || !d.isValid() || !t.isValid())
        return fw::dateTimeFromText(s.left(19));
    return QDateTime(d, t);
}

QString brazilianDate(const QVariant& v)
{
    if (v.isNull() || !v.isValid())
        return QString();
    if (v.metaType().id() == QMetaType::QString) {
        const QString s = v.toString();
        if (s.size() >= 10 && s[4] == QLatin1Char('-') && s[7] == QLatin1Char('-'))
            return s.mid(8, 2) + QLatin1Char('/') + s.mid(5, 2) + QLatin1Char('/') + s.left(4);
    }
    const QDateTime dt = toDateTime(v);
    return dt.isValid() ? dt.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

QVariant nullIfEmpty(const QString& s) { return s.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s); }

} // namespace srv::column
