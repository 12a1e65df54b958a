#include "core/values/Value.h"

namespace fw {

QVariant nullValue() { return QVariant::fromValue(nullptr); }
QVariant emptyValue() { return QVariant(); }

bool isNull(const QVariant& v) { return v.isValid() && v.metaType() == QMetaType::fromType<std::nullptr_t>(); }
bool isEmpty(const QVariant& v) { return !v.isValid(); }

void settleLocalTimeZone()
{
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

QString dateTimeToText(const QDateTime& dt) { return dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

namespace {

// "yyyy-MM-ddTHH:mm:ss" read digit by digit: a list of a whole company holds hundreds of
// thousands of them, and the general parser costs microseconds each.
bool plainDateTime(const QString& text, QDateTime* out)
{
    if (text.size() != 19)
        return false;
    const QChar* c = text.constData();
    int n[6] = {};
    static const int at[6] = {0, 5, 8, 11, 14, 17}, len[6] = {4, 2, 2, 2, 2, 2};
    static const char sep[6] = {'-', '-', 'T', ':', ':', 0};
    for (int k = 0; k < 6; ++k) {
        for (int i = at[k]; i < at[k] + len[k]; ++i) {
            const char16_t d = c[i].unicode();
            if (d < u'0' || d > u'9')
                return false;
            n[k] = n[k] * 10 + (d - u'0');
        }
        if (sep[k] && c[at[k] + len[k]].unicode() != char16_t(sep[k]))
            return false;
    }
    const QDate date(n[0], n[1], n[2]);
    const QTime time(n[3], n[4], n[5]);
    if (!date.isValid() || !time.isValid())
        return false;
    *out = QDateTime(date, time);
    return true;
}

} // namespace

QDateTime dateTimeFromText(const QString& text, bool* ok)
{
    QDateTime dt;
    if (!plainDateTime(text, &dt))
        dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (ok)
        *ok = dt.isValid();
    return dt;
}

} // namespace fw
