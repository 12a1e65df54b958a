// CC-e screen: invoice retrieval from the filter button and the host's preset, and the
// invoice grid (pictures, texts, marks for transmission, search).
#include "module/Cli_dfs59000_Lista.h"

#include <QHash>
#include <QPainter>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59000_argumentos.h"
#include "module/Cli_dfs59100.h"
#include "vocabulary/Flags.h"
#include "vocabulary/Limits.h"

using cceGrid::clearMarkState;

namespace {

const QString kS = cce::check::kMarked;
const QString kN = cce::check::kUnmarked;
const QString kInvoiceKey = QStringLiteral("CDFILIAL;NRLANCTONF");

// State, NF-e environment and certificate of a state registration: marked invoices share them.
struct InscKeys {
    QString uf;
    QString ambiente;
    QString certificado;
};

// One pair passes when equal, or when nothing is marked yet and the shared key is free.
bool keyPasses(const QString& value, const QString& shared)
{
    return value == shared || (shared.isEmpty() && inCount == 0);
}

bool keysPass(const InscKeys& k)
{
    return keyPasses(k.uf, stSGinscEsta) && keyPasses(k.ambiente, stAmbiente) &&
           keyPasses(k.certificado, stCertificado);
}

// The registration's keys through the filter dialog's registration query (its own
// before-open handling limits it to the screen's company).
InscKeys readInscKeys(const QString& cdInscEsta)
{
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    fw::TADOIBQuery* q = dlg->qryInscrEstad;
    q->Close();
    q->ParamByName(QStringLiteral("P_CDINSCESTA"))->setAsString(cdInscEsta);
    q->ParamByName(QStringLiteral("P_TCDINSCESTA"))->setAsString(QString());
    q->Open();
    if (q->IsEmpty())
        return {};
    return {q->fieldByName(QStringLiteral("SGESTADO"))->asString(),
            q->fieldByName(QStringLiteral("IDTPAMBIENTENFE"))->asString(),
            q->fieldByName(QStringLiteral("NRSERIECERTIFIC"))->asString()};
}

// Keys of the registrations already read within one operation: marking many invoices of
// one registration reads it once.
class InscKeysCache {
public:
    const InscKeys& get(const QString& cdInscEsta)
    {
        auto it = m_keys.constFind(cdInscEsta);
        if (it == m_keys.constEnd())
            it = m_keys.insert(cdInscEsta, readInscKeys(cdInscEsta));
        return it.value();
    }

private:
    QHash<QString, InscKeys> m_keys;
};

// Freezes the views of a data set for a scope.
class ControlsFrozen {
public:
    explicit ControlsFrozen(fw::DataSet* ds) : m_ds(ds) { m_ds->disableControls(); }
    ~ControlsFrozen() { m_ds->enableControls(); }
    ControlsFrozen(const ControlsFrozen&) = delete;
    ControlsFrozen& operator=(const ControlsFrozen&) = delete;

private:
    fw::DataSet* m_ds;
};

// Holds back the after-scroll handling while an operation walks the rows: each move
// would narrow the letters again for a row that is only passed through. The caller
// runs it once for the row it ends on.
class ScrollHandlingHeld {
public:
    explicit ScrollHandlingHeld(fw::DataSet* ds) : m_ds(ds), m_saved(ds->AfterScroll) { m_ds->AfterScroll = nullptr; }
    ~ScrollHandlingHeld() { m_ds->AfterScroll = m_saved; }
    ScrollHandlingHeld(const ScrollHandlingHeld&) = delete;
    ScrollHandlingHeld& operator=(const ScrollHandlingHeld&) = delete;

private:
    fw::DataSet* m_ds;
    fw::DataSet::Handler m_saved;
};

void writeMark(TfrmTransmissaoCCe& f, const QString& value)
{
    const bool was = f.cdsNotaFiscalIDCHECK->asString() == kS;
    f.cdsNotaFiscal->edit();
    try {
        f.cdsNotaFiscalIDCHECK->setAsString(value);
        f.cdsNotaFiscal->post();
    } catch (...) {
        f.cdsNotaFiscal->cancel();
        throw;
    }
    cceGrid::markChanged(was, value == kS);
}

// Marks the current row when its registration shares the keys of the marked ones.
bool markCurrent(TfrmTransmissaoCCe& f, const InscKeys& keys)
{
    if (!keysPass(keys))
        return false;
    writeMark(f, kS);
    ++inCount;
    stSGinscEsta = keys.uf;
    stAmbiente = keys.ambiente;
    stCertificado = keys.certificado;
    return true;
}

QString presetText(const QVariant& v) { return fw::isNullOrEmpty(v) ? QString() : v.toString(); }

} // namespace

