#pragma once
// The value rules of the field types, shared by data sets, their filters and indexes, and
// the report engine: the canonical value a field of a type holds and how two compare.
#include <QLocale>
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"
#include "core/values/Value.h"

#include "core/CoreExport.h"

namespace fw {

// String and blob fields hold text; the rules read their null as empty text.
inline bool isTextType(FieldType t) { return t == FieldType::String || t == FieldType::Blob; }

// The text of a value without a copy when it already holds a string; null gives "".
inline const QString& textOf(const QVariant& v, QString& tmp)
{
    if (v.metaType().id() == QMetaType::QString)
        return *static_cast<const QString*>(v.constData());
    tmp = isNullOrEmpty(v) ? QString() : v.toString();
    return tmp;
}

// Compares two values of a field type the way filters and indexes do: null strings
// as empty text, other nulls before everything. Returns <0, 0, >0.
FW_CORE_EXPORT int compareValues(const QVariant& a, const QVariant& b, FieldType type, bool caseInsensitive);

// Converts v to the canonical value of a field type; *ok false when impossible. Text
// is read as users and drivers write it: Brazilian numbers, "sim"/"não", and date-times
// in ISO form (with or without an offset) or as "dd/MM/yyyy[ HH:mm[:ss]]".
FW_CORE_EXPORT QVariant convertValue(const QVariant& v, FieldType type, bool* ok);

// The locale numbers are read and shown in; for the core library's own files (not exported).
const QLocale& brazilianLocale();

} // namespace fw
