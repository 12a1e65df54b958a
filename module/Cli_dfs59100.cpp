// The filter dialog: its record, creation, showing, closing and undo, and the criteria
// of another company.
#include "module/Cli_dfs59100.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>

#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/host/HostFunctions.h"
#include "core/ui/UiServices.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100_p.h"
#include "widgets/controls/ControlEvents.h"
#include "widgets/services/HostUi.h"

TfrmFiltroTransmissao* frmFiltroTransmissao = nullptr;
bool boConfirma = false;
bool boActive = false;
PKG_UNIT_GLOBAL QString stCodTipoOper;

using dfs59100::dateOnly;
using dfs59100::EmisBox;
using dfs59100::kEmis;

namespace {

int g_initCount = 0;

// Shows what the creation could not do and lets the dialog exist all the same.
void absorb(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const fw::Abort&) {
    } catch (const fw::Error& e) {
        MensErro(e.message(), false);
    } catch (const std::exception& e) {
        MensErro(QString::fromUtf8(e.what()), false);
    }
}

} // namespace

// --- the record ----------------------------------------------------------------------

QVariant TRecordFilter::field(int n) const
{
    switch (n) {
    case 1: return DestRem;
    case 2: return IdOperacao;
    case 3: return CdDestRem;
    case 4: return InscCliente;
    case 5: return NmCliente;
    case 6: return InscFornecedor;
    case 7: return NmRazSocForn;
    case 8: return CdFilialDest;
    case 9: return NmFilialDest;
    case 10: return CodTipoOper;
    case 11: return CdFilial;
    case 12: return NmFiliEmit;
    case 13: return CdInscEsta;
    case 14: return CdInscMuni;
    case 15: return CdSerie;
    case 16: return DtSaidIni;
    case 17: return DtSaidFim;
    case 18: return TodosTipoOper;
    case 19: return SemEmisNormal;
    case 20: return SemEmisContFS;
    case 21: return SemEmisContSCAN;
    case 22: return SemEmisContEPEC;
    case 23: return SemEmisContFSDA;
    case 24: return SemEmisContSVCAN;
    case 25: return SemEmisContSVCRS;
    case 26: return CdFiliOrig;
    case 27: return NmFilialOrig;
    default: return QVariant();
    }
}

void TRecordFilter::setField(int n, const QVariant& value)
{
    const bool null = !value.isValid() || value.isNull() || value.metaType().id() == QMetaType::Nullptr;
    auto toInt = [&] { return null ? 0 : value.toInt(); };
    auto toStr = [&] { return null ? QString() : value.toString(); };
    auto toBool = [&] { return null ? false : value.toBool(); };
    auto toDate = [&] {
        if (null)
            return QDateTime();
        if (value.metaType().id() == QMetaType::QDate)
            return dateOnly(value.toDate());
        if (value.metaType().id() == QMetaType::QString)
            return QDateTime::fromString(value.toString(), Qt::ISODate);
        return value.toDateTime();
    };
    switch (n) {
    case 1: DestRem = toInt(); break;
    case 2: IdOperacao = toInt(); break;
    case 3: CdDestRem = toStr(); break;
    case 4: InscCliente = toStr(); break;
    case 5: NmCliente = toStr(); break;
    case 6: InscFornecedor = toStr(); break;
    case 7: NmRazSocForn = toStr(); break;
    case 8: CdFilialDest = toStr(); break;
    case 9: NmFilialDest = toStr(); break;
    case 10: CodTipoOper = toStr(); break;
    case 11: CdFilial = toStr(); break;
    case 12: NmFiliEmit = toStr(); break;
    case 13: CdInscEsta = toStr(); break;
    case 14: CdInscMuni = toStr(); break;
    case 15: CdSerie = toStr(); break;
    case 16: DtSaidIni = toDate(); break;
    case 17: DtSaidFim = toDate(); break;
    case 18: TodosTipoOper = toBool(); break;
    case 19: SemEmisNormal = toBool(); break;
    case 20: SemEmisContFS = toBool(); break;
    case 21: SemEmisContSCAN = toBool(); break;
    case 22: SemEmisContEPEC = toBool(); break;
    case 23: SemEmisContFSDA = toBool(); break;
    case 24: SemEmisContSVCAN = toBool(); break;
    case 25: SemEmisContSVCRS = toBool(); break;
    case 26: CdFiliOrig = toStr(); break;
    case 27: NmFilialOrig = toStr(); break;
    default: break;
    }
}

// --- construction --------------------------------------------------------------------

