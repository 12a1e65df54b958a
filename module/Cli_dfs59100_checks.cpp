// The filter dialog's criteria: operation types, dates, recipients, branches,
// registrations and series, with their checks, lookups and change handlers.
#include "module/Cli_dfs59100.h"

#include "core/host/Context.h"
#include "core/host/HostFunctions.h"
#include "core/ui/UiServices.h"
#include "module/Cli_dfs59000.h"
#include "widgets/services/HostUi.h"

namespace {

// Runs a check; whatever raises inside it runs onFail (focus, clearing) and goes on.
template <typename Body, typename OnFail>
void guarded(Body&& body, OnFail&& onFail)
{
    try {
        body();
    } catch (...) {
        onFail();
        throw;
    }
}

void setParams(fw::TADOIBQuery* q, std::initializer_list<std::pair<const char*, QVariant>> params)
{
    for (const auto& p : params)
        q->ParamByName(QString::fromLatin1(p.first))->setValue(p.second);
}

void reopen(fw::TADOIBQuery* q, std::initializer_list<std::pair<const char*, QVariant>> params)
{
    q->Close();
    setParams(q, params);
    q->Open();
}

QString str(fw::DataSet* ds, const char* field) { return ds->fieldByName(QString::fromLatin1(field))->asString(); }

const QVariant kEmpty = QString();
const QVariant kT = QStringLiteral("T");

} // namespace

// --- operation types, direction, dates -------------------------------------------------

void TfrmFiltroTransmissao::cbbDestRemChange(QObject*)
{
    medCliente->clear();
    medFornecedor->clear();
    medFilial->clear();
    medCliente->setEditMask(QString());
    medFornecedor->setEditMask(QString());
    nbkCliente->setPageIndex(cbbDestRem->ItemIndex());
}

void TfrmFiltroTransmissao::cbbIdOperacaoChange(QObject*) { stCodTipoOper.clear(); }

void TfrmFiltroTransmissao::rdgTodosTipoOperClick(QObject*) { btpTipoOper->setEnabled(!rdgTodosTipoOper->Checked()); }

void TfrmFiltroTransmissao::rdgListaTipoOperClick(QObject*) { btpTipoOper->setEnabled(rdgListaTipoOper->Checked()); }

void TfrmFiltroTransmissao::btpTipoOperClick(QObject*)
{
    qryTipoTrans->Close();
    qryTipoTrans->Open();
    const QString modo = !qryTipoTrans->IsEmpty() && ModuFili() ? QStringLiteral("F") : QStringLiteral("N");
    reopen(qryTipoOper,
           {{"P_CDTIPOOPER", kEmpty},
            {"P_TCDTIPOOPER", kT},
            {"P_MODO", modo},
            {"P_IDOPERACAO", cbbIdOperacao->ItemIndex() == 0 ? QStringLiteral("S") : QStringLiteral("E")}});
    // Several types may be picked; the keys ("S01") come joined by ";", as the server
    // reads them, and the ones already chosen come checked.
    PesquisaLista(dtsTipoOper, QStringLiteral("CHAVE"), msgPadrao->Msg(QStringLiteral("TipoOper")), false,
                  stCodTipoOper);
}

void TfrmFiltroTransmissao::depSaidIniExit(QObject*) { depSaidIni->CheckValidDate(); }

void TfrmFiltroTransmissao::depSaidFimExit(QObject*) { depSaidFim->CheckValidDate(); }

void TfrmFiltroTransmissao::Atualiza_Datas()
{
    const QDate hoje = DataProc(FiliProc());
    depSaidIni->SetDate(PriDiaMes(hoje));
    depSaidFim->SetDate(hoje);
}

void TfrmFiltroTransmissao::Vd_Datas(fw::TDateEditPlus* Ini, fw::TDateEditPlus* Fim)
{
    fw::TDateEditPlus* alvo = Ini;
    auto fail = [this](const char* key) { MensErro(msgPadrao->Msg(QString::fromLatin1(key)), true); };
    guarded(
        [&] {
            if (Ini->IsEmpty())
                fail("DtIni_Inf");
            Ini->CheckValidDate();
            alvo = Fim;
            if (Fim->IsEmpty())
                fail("DtFim_Inf");
            Fim->CheckValidDate();
            if (!Ini->IsEmpty() && !Fim->IsEmpty()) {
                alvo = Ini;
                if (Fim->GetDate() < Ini->GetDate())
                    fail("DtIni_maior");
            }
            if (Ini->IsEmpty() && Fim->IsEmpty())
                return;
            const QString tpl = msgPadrao->Msg(QStringLiteral("DtInf"));
            if (Ini->IsEmpty()) {
                alvo = Ini;
                MensErro(QString(tpl).replace(QLatin1String("%s"), msgPadrao->Msg(QStringLiteral("Inicial"))), true);
            }
            if (Fim->IsEmpty()) {
                alvo = Fim;
                MensErro(QString(tpl).replace(QLatin1String("%s"), msgPadrao->Msg(QStringLiteral("Final"))), true);
            }
        },
        [&] { alvo->setFocus(); });
}