// --- decisions of the grid -----------------------------------------------------------------

namespace cceGrid {

namespace {
// The rows of the list whose IDCHECK is "S": counted when rows are loaded, then kept as
// marks are written, so no change of a mark has to look at every row.
int g_markedRows = 0;
} // namespace

void marksLoaded(const TfrmTransmissaoCCe& form)
{
    g_markedRows = 0;
    const int check = form.cdsNotaFiscalIDCHECK->index();
    for (int row = 0, n = form.cdsNotaFiscal->recordCount(); row < n; ++row)
        g_markedRows += form.cdsNotaFiscal->valueAt(row, check).toString() == kS ? 1 : 0;
}

int markedRows() { return g_markedRows; }

void markChanged(bool wasMarked, bool marked) { g_markedRows += (marked ? 1 : 0) - (wasMarked ? 1 : 0); }

void clearMarkState()
{
    inCount = 0;
    stSGinscEsta.clear();
    stAmbiente.clear();
    stCertificado.clear();
}

QColor transparentColour() { return QColor(128, 128, 0); }

bool isContingencyEmission(const QString& idTipoEmisNfe)
{
    if (idTipoEmisNfe.isEmpty())
        return false;
    const QChar c = idTipoEmisNfe.at(0);
    return c >= QLatin1Char('2') && c <= QLatin1Char('7');
}

QColor cellFontColour(const QString& idTipoEmisNfe, const QColor& normal)
{
    return isContingencyEmission(idTipoEmisNfe) ? QColor(255, 0, 0) : normal;
}

bool isPictureColumn(const QString& fieldName)
{
    return fieldName.compare(QLatin1String("IDCHECK"), Qt::CaseInsensitive) == 0 ||
           fieldName.compare(QLatin1String("IDSTATUSCCE"), Qt::CaseInsensitive) == 0;
}

fw::TImage* cellPicture(const TfrmTransmissaoCCe& form, const QString& fieldName, const QString& value)
{
    if (fieldName.compare(QLatin1String("IDCHECK"), Qt::CaseInsensitive) == 0) {
        if (value == kS)
            return form.imgCheck;
        if (value == kN)
            return form.imgUncheck;
        return nullptr;
    }
    if (fieldName.compare(QLatin1String("IDSTATUSCCE"), Qt::CaseInsensitive) == 0) {
        if (value == cce::idStatus::kNoLetter)
            return form.imgFarolCinza;
        if (value == cce::idStatus::kPending)
            return form.imgFarolAmarelo;
        if (value == cce::idStatus::kAccepted)
            return form.imgFarolVerde;
        if (value == cce::idStatus::kRejected)
            return form.imgFarolVermelho;
    }
    return nullptr;
}

bool isMarkable(const QString& idStatusCce)
{
    return idStatusCce == cce::idStatus::kPending || idStatusCce == cce::idStatus::kRejected;
}

} // namespace cceGrid

// --- invoice retrieval ---------------------------------------------------------------------

void TfrmTransmissaoCCe::sbtFiltroClick(QObject*)
{
    Vd_Empresa(true);
    pgcPadrao->setPageEnabled(tshFolhaDados, true);
    mnuFolhaDados->setEnabled(true);
    pgcPadrao->SetActivePage(tshFolhaDados);
    if (!CriaFiltroTransmissao())
        return;
    boFiltrado = true;
    clearMarkState();
    if (focusWidget() != medCdEmpresa)
        panEmpresaExit(this);
    dbgPadrao->setFocus();
}

void TfrmTransmissaoCCe::AplicaFiltro()
{
    if (fw::isNullOrEmpty(oleParam) || oleParam.metaType().id() != QMetaType::QVariantList)
        return;
    const QVariantList preset = oleParam.toList();
    const QVariant first = preset.value(0);
    if (first.metaType().id() != QMetaType::Bool || !first.toBool())
        return;
    // A shorter array than the host's layout gives Null for the elements it lacks.
    auto element = [&preset](int i) { return i < preset.size() ? preset.at(i) : fw::nullValue(); };

    medCdEmpresa->setText(presetText(element(28)));
    edtNmEmpresa->setText(presetText(element(29)));

    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    TRecordFilter& rec = dlg->RecordFilter;
    for (int n = 1; n <= TRecordFilter::FieldCount; ++n)
        rec.setField(n, element(n));
    dlg->setCriteriaCompany(medCdEmpresa->text());

    // The issuing branch is the issuing-branch criterion (CdFilial), as on the filter's
    // confirmation and on the refresh, which repeats this fetch from the same record:
    // CdFilialDest is the recipient branch and would narrow by the wrong party.
    fetchWith(rec);

    // The marks belong to the rows they were made on: a new list starts without any,
    // while a refused fetch keeps the list and its marks.
    if (cdsNotaFiscal->active()) {
        const int marked = cceGrid::markedRows();
        if (marked == 0)
            clearMarkState();
        else
            inCount = marked;
    } else {
        clearMarkState();
    }

    if (cdsNotaFiscal->active() && !cdsNotaFiscal->isEmpty() &&
        !cdsNotaFiscal->locate(kInvoiceKey, {presetText(element(30)), presetText(element(31))}))
        cdsNotaFiscal->first();

    // Leaving the company panel for the grid may ask for criteria; cancelling that ends
    // here: the preset stays for the next activation and the list is not taken as filtered.
    boFiltrado = false;
    if (!fw::moveFocus(dbgPadrao) && fw::focusedControl(this) != dbgPadrao)
        throw fw::Abort();
    boFiltrado = true;
    oleParam = fw::nullValue();
}