TfrmFiltroTransmissao::TfrmFiltroTransmissao(QWidget* owner) : fw::TfrmRotiGeral(owner)
{
    setObjectName(QStringLiteral("frmFiltroTransmissao"));
    setCaption(QStringLiteral("Filtro Transmissão de Carta de Correção Eletrônica"));
    setCodTela(QStringLiteral("DFS59100"));
    HelpContext = 10915100;
    HelpFile = QStringLiteral("DfsHelp.hlp");

    msgPadrao->setLines(QStringList{
        QStringLiteral("TipoOper|Tipo de Operação"),
        QStringLiteral("Tipo_infor|Tipo de operação deve ser informado."),
        QStringLiteral("Tela_fechada|A tela de transmissão da CC-e não está aberta."),
        QStringLiteral("TpEmis_Inf|Tipo de emissão deve ser informado."),
        QStringLiteral("DtIni_Inf|Data de Saída Inicial deve ser informada."),
        QStringLiteral("DtFim_Inf|Data de Saída Final deve ser informada."),
        QStringLiteral("DtIni_maior|Data de saída inicial deve ser menor ou igual a data de saída final."),
        QStringLiteral("DtInf|Data de saída %s deve ser informada."),
        QStringLiteral("Inicial|inicial"),
        QStringLiteral("Final|final"),
        QStringLiteral("Clie_Cad|Cliente não cadastrado."),
        QStringLiteral("Forn_Cad|Fornecedor não cadastrado."),
        QStringLiteral("Filial_cad|Filial não cadastrada."),
        QStringLiteral("Filial_Relac|Filial não relacionada para a empresa informada."),
        QStringLiteral("Insc_Inf|Inscrição Estadual deve ser Informada."),
        QStringLiteral("InscEsta_Cad|Inscrição estadual não cadastrada."),
        QStringLiteral("Estadual_Relac|Inscrição estadual não relacionada para a empresa informada."),
        QStringLiteral("Insc_Muni|Inscrição Municipal deve ser Informada."),
        QStringLiteral("InscMuni_Cad|Inscrição municipal não cadastrada."),
        QStringLiteral("Municipal_Relac|Inscrição municipal não relacionada para a empresa informada."),
        QStringLiteral("Inf_Serie|Série deve ser Informada."),
        QStringLiteral("SerieNF_Cad|Série não cadastrada."),
        QStringLiteral("Busca_NR|Verificando número da nota fiscal no servidor..."),
        QStringLiteral("Serie|Série"),
        QStringLiteral("Clie_emp|Cliente não relacionado para a empresa informada."),
        QStringLiteral("Forn_emp|Fornecedor não relacionado para a empresa informada."),
        QStringLiteral("Cliente|Cliente"),
        QStringLiteral("Fornecedor|Fornecedor"),
        QStringLiteral("Serie_inf|Série deve ser informada."),
        QStringLiteral("TipoOper_inf|Tipo de operação deve ser informado."),
        QStringLiteral("E|Entrada"),
        QStringLiteral("A|Ambos"),
        QStringLiteral("CGC_inv|CNPJ inválido."),
        QStringLiteral("CPF_inv|CPF inválido."),
        QStringLiteral("J|Jurídica"),
        QStringLiteral("F|Física"),
        QStringLiteral("O|Outros"),
        QStringLiteral("I|Isento"),
        QStringLiteral("Serie_Relac|Série não relacionada para a empresa informada."),
        QStringLiteral("DtEmis_Inf|Data de emissão deve ser informada."),
        QStringLiteral("NrExp_Inf|Número de exportação deve ser informado."),
        QStringLiteral("DtSaid_Inv|Data de saída inválida."),
        QStringLiteral("SerieNF_Inf|Série da nota fiscal deve ser informada."),
        QStringLiteral("Filial_Dev|Filial deve ser informada."),
        QStringLiteral("FiliOrig_Cad|Filial de origem não cadastrada."),
    });

    createQueries();
    createControls();
    wireHandlers();
}

TfrmFiltroTransmissao::~TfrmFiltroTransmissao()
{
    if (frmFiltroTransmissao == this)
        frmFiltroTransmissao = nullptr;
}

// --- helpers -------------------------------------------------------------------------

QString TfrmFiltroTransmissao::companyCode() const
{
    return frmTransmissaoCCe ? frmTransmissaoCCe->medCdEmpresa->text() : EmprProc();
}

bool TfrmFiltroTransmissao::lenientMode() const
{
    if (!frmTransmissaoCCe || !frmTransmissaoCCe->cdsParamDFS->active() || frmTransmissaoCCe->cdsParamDFS->isEmpty())
        return false;
    return frmTransmissaoCCe->cdsParamDFS->fieldByName(QStringLiteral("IDNFILTROINSCR"))->asString() ==
           QLatin1String("S");
}

