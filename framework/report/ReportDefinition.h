#pragma once
// A report definition: a folder per report code holding report.json (versioned with the
// sources under reports/), read into this description. The format, in short:
//
//   { "code": "DFS593", "version": 1, "title": "...",
//     "page": { "size": "A4", "margins_mm": 12 },
//     "query": "SELECT ... WHERE X = :CDFILIAL ...",      one page (or more) per row
//     "watermarks": [ { "text": "SEM VALOR FISCAL" }, { "text": "...", "when": "IDTPAMBNFE=2" } ],
//     "blocks": [ block, ... ]  }                          laid top to bottom
//
//   block: { "type": "title", "text": "..." }
//          { "type": "grid", "title": "EMITENTE", "rows": [ [ cell, ... ], ... ] }
//          { "type": "barcode", "value": "{NRACESSONFE}", "height_mm": 12 }
//          { "type": "text", "title": "CORREÇÃO", "value": "{DSCORRECAONFE}", "breaks": ";" }
//          { "type": "footer", "text": "..." }                 at the bottom of every page
//   cell:  { "label": "CNPJ", "value": "{NRINSJURFILI|cnpjcpf}", "width": 0.4 }
//
// Values are templates: "{FIELD}" or "{FIELD|format}" with the formats key (the access key
// in groups of four), cnpjcpf, cep (a postcode as 99999-999), date, datetime, upper and
// xml:TAG (an element's text inside an XML value); "{TODAY}" is the printing time. Watermarks
// take the free space under a page's text, never its text.
// A "text" block flows onto the next pages when it does not fit.
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include "report/ReportExport.h"

namespace fw::report {

struct FW_REPORT_EXPORT Cell {
    QString label, value;
    double width = 0; // share of the row; 0: an equal share of what is left
};

struct FW_REPORT_EXPORT Block {
    enum class Kind { Title, Grid, Barcode, Text, Footer } kind = Kind::Text;
    QString title, text, value, breaks;
    QList<QList<Cell>> rows;
    double heightMm = 12;
};

struct FW_REPORT_EXPORT Watermark {
    QString text;
    QString whenField, whenValue; // empty: always
};

struct FW_REPORT_EXPORT ReportDefinition {
    QString code, title;
    int version = 0;
    QString pageSize = QStringLiteral("A4");
    double marginMm = 12;
    QString query;
    QList<Watermark> watermarks;
    QList<Block> blocks;

    // Reads folder/code/report.json; false with *error (in Portuguese) when it is
    // missing or not a definition this engine reads.
    static bool load(const QString& folder, const QString& code, ReportDefinition* out, QString* error);
    static bool fromJson(const QJsonObject& json, ReportDefinition* out, QString* error);
};

// The folder of the report definitions: CCE_REPORTS when set, else "reports" beside the
// program, else the copy in the source tree.
FW_REPORT_EXPORT QString reportFolder();

} // namespace fw::report
