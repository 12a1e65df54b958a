#pragma once
// Code 128 barcodes (zint), drawn as vector bars so that they print sharp at any size.
#include <QRectF>
#include <QString>

#include "report/ReportExport.h"

class QPainter;

namespace fw::report {

// Draws text as Code 128 into rect (no human-readable line); false when zint refuses it.
FW_REPORT_EXPORT bool drawCode128(QPainter& painter, const QRectF& rect, const QString& text);

} // namespace fw::report