bool TfrmFiltroTransmissao::emprCntrFilHas(const QString& fields, const QVariantList& values)
{
    fw::LocateOptions opts;
    opts.caseInsensitive = true;
    return qryEmprCntrFil->locate(fields, values, opts);
}

// --- life of the dialog --------------------------------------------------------------

TfrmFiltroTransmissao* CreateFiltroTransmissao()
{
    if (!frmFiltroTransmissao)
        frmFiltroTransmissao = fw::createForm<TfrmFiltroTransmissao>(fw::formOwner());
    return frmFiltroTransmissao;
}

bool CriaFiltroTransmissao()
{
    fw::ui().setCursor(-11);
    // The cursor comes back whatever happens inside the showing.
    struct CursorBack {
        ~CursorBack() { fw::ui().setCursor(0); }
    } cursorBack;
    CreateFiltroTransmissao();
    fw::ui().execModal(frmFiltroTransmissao);
    return boConfirma;
}

void TfrmFiltroTransmissao::FormCreate(QObject* sender)
{
    fw::TfrmRotiGeral::FormCreate(sender);
    // A failure here (the issuing-branch check, the parameters) has been shown; the dialog
    // exists all the same and keeps the creation values of its record and controls.
    absorb([this] {
        Atualiza_Datas();
        boConfirma = false;
        const QString filtro = filtroInscricoes();
        const QColor colour = filtro == QLatin1String("S") ? fw::clWindow() : fw::clInfoBk();
        edtCdInscEsta->setColor(colour);
        edtCdInscMuni->setColor(colour);
        edtCdSerie->setColor(colour);

        branchDefaults(filtro, false);
    });
    m_empresa = companyCode();

    TRecordFilter& r = RecordFilter;
    r = TRecordFilter();
    r.DestRem = 3;
    r.IdOperacao = 0;
    r.DtSaidIni = dateOnly(depSaidIni->GetDate());
    r.DtSaidFim = dateOnly(depSaidFim->GetDate());
    r.TodosTipoOper = true;
    branchesToRecord();
    cbbDestRem->setItemIndex(3);
    nbkCliente->setPageIndex(3);
}

void TfrmFiltroTransmissao::branchDefaults(const QString& filtro, bool onlyTheCompanys)
{
    // The host's branch, unless the company has no relation to it.
    auto take = [&](const QString& filial) {
        if (!onlyTheCompanys)
            return true;
        reopenEmprCntrFil(filial);
        return emprCntrFilHas(QStringLiteral("CDEMPRESA;CDFILIAL"), {companyCode(), filial});
    };
    auto originFromHost = [&] {
        if (!take(FiliProc()))
            return;
        medCdFiliOrig->setText(FiliProc());
        qryFilial->Close();
        qryFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->setAsString(FiliProc());
        qryFilial->ParamByName(QStringLiteral("P_TODOS"))->setAsString(QString());
        qryFilial->Open();
        edtNmFilialOrig->setText(qryFilial->fieldByName(QStringLiteral("NMFILIAL"))->asString());
    };
    if (!EmptyString(medCdFilial->text()))
        return;
    if (filtro != QLatin1String("N")) {
        if (ModuFili())
            originFromHost();
        return;
    }
    if (ModuFili()) {
        originFromHost();
    } else {
        const int modulo = ModuloAtiv();
        const QString filial = modulo >= 14 && modulo <= 16 ? FiliProcFat() : FiliProc();
        if (take(filial))
            medCdFilial->setText(filial);
    }
    Vd_FiliEmit();
    if (onlyTheCompanys) {
        // Only what the company may use.
        PreencheCampos();
        return;
    }
    if (qryFilial->active() && !qryFilial->isEmpty()) {
        if (EmptyString(edtCdInscEsta->text()))
            edtCdInscEsta->setText(qryFilial->fieldByName(QStringLiteral("CDINSCESTA"))->asString());
        if (EmptyString(edtCdInscMuni->text()))
            edtCdInscMuni->setText(qryFilial->fieldByName(QStringLiteral("CDINSCMUNI"))->asString());
        if (EmptyString(edtCdSerie->text())) {
            edtCdSerie->setText(qryFilial->fieldByName(QStringLiteral("CDSERIE"))->asString());
            repaint();
        }
    }
}

