#pragma once
// The decisions of the CC-e screen's invoice grid, apart from the painting, so that
// what each value looks like can be checked without a screen on the desk.
#include <QColor>
#include <QString>

#include "module/Pkg_dfs59000.h"

class TfrmTransmissaoCCe;
namespace fw {
class TImage;
}

namespace cceGrid {

// No invoice marked, no shared state, environment or certificate: a new list or a refresh.
void clearMarkState();

// The rows marked in the list ("S"): counted when rows are loaded and kept as marks
// change, so that it is what a filter on the marks would count.
void marksLoaded(const TfrmTransmissaoCCe& form);
void markChanged(bool wasMarked, bool marked);
int markedRows();

// The colour the pictures are drawn on, which the grid treats as see-through.
PKG_EXPORT QColor transparentColour();

// Contingency emission types ("2" to "7") are written in red.
PKG_EXPORT bool isContingencyEmission(const QString& idTipoEmisNfe);
// The font colour of a cell of a row with that emission type.
PKG_EXPORT QColor cellFontColour(const QString& idTipoEmisNfe, const QColor& normal);

// The picture a cell of the mark or the status column shows; nullptr: no picture
// (another column, or a value without one).
PKG_EXPORT fw::TImage* cellPicture(const TfrmTransmissaoCCe& form, const QString& fieldName, const QString& value);
// The columns whose cells are a picture rather than a text.
PKG_EXPORT bool isPictureColumn(const QString& fieldName);

// Only invoices whose latest letter awaits transmission (pending or rejected) can be marked.
PKG_EXPORT bool isMarkable(const QString& idStatusCce);

} // namespace cceGrid
