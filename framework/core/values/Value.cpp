#include "core/values/Value.h"

namespace fw {

QVariant nullValue() { return QVariant::fromValue(nullptr); }
QVariant emptyValue() { return QVariant(); }

bool isNull(const QVariant& v) { return v.isValid() && v.metaType() == QMetaType::fromType<std::nullptr_t>(); }
bool isEmpty(const QVariant& v) { return !v.isValid(); }
bool isNullOrEmpty(const QVariant& v) { return isEmpty(v) || isNull(v); }

QString dateTimeToText(const QDateTime& dt) { return dt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")); }

QDateTime dateTimeFromText(const QString& text, bool* ok)
{
    QDateTime dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd"));
    if (ok)
        *ok = dt.isValid();
    return dt;
}

} // namespace fw