void TfrmFiltroTransmissao::adoptCompany()
{
    // The branches, registrations and series of the criteria belong to the company they
    // were accepted for: for another company they start again from its own defaults, and
    // the first criterion takes the focus (whatever field was left with a value of the
    // other company, it is no longer there to be checked).
    m_empresa = companyCode();
    medCdFiliOrig->clear();
    edtNmFilialOrig->clear();
    medCdFilial->clear();
    edtFiliEmit->clear();
    edtCdInscEsta->clear();
    edtCdInscMuni->clear();
    edtCdSerie->clear();
    absorb([this] { branchDefaults(filtroInscricoes(), true); });
    branchesToRecord();
    fw::setFocusQuietly(ModuFili() ? static_cast<QWidget*>(edtCdInscEsta) : medCdFilial);
}

void TfrmFiltroTransmissao::setCriteriaCompany(const QString& empresa) { m_empresa = empresa; }

QString TfrmFiltroTransmissao::filtroInscricoes()
{
    if (!frmTransmissaoCCe)
        return QString();
    frmTransmissaoCCe->GetParamDFS();
    return frmTransmissaoCCe->cdsParamDFS->active()
               ? frmTransmissaoCCe->cdsParamDFS->fieldByName(QStringLiteral("IDNFILTROINSCR"))->asString()
               : QString();
}

void TfrmFiltroTransmissao::branchesToRecord()
{
    TRecordFilter& r = RecordFilter;
    r.CdFilial = medCdFilial->text();
    r.NmFiliEmit = edtFiliEmit->text();
    r.CdInscEsta = edtCdInscEsta->text();
    r.CdInscMuni = edtCdInscMuni->text();
    r.CdSerie = edtCdSerie->text();
    r.CdFiliOrig = medCdFiliOrig->text();
    r.NmFilialOrig = edtNmFilialOrig->text();
}

void TfrmFiltroTransmissao::FormShow(QObject*)
{
    if (companyCode() != m_empresa)
        adoptCompany();
    const TRecordFilter& r = RecordFilter;
    const bool livre = !ModuFili();
    for (QWidget* w :
         std::initializer_list<QWidget*>{lblFilial, medCdFilial, btpFiliEmit, lblOrig, medCdFiliOrig, btpFiliOrig})
        w->setEnabled(livre);

    qryEmprCntrFil->Close();
    qryEmprCntrFil->ParamByName(QStringLiteral("P_CDFILIAL"))->setAsString(r.CdFilial);
    qryEmprCntrFil->ParamByName(QStringLiteral("P_TCDFILIAL"))->setAsString(QString());
    qryEmprCntrFil->Open();

    boConfirma = false;
    m_confirmed = false;
    boActive = true;
    setResult(QDialog::Rejected);

    cbbIdOperacao->setItemIndex(r.IdOperacao);
    nbkCliente->setPageIndex(r.DestRem);
    switch (r.DestRem) {
    case 0:
        medCliente->setText(r.InscCliente);
        edtNmCliente->setText(r.NmCliente);
        break;
    case 1:
        medFornecedor->setText(r.InscFornecedor);
        edtNmRazSocForn->setText(r.NmRazSocForn);
        break;
    case 2:
        medFilial->setEditMask(QStringLiteral("9999;0; "));
        medFilial->setText(r.CdFilialDest);
        edtNmFilial->setText(r.NmFilialDest);
        break;
    default: break;
    }
    cbbDestRem->setItemIndex(r.DestRem);
    depSaidIni->SetDate(r.DtSaidIni.date());
    depSaidFim->SetDate(r.DtSaidFim.date());
    rdgTodosTipoOper->setChecked(r.TodosTipoOper);
    rdgListaTipoOper->setChecked(!r.TodosTipoOper);
    btpTipoOper->setEnabled(!r.TodosTipoOper);

    if (QWidget* active = focusWidget()) {
        if (rdgTodosTipoOper->Checked() && active->objectName() == QLatin1String("rdgListaTipoOper"))
            rdgTodosTipoOper->setFocus();
        else if (rdgListaTipoOper->Checked() && active->objectName() == QLatin1String("rdgTodosTipoOper"))
            rdgListaTipoOper->setFocus();
    }
    cbbIdOperacao->setItemIndex(r.IdOperacao);

    medCdFilial->setText(r.CdFilial);
    edtFiliEmit->setText(r.NmFiliEmit);
    edtCdInscEsta->setText(r.CdInscEsta);
    edtCdInscMuni->setText(r.CdInscMuni);
    edtCdSerie->setText(r.CdSerie);
    medCdFiliOrig->setText(r.CdFiliOrig);
    edtNmFilialOrig->setText(r.NmFilialOrig);

    for (const EmisBox& e : kEmis)
        (this->*e.box)->setChecked(!(r.*e.sem));
    stCodTipoOper = r.CodTipoOper;
}