// --- recipient -------------------------------------------------------------------------

void TfrmFiltroTransmissao::Vd_Cliente()
{
    guarded(
        [this] {
            if (EmptyString(medCliente->text())) {
                edtNmCliente->clear();
                return;
            }
            QString insc = medCliente->text();
            Ajusta_Inscricao(insc);
            medCliente->setText(insc);
            reopen(qryCliente, {{"P_TODOS", QStringLiteral("N")}, {"P_NRINSJURCLIE", medCliente->text()}});
            if (qryCliente->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("Clie_Cad")), true);
            medCliente->setEditMask(PictPess(str(qryCliente, "IDTPIJURCLIE")));
            edtNmCliente->setText(str(qryCliente, "NMRAZSOCCLIE"));
        },
        [this] { medCliente->setFocus(); });
}

void TfrmFiltroTransmissao::Vd_Fornecedor()
{
    guarded(
        [this] {
            if (EmptyString(medFornecedor->text())) {
                edtNmRazSocForn->clear();
                return;
            }
            QString insc = medFornecedor->text();
            Ajusta_Inscricao(insc);
            medFornecedor->setText(insc);
            reopen(qryFornecedor, {{"P_TODOS", QStringLiteral("N")}, {"P_NRINSJURFORN", medFornecedor->text()}});
            if (qryFornecedor->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("Forn_Cad")), true);
            medFornecedor->setEditMask(PictPess(str(qryFornecedor, "IDTPIJURFORN")));
            edtNmRazSocForn->setText(str(qryFornecedor, "NMRAZSOCFORN"));
        },
        [this] { medFornecedor->setFocus(); });
}

void TfrmFiltroTransmissao::Vd_Filial()
{
    guarded(
        [this] {
            if (EmptyString(medFilial->text())) {
                edtNmFilial->clear();
                return;
            }
            medFilial->setText(Ajusta(medFilial->text(), 4));
            reopen(qryFilial, {{"P_CDFILIAL", medFilial->text()}, {"P_TODOS", kEmpty}});
            if (qryFilial->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("Filial_Cad")), true);
            edtNmFilial->setText(str(qryFilial, "NMFILIAL"));
        },
        [this] { medFilial->setFocus(); });
}

void TfrmFiltroTransmissao::medClienteEnter(QObject*)
{
    const fw::TNotifyEvent handler = medCliente->OnChange;
    medCliente->OnChange = nullptr;
    medCliente->setEditMask(QString());
    medCliente->setMaxLength(20);
    medCliente->OnChange = handler;
}

void TfrmFiltroTransmissao::medFornecedorEnter(QObject*)
{
    const fw::TNotifyEvent handler = medFornecedor->OnChange;
    medFornecedor->OnChange = nullptr;
    medFornecedor->setEditMask(QString());
    medFornecedor->setMaxLength(20);
    medFornecedor->OnChange = handler;
}

void TfrmFiltroTransmissao::medClienteChange(QObject*) { edtNmCliente->clear(); }
void TfrmFiltroTransmissao::medFornecedorChange(QObject*) { edtNmRazSocForn->clear(); }
void TfrmFiltroTransmissao::medFilialChange(QObject*) { edtNmFilial->clear(); }
void TfrmFiltroTransmissao::medClienteExit(QObject*) { Vd_Cliente(); }
void TfrmFiltroTransmissao::medFornecedorExit(QObject*) { Vd_Fornecedor(); }
void TfrmFiltroTransmissao::medFilialExit(QObject*) { Vd_Filial(); }

void TfrmFiltroTransmissao::btpClienteBeforePesq(QObject*, bool&)
{
    reopen(qryCliente, {{"P_NRINSJURCLIE", kEmpty}, {"P_TODOS", kT}});
}

void TfrmFiltroTransmissao::btpClienteAfterPesq(QObject*)
{
    medCliente->setText(str(qryCliente, "NRINSJURCLIE"));
    edtNmCliente->setText(str(qryCliente, "NMRAZSOCCLIE"));
}

