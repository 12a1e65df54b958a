#pragma once
// The criteria of the invoice list turned into the arguments of GetNotafiscal: one
// place for the filter's confirmation, the refresh and the host's preset.
#include <QDateTime>
#include <QString>

struct TRecordFilter;

// GetNotafiscal's fifteen values, in its order ("T": no restriction).
struct NotaFiscalArgs {
    QString filiEmit; // issuing (centralising) branch
    QString filiOrig; // origin branch
    QString tiposOper;
    QString empresa;
    QString inscEsta;
    QString inscMuni;
    QString serie;
    QString filiRece; // recipient branch
    QString origDest; // kind of counterpart
    QString insJur; // counterpart's registration
    QString periodo; // date-range switch
    QString entrSaid; // direction
    QString tiposEmis;
    QDateTime saidIni;
    QDateTime saidFim;
};

// From a record of criteria (its CdFilial and CdFiliOrig are the branches to send), the
// company, the emission-type tokens and the date-range switch; semCentralizadora: the
// branch lookup holds a branch without a centralising branch of its own, whose invoices
// are then asked for as its own (origin) ones.
NotaFiscalArgs notaFiscalArgs(const TRecordFilter& rec, const QString& empresa, const QString& tiposEmis,
                              const QString& periodo, bool semCentralizadora);
