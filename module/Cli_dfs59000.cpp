#include "module/Cli_dfs59000.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

#include "module/Cli_dfs59100.h"
#include "module/Cli_dfs59300.h"
#include "vocabulary/Flags.h"
#include "vocabulary/LetterText.h"

// --- globals of the unit ------------------------------------------------------------------

TfrmTransmissaoCCe* frmTransmissaoCCe = nullptr;
bool boStCriado = false;
bool boFiltrado = false;
qint32 inCount = 0;
PKG_UNIT_GLOBAL QString stSGinscEsta;
PKG_UNIT_GLOBAL QString stAmbiente;
PKG_UNIT_GLOBAL QString stCertificado;
PKG_UNIT_GLOBAL QVariant oleParam;

namespace {

int g_initCount = 0;

const QStringList& messageLines()
{
    static const QStringList lines = {
        QStringLiteral("EMP_N_CAD|Empresa não cadastrada."),
        QStringLiteral("EMP_DEVE_INF|Empresa deve ser informada."),
        QStringLiteral("ENVIADO|Enviado"),
        QStringLiteral("PENDENTE|Pendente"),
        QStringLiteral("SEM_TRANSP|Sem Transp."),
        QStringLiteral("SELECAO_MAX|Operação Bloqueada! Não é permitido selecionar mais de 20 notas."),
        QStringLiteral("PRODUCAO|Produção"),
        QStringLiteral("HOMOLOGACAO|Homologação"),
        QStringLiteral("OBS_I|Carta de Correção Pendente no Sistema"),
        QStringLiteral("CORRECAO_DEVE|Descrição da correção deve ser informada."),
        QStringLiteral("TRANSMITINDO|Transmitindo Carta de Correção Eletrônica..."),
        QStringLiteral(
            "CONDICAO_DE_USO|A Carta de Correção é disciplinada pelo § 1º-A do art. 7º do Convênio S/N, de 15 de "
            "dezembro de 1970 e pode ser utilizada para regularização de erro ocorrido na emissão de documento "
            "fiscal, desde que o erro não esteja relacionado com: I - as variáveis que determinam o valor do imposto "
            "tais como: base de cálculo, alíquota, diferença de preço, quantidade, valor da operação ou da "
            "prestação; II - a correção de dados cadastrais que implique mudança do remetente ou do destinatário; "
            "III - a data de emissão ou de saída.\r\n\r\nConfirma a Condição de Uso da Carta de Correção?"),
        QStringLiteral(
            "CCE_DEVE_SELECAO|Nota fiscal deve ser informada para transmissão da carta de correção eletrônica."),
        QStringLiteral(
            "CONDICAO_DE_USO_SEM_ACENTO|A Carta de Correcao e disciplinada pelo paragrafo 1o-A do art. 7o do "
            "Convenio S/N, de 15 de dezembro de 1970 e pode ser utilizada para regularizacao de erro ocorrido na "
            "emissao de documento fiscal, desde que o erro nao esteja relacionado com: I - as variaveis que "
            "determinam o valor do imposto tais como: base de calculo, aliquota, diferenca de preco, quantidade, "
            "valor da operacao ou da prestacao; II - a correcao de dados cadastrais que implique mudanca do "
            "remetente ou do destinatario; III - a data de emissao ou de saida."),
        QStringLiteral("CORRECAO_DEVE_15_1000|") + cce::letterLengthMessage(),
        QStringLiteral("EMAIL_SUCESSO|O e-mail foi enviado com sucesso."),
        QStringLiteral("SEM_EMAIL_PENDENTE|Não há e-mails pendentes para serem enviados."),
        QStringLiteral(
            "CCE_JA_ACEITA|Operação Bloqueada! Carta de correção eletrônica aceita pela Secretaria da Fazenda "
            "(SEFAZ)."),
        QStringLiteral("NF_NACEITA|Operação Bloqueada! Nota fiscal não aceita pela sefaz."),
        QStringLiteral(
            "PERMITE_CCE|Operação Bloqueada! A nota só pode ser corrigida 30 minutos depois da autorização de "
            "uso.\r\n\r\nData/Hora da Autorização de Uso: %s\r\nData/Hora para o Correção: após as %s do dia %s"),
        QStringLiteral("VD_TRANS_CCE|Validando Transmissão da CC-e..."),
        QStringLiteral("INSC_DIF|Operação Bloqueada! Não é possível selecionar notas de inscrições estaduais com UF's "
                       "distintas ou ambientes de transmissão distintos ou certificados distintos."),
        QStringLiteral("MCorr_Vinc|Atenção! Existe mais de um evento vinculado a NF-e.  Confirma a operação?"),
        QStringLiteral("NOTAS_RESPOSTA|Resposta inesperada do servidor de aplicação ao consultar as notas fiscais."),
        QStringLiteral("SETCCE_RESPOSTA|Resposta inesperada do servidor de aplicação ao gravar a carta de correção: "
                       "a alteração não foi confirmada."),
        QStringLiteral("TRANSMITE_RESPOSTA|Resposta inesperada do servidor de aplicação à transmissão: confira a "
                       "situação das cartas na lista atualizada."),
        QStringLiteral("EMAIL_RESPOSTA|Resposta inesperada do servidor de aplicação ao envio do e-mail: confira a "
                       "situação dos e-mails na lista atualizada."),
        QStringLiteral("XML_SEM_LANCTO|O servidor de aplicação não informou o lançamento da nota fiscal: o arquivo XML "
                       "não foi gravado."),
        QStringLiteral("XML_NOME_INVALIDO|O lançamento informado pelo servidor de aplicação não serve como nome de "
                       "arquivo: o arquivo XML não foi gravado."),
        QStringLiteral("XML_ARQ_INVALIDO|Já existe um item '%s' que não é um arquivo comum: o arquivo XML não foi "
                       "gravado."),
        QStringLiteral("XML_FALHA_SCHEMA|lote com falha na validação do esquema"),
        QStringLiteral("XML_REJEITADO|lote rejeitado pela SEFAZ"),
        QStringLiteral("XML_ARQUIVO|Arquivo: %s"),
        QStringLiteral("XML_ERRO_GRAVACAO|Erro de entrada/saída ao gravar o arquivo '%s': %s"),
    };
    return lines;
}

} // namespace

