#include "widgets/forms/TfrmDadosGerRel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/errors/Errors.h"
#include "core/host/HostFunctions.h"
#include "core/ui/UiServices.h"
#include "report/Report.h"
#include "report/ReportDefinition.h"

namespace fw {

namespace {

const QString kStandardLayout = QStringLiteral("report.json");

// The report form's own messages; a derived form may add or replace lines.
const QStringList& messageLines()
{
    static const QStringList lines = {
        QStringLiteral("Arq_Rel_Err|O arquivo contendo a definição do relatório de código '%s' não foi encontrado no "
                       "diretório '%s'."),
        QStringLiteral("NovoCaption|Título do relatório"),
        QStringLiteral("NovoPrompt|Informe o título do relatório:"),
        QStringLiteral("Filial_cad|Filial não cadastrada."),
        QStringLiteral("DtIni_Inv|Data inicial deve ser menor ou igual a data final."),
        QStringLiteral("DtFin_Inv|Data final deve ser maior ou igual a data inicial."),
        QStringLiteral("Nivel_Inv|Nível totalização deve estar entre 1 e %s"),
        QStringLiteral("Nivel_Inf|Nível deve ser informado."),
        QStringLiteral("Dados_Imp|Não existem dados a serem impressos."),
        QStringLiteral("Filial_contresc|Filial com o contrato rescindido."),
        QStringLiteral("Filial_Inf|Filial deve ser informada."),
        QStringLiteral("Imposto_Inf|Imposto deve ser informado."),
        QStringLiteral("Imposto_cad|Imposto não cadastrado."),
        QStringLiteral("Nao_dados|Não há dados a serem impressos."),
        QStringLiteral("DtIni_Inf|Data inicial deve ser informada"),
        QStringLiteral("DtFin_Inf|Data final deve ser informada"),
    };
    return lines;
}

// Each "%s" in turn takes the next value; a value's own "%s" stays as it is.
QString withValues(const QString& text, const QStringList& values)
{
    QString out;
    int from = 0;
    for (const QString& v : values) {
        const int at = text.indexOf(QLatin1String("%s"), from);
        if (at < 0)
            break;
        out += text.mid(from, at - from) + v;
        from = at + 2;
    }
    return out + text.mid(from);
}

QString layoutTitle(const QString& path, const QString& fallback)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fallback;
    const QString title = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("title")).toString();
    return title.isEmpty() ? fallback : title;
}

} // namespace

TReportDialog::TReportDialog(QObject* parent, const QString& name) : QObject(parent)
{
    if (!name.isEmpty())
        setObjectName(name);
}

TfrmDadosGerRel::TfrmDadosGerRel(QWidget* owner) : TfrmRotiGeral(owner)
{
    setObjectName(QStringLiteral("frmDadosGerRel"));
    msgPadrao->setLines(messageLines());

    lblCodRel = new TLabel(this, QStringLiteral("lblCodRel"));
    lblCodRel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (auto* body = qobject_cast<QBoxLayout*>(layout()))
        body->insertWidget(1, lblCodRel);

    grbDadosRel->setTitle(QStringLiteral("Relatório"));
    auto* form = new QFormLayout(grbDadosRel);
    lblReportNames = new TLabel(grbDadosRel, QStringLiteral("lblReportNames"));
    lblReportNames->setText(QStringLiteral("Layout"));
    cbbReportNames = new TComboBox(grbDadosRel, QStringLiteral("cbbReportNames"));
    cbbReportNames->setMinimumWidth(320);
    form->addRow(lblReportNames, cbbReportNames);

    rpddPadrao = new TReportDialog(this, QStringLiteral("rpddPadrao"));

    sbtConfirma->setText(QStringLiteral("Visualizar"));
    sbtConfirma->setHint(QStringLiteral("Visualizar a impressão"));
    sbtImprimir = new TSpeedButton(panBotoes, QStringLiteral("sbtImprimir"), QStringLiteral("Imprimir"));
    sbtImprimir->setText(QStringLiteral("Imprimir"));
    sbtSalvarPdf = new TSpeedButton(panBotoes, QStringLiteral("sbtSalvarPdf"), QStringLiteral("Salvar como PDF"));
    sbtSalvarPdf->setText(QStringLiteral("Salvar PDF"));
    sbtCancel->setText(QStringLiteral("Fechar"));
    sbtCancel->setHint(QStringLiteral("Fechar"));
    buttonsLayout()->insertWidget(1, sbtImprimir);
    buttonsLayout()->insertWidget(2, sbtSalvarPdf);
    sbtImprimir->OnClick = [this](QObject* s) { sbtImprimirClick(s); };
    sbtSalvarPdf->OnClick = [this](QObject* s) { sbtSalvarPdfClick(s); };
}

