#pragma once
// The base report form: a routine dialog that prints one report of the report engine.
//
// Elements (objectName = the name), besides those of TfrmRotiGeral: lblCodRel (the report
// code, which names the folder of its definitions under report::reportFolder()), the
// layout choice cbbReportNames (inside grbDadosRel; "report.json" is the standard layout,
// any other *.json of the folder another one), the report dialog rpddPadrao, and in
// panBotoes sbtConfirma ("Visualizar", the print preview), sbtImprimir (the printer
// dialog, then printing) and sbtSalvarPdf (a save dialog, then the PDF).
//
// Each command loads the chosen definition, runs rpddPadrao's BeforeGetQueryParams with
// the query's parameters, runs the query and lays the rows out. A missing definition
// reports "Arq_Rel_Err" with the code and the folder; a query without rows "Nao_dados";
// both through MensErro with abort, so the form stays open. Every dialog goes through
// the UI services. savePdf does the same without any dialog, for automation.
#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

#include "core/sql/TADOIBQuery.h"
#include "widgets/forms/TfrmRotiGeral.h"

#include "widgets/WidgetsExport.h"

namespace fw::report {
class Report;
}

namespace fw {

// The host's report dialog component: what a report form hooks before the query runs.
class FW_WIDGETS_EXPORT TReportDialog : public QObject {
    Q_OBJECT
public:
    explicit TReportDialog(QObject* parent = nullptr, const QString& name = {});
    // Called with the query's parameters before it runs; setting cancel stops the print.
    std::function<void(const QList<QueryParam*>& params, bool& cancel)> BeforeGetQueryParams;
};

class FW_WIDGETS_EXPORT TfrmDadosGerRel : public TfrmRotiGeral {
    Q_OBJECT
public:
    explicit TfrmDadosGerRel(QWidget* owner = nullptr);
    ~TfrmDadosGerRel() override;

    QString CodRel() const;
    void setCodRel(const QString& code); // lblCodRel; reads the layouts of the code again

    // The layouts offered in cbbReportNames, as file names inside the code's folder.
    QStringList layoutFiles() const { return m_layoutFiles; }
    // The report of the last command that ran its query (null before any).
    report::Report* lastReport() const { return m_report.get(); }

    TLabel* lblCodRel;
    TLabel* lblReportNames;
    TComboBox* cbbReportNames;
    TReportDialog* rpddPadrao;
    TSpeedButton* sbtImprimir;
    TSpeedButton* sbtSalvarPdf;

public slots:
    void FormShow(QObject* sender = nullptr) override;
    void sbtConfirmaClick(QObject* sender = nullptr) override; // print preview
    virtual void sbtImprimirClick(QObject* sender = nullptr);
    virtual void sbtSalvarPdfClick(QObject* sender = nullptr);
    // Renders the chosen layout into a PDF at path, with no dialog or message; false with
    // the reason (in Portuguese) in *error, and in pdfError(), when there is no definition,
    // no data, or the file cannot be written. By name: invokeMethod(form, "savePdf",
    // Q_RETURN_ARG(bool, ok), Q_ARG(QString, path)).
    bool savePdf(const QString& path, QString* error = nullptr);

public:
    // Why the last savePdf failed; empty after a success.
    Q_INVOKABLE QString pdfError() const { return m_pdfError; }

protected:
    // Loads the chosen layout and runs its query; null with *error (or *cancelled).
    std::unique_ptr<report::Report> prepare(QString* error, bool* cancelled);

private:
    void readLayouts();
    // prepare, reporting a failure through MensErro with abort.
    report::Report& prepareOrAbort();

    QStringList m_layoutFiles;
    QString m_pdfError;
    std::unique_ptr<report::Report> m_report;
};

} // namespace fw