// --- the screen ----------------------------------------------------------------------------

TfrmTransmissaoCCe::TfrmTransmissaoCCe(QWidget* owner) : fw::TfrmPadrao(owner)
{
    // Handlers run during creation already reach the screen through the global.
    frmTransmissaoCCe = this;
    setObjectName(QStringLiteral("frmTransmissaoCCe"));
    setWindowTitle(QStringLiteral("Carta de Correção Eletrônica"));
    setCodTela(QStringLiteral("DFS59000"));
    msgPadrao->setLines(messageLines());

    createData();
    createControls();
    createMenus();
    createGridColumns();
    createLetterPage();
    m_built = true;
    dtsPadraoStateChange(dtsPadrao);
    medCdEmpresa->setFocus();
}

TfrmTransmissaoCCe::~TfrmTransmissaoCCe()
{
    // However the screen goes (closed, or its owner destroyed), the next call creates it anew.
    if (frmTransmissaoCCe == this) {
        frmTransmissaoCCe = nullptr;
        boStCriado = false;
    }
}

// --- life of the screen -------------------------------------------------------------------

void TfrmTransmissaoCCe::FormCreate(QObject* sender)
{
    TfrmPadrao::FormCreate(sender);
    netTransmissao->Open();
    netDocFiscSaid->Open();
    pgcPadrao->SetActivePage(tshFolhaDados);
    boFiltrado = false;
    inCount = 0;
    stSGinscEsta.clear();
    stAmbiente.clear();
    stCertificado.clear();
    medCdEmpresa->setText(EmprProc());
    Vd_Empresa(false);
}

void TfrmTransmissaoCCe::FormShow(QObject* sender)
{
    TfrmPadrao::FormShow(sender);
    medCdEmpresa->setFocus();
    medCdEmpresa->setText(EmprProc());
    Vd_Empresa(false);
}

void TfrmTransmissaoCCe::FormActivate(QObject*)
{
    dtsPadraoStateChange(dtsPadrao);
    repaint();
    AplicaFiltro();
}

void TfrmTransmissaoCCe::FormClose(QObject* sender, fw::TCloseAction& action)
{
    netDocFiscSaid->Close();
    netTransmissao->Close();
    boStCriado = false;
    TfrmPadrao::FormClose(sender, action);
}

// --- company and parameters -----------------------------------------------------------------

void TfrmTransmissaoCCe::Vd_Empresa(bool reportEmpty)
{
    try {
        edtNmEmpresa->clear();
        if (EmptyString(medCdEmpresa->text())) {
            if (reportEmpty)
                MensErro(msgPadrao->Msg(QStringLiteral("EMP_DEVE_INF")), true);
            return;
        }
        medCdEmpresa->setText(Ajusta(medCdEmpresa->text(), 2));
        qryEmpresa->Close();
        qryEmpresa->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(medCdEmpresa->text());
        qryEmpresa->ParamByName(QStringLiteral("P_TCDEMPRESA"))->setAsString(QString());
        qryEmpresa->Open();
        if (qryEmpresa->IsEmpty())
            MensErro(msgPadrao->Msg(QStringLiteral("EMP_N_CAD")), true);
        edtNmEmpresa->setText(qryEmpresaNMRAZSOCEMPR->asString());
    } catch (...) {
        medCdEmpresa->setFocus();
        throw;
    }
}