// The retrieval with a record of criteria, its branches as given. The date-range switch is
// left empty: the server is given both dates in every case.
void TfrmTransmissaoCCe::fetchWith(const TRecordFilter& rec)
{
    const bool semCentralizadora = CreateFiltroTransmissao()->semCentralizadora(rec.CdFilial, rec.CdFiliOrig);
    const NotaFiscalArgs a = notaFiscalArgs(rec, medCdEmpresa->text(), stTiposEmis, QString(), semCentralizadora);
    GetNotafiscal(a.filiEmit, a.filiOrig, a.tiposOper, a.empresa, a.inscEsta, a.inscMuni, a.serie, a.filiRece,
                  a.origDest, a.insJur, a.periodo, a.entrSaid, a.tiposEmis, a.saidIni, a.saidFim);
}

// --- invoice grid ---------------------------------------------------------------------------

void TfrmTransmissaoCCe::dbgPadraoDrawColumnCell(fw::TDBGrid* sender, QPainter*, const QRect& rect, int,
                                                 fw::Field* field, int)
{
    if (!cdsNotaFiscal->active() || cdsNotaFiscal->isEmpty() || !sender)
        return;
    fw::TCanvas* canvas = sender->Canvas();
    canvas->FontColor = cceGrid::cellFontColour(cdsNotaFiscalIDTIPOEMISNFE->asString(), canvas->FontColor);
    canvas->FillRect(rect);
    if (field)
        canvas->TextRect(rect, rect.left() + 2, rect.top() + 2, field->displayText());
    if (!field || !cceGrid::isPictureColumn(field->fieldName()))
        return;
    canvas->FillRect(rect);
    if (fw::TImage* img = cceGrid::cellPicture(*this, field->fieldName(), field->asString())) {
        const QPixmap pm = img->Picture();
        canvas->DrawTransparent(QRect(rect.left() + 4, rect.top(), pm.width(), rect.height()), pm,
                                cceGrid::transparentColour());
    }
}

void TfrmTransmissaoCCe::dbgPadraoDblClick(QObject*)
{
    if (!cdsNotaFiscal->active() || cdsNotaFiscal->isEmpty() || cdsNotaFiscal->state() != fw::DataSetState::Browse)
        return;

    if (cdsNotaFiscalIDCHECK->asString() != kN) {
        writeMark(*this, kN);
        // Every mark is counted where it is made (marking, the title's toggle, a fetch that
        // keeps its rows), so the count stays what a filter on the marks would find without
        // scanning every row.
        inCount = cceGrid::markedRows();
        if (inCount <= 0)
            clearMarkState();
        cdsNotaFiscalAfterScroll(cdsNotaFiscal);
        return;
    }

    if (!cceGrid::isMarkable(cdsNotaFiscalIDSTATUSCCE->asString()))
        return;
    if (inCount >= cce::kMaxInvoicesPerTransmission) {
        dbgPadrao->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("SELECAO_MAX")), true);
    }
    if (!markCurrent(*this, readInscKeys(cdsNotaFiscalCDINSCESTA->asString())))
        MensErro(msgPadrao->Msg(QStringLiteral("INSC_DIF")), true);
}

