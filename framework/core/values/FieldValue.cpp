#include "core/values/FieldValue.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

namespace fw {

namespace {

// Every form a driver or a user gives a date-time in: ISO with "T" or a blank, with or
// without seconds, their fractions and an offset ("Z", "+hh:mm", "-hhmm", "-hh"), and the
// Brazilian "dd/MM/yyyy[ HH:mm[:ss]]". A value with an offset is the same instant in local
// time, as the rest of the system reads date-times.
QDateTime parseDateTime(const QString& text)
{
    const QString t = text.trimmed();
    static const QRegularExpression iso(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:[T ](\\d{2}):(\\d{2})(?::(\\d{2})(?:[.,](\\d{1,9}))?)?"
                       "(Z|[+-]\\d{2}(?::?\\d{2})?)?)?$"));
    const QRegularExpressionMatch m = iso.match(t);
    if (m.hasMatch()) {
        const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (!date.isValid())
            return {};
        if (m.captured(4).isEmpty())
            return date.startOfDay();
        const int ms = m.captured(7).isEmpty() ? 0 : m.captured(7).left(3).leftJustified(3, QLatin1Char('0')).toInt();
        const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms);
        if (!time.isValid())
            return {};
        const QString zone = m.captured(8);
        if (zone.isEmpty())
            return QDateTime(date, time);
        int offset = 0;
        if (zone != QLatin1String("Z")) {
            const QString digits = QString(zone.mid(1)).remove(QLatin1Char(':'));
            offset = (digits.left(2).toInt() * 60 + digits.mid(2).toInt()) * 60;
            if (zone.startsWith(QLatin1Char('-')))
                offset = -offset;
        }
        return QDateTime(date, time, QTimeZone(offset)).toLocalTime();
    }
    static const char* const formats[] = {"dd/MM/yyyy HH:mm:ss", "dd/MM/yyyy HH:mm", "dd/MM/yyyy"};
    for (const char* f : formats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid())
            return dt;
    }
    return {};
}

} // namespace

const QLocale& brazilianLocale()
{
    static const QLocale l(QLocale::Portuguese, QLocale::Brazil);
    return l;
}

int compareValues(const QVariant& a, const QVariant& b, FieldType type, bool caseInsensitive)
{
    if (isTextType(type)) {
        QString ta, tb;
        const QString& sa = textOf(a, ta);
        const QString& sb = textOf(b, tb);
        return QString::compare(sa, sb, caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive);
    }
    const bool an = isNullOrEmpty(a), bn = isNullOrEmpty(b);
    if (an || bn)
        return an == bn ? 0 : (an ? -1 : 1);
    switch (type) {
    case FieldType::Integer: {
        if (a.metaType().id() == QMetaType::Double || b.metaType().id() == QMetaType::Double) {
            const double x = a.toDouble(), y = b.toDouble();
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        const qlonglong x = a.toLongLong(), y = b.toLongLong();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case FieldType::Float: {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    case FieldType::Boolean: {
        const int x = a.toBool(), y = b.toBool();
        return x - y;
    }
    case FieldType::DateTime: {
        const QDateTime x = a.toDateTime(), y = b.toDateTime();
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    default: break;
    }
    return 0;
}

QVariant convertValue(const QVariant& v, FieldType type, bool* ok)
{
    *ok = true;
    if (isNullOrEmpty(v))
        return QVariant();
    const int id = v.metaType().id();
    switch (type) {
    case FieldType::String:
    case FieldType::Blob:
        if (id == QMetaType::QString)
            return v;
        if (id == QMetaType::QDateTime)
            return v.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        if (id == QMetaType::Double)
            return brazilianLocale()
                .toString(v.toDouble(), 'g', QLocale::FloatingPointShortest)
                .remove(brazilianLocale().groupSeparator());
        if (id == QMetaType::QByteArray)
            return QString::fromUtf8(v.toByteArray());
        return v.toString();
    case FieldType::Integer: {
        if (id == QMetaType::LongLong)
            return v;
        if (id == QMetaType::Int || id == QMetaType::UInt || id == QMetaType::Long || id == QMetaType::Short ||
            id == QMetaType::ULongLong || id == QMetaType::Char || id == QMetaType::UChar)
            return v.toLongLong();
        if (id == QMetaType::Bool)
            return qlonglong(v.toBool() ? 1 : 0);
        if (id == QMetaType::Double || id == QMetaType::Float) {
            const double d = v.toDouble();
            if (d != static_cast<double>(static_cast<qlonglong>(d))) {
                *ok = false;
                return {};
            }
            return static_cast<qlonglong>(d);
        }
        const QString s = v.toString().trimmed();
        if (s.isEmpty())
            return QVariant();
        const qlonglong i = s.toLongLong(ok);
        return *ok ? QVariant(i) : QVariant();
    }
    case FieldType::Float: {
        if (id == QMetaType::Double)
            return v;
        if (id != QMetaType::QString && id != QMetaType::QByteArray) {
            const double d = v.toDouble(ok);
            return *ok ? QVariant(d) : QVariant();
        }
        const QString s = v.toString().trimmed();
        if (s.isEmpty())
            return QVariant();
        double d = s.toDouble(ok);
        if (!*ok)
            d = brazilianLocale().toDouble(s, ok);
        return *ok ? QVariant(d) : QVariant();
    }
    case FieldType::Boolean: {
        if (id == QMetaType::Bool)
            return v;
        if (id != QMetaType::QString)
            return v.toLongLong() != 0;
        const QString s = v.toString().trimmed().toLower();
        if (s.isEmpty())
            return QVariant();
        static const QStringList yes = {QStringLiteral("true"), QStringLiteral("t"),         QStringLiteral("s"),
                                        QStringLiteral("sim"),  QStringLiteral("1"),         QStringLiteral("y"),
                                        QStringLiteral("yes"),  QStringLiteral("verdadeiro")};
        static const QStringList no = {QStringLiteral("false"), QStringLiteral("f"),    QStringLiteral("n"),
                                       QStringLiteral("não"),   QStringLiteral("nao"),  QStringLiteral("0"),
                                       QStringLiteral("no"),    QStringLiteral("falso")};
        if (yes.contains(s))
            return true;
        if (no.contains(s))
            return false;
        *ok = false;
        return {};
    }
    case FieldType::DateTime: {
        if (id == QMetaType::QDateTime)
            return v;
        if (id == QMetaType::QDate)
            return v.toDate().startOfDay();
        const QString s = v.toString().trimmed();
        if (s.isEmpty())
            return QVariant();
        const QDateTime dt = parseDateTime(s);
        if (!dt.isValid()) {
            *ok = false;
            return {};
        }
        return dt;
    }
    }
    return v;
}

} // namespace fw
