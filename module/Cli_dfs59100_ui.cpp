// The filter dialog: its construction (controls, layout, queries' handlers).
#include "module/Cli_dfs59100.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>

#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/host/HostFunctions.h"
#include "core/ui/UiServices.h"
#include "module/Cli_dfs59000.h"
#include "widgets/controls/Edits.h"
#include "widgets/services/HostUi.h"

namespace {

const QString kMaskFilial = QStringLiteral(">aaaa;0; ");

} // namespace

void TfrmFiltroTransmissao::createControls()
{
    QWidget* g = grbDadosRel;
    g->setMinimumSize(560, 400);
    auto place = [](QWidget* w, int x, int y, int width, int height = 21) { w->setGeometry(x, y, width, height); };
    auto nameEdit = [](fw::TEdit* e) {
        e->setEnabled(false);
        e->setTabStop(false);
    };
    auto lookup = [](fw::TBtnPesquisa* b, const QString& title, const QString& empty, fw::TDataSource* ds,
                     QWidget* associate) {
        b->setHint(QStringLiteral("Pesquisar"));
        b->setText(QStringLiteral("..."));
        b->Title = title;
        b->EmptyError = empty;
        b->setDataSource(ds);
        b->setAssociate(associate);
    };

    // Upper block: branches, registrations, series.
    lblFilial = new fw::TLabel(g, QStringLiteral("lblFilial"), QStringLiteral("Filial Centralizadora"));
    medCdFilial = new fw::TMaskEdit(g, QStringLiteral("medCdFilial"));
    btpFiliEmit = new fw::TBtnPesquisa(g, QStringLiteral("btpFiliEmit"));
    edtFiliEmit = new fw::TEdit(g, QStringLiteral("edtFiliEmit"));
    lblOrig = new fw::TLabel(g, QStringLiteral("lblOrig"), QStringLiteral("Filial de Origem"));
    medCdFiliOrig = new fw::TMaskEdit(g, QStringLiteral("medCdFiliOrig"));
    btpFiliOrig = new fw::TBtnPesquisa(g, QStringLiteral("btpFiliOrig"));
    edtNmFilialOrig = new fw::TEdit(g, QStringLiteral("edtNmFilialOrig"));
    lblInscEsta = new fw::TLabel(g, QStringLiteral("lblInscEsta"), QStringLiteral("Insc. Estadual"));
    edtCdInscEsta = new fw::TEdit(g, QStringLiteral("edtCdInscEsta"));
    btnInscrEstad = new fw::TBtnPesquisa(g, QStringLiteral("btnInscrEstad"));
    lblInscMuni = new fw::TLabel(g, QStringLiteral("lblInscMuni"), QStringLiteral("Insc. Municipal"));
    edtCdInscMuni = new fw::TEdit(g, QStringLiteral("edtCdInscMuni"));
    btpInscrMunicip = new fw::TBtnPesquisa(g, QStringLiteral("btpInscrMunicip"));
    lblSerie = new fw::TLabel(g, QStringLiteral("lblSerie"), QStringLiteral("Série"));
    edtCdSerie = new fw::TEdit(g, QStringLiteral("edtCdSerie"));
    btpSerieNF = new fw::TBtnPesquisa(g, QStringLiteral("btpSerieNF"));

    for (fw::TLabel* l : {lblFilial, lblOrig, lblInscEsta, lblInscMuni, lblSerie}) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    lblFilial->setBuddy(medCdFilial);
    lblInscEsta->setBuddy(edtCdInscEsta);
    lblInscMuni->setBuddy(edtCdInscMuni);
    for (fw::TMaskEdit* m : {medCdFilial, medCdFiliOrig}) {
        m->setEditMask(kMaskFilial);
        m->setMaxLength(4);
    }
    nameEdit(edtFiliEmit);
    nameEdit(edtNmFilialOrig);
    for (fw::TEdit* e : {edtCdInscEsta, edtCdInscMuni, edtCdSerie})
        e->setCharCase(fw::TEditCharCase::Upper);
    edtCdInscEsta->setMaxLength(16);
    edtCdInscMuni->setMaxLength(16);
    edtCdSerie->setMaxLength(5);
    edtCdSerie->setColor(fw::clInfoBk());
    lookup(btpFiliEmit, QStringLiteral("Filial"), QStringLiteral("Não há filial cadastrada."), dtsFilial, medCdFilial);
    lookup(btpFiliOrig, QStringLiteral("Filial de Origem"),
           QStringLiteral("Não há filial de origem cadastrada para a filial centralizadora informada."), dtsFiliOrig,
           medCdFiliOrig);
    lookup(btnInscrEstad, QStringLiteral("Inscrição Estadual"), QStringLiteral("Não há inscrição estadual cadastrada."),
           dtsInscrEstad, edtCdInscEsta);
    lookup(btpInscrMunicip, QStringLiteral("Inscrição Municipal"),
           QStringLiteral("Não há inscrição municipal cadastrada."), dtsInscrMunicip, edtCdInscMuni);
    lookup(btpSerieNF, QStringLiteral("Série de Documentos de Saída"),
           QStringLiteral("Não há série cadastrada para a inscrição estadual informada."), dtsSerieNF, edtCdSerie);

    place(lblFilial, 8, 20, 140);
    place(medCdFilial, 150, 18, 50);
    place(btpFiliEmit, 202, 18, 22);
    place(edtFiliEmit, 228, 18, 320);
    place(lblOrig, 8, 44, 140);
    place(medCdFiliOrig, 150, 42, 50);
    place(btpFiliOrig, 202, 42, 22);
    place(edtNmFilialOrig, 228, 42, 320);
    place(lblInscEsta, 8, 68, 140);
    place(edtCdInscEsta, 150, 66, 130);
    place(btnInscrEstad, 282, 66, 22);
    place(lblInscMuni, 8, 92, 140);
    place(edtCdInscMuni, 150, 90, 130);
    place(btpInscrMunicip, 282, 90, 22);
    place(lblSerie, 8, 116, 140);
    place(edtCdSerie, 150, 114, 60);
    place(btpSerieNF, 212, 114, 22);

    bvl1 = new QFrame(g);
    bvl1->setObjectName(QStringLiteral("bvl1"));
    bvl1->setFrameShape(QFrame::HLine);
    place(bvl1, 8, 140, 540, 2);

    // Recipient.
    grbDest = new fw::TGroupBox(g, QStringLiteral("grbDest"), QStringLiteral(" Destinatário/Remetente "));
    place(grbDest, 8, 146, 540, 76);
    cbbDestRem = new fw::TComboBox(grbDest, QStringLiteral("cbbDestRem"));
    cbbDestRem->setItems(QStringList{QStringLiteral("Cliente"), QStringLiteral("Fornecedor"), QStringLiteral("Filial"),
                                     QStringLiteral("Todos")});
    cbbDestRem->setItemIndex(3);
    place(cbbDestRem, 8, 20, 120);
    nbkCliente = new fw::TNotebook(grbDest, QStringLiteral("nbkCliente"));
    place(nbkCliente, 134, 14, 400, 56);
    QWidget* pCliente = nbkCliente->addPage(QStringLiteral("Cliente"));
    QWidget* pFornecedor = nbkCliente->addPage(QStringLiteral("Fornecedor"));
    QWidget* pFilial = nbkCliente->addPage(QStringLiteral("Filial"));
    QWidget* pTodos = nbkCliente->addPage(QStringLiteral("Todos"));

    lblInscricao = new fw::TLabel(pCliente, QStringLiteral("lblInscricao"), QStringLiteral("Inscrição"));
    medCliente = new fw::TMaskEdit(pCliente, QStringLiteral("medCliente"));
    btpCliente = new fw::TBtnPesquisa(pCliente, QStringLiteral("btpCliente"));
    edtNmCliente = new fw::TEdit(pCliente, QStringLiteral("edtNmCliente"));
    medCliente->setMaxLength(20);
    nameEdit(edtNmCliente);
    lookup(btpCliente, QStringLiteral("Cliente"), QStringLiteral("Não há cliente cadastrado."), dtsCliente, medCliente);

    lblInscForn = new fw::TLabel(pFornecedor, QStringLiteral("lblInscForn"), QStringLiteral("Inscrição"));
    medFornecedor = new fw::TMaskEdit(pFornecedor, QStringLiteral("medFornecedor"));
    btpFornecedor = new fw::TBtnPesquisa(pFornecedor, QStringLiteral("btpFornecedor"));
    edtNmRazSocForn = new fw::TEdit(pFornecedor, QStringLiteral("edtNmRazSocForn"));
    medFornecedor->setMaxLength(4);
    nameEdit(edtNmRazSocForn);
    lookup(btpFornecedor, QStringLiteral("Fornecedor"), QStringLiteral("Não há fornecedor cadastrado."), dtsFornecedor,
           medFornecedor);

    medFilial = new fw::TMaskEdit(pFilial, QStringLiteral("medFilial"));
    btpFilial = new fw::TBtnPesquisa(pFilial, QStringLiteral("btpFilial"));
    edtNmFilial = new fw::TEdit(pFilial, QStringLiteral("edtNmFilial"));
    medFilial->setEditMask(kMaskFilial);
    medFilial->setMaxLength(4);
    nameEdit(edtNmFilial);
    lookup(btpFilial, QStringLiteral("Filial"), QStringLiteral("Não há filial cadastrada."), dtsFilial, medFilial);

    medTodos = new fw::TMaskEdit(pTodos, QStringLiteral("medTodos"));
    btpTodos = new fw::TBtnPesquisa(pTodos, QStringLiteral("btpTodos"));
    edtTodos = new fw::TEdit(pTodos, QStringLiteral("edtTodos"));
    medTodos->setMaxLength(4);
    medTodos->setText(QStringLiteral("Todos"));
    medTodos->setEnabled(false);
    btpTodos->setHint(QStringLiteral("Pesquisar"));
    btpTodos->setText(QStringLiteral("..."));
    btpTodos->Title = QStringLiteral("Cliente");
    btpTodos->setEnabled(false);
    edtTodos->setEnabled(false);

    for (QWidget* p : {pCliente, pFornecedor, pFilial, pTodos}) {
        const QList<QWidget*> kids = p->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        int x = 0;
        for (QWidget* k : kids) {
            if (qobject_cast<fw::TLabel*>(k)) {
                place(k, 0, 0, 120, 16);
                continue;
            }
            const int w = qobject_cast<fw::TBtnPesquisa*>(k) ? 22 : (x == 0 ? 140 : 230);
            place(k, x, 18, w);
            x += w + 4;
        }
    }
    nbkCliente->setPageIndex(3);

    // Dates.
    grbDtSaida = new fw::TGroupBox(g, QStringLiteral("grbDtSaida"), QStringLiteral(" Data de Saída "));
    place(grbDtSaida, 8, 226, 266, 70);
    lblInicial = new fw::TLabel(grbDtSaida, QStringLiteral("lblInicial"), QStringLiteral("Inicial"));
    depSaidIni = new fw::TDateEditPlus(grbDtSaida, QStringLiteral("depSaidIni"));
    lblFinal = new fw::TLabel(grbDtSaida, QStringLiteral("lblFinal"), QStringLiteral("Final"));
    depSaidFim = new fw::TDateEditPlus(grbDtSaida, QStringLiteral("depSaidFim"));
    for (fw::TDateEditPlus* d : {depSaidIni, depSaidFim})
        d->setColor(fw::clInfoBk());
    place(lblInicial, 8, 20, 100, 16);
    place(depSaidIni, 8, 38, 110);
    place(lblFinal, 140, 20, 100, 16);
    place(depSaidFim, 140, 38, 110);

    // Operation types.
    grbTipoOper = new fw::TGroupBox(g, QStringLiteral("grbTipoOper"), QStringLiteral(" Tipo de Operação "));
    place(grbTipoOper, 282, 226, 266, 70);
    cbbIdOperacao = new fw::TComboBox(grbTipoOper, QStringLiteral("cbbIdOperacao"));
    cbbIdOperacao->setItems(QStringList{QStringLiteral("Saída"), QStringLiteral("Entrada")});
    cbbIdOperacao->setItemIndex(0);
    rdgTodosTipoOper = new fw::TRadioButton(grbTipoOper, QStringLiteral("rdgTodosTipoOper"), QStringLiteral("Todos"));
    rdgListaTipoOper = new fw::TRadioButton(grbTipoOper, QStringLiteral("rdgListaTipoOper"), QStringLiteral("Lista"));
    btpTipoOper = new fw::TBtnPesquisa(grbTipoOper, QStringLiteral("btpTipoOper"));
    lookup(btpTipoOper, QStringLiteral("Tipo de Operação"), QStringLiteral("Não há tipo de operação cadastrado."),
           dtsTipoOper, rdgListaTipoOper);
    rdgTodosTipoOper->setChecked(true);
    btpTipoOper->setEnabled(false);
    place(cbbIdOperacao, 8, 20, 100);
    place(rdgTodosTipoOper, 118, 20, 70);
    place(rdgListaTipoOper, 118, 42, 70);
    place(btpTipoOper, 190, 40, 22);

    bvl2 = new QFrame(g);
    bvl2->setObjectName(QStringLiteral("bvl2"));
    bvl2->setFrameShape(QFrame::HLine);
    place(bvl2, 8, 300, 540, 2);

    // Emission types, in keyboard order.
    GroupBox1 = new fw::TGroupBox(g, QStringLiteral("GroupBox1"), QStringLiteral("Tipo de Emissão"));
    place(GroupBox1, 8, 306, 540, 84);
    chbEmisNormal = new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisNormal"), QStringLiteral("Normal"));
    chbEmisContFS = new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContFS"), QStringLiteral("Contingência FS"));
    chbEmisContFSDA =
        new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContFSDA"), QStringLiteral("Contingência FS-DA"));
    chbEmisContSCAN =
        new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContSCAN"), QStringLiteral("Contingência SCAN"));
    chbEmisContEPEC =
        new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContEPEC"), QStringLiteral("Contingência EPEC"));
    chbEmisContSVCAN =
        new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContSVCAN"), QStringLiteral("Contingência SVC-AN"));
    chbEmisContSVCRS =
        new fw::TCheckBox(GroupBox1, QStringLiteral("chbEmisContSVCRS"), QStringLiteral("Contingência SVC-RS"));
    const fw::TCheckBox* order[] = {chbEmisNormal,   chbEmisContFS,    chbEmisContFSDA, chbEmisContSCAN,
                                    chbEmisContEPEC, chbEmisContSVCAN, chbEmisContSVCRS};
    for (int i = 0; i < 7; ++i) {
        auto* c = const_cast<fw::TCheckBox*>(order[i]);
        c->setChecked(true);
        place(c, 8 + (i % 3) * 176, 18 + (i / 3) * 21, 172);
    }

    // Keyboard order of the criteria.
    QWidget* tabOrder[] = {medCdFilial, medCdFiliOrig, edtCdInscEsta,    edtCdInscMuni,   edtCdSerie,
                           cbbDestRem,  medCliente,    medFornecedor,    medFilial,       depSaidIni,
                           depSaidFim,  cbbIdOperacao, rdgTodosTipoOper, rdgListaTipoOper};
    for (size_t i = 1; i < sizeof(tabOrder) / sizeof(tabOrder[0]); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
    QWidget::setTabOrder(rdgListaTipoOper, chbEmisNormal);
    for (int i = 1; i < 7; ++i)
        QWidget::setTabOrder(const_cast<fw::TCheckBox*>(order[i - 1]), const_cast<fw::TCheckBox*>(order[i]));

    // The undo button, beside confirm and cancel.
    sbtDesfazer = new fw::TSpeedButton(panBotoes, QStringLiteral("sbtDesfazer"), QStringLiteral("Desfazer"));
    sbtDesfazer->setText(QStringLiteral("Desfazer"));
    sbtDesfazer->setAutoRaise(true);
    if (QHBoxLayout* l = buttonsLayout())
        l->insertWidget(0, sbtDesfazer);
}

void TfrmFiltroTransmissao::wireHandlers()
{
    using S = QObject*;
    medCdFilial->OnChange = [this](S s) { medCdFilialChange(s); };
    medCdFilial->OnExit = [this](S s) { medCdFilialExit(s); };
    medCdFiliOrig->OnChange = [this](S s) { medCdFiliOrigChange(s); };
    medCdFiliOrig->OnExit = [this](S s) { medCdFiliOrigExit(s); };
    btpFiliEmit->OnBeforePesq = [this](S s, bool& c) { btpFilialBeforePesq(s, c); };
    btpFiliEmit->OnAfterPesq = [this](S s) { btpFiliEmitAfterPesq(s); };
    btpFiliOrig->OnBeforePesq = [this](S s, bool& c) { btpFiliOrigBeforePesq(s, c); };
    btpFiliOrig->OnAfterPesq = [this](S s) { btpFiliOrigAfterPesq(s); };

    edtCdInscEsta->OnChange = [this](S s) { edtCdInscEstaChange(s); };
    edtCdInscEsta->OnExit = [this](S s) { edtCdInscEstaExit(s); };
    edtCdInscMuni->OnChange = [this](S s) { edtCdInscMuniChange(s); };
    edtCdInscMuni->OnExit = [this](S s) { edtCdInscMuniExit(s); };
    edtCdSerie->OnExit = [this](S s) { edtCdSerieExit(s); };
    btnInscrEstad->OnBeforePesq = [this](S s, bool& c) { btnInscrEstadBeforePesq(s, c); };
    btnInscrEstad->OnAfterPesq = [this](S s) { btnInscrEstadAfterPesq(s); };
    btpInscrMunicip->OnBeforePesq = [this](S s, bool& c) { btpInscrMunicipBeforePesq(s, c); };
    btpInscrMunicip->OnAfterPesq = [this](S s) { btpInscrMunicipAfterPesq(s); };
    btpSerieNF->OnBeforePesq = [this](S s, bool& c) { btpSerieNFBeforePesq(s, c); };
    btpSerieNF->OnAfterPesq = [this](S s) { btpSerieNFAfterPesq(s); };

    cbbDestRem->OnChange = [this](S s) { cbbDestRemChange(s); };
    medCliente->OnEnter = [this](S s) { medClienteEnter(s); };
    medCliente->OnChange = [this](S s) { medClienteChange(s); };
    medCliente->OnExit = [this](S s) { medClienteExit(s); };
    medFornecedor->OnEnter = [this](S s) { medFornecedorEnter(s); };
    medFornecedor->OnChange = [this](S s) { medFornecedorChange(s); };
    medFornecedor->OnExit = [this](S s) { medFornecedorExit(s); };
    medFilial->OnChange = [this](S s) { medFilialChange(s); };
    medFilial->OnExit = [this](S s) { medFilialExit(s); };
    btpCliente->OnBeforePesq = [this](S s, bool& c) { btpClienteBeforePesq(s, c); };
    btpCliente->OnAfterPesq = [this](S s) { btpClienteAfterPesq(s); };
    btpFornecedor->OnBeforePesq = [this](S s, bool& c) { btpFornecedorBeforePesq(s, c); };
    btpFornecedor->OnAfterPesq = [this](S s) { btpFornecedorAfterPesq(s); };
    btpFilial->OnBeforePesq = [this](S s, bool& c) { btpFilialBeforePesq(s, c); };
    btpFilial->OnAfterPesq = [this](S s) { btpFilialAfterPesq(s); };

    depSaidIni->OnExit = [this](S s) { depSaidIniExit(s); };
    depSaidFim->OnExit = [this](S s) { depSaidFimExit(s); };
    cbbIdOperacao->OnChange = [this](S s) { cbbIdOperacaoChange(s); };
    rdgTodosTipoOper->OnClick = [this](S s) { rdgTodosTipoOperClick(s); };
    rdgListaTipoOper->OnClick = [this](S s) { rdgListaTipoOperClick(s); };
    btpTipoOper->OnClick = [this](S s) { btpTipoOperClick(s); };

    sbtDesfazer->OnClick = [this](S s) { sbtDesfazerClick(s); };
}
