#include "report/Barcode.h"

#include <QPainter>
#include <zint.h>

namespace fw::report {

bool drawCode128(QPainter& painter, const QRectF& rect, const QString& text)
{
    zint_symbol* symbol = ZBarcode_Create();
    if (!symbol)
        return false;
    symbol->symbology = BARCODE_CODE128;
    symbol->show_hrt = 0;
    symbol->whitespace_width = 0;
    symbol->border_width = 0;
    const QByteArray data = text.toLatin1();
    const int rc = ZBarcode_Encode_and_Buffer_Vector(symbol, reinterpret_cast<const unsigned char*>(data.constData()),
                                                     int(data.size()), 0);
    const bool ok = rc < ZINT_ERROR && symbol->vector && symbol->vector->width > 0;
    if (ok) {
        const double sx = rect.width() / symbol->vector->width;
        const double sy = rect.height() / symbol->vector->height;
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        for (const zint_vector_rect* r = symbol->vector->rectangles; r; r = r->next)
            painter.drawRect(QRectF(rect.left() + r->x * sx, rect.top() + r->y * sy, r->width * sx, r->height * sy));
        painter.restore();
    }
    ZBarcode_Delete(symbol);
    return ok;
}

} // namespace fw::report
