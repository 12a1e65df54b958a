#pragma once
// What the filter dialog's files share: the emission-type boxes in code order and the date
// of a date edit as the record keeps it.
#include <QDateTime>

#include "module/Cli_dfs59100.h"

namespace dfs59100 {

inline QDateTime dateOnly(const QDate& d) { return d.isValid() ? QDateTime(d, QTime(0, 0)) : QDateTime(); }

// The seven emission-type boxes in code order (tpEmis 1 to 7).
struct EmisBox {
    fw::TCheckBox* TfrmFiltroTransmissao::*box;
    bool TRecordFilter::*sem;
    const char* token;
};
inline const EmisBox kEmis[] = {
    {&TfrmFiltroTransmissao::chbEmisNormal, &TRecordFilter::SemEmisNormal, "_1_"},
    {&TfrmFiltroTransmissao::chbEmisContFS, &TRecordFilter::SemEmisContFS, "_2_"},
    {&TfrmFiltroTransmissao::chbEmisContSCAN, &TRecordFilter::SemEmisContSCAN, "_3_"},
    {&TfrmFiltroTransmissao::chbEmisContEPEC, &TRecordFilter::SemEmisContEPEC, "_4_"},
    {&TfrmFiltroTransmissao::chbEmisContFSDA, &TRecordFilter::SemEmisContFSDA, "_5_"},
    {&TfrmFiltroTransmissao::chbEmisContSVCAN, &TRecordFilter::SemEmisContSVCAN, "_6_"},
    {&TfrmFiltroTransmissao::chbEmisContSVCRS, &TRecordFilter::SemEmisContSVCRS, "_7_"},
};

} // namespace dfs59100
