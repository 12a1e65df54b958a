#pragma once
// A report ready to print: its definition, its query (named parameters, set by the
// caller or by the before-query-parameters handler) and its rendering through QPainter
// onto any paged device: a PDF (QPdfWriter, fonts embedded) or a printer.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "core/sql/TADOIBQuery.h"
#include "report/ReportDefinition.h"
#include "report/ReportExport.h"

class QIODevice;
class QPagedPaintDevice;

namespace fw::report {

class FW_REPORT_EXPORT Report {
public:
    explicit Report(ReportDefinition definition);
    ~Report();
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;

    const ReportDefinition& definition() const { return m_definition; }
    TADOIBQuery* query() { return m_query.get(); }

    // Called before the query runs, with its parameters; setting cancel stops the run.
    std::function<void(const QList<QueryParam*>& params, bool& cancel)> BeforeGetQueryParams;

    // Runs the query; false with *error when it cannot run or was cancelled.
    bool run(QString* error);
    // Rows read by the caller through a road of its own, in place of run(): each field by
    // its upper-case name, valued as the query's fields give it.
    void setRows(QList<QVariantMap> rows) { m_rows = std::move(rows); }
    const QList<QVariantMap>& rows() const { return m_rows; }
    // Keeps only the rows keep() accepts (one letter of the invoice, say).
    void keepRows(const std::function<bool(const QVariantMap&)>& keep);

    // The printing time the pages show (now by default; fixed in tests).
    void setPrintTime(const QDateTime& t) { m_printTime = t; }

    // Lays the rows out on device, one or more pages each; returns the number of pages.
    int render(QPagedPaintDevice* device);
    // Renders into a PDF written atomically at path; false with *error.
    bool renderPdf(const QString& path, QString* error);
    // Renders into a PDF written to out (open for writing); false with *error.
    bool renderPdf(QIODevice* out, QString* error);

    // A template ("{FIELD|format}") filled from a row.
    static QString fill(const QString& text, const QVariantMap& row, const QDateTime& printTime);

private:
    ReportDefinition m_definition;
    std::unique_ptr<TADOIBQuery> m_query;
    QList<QVariantMap> m_rows;
    QDateTime m_printTime;
};

// True when params holds a parameter of that name (case-insensitive).
FW_REPORT_EXPORT bool ExistParam(const QList<QueryParam*>& params, const QString& name);

} // namespace fw::report