void TfrmTransmissaoCCe::medCdEmpresaChange(QObject*)
{
    cdsNotaFiscal->close();
    cdsCCe->close();
    edtNmEmpresa->clear();
    pgcPadrao->setPageEnabled(tshFolhaDados, true);
    mnuFolhaDados->setEnabled(true);
    pgcPadrao->SetActivePage(tshFolhaDados);
}

void TfrmTransmissaoCCe::panEmpresaEnter(QObject*)
{
    cdsNotaFiscal->close();
    cdsCCe->close();
    pgcPadrao->setPageEnabled(tshFolhaDados, true);
    mnuFolhaDados->setEnabled(true);
    pgcPadrao->SetActivePage(tshFolhaDados);
    dtsPadraoStateChange(dtsPadrao);
}

void TfrmTransmissaoCCe::panEmpresaExit(QObject*)
{
    if (!boFiltrado) {
        Vd_Empresa(true);
        if (CriaFiltroTransmissao()) {
            inCount = 0;
            stSGinscEsta.clear();
            stAmbiente.clear();
            stCertificado.clear();
            dbgPadrao->setFocus();
        } else {
            medCdEmpresa->setFocus();
            throw fw::Abort();
        }
    }
    boFiltrado = false;
}

void TfrmTransmissaoCCe::btpEmpresaBeforePesq(QObject*, bool&)
{
    qryEmpresa->Close();
    qryEmpresa->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(QString());
    qryEmpresa->ParamByName(QStringLiteral("P_TCDEMPRESA"))->setAsString(QStringLiteral("T"));
    qryEmpresa->Open();
}

void TfrmTransmissaoCCe::btpEmpresaAfterPesq(QObject*)
{
    // The code first: its change handler clears the name.
    medCdEmpresa->setText(qryEmpresaCDEMPRESA->asString());
    edtNmEmpresa->setText(qryEmpresaNMRAZSOCEMPR->asString());
}

void TfrmTransmissaoCCe::netTransmissaoBeforeConnect(QObject*)
{
    netTransmissao->setHost(WebURL());
    netTransmissao->setPort(WebPort());
}

void TfrmTransmissaoCCe::netDocFiscSaidBeforeConnect(QObject*)
{
    netDocFiscSaid->setHost(WebURL());
    netDocFiscSaid->setPort(WebPort());
}

void TfrmTransmissaoCCe::GetParamDFS()
{
    QString cdFilial;
    const QString filiOrig = frmFiltroTransmissao ? frmFiltroTransmissao->medCdFiliOrig->text() : QString();
    const QString filial = frmFiltroTransmissao ? frmFiltroTransmissao->medCdFilial->text() : QString();
    const int modulo = ModuloAtiv();
    if (!EmptyString(filiOrig))
        cdFilial = filiOrig;
    else if (!EmptyString(filial))
        cdFilial = filial;
    else if (modulo >= 14 && modulo <= 16)
        cdFilial = FiliProcFat();
    else
        cdFilial = FiliProc();

    if (cdsParamDFS->active() && cdsParamDFSCDFILIAL->asString() == cdFilial)
        return;

    const QVariant result = AppServer::GetParamDFS(*netDocFiscSaid, cdFilial);
    cdsParamDFS->setDataVariant(CheckResultServ(result, true, 0));
}

// --- invoice retrieval ---------------------------------------------------------------------