void TfrmFiltroTransmissao::btpFornecedorBeforePesq(QObject*, bool&)
{
    reopen(qryFornecedor, {{"P_NRINSJURFORN", QVariant()}, {"P_TODOS", kT}});
}

void TfrmFiltroTransmissao::btpFornecedorAfterPesq(QObject*)
{
    medFornecedor->setText(str(qryFornecedor, "NRINSJURFORN"));
    edtNmRazSocForn->setText(str(qryFornecedor, "NMRAZSOCFORN"));
}

void TfrmFiltroTransmissao::btpFilialBeforePesq(QObject*, bool&)
{
    reopen(qryFilial, {{"P_CDFILIAL", kEmpty}, {"P_TODOS", kT}});
}

void TfrmFiltroTransmissao::btpFilialAfterPesq(QObject*)
{
    medFilial->setText(str(qryFilial, "CDFILIAL"));
    edtNmFilial->setText(str(qryFilial, "NMFILIAL"));
}

void TfrmFiltroTransmissao::qryClienteNRINSJURCLIEGetText(fw::Field* sender, QString& text, bool)
{
    const QString stored = sender->asString();
    text = stored.isEmpty() ? QString() : FormatMaskText(PictPess(str(qryCliente, "IDTPIJURCLIE")), stored);
}

void TfrmFiltroTransmissao::qryFornecedorNRINSJURFORNGetText(fw::Field* sender, QString& text, bool)
{
    const QString stored = sender->asString();
    text = stored.isEmpty() ? QString() : FormatMaskText(PictPess(str(qryFornecedor, "IDTPIJURFORN")), stored);
}

// --- issuing and origin branches -----------------------------------------------------------

void TfrmFiltroTransmissao::reopenEmprCntrFil(const QString& filial)
{
    reopen(qryEmprCntrFil, {{"P_CDFILIAL", filial}, {"P_TCDFILIAL", kEmpty}});
}

void TfrmFiltroTransmissao::Vd_FiliEmit()
{
    guarded(
        [this] {
            if (EmptyString(medCdFilial->text())) {
                edtFiliEmit->clear();
                return;
            }
            medCdFilial->setText(Ajusta(medCdFilial->text(), 4));
            const QString code = medCdFilial->text();
            reopen(qryFilial, {{"P_CDFILIAL", code}, {"P_TODOS", kEmpty}});
            if (qryFilial->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("Filial_Cad")), true);
            edtFiliEmit->setText(str(qryFilial, "NMFILIAL"));
            reopenEmprCntrFil(code);
            // While the dialog is being created the relation is not reported.
            if (!emprCntrFilHas(QStringLiteral("CDEMPRESA;CDFILIAL"), {companyCode(), code}) && isVisible())
                MensErro(msgPadrao->Msg(QStringLiteral("Filial_Relac")), true);
        },
        [this] {
            if (ModuFili())
                edtCdInscEsta->setFocus();
            else
                medCdFilial->setFocus();
        });
}

void TfrmFiltroTransmissao::Vd_FiliOrig()
{
    guarded(
        [this] {
            if (EmptyString(medCdFiliOrig->text()))
                return;
            medCdFiliOrig->setText(Ajusta(medCdFiliOrig->text(), 4));
            const QString code = medCdFiliOrig->text();
            qryFiliOrig->Close();
            setParams(qryFiliOrig, {{"P_CDFILIAL", code}, {"P_TODOS", kEmpty}});
            if (EmptyString(medCdFilial->text()))
                setParams(qryFiliOrig, {{"P_CDFILIFISC", kEmpty}, {"P_TCDFILIFISC", kT}});
            else
                setParams(qryFiliOrig, {{"P_CDFILIFISC", medCdFilial->text()}, {"P_TCDFILIFISC", kEmpty}});
            qryFiliOrig->Open();
            if (qryFiliOrig->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("Filial_cad")), true);
            edtNmFilialOrig->setText(str(qryFiliOrig, "NMFILIAL"));
            reopenEmprCntrFil(code);
            if (!emprCntrFilHas(QStringLiteral("CDEMPRESA;CDFILIAL"), {companyCode(), code}) && isVisible())
                MensErro(msgPadrao->Msg(QStringLiteral("Filial_Relac")), true);
        },
        [this] {
            edtNmFilialOrig->clear();
            medCdFiliOrig->setFocus();
        });
}

