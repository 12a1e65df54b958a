#pragma once
// Values as the host passes them around: a QVariant where an invalid variant is
// "Empty" (never assigned) and a variant holding std::nullptr_t is "Null".
// The two differ for the host preset: Null keeps a pending preset, Empty drops it.
#include <QDateTime>
#include <QVariant>

#include "core/CoreExport.h"

namespace fw {

FW_CORE_EXPORT QVariant nullValue();
FW_CORE_EXPORT QVariant emptyValue();
FW_CORE_EXPORT bool isNull(const QVariant& v); // Null only
FW_CORE_EXPORT bool isEmpty(const QVariant& v); // Empty only
// Inline: the data set's comparisons ask it for every row they touch.
inline bool isNullOrEmpty(const QVariant& v) { return !v.isValid() || v.metaType().id() == QMetaType::Nullptr; }

// Date-times travel as local wall-clock time with seconds precision.
FW_CORE_EXPORT QString dateTimeToText(const QDateTime& dt); // "2026-12-07T14:05:00"
FW_CORE_EXPORT QDateTime dateTimeFromText(const QString& text, bool* ok = nullptr);

// Without TZ the C library re-reads the zone file at every local-time conversion, which
// shows on large invoice lists: a program names the system's zone once, before it starts
// converting (a TZ already set is kept).
FW_CORE_EXPORT void settleLocalTimeZone();

} // namespace fw
