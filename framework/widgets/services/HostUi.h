#pragma once
// The host's user-interface functions, under the names modules call them by.
#include <QString>

#include "widgets/WidgetsExport.h"

class QWidget;

namespace fw {
class DataSet;
class TDataSource;
} // namespace fw

// The busy indicator (wait animation) over form; kind is the host's animation number
// (1, 6, ...). Through the UI services. Hiding when nothing shows is harmless.
FW_WIDGETS_EXPORT void ActiveShowAvi(QWidget* form, int kind, const QString& text = QString());
FW_WIDGETS_EXPORT void DeactiveShowAvi();

// Enables or disables the direct children of container (the container itself stays).
FW_WIDGETS_EXPORT void SetChildEnabled(QWidget* container, bool enabled);

// The list pick over the visible fields of ds's data set. keyField names the key of a
// row. singleRow true: one row; selection becomes its key. singleRow false (the host's
// usual call): check boxes, the
// rows whose keys are in selection (keys joined by ";") come checked; selection becomes
// the checked keys joined by ";", in the data set's order. Returns false when the user
// cancelled (or picked nothing, or the data set is closed or empty): selection is then
// unchanged. The data set ends on the (first) picked row.
FW_WIDGETS_EXPORT bool PesquisaLista(fw::TDataSource* ds, const QString& keyField, const QString& title, bool singleRow,
                                     QString& selection);

// The host's search dialog over a data set: the user picks a field and a value, the data
// set is positioned on the first row that matches (ignoring case, partial). Returns
// whether one was found; false without asking when the data set is missing or closed.
FW_WIDGETS_EXPORT bool Procura(fw::DataSet* ds);