void TfrmFiltroTransmissao::medCdFilialChange(QObject*)
{
    if (!EmptyString(medCdFiliOrig->text()))
        return;
    edtFiliEmit->clear();
    edtCdInscEsta->clear();
    edtCdInscMuni->clear();
}

void TfrmFiltroTransmissao::medCdFilialExit(QObject*)
{
    Vd_FiliEmit();
    if (frmTransmissaoCCe)
        frmTransmissaoCCe->GetParamDFS();
    PreencheCampos();
}

void TfrmFiltroTransmissao::medCdFiliOrigChange(QObject*)
{
    edtCdInscEsta->clear();
    edtCdInscMuni->clear();
    edtCdSerie->clear();
    edtNmFilialOrig->clear();
}

void TfrmFiltroTransmissao::medCdFiliOrigExit(QObject*)
{
    Vd_FiliOrig();
    PreencheCampos();
}

void TfrmFiltroTransmissao::btpFiliEmitAfterPesq(QObject*)
{
    medCdFilial->setText(str(qryFilial, "CDFILIAL"));
    edtFiliEmit->setText(str(qryFilial, "NMFILIAL"));
}

void TfrmFiltroTransmissao::btpFiliOrigBeforePesq(QObject*, bool&)
{
    if (frmTransmissaoCCe)
        frmTransmissaoCCe->GetParamDFS();
    qryFiliOrig->Close();
    setParams(qryFiliOrig, {{"P_CDFILIAL", kEmpty}, {"P_TODOS", kT}});
    if (EmptyString(medCdFilial->text()))
        setParams(qryFiliOrig, {{"P_CDFILIFISC", kEmpty}, {"P_TCDFILIFISC", kT}});
    else
        setParams(qryFiliOrig, {{"P_CDFILIFISC", medCdFilial->text()}, {"P_TCDFILIFISC", kEmpty}});
    qryFiliOrig->Open();
}

void TfrmFiltroTransmissao::btpFiliOrigAfterPesq(QObject*)
{
    medCdFiliOrig->setText(str(qryFiliOrig, "CDFILIAL"));
    edtNmFilialOrig->setText(str(qryFiliOrig, "NMFILIAL"));
}

// --- registrations and series ------------------------------------------------------------

void TfrmFiltroTransmissao::openEmprCntrFilForContext()
{
    qryEmprCntrFil->Close();
    if (!EmptyString(medCdFiliOrig->text()))
        setParams(qryEmprCntrFil, {{"P_CDFILIAL", medCdFiliOrig->text()}, {"P_TCDFILIAL", kEmpty}});
    else if (!EmptyString(medCdFilial->text()))
        setParams(qryEmprCntrFil, {{"P_CDFILIAL", medCdFilial->text()}, {"P_TCDFILIAL", kEmpty}});
    else
        setParams(qryEmprCntrFil, {{"P_CDFILIAL", kEmpty}, {"P_TCDFILIAL", kT}});
    qryEmprCntrFil->Open();
}

void TfrmFiltroTransmissao::Vd_CdInscEsta()
{
    guarded(
        [this] {
            const QString insc = edtCdInscEsta->text();
            if (EmptyString(insc)) {
                if (!lenientMode())
                    MensErro(msgPadrao->Msg(QStringLiteral("Insc_Inf")), true);
                return;
            }
            reopen(qryInscrEstad, {{"P_CDINSCESTA", insc}, {"P_TCDINSCESTA", kEmpty}});
            if (qryInscrEstad->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("InscEsta_Cad")), true);
            openEmprCntrFilForContext();
            if (!emprCntrFilHas(QStringLiteral("CDEMPRESA;CDINSCESTA"), {companyCode(), insc}))
                MensErro(msgPadrao->Msg(QStringLiteral("Estadual_Relac")), true);
        },
        [this] { edtCdInscEsta->setFocus(); });
}

void TfrmFiltroTransmissao::Vd_CdInscMuni()
{
    guarded(
        [this] {
            const QString insc = edtCdInscMuni->text();
            if (EmptyString(insc)) {
                if (!lenientMode())
                    MensErro(msgPadrao->Msg(QStringLiteral("Insc_Muni")), true);
                return;
            }
            reopen(qryInscrMunicip,
                   {{"P_CDEMPRESA", companyCode()}, {"P_CDINSCMUNI", insc}, {"P_TCDINSCMUNI", kEmpty}});
            if (qryInscrMunicip->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("InscMuni_Cad")), true);
            openEmprCntrFilForContext();
            if (!emprCntrFilHas(QStringLiteral("CDEMPRESA;CDINSCMUNI"), {companyCode(), insc}))
                MensErro(msgPadrao->Msg(QStringLiteral("Municipal_Relac")), true);
        },
        [this] { edtCdInscMuni->setFocus(); });
}