void TfrmFiltroTransmissao::FormActivate(QObject*) { repaint(); }

void TfrmFiltroTransmissao::FormClose(QObject*, fw::TCloseAction& action)
{
    boActive = false;
    // Only a completed confirmation may report true; a close after a failed one
    // (Esc, the window's button) is a cancel.
    if (!m_confirmed)
        boConfirma = false;
    action = fw::TCloseAction::caHide;
}

void TfrmFiltroTransmissao::hideEvent(QHideEvent* event)
{
    // Hidden without a close (the modal loop ended otherwise): the same rule.
    boActive = false;
    if (!m_confirmed)
        boConfirma = false;
    fw::TfrmRotiGeral::hideEvent(event);
}

void TfrmFiltroTransmissao::FormKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift)
{
    fw::TfrmRotiGeral::FormKeyDown(sender, key, shift);
    if (key == Qt::Key_D && (shift & Qt::ControlModifier))
        sbtDesfazer->Click();
}

void TfrmFiltroTransmissao::sbtCancelClick(QObject* sender)
{
    fw::TfrmRotiGeral::sbtCancelClick(sender);
    boConfirma = false;
}

void TfrmFiltroTransmissao::sbtDesfazerClick(QObject*)
{
    medCliente->clear();
    medFilial->clear();
    // A command, not a move of the user's: the field left is not checked here.
    fw::setFocusQuietly(cbbDestRem);
    rdgTodosTipoOper->setChecked(true);
    rdgListaTipoOper->setChecked(false);
    btpTipoOper->setEnabled(false);
    cbbIdOperacao->setItemIndex(0);
    stCodTipoOper.clear();
    Atualiza_Datas();
    cbbDestRem->setItemIndex(3);
    nbkCliente->setPageIndex(3);
}

void TfrmFiltroTransmissao::PreencheCampos()
{
    fw::DataSet* defaults = nullptr;
    QString filial;
    if (!EmptyString(medCdFiliOrig->text())) {
        filial = medCdFiliOrig->text();
        defaults = qryFiliOrig;
    } else if (!EmptyString(medCdFilial->text())) {
        filial = medCdFilial->text();
        defaults = qryFilial;
    } else {
        return;
    }
    // The relations are read again whatever the branch's row says; without that row there
    // are no defaults to offer, and nothing below fills a field.
    qryEmprCntrFil->Close();
    qryEmprCntrFil->ParamByName(QStringLiteral("P_CDFILIAL"))->setAsString(filial);
    qryEmprCntrFil->Open();
    if (!defaults->active() || defaults->isEmpty())
        return;
    const QString empresa = companyCode();
    const QString inscEsta = defaults->fieldByName(QStringLiteral("CDINSCESTA"))->asString();
    const QString inscMuni = defaults->fieldByName(QStringLiteral("CDINSCMUNI"))->asString();
    const QString serie = defaults->fieldByName(QStringLiteral("CDSERIE"))->asString();

    if (EmptyString(edtCdInscEsta->text()) &&
        emprCntrFilHas(QStringLiteral("CDEMPRESA;CDINSCESTA"), {empresa, inscEsta}))
        edtCdInscEsta->setText(inscEsta);
    if (EmptyString(edtCdInscMuni->text()) && !EmptyString(edtCdInscEsta->text()) &&
        emprCntrFilHas(QStringLiteral("CDEMPRESA;CDINSCMUNI"), {empresa, inscMuni}))
        edtCdInscMuni->setText(inscMuni);
    if (EmptyString(edtCdSerie->text()) && edtCdInscEsta->text() == inscEsta && edtCdInscMuni->text() == inscMuni &&
        emprCntrFilHas(QStringLiteral("CDEMPRESA;CDINSCESTA;CDINSCMUNI;CDSERIE"), {empresa, inscEsta, inscMuni, serie}))
        edtCdSerie->setText(serie);
}

// --- unit start and end --------------------------------------------------------------

void Cli_dfs59100_Initialization()
{
    if (g_initCount++ == 0) {
        frmFiltroTransmissao = nullptr;
        boConfirma = false;
        boActive = false;
    }
}

void Cli_dfs59100_Finalization()
{
    if (g_initCount <= 0)
        return;
    if (--g_initCount == 0)
        stCodTipoOper.clear();
}

int Cli_dfs59100_InitCount() { return g_initCount; }