void TfrmTransmissaoCCe::dbgPadraoTitleClick(fw::TDBGrid* sender, int column)
{
    fw::Field* f = sender ? sender->columnField(column) : nullptr;
    if (!f || f->fieldName().compare(QLatin1String("IDCHECK"), Qt::CaseInsensitive) != 0)
        return;
    if (!cdsNotaFiscal->active())
        return;

    // Whatever happens, the display comes back and the first invoice is current.
    auto backToFirst = [this] {
        if (!cdsNotaFiscal->active())
            return;
        if (cdsNotaFiscal->state() != fw::DataSetState::Browse)
            cdsNotaFiscal->cancel();
        {
            ScrollHandlingHeld held(cdsNotaFiscal);
            cdsNotaFiscal->first();
        }
        cdsNotaFiscalAfterScroll(cdsNotaFiscal);
    };
    try {
        ControlsFrozen frozen(cdsNotaFiscal);
        ScrollHandlingHeld held(cdsNotaFiscal);
        if (inCount > 0) {
            for (cdsNotaFiscal->first(); !cdsNotaFiscal->eof(); cdsNotaFiscal->next()) {
                if (cdsNotaFiscalIDCHECK->asString() == kS)
                    writeMark(*this, kN);
            }
            clearMarkState();
        } else {
            InscKeysCache keys;
            for (cdsNotaFiscal->first(); !cdsNotaFiscal->eof() && inCount < cce::kMaxInvoicesPerTransmission;
                 cdsNotaFiscal->next()) {
                if (!cceGrid::isMarkable(cdsNotaFiscalIDSTATUSCCE->asString()) ||
                    cdsNotaFiscalIDCHECK->asString() != kN)
                    continue;
                markCurrent(*this, keys.get(cdsNotaFiscalCDINSCESTA->asString()));
            }
        }
    } catch (...) {
        backToFirst();
        throw;
    }
    backToFirst();
}

void TfrmTransmissaoCCe::cdsNotaFiscalNRINSJURNFGetText(fw::Field*, QString& text, bool)
{
    if (cdsNotaFiscalIDORIGDESTNF->asString() == QLatin1String("L")) {
        text = cdsNotaFiscalCDFILIRECE->asString();
        return;
    }
    const QString inscricao = cdsNotaFiscalNRINSJURNF->asString();
    // Nothing stored shows nothing, not an empty mask.
    text = inscricao.isEmpty() ? QString() : FormatMaskText(PictPess(cdsNotaFiscalIDTPIJURNF->asString()), inscricao);
}

void TfrmTransmissaoCCe::cdsNotaFiscalCDFILIEMITGetText(fw::Field*, QString& text, bool)
{
    const bool entrada = frmFiltroTransmissao && frmFiltroTransmissao->RecordFilter.IdOperacao != 0;
    text = entrada ? cdsNotaFiscalCDFILIRECE->asString() : cdsNotaFiscalCDFILIEMIT->asString();
}

void TfrmTransmissaoCCe::cdsNotaFiscalIDEMAILCCEGetText(fw::Field* sender, QString& text, bool)
{
    const QString v = sender->asString();
    if (v.isEmpty())
        text.clear();
    else if (v == cce::email::kSent)
        text = msgPadrao->Msg(QStringLiteral("ENVIADO"));
    else
        text = msgPadrao->Msg(QStringLiteral("PENDENTE"));
}

void TfrmTransmissaoCCe::cdsNotaFiscalIDEMAILCCETRANSGetText(fw::Field* sender, QString& text, bool)
{
    const QString v = sender->asString();
    if (v.isEmpty())
        text.clear();
    else if (v == cce::email::kSent)
        text = msgPadrao->Msg(QStringLiteral("ENVIADO"));
    else if (v == cce::email::kNone)
        text = msgPadrao->Msg(QStringLiteral("SEM_TRANSP"));
    else
        text = msgPadrao->Msg(QStringLiteral("PENDENTE"));
}

void TfrmTransmissaoCCe::cdsNotaFiscalIDTPAMBNFEGetText(fw::Field* sender, QString& text, bool)
{
    const QString v = sender->asString();
    if (v == QLatin1String("1"))
        text = msgPadrao->Msg(QStringLiteral("PRODUCAO"));
    else if (v == QLatin1String("2"))
        text = msgPadrao->Msg(QStringLiteral("HOMOLOGACAO"));
    else
        text.clear();
}

void TfrmTransmissaoCCe::cdsNotaFiscalNRLANCTONFGetText(fw::Field*, QString& text, bool)
{
    if (!cdsNotaFiscal->active() || cdsNotaFiscal->isEmpty()) {
        text.clear();
        return;
    }
    text = cdsNotaFiscalNRLANCTONF->asString() + QStringLiteral(" - ") + cdsNotaFiscalNMRAZSOCCLIE->asString();
}

void TfrmTransmissaoCCe::sbtProcurarClick(QObject*)
{
    fw::DataSet* ds = dtsNotaFiscal->dataSet();
    if (ds && ds->active())
        Procura(ds);
}