fw::TADOIBQuery* TfrmFiltroTransmissao::seriesQueryInUse() const
{
    const bool exact = !lenientMode() || (!EmptyString(edtCdInscEsta->text()) && !EmptyString(edtCdInscMuni->text()));
    return exact ? qrySerieNF : qryTodasSerieNF;
}

void TfrmFiltroTransmissao::setSeriesQueryParams(fw::TADOIBQuery* q, bool forLookup)
{
    auto reg = [q, this](const QString& text) -> QVariant {
        return q == qryTodasSerieNF && EmptyString(text) ? kT : QVariant(text);
    };
    setParams(q, {{"P_CDINSCESTA", reg(edtCdInscEsta->text())},
                  {"P_CDINSCMUNI", reg(edtCdInscMuni->text())},
                  {"P_CDSERIE", forLookup ? QVariant() : QVariant(edtCdSerie->text())}});
}

void TfrmFiltroTransmissao::Vd_Serie()
{
    guarded(
        [this] {
            if (EmptyString(edtCdSerie->text())) {
                if (!lenientMode())
                    MensErro(msgPadrao->Msg(QStringLiteral("Inf_Serie")), true);
                return;
            }
            fw::TADOIBQuery* q = seriesQueryInUse();
            q->Close();
            setSeriesQueryParams(q, false);
            q->Open();
            if (q->IsEmpty())
                MensErro(msgPadrao->Msg(QStringLiteral("SerieNF_Cad")), true);
        },
        [this] {
            edtCdSerie->setFocus();
            boConfirma = false;
            DeactiveShowAvi();
        });
}

void TfrmFiltroTransmissao::edtCdInscEstaChange(QObject*)
{
    edtCdInscMuni->clear();
    edtCdSerie->clear();
}

void TfrmFiltroTransmissao::edtCdInscMuniChange(QObject*) { edtCdSerie->clear(); }

void TfrmFiltroTransmissao::edtCdInscEstaExit(QObject*) { Vd_CdInscEsta(); }
void TfrmFiltroTransmissao::edtCdInscMuniExit(QObject*) { Vd_CdInscMuni(); }

void TfrmFiltroTransmissao::edtCdSerieExit(QObject*)
{
    ActiveShowAvi(this, 1, msgPadrao->Msg(QStringLiteral("Busca_NR")));
    Vd_Serie();
    DeactiveShowAvi();
}

void TfrmFiltroTransmissao::btnInscrEstadBeforePesq(QObject*, bool&)
{
    reopen(qryInscrEstad, {{"P_CDINSCESTA", kEmpty}, {"P_TCDINSCESTA", kT}});
}

void TfrmFiltroTransmissao::btnInscrEstadAfterPesq(QObject*)
{
    edtCdInscEsta->setText(str(qryInscrEstad, "CDINSCESTA"));
}

void TfrmFiltroTransmissao::btpInscrMunicipBeforePesq(QObject*, bool&)
{
    reopen(qryInscrMunicip, {{"P_CDEMPRESA", companyCode()}, {"P_CDINSCMUNI", kEmpty}, {"P_TCDINSCMUNI", kT}});
}

void TfrmFiltroTransmissao::btpInscrMunicipAfterPesq(QObject*)
{
    edtCdInscMuni->setText(str(qryInscrMunicip, "CDINSCMUNI"));
}

void TfrmFiltroTransmissao::btpSerieNFBeforePesq(QObject*, bool&)
{
    fw::TADOIBQuery* q = seriesQueryInUse();
    dtsSerieNF->setDataSet(q);
    q->Close();
    setSeriesQueryParams(q, true);
    q->Open();
}

void TfrmFiltroTransmissao::btpSerieNFAfterPesq(QObject*) { edtCdSerie->setText(str(seriesQueryInUse(), "CDSERIE")); }

void TfrmFiltroTransmissao::qryInscrEstadBeforeOpen(fw::DataSet*)
{
    qryInscrEstad->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(companyCode());
}

void TfrmFiltroTransmissao::qrySerieNFBeforeOpen(fw::DataSet*)
{
    qrySerieNF->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(companyCode());
}

void TfrmFiltroTransmissao::qryTodasSerieNFBeforeOpen(fw::DataSet*)
{
    qryTodasSerieNF->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(companyCode());
}