void TfrmTransmissaoCCe::GetNotafiscal(const QString& cdFiliEmit, const QString& cdFiliOrig, const QString& tiposOper,
                                       const QString& cdEmpresa, const QString& cdInscEsta, const QString& cdInscMuni,
                                       const QString& cdSerie, const QString& cdFiliRece, const QString& idOrigDest,
                                       const QString& nrInsJur, const QString& idPeriodo, const QString& idEntrSaid,
                                       const QString& tiposEmis, const QDateTime& dtSaidIni, const QDateTime& dtSaidFim)
{
    try {
        ActiveShowAvi(frmFiltroTransmissao, 6);
        const QVariant result = AppServer::GetNotaFiscal(
            *netTransmissao, cdFiliEmit, cdFiliOrig, tiposOper, cdEmpresa, cdInscEsta, cdInscMuni, cdSerie, cdFiliRece,
            idOrigDest, nrInsJur, idPeriodo, idEntrSaid, tiposEmis, ModuFili(), dtSaidIni, dtSaidFim);
        DeactiveShowAvi();
        if (IsResultError(result)) {
            MensErro(result.toString(), false);
        } else {
            const QVariantList parts = result.toList();
            if (parts.size() < 2 || !parts.at(0).canConvert<fw::DataPacket>() ||
                !parts.at(1).canConvert<fw::DataPacket>())
                throw fw::Error(msgPadrao->Msg(QStringLiteral("NOTAS_RESPOSTA")));
            cdsNotaFiscal->setDataVariant(parts.at(0));
            cdsCCe->setDataVariant(parts.at(1));
            const QString seq = cdsNotaFiscal->isEmpty() ? QString() : cdsNotaFiscalNRSEQCCE->asString();
            lblMaxCCe->setCaption(seq.isEmpty() || seq == cce::kNoLetterSequence ? QString()
                                                                                 : QStringLiteral("/ ") + seq);
        }
        dtsPadraoStateChange(dtsPadrao);
    } catch (...) {
        DeactiveShowAvi();
        throw;
    }
}

// --- invoice grid ---------------------------------------------------------------------------

void TfrmTransmissaoCCe::dbgPadraoKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift)
{
    TfrmPadrao::dbgPadraoKeyDown(sender, key, shift);
    if (key == Qt::Key_Space)
        dbgPadraoDblClick(sender);
}

void TfrmTransmissaoCCe::cdsNotaFiscalAfterScroll(fw::DataSet*)
{
    // Only the letters of the current invoice; keys are quoted as literals of the filter.
    cdsCCe->setFiltered(false);
    cdsCCe->setFilter(
        QStringLiteral("CDFILIAL = %1 AND NRLANCTONF = %2")
            .arg(filterLiteral(cdsNotaFiscalCDFILIAL->asString()), filterLiteral(cdsNotaFiscalNRLANCTONF->asString())));
    cdsCCe->setFiltered(true);
    dtsPadraoStateChange(dtsPadrao);
    const bool printable = cdsNotaFiscalIDSTATUSCCE->asString() == cce::idStatus::kAccepted;
    sbtImprimir->setEnabled(printable);
    mnuImprimir->setEnabled(printable);
}

void TfrmTransmissaoCCe::pgcPadraoChange(QObject* sender)
{
    TfrmPadrao::pgcPadraoChange(sender);
    dtsPadraoStateChange(dtsPadrao);
    // The letter's text takes the focus where it can be seen; on the data page a hidden
    // memo holding it would take the user's typing into the letter unseen.
    if (pgcPadrao->ActivePage() == tshFormulario)
        dbmCorrecao->setFocus();
    else
        dbgPadrao->setFocus();
}

QString TfrmTransmissaoCCe::filterLiteral(const QString& value)
{
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

// --- entry ----------------------------------------------------------------------------------

void CriaTransmissaoCCe(const QVariant& Param)
{
    fw::ui().setCursor(-11);
    // The hour-glass never stays on after a failure.
    struct CursorBack {
        ~CursorBack() { fw::ui().setCursor(0); }
    } cursorBack;
    const QVariant param = Param;
    // Only Null keeps a pending preset; Empty discards it.
    if (!fw::isNull(param))
        oleParam = param;
    const bool existed = boStCriado && frmTransmissaoCCe;
    if (!existed) {
        frmTransmissaoCCe = fw::createForm<TfrmTransmissaoCCe>(fw::formOwner());
        boStCriado = true;
    }
    frmTransmissaoCCe->setWindowState(frmTransmissaoCCe->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    const bool wasActive = existed && frmTransmissaoCCe->isVisible() && frmTransmissaoCCe->isFormActive();
    fw::showForm(frmTransmissaoCCe);
    // Already the active screen: no activation comes from showing it, so run it once here,
    // which applies a preset just handed over.
    if (wasActive)
        frmTransmissaoCCe->activateForm();
}

extern "C" void IniProc(const QVariant& Param)
{
    const QVariant param = Param;
    CriaTransmissaoCCe(param);
}

// --- unit start and end ------------------------------------------------------------------

void Cli_dfs59000_Initialization()
{
    if (g_initCount++ == 0)
        boStCriado = false;
}

void Cli_dfs59000_Finalization()
{
    if (g_initCount <= 0)
        return;
    if (--g_initCount == 0) {
        oleParam = QVariant();
        stCertificado.clear();
        stAmbiente.clear();
        stSGinscEsta.clear();
    }
}

int Cli_dfs59000_InitCount() { return g_initCount; }
