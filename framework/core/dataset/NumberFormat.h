#pragma once
// Numbers as a field's display format shows them.
#include <QString>

namespace fw {

// v written with the display format ("###,##0.00", "R$ #,##0.00"); with no format, integral
// values as plain digits and others in the shortest form, Brazilian separators either way.
QString formatNumber(double v, const QString& format, bool integral);

} // namespace fw