TfrmDadosGerRel::~TfrmDadosGerRel() = default;

QString TfrmDadosGerRel::CodRel() const { return lblCodRel->text(); }

void TfrmDadosGerRel::setCodRel(const QString& code)
{
    lblCodRel->setText(code);
    readLayouts();
}

void TfrmDadosGerRel::readLayouts()
{
    m_layoutFiles.clear();
    QStringList titles;
    const QString code = CodRel();
    if (!code.isEmpty()) {
        const QDir dir(QDir(report::reportFolder()).filePath(code));
        QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
        // The standard layout first, the others by name.
        if (files.removeAll(kStandardLayout) > 0)
            files.prepend(kStandardLayout);
        for (const QString& file : files) {
            m_layoutFiles << file;
            titles << layoutTitle(dir.filePath(file), QFileInfo(file).completeBaseName());
        }
    }
    cbbReportNames->setItems(titles);
    if (!titles.isEmpty())
        cbbReportNames->setItemIndex(0);
}

void TfrmDadosGerRel::FormShow(QObject* sender)
{
    TfrmRotiGeral::FormShow(sender);
    if (m_layoutFiles.isEmpty())
        readLayouts();
}

std::unique_ptr<report::Report> TfrmDadosGerRel::prepare(QString* error, bool* cancelled)
{
    *cancelled = false;
    const QString code = CodRel();
    const QDir root(report::reportFolder());
    const int index = cbbReportNames->currentIndex();
    const QString file = index >= 0 && index < m_layoutFiles.size() ? m_layoutFiles.at(index) : kStandardLayout;
    QFile f(root.filePath(code + QLatin1Char('/') + file));
    if (code.isEmpty() || !f.open(QIODevice::ReadOnly)) {
        *error = withValues(msgPadrao->Msg(QStringLiteral("Arq_Rel_Err")), {code, root.absolutePath()});
        return nullptr;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    report::ReportDefinition definition;
    if (!doc.isObject()) {
        *error = QStringLiteral("Definição do relatório %1 ilegível: %2").arg(code, parseError.errorString());
        return nullptr;
    }
    if (!report::ReportDefinition::fromJson(doc.object(), &definition, error))
        return nullptr;

    auto r = std::make_unique<report::Report>(std::move(definition));
    r->BeforeGetQueryParams = [this, cancelled](const QList<QueryParam*>& params, bool& cancel) {
        if (rpddPadrao->BeforeGetQueryParams)
            rpddPadrao->BeforeGetQueryParams(params, cancel);
        *cancelled = cancel;
    };
    if (!r->run(error))
        return nullptr;
    if (r->rows().isEmpty()) {
        *error = msgPadrao->Msg(QStringLiteral("Nao_dados"));
        return nullptr;
    }
    return r;
}

report::Report& TfrmDadosGerRel::prepareOrAbort()
{
    m_report.reset();
    QString error;
    bool cancelled = false;
    std::unique_ptr<report::Report> r = prepare(&error, &cancelled);
    if (cancelled)
        throw Abort();
    if (!r)
        MensErro(error, true);
    m_report = std::move(r);
    return *m_report;
}

void TfrmDadosGerRel::sbtConfirmaClick(QObject*)
{
    report::Report& r = prepareOrAbort();
    ui().printPreview(Caption(), [&r](QPagedPaintDevice* device) { return r.render(device); });
}

void TfrmDadosGerRel::sbtImprimirClick(QObject*)
{
    report::Report& r = prepareOrAbort();
    ui().printDocument(Caption(), [&r](QPagedPaintDevice* device) { return r.render(device); });
}

void TfrmDadosGerRel::sbtSalvarPdfClick(QObject*)
{
    QString path = ui().saveFileName(QStringLiteral("Salvar como PDF"), CodRel() + QStringLiteral(".pdf"),
                                     QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (!savePdf(path, &error))
        MensErro(error, true);
}

bool TfrmDadosGerRel::savePdf(const QString& path, QString* error)
{
    QString reason;
    bool done = false;
    try {
        m_report.reset();
        bool cancelled = false;
        m_report = prepare(&reason, &cancelled);
        if (cancelled && reason.isEmpty())
            reason = QStringLiteral("Impressão cancelada.");
        done = m_report && m_report->renderPdf(path, &reason);
    } catch (const Error& e) {
        reason = e.message().isEmpty() ? QStringLiteral("Impressão cancelada.") : e.message();
    }
    m_pdfError = done ? QString() : reason;
    if (!done && error)
        *error = reason;
    return done;
}

} // namespace fw
