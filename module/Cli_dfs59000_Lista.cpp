// CC-e screen: invoice retrieval, the host preset and the invoice grid.
#include "Cli_dfs59000.h"

void TfrmTransmissaoCCe::sbtFiltroClick(QObject*) {}
void TfrmTransmissaoCCe::AplicaFiltro() {}
void TfrmTransmissaoCCe::dbgPadraoDrawColumnCell(fw::TDBGrid*, QPainter*, const QRect&, int, fw::Field*, int) {}
void TfrmTransmissaoCCe::dbgPadraoDblClick(QObject*) {}
void TfrmTransmissaoCCe::dbgPadraoTitleClick(fw::TDBGrid*, int) {}
void TfrmTransmissaoCCe::cdsNotaFiscalNRINSJURNFGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::cdsNotaFiscalCDFILIEMITGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::cdsNotaFiscalIDEMAILCCEGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::cdsNotaFiscalIDEMAILCCETRANSGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::cdsNotaFiscalIDTPAMBNFEGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::cdsNotaFiscalNRLANCTONFGetText(fw::Field*, QString&, bool) {}
void TfrmTransmissaoCCe::sbtProcurarClick(QObject*) {}
