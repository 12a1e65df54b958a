// The CC-e screen: its elements and data, the company panel, the branch parameters and
// the enabling of the commands.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSqlQuery>

#include "core/values/Value.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "module/Cli_dfs59300.h"
#include "tests/module/ModuleFixture.h"

using namespace cce_test;

namespace {

class ScreenTest : public ModuleFixture {
protected:
    void SetUp() override
    {
        ModuleFixture::SetUp();
        m_server.on(QStringLiteral("GetParamDFS"), [this](const QVariantList& args) -> QVariant {
            if (!m_paramError.isEmpty())
                return m_paramError;
            fw::FieldDefs defs = frmTransmissaoCCe->cdsParamDFS->fieldDefs();
            return QVariant::fromValue(makePacket(defs, {{{QStringLiteral("CDFILIAL"), args.value(0)},
                                                          {QStringLiteral("IDNFILTROINSCR"), QStringLiteral("S")}}}));
        });
        screen = openScreen();
        ASSERT_NE(screen, nullptr);
    }

    template <class T = QObject>
    T* child(const char* name)
    {
        T* o = screen->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(o, nullptr) << name;
        return o;
    }

    QVariantHash invoice(const char* filial, const char* lancto, const char* nf, const char* status, const char* seq,
                         const char* cdStatus = "", const char* transp = "")
    {
        return {{QStringLiteral("IDCHECK"), QStringLiteral("N")},
                {QStringLiteral("CDFILIAL"), QString::fromUtf8(filial)},
                {QStringLiteral("NRLANCTONF"), QString::fromLatin1(lancto)},
                {QStringLiteral("NRNOTAFISCALELE"), QString::fromLatin1(nf)},
                {QStringLiteral("IDSTATUSCCE"), QString::fromLatin1(status)},
                {QStringLiteral("NRSEQCCE"), QString::fromLatin1(seq)},
                {QStringLiteral("CDSTATUSCCE"), QString::fromLatin1(cdStatus)},
                {QStringLiteral("NRINSJURTRAN"), QString::fromLatin1(transp)},
                {QStringLiteral("VRNOTAFISC"), 1234.5}};
    }

    QVariantHash letter(const char* filial, const char* lancto, const char* seq)
    {
        return {{QStringLiteral("CDFILIAL"), QString::fromUtf8(filial)},
                {QStringLiteral("NRLANCTONF"), QString::fromLatin1(lancto)},
                {QStringLiteral("NRSEQCCE"), QString::fromLatin1(seq)},
                {QStringLiteral("DSCORRECAONFE"), QStringLiteral("Texto da correção número ") + QLatin1String(seq)}};
    }

    // Invoices A (pending, 3 letters), B (accepted, 19 letters, carrier) and C (no letter,
    // a quote in its branch), sent out of number order.
    void loadList()
    {
        const fw::FieldDefs nf = screen->cdsNotaFiscal->fieldDefs();
        const fw::FieldDefs cc = screen->cdsCCe->fieldDefs();
        screen->cdsNotaFiscal->setData(
            makePacket(nf, {invoice("0'1", "0000000003", "000000030", "0", "00"),
                            invoice("0001", "0000000001", "000000010", "1", "03"),
                            invoice("0001", "0000000002", "000000020", "2", "19", "135", "12345678000199")}));
        screen->cdsCCe->setData(
            makePacket(cc, {letter("0001", "0000000001", "02"), letter("0001", "0000000002", "19"),
                            letter("0001", "0000000001", "03"), letter("0'1", "0000000009", "01"),
                            letter("0001", "0000000001", "01"), letter("0'1", "0000000003", "01")}));
        screen->cdsNotaFiscal->first();
    }

    void toLetterPage()
    {
        ASSERT_TRUE(screen->pgcPadrao->SetActivePage(screen->tshFormulario));
        // The memo takes the focus; leaving the company panel here must not open the filter.
        boFiltrado = true;
        screen->pgcPadraoChange(screen->pgcPadrao);
        boFiltrado = false;
    }

    // Takes the focus out of the company panel without its exit handling.
    void focusGridQuietly()
    {
        boFiltrado = true;
        screen->dbgPadrao->setFocus();
        boFiltrado = false;
    }

    TfrmTransmissaoCCe* screen = nullptr;
    QString m_paramError;
};

} // namespace

TEST_F(ScreenTest, ElementsCarryTheirCaptionsHintsAndInitialState)
{
    struct Hint {
        const char* name;
        const char* hint;
        bool enabled;
    };
    const Hint buttons[] = {
        {"sbtFiltro", "Filtrar Lançamentos", true},
        {"sbtTransmite", "Transmissão das Cartas de Correções Eletrônicas", false},
        {"sbtArquivoXml", "Arquivo XML(Falha no Schema/Rejeição)", false},
        {"sbtEnviaEmail", "Envio de E-mail", false},
        {"sbtUltimaCCe", "Última CC-e", false},
        {"sbtProximaCCe", "Próxima CC-e", false},
        {"sbtAnteriorCCe", "CC-e Anterior", false},
        {"sbtPrimeiraCCe", "Primeira CC-e", false},
        {"btpEmpresa", "Pesquisar", true},
    };
    for (const Hint& h : buttons) {
        auto* b = child<fw::TSpeedButton>(h.name);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->Hint(), QString::fromUtf8(h.hint)) << h.name;
        EXPECT_EQ(b->isEnabled(), h.enabled) << h.name;
    }
    EXPECT_FALSE(child<fw::TSpeedButton>("sbtImprimir")->isEnabled());

    struct Caption {
        const char* name;
        const char* text;
    };
    const Caption labels[] = {{"lblEmpresa", "Empresa"},
                              {"lblVersao", "Versão"},
                              {"lblProtRegi", "Protocolo do Registro"},
                              {"lblDtHrRegi", "Data/Hora do Registro"},
                              {"lblObservao", "Observação"},
                              {"lblMaxCCe", "Máxima CCE"},
                              {"lblCodTela", "DFS59000"}};
    for (const Caption& c : labels)
        EXPECT_EQ(child<fw::TLabel>(c.name)->text(), QString::fromUtf8(c.text)) << c.name;
    EXPECT_TRUE(child<fw::TLabel>("lblMaxCCe")->isHidden());

    auto* med = child<fw::TMaskEdit>("medCdEmpresa");
    EXPECT_EQ(med->EditMask(), QStringLiteral("99;0; "));
    auto* btp = child<fw::TBtnPesquisa>("btpEmpresa");
    EXPECT_EQ(btp->Title, QStringLiteral("Empresa"));
    EXPECT_EQ(btp->EmptyError, QStringLiteral("Não há empresa cadastrada."));
    EXPECT_EQ(btp->Associate(), med);
    EXPECT_EQ(btp->DataSource(), screen->dtsEmpresa);
    auto* nome = child<fw::TEdit>("edtNmEmpresa");
    EXPECT_FALSE(nome->isEnabled());
    EXPECT_FALSE(nome->focusPolicy() & Qt::TabFocus);
    EXPECT_TRUE(child<QWidget>("panEmpresa")->isAncestorOf(med));

    for (const char* img : {"imgCheck", "imgUncheck", "imgGray"}) {
        EXPECT_TRUE(child<fw::TImage>(img)->isHidden()) << img;
        EXPECT_EQ(child<fw::TImage>(img)->Picture().size(), QSize(16, 16)) << img;
    }
    for (const char* img : {"imgFarolCinza", "imgFarolVerde", "imgFarolAmarelo", "imgFarolVermelho"}) {
        EXPECT_TRUE(child<fw::TImage>(img)->isHidden()) << img;
        EXPECT_EQ(child<fw::TImage>(img)->Picture().size(), QSize(17, 17)) << img;
    }
    // The lights differ from one another.
    EXPECT_NE(screen->imgFarolVerde->Picture().toImage(), screen->imgFarolVermelho->Picture().toImage());

    struct Item {
        const char* name;
        const char* text;
        QKeySequence shortcut;
    };
    const Item items[] = {
        {"mnuFolhaDados", "&Nota Fiscal", {}},
        {"mnuFormulario", "&Correção", {}},
        {"mnuFiltro", "&Filtrar Lançamentos", QKeySequence(Qt::CTRL | Qt::Key_L)},
        {"mnuTransmite", "&Transmissão das Cartas de Correções Eletrônicas", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {"mnuEnviaEmail", "Envio de E-mail", {}},
        {"mnuEmailSelecPrinc", "Enviar E-mail da NF Selecionada", {}},
        {"mnuEmailTodasPrinc", "Enviar E-mail Pendente das NF's com CC-e Aceita", {}},
        {"mnuEmailSelecPrincTransp", "Enviar E-mail da Transportadora", {}},
        {"mnuEmailSelec", "Enviar E-mail da NF Selecionada", {}},
        {"mnuEmailTodas", "Enviar E-mail Pendente das NF's com CC-e Aceita", {}},
        {"mnuEmailTransp", "Enviar E-mail da Transportadora", {}},
    };
    for (const Item& it : items) {
        auto* a = child<QAction>(it.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), QString::fromUtf8(it.text)) << it.name;
        if (!it.shortcut.isEmpty()) {
            EXPECT_EQ(a->shortcut(), it.shortcut) << it.name;
        }
    }
    EXPECT_FALSE(child<QAction>("mnuListagem")->isEnabled());
    EXPECT_FALSE(child<QAction>("mnuConfigImpressora")->isEnabled());
    // Filter, transmission and e-mail follow the maintenance menu's own items, each after a separator.
    const QList<QAction*> manut = screen->mnuManutencao->actions();
    const int f = manut.indexOf(screen->mnuFiltro);
    ASSERT_GE(f, 1);
    EXPECT_TRUE(manut.at(f - 1)->isSeparator());
    EXPECT_TRUE(manut.at(f + 1)->isSeparator());
    EXPECT_EQ(manut.at(f + 2), screen->mnuTransmite);
    EXPECT_TRUE(manut.at(f + 3)->isSeparator());
    EXPECT_EQ(manut.at(f + 4), screen->mnuEnviaEmail);
    ASSERT_NE(screen->mnuEnviaEmail->menu(), nullptr);
    EXPECT_EQ(
        screen->mnuEnviaEmail->menu()->actions(),
        (QList<QAction*>{screen->mnuEmailSelecPrinc, screen->mnuEmailTodasPrinc, screen->mnuEmailSelecPrincTransp}));
    EXPECT_EQ(child<fw::TPopupMenu>("pmnEmail")->actions(),
              (QList<QAction*>{screen->mnuEmailSelec, screen->mnuEmailTodas, screen->mnuEmailTransp}));
    EXPECT_EQ(screen->pmnEmail->popupCount(), 0);

    EXPECT_EQ(screen->pgcPadrao->pageCaption(screen->tshFolhaDados), QStringLiteral("Nota Fiscal"));
    EXPECT_EQ(screen->pgcPadrao->pageCaption(screen->tshFormulario), QStringLiteral("Correção"));

    // Grid columns in order, titles and the two fixed widths.
    const QStringList fields = {"IDCHECK",         "CDFILIEMIT",  "NRINSJURNF",  "NMRAZSOCCLIE", "NRNOTAFISCALELE",
                                "DATASAIDA",       "DATAEMISSAO", "CDSERIE",     "VRNOTAFISC",   "IDEMAILCCE",
                                "IDEMAILCCETRANS", "IDTPAMBNFE",  "IDSTATUSCCE", "CDINSCESTA",   "CDINSCMUNI"};
    const QStringList titles = {"4",           "Filial",         "Inscrição",      "Razão Social",
                                "Nota Fiscal", "Data Saída",     "Data Emissão",   "Série",
                                "Valor Nota",  "E-mail",         "E-mail Transp",  "Ambiente",
                                "Status",      "Insc. Estadual", "Insc. Municipal"};
    const QList<fw::TColumn> cols = screen->dbgPadrao->Columns();
    ASSERT_EQ(cols.size(), fields.size());
    for (int i = 0; i < cols.size(); ++i) {
        EXPECT_EQ(cols[i].FieldName, fields[i]);
        EXPECT_EQ(cols[i].Title, titles[i]);
        // Each title is the label of its field.
        EXPECT_EQ(screen->cdsNotaFiscal->fieldByName(fields[i])->displayLabel(), titles[i]);
    }
    EXPECT_EQ(cols[0].Width, 21);
    EXPECT_TRUE(cols[0].TitleSymbol);
    EXPECT_EQ(cols[12].Width, 35);
    EXPECT_EQ(cols[12].Alignment & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_EQ(screen->dbgPadrao->DataSource(), screen->dtsNotaFiscal);
    EXPECT_EQ(screen->dbtNome->DataField(), QStringLiteral("NRLANCTONF"));

    // The letter page is bound to the letters.
    EXPECT_EQ(screen->dtsPadrao->dataSet(), screen->cdsCCe);
    EXPECT_EQ(screen->dbeVersao->DataField(), QStringLiteral("NRSEQCCE"));
    EXPECT_EQ(screen->dbeProtRegi->DataField(), QStringLiteral("NRPROTOCOLCCE"));
    EXPECT_EQ(screen->dbeDtHrRegi->DataField(), QStringLiteral("DTHRPROTOCOLCCE"));
    EXPECT_EQ(screen->dbeObservao->DataField(), QStringLiteral("DSOBSSTATUSCCE"));
    EXPECT_EQ(screen->dbmCorrecao->DataField(), QStringLiteral("DSCORRECAONFE"));
    EXPECT_TRUE(screen->dbeVersao->isReadOnly());
    EXPECT_TRUE(screen->dbeObservao->isReadOnly());
    expectNoSurprises();
}

TEST_F(ScreenTest, DataSetsHoldTheirFieldsIndexesAndFilter)
{
    fw::DataSet* nf = screen->cdsNotaFiscal;
    ASSERT_EQ(nf->fieldCount(), 32);
    fw::Field* check = child<fw::Field>("cdsNotaFiscalIDCHECK");
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->def().fixed);
    EXPECT_EQ(check->size(), 1);
    EXPECT_FALSE(check->visible());
    EXPECT_EQ(child<fw::Field>("cdsNotaFiscalVRNOTAFISC")->dataType(), fw::FieldType::Float);
    EXPECT_EQ(screen->cdsNotaFiscalVRNOTAFISC->displayFormat(), QStringLiteral("###,##0.00"));
    EXPECT_EQ(child<fw::Field>("cdsNotaFiscalDTHRPROTOCOLNFE")->dataType(), fw::FieldType::DateTime);
    EXPECT_EQ(child<fw::Field>("cdsNotaFiscalNRACESSONFE")->size(), 50);
    EXPECT_TRUE(child<fw::Field>("cdsNotaFiscalCDINSCESTA")->visible());
    EXPECT_FALSE(child<fw::Field>("cdsNotaFiscalIDSTATUSCCE")->visible());
    EXPECT_EQ(nf->indexName(), QStringLiteral("cdsNotaFiscalIndex1"));
    EXPECT_EQ(nf->indexFieldNames(), QStringLiteral("NRNOTAFISCALELE;NRLANCTONF"));
    EXPECT_EQ(nf->filter(), QStringLiteral("IDCHECK = 'S'"));
    EXPECT_FALSE(nf->filtered());

    EXPECT_EQ(screen->cdsCCe->fieldCount(), 10);
    EXPECT_EQ(child<fw::Field>("cdsCCeDSCORRECAONFE")->size(), 1000);
    EXPECT_EQ(child<fw::Field>("cdsCCeDSOBSSTATUSCCE")->size(), 255);
    EXPECT_EQ(screen->cdsCCe->indexName(), QStringLiteral("cdsCCeIndex1"));
    EXPECT_EQ(screen->cdsParamDFS->fieldCount(), 7);
    EXPECT_FALSE(screen->cdsParamDFSIDNFILTROINSCR->visible());
    EXPECT_EQ(screen->cdsValdXMLSchemaDSARQXMLNFE->dataType(), fw::FieldType::Blob);

    // Invoices by number whatever order they came in; letters newest first.
    loadList();
    QStringList order;
    for (nf->first(); !nf->eof(); nf->next())
        order << screen->cdsNotaFiscalNRNOTAFISCALELE->asString();
    EXPECT_EQ(order, (QStringList{"000000010", "000000020", "000000030"}));
    nf->first();
    QStringList seqs;
    for (screen->cdsCCe->first(); !screen->cdsCCe->eof(); screen->cdsCCe->next())
        seqs << screen->cdsCCeNRSEQCCE->asString();
    EXPECT_EQ(seqs, (QStringList{"03", "02", "01"}));

    // The company query: one company, or all of them with "T".
    fw::TADOIBQuery* q = screen->qryEmpresa;
    EXPECT_TRUE(screen->qryEmpresaCDEMPRESA->required());
    EXPECT_EQ(screen->qryEmpresaNMRAZSOCEMPR->displayLabel(), QStringLiteral("Razão Social"));
    EXPECT_FALSE(screen->qryEmpresaCDCENTCUST->visible());
    q->Close();
    q->ParamByName(QStringLiteral("P_CDEMPRESA"))->setAsString(QStringLiteral("02"));
    q->ParamByName(QStringLiteral("P_TCDEMPRESA"))->setAsString(QStringLiteral("T"));
    q->Open();
    EXPECT_EQ(q->recordCount(), 2);
    q->Close();
    q->ParamByName(QStringLiteral("P_TCDEMPRESA"))->setAsString(QString());
    q->Open();
    ASSERT_EQ(q->recordCount(), 1);
    EXPECT_EQ(screen->qryEmpresaNMRAZSOCEMPR->asString(), QStringLiteral("Indústria Dois S/A"));
    EXPECT_EQ(screen->qryEmpresaCDCENTCUST->asString(), QStringLiteral("0200"));
}

TEST_F(ScreenTest, MessagesKeepAccentsLineBreaksAndPlaceholders)
{
    TMessages* m = screen->msgPadrao;
    const char* keys[] = {"EMP_N_CAD",
                          "EMP_DEVE_INF",
                          "ENVIADO",
                          "PENDENTE",
                          "SEM_TRANSP",
                          "SELECAO_MAX",
                          "PRODUCAO",
                          "HOMOLOGACAO",
                          "OBS_I",
                          "CORRECAO_DEVE",
                          "TRANSMITINDO",
                          "CONDICAO_DE_USO",
                          "CCE_DEVE_SELECAO",
                          "CONDICAO_DE_USO_SEM_ACENTO",
                          "CORRECAO_DEVE_15_1000",
                          "EMAIL_SUCESSO",
                          "SEM_EMAIL_PENDENTE",
                          "CCE_JA_ACEITA",
                          "NF_NACEITA",
                          "PERMITE_CCE",
                          "VD_TRANS_CCE",
                          "INSC_DIF",
                          "MCorr_Vinc"};
    for (const char* k : keys)
        EXPECT_FALSE(m->Msg(QString::fromLatin1(k)).isEmpty()) << k;
    EXPECT_EQ(m->Msg(QStringLiteral("emp_n_cad")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(m->Msg(QStringLiteral("HOMOLOGACAO")), QStringLiteral("Homologação"));
    EXPECT_EQ(m->Msg(QStringLiteral("INSC_DIF")),
              QStringLiteral("Operação Bloqueada! Não é possível selecionar notas de inscrições estaduais com UF's "
                             "distintas ou ambientes de transmissão distintos ou certificados distintos."));
    EXPECT_EQ(m->Msg(QStringLiteral("MCorr_Vinc")),
              QStringLiteral("Atenção! Existe mais de um evento vinculado a NF-e.  Confirma a operação?"));

    const QString permite = m->Msg(QStringLiteral("PERMITE_CCE"));
    EXPECT_EQ(permite.count(QStringLiteral("%s")), 3);
    EXPECT_EQ(permite,
              QStringLiteral("Operação Bloqueada! A nota só pode ser corrigida 30 minutos depois da autorização de "
                             "uso.\r\n\r\nData/Hora da Autorização de Uso: %s\r\nData/Hora para o Correção: após as "
                             "%s do dia %s"));
    const QString uso = m->Msg(QStringLiteral("CONDICAO_DE_USO"));
    EXPECT_TRUE(uso.startsWith(QStringLiteral("A Carta de Correção é disciplinada pelo § 1º-A do art. 7º")));
    EXPECT_TRUE(uso.endsWith(QStringLiteral("III - a data de emissão ou de saída.\r\n\r\nConfirma a Condição de Uso "
                                            "da Carta de Correção?")));
    const QString semAcento = m->Msg(QStringLiteral("CONDICAO_DE_USO_SEM_ACENTO"));
    for (QChar c : semAcento)
        EXPECT_LT(c.unicode(), 128) << "accent in the plain condition of use";
    EXPECT_FALSE(semAcento.contains(QLatin1Char('\n')));
}

TEST_F(ScreenTest, CompanyCheckFillsTheCodeAndReportsWhatIsWrong)
{
    fw::TMaskEdit* med = screen->medCdEmpresa;

    // Empty and not asked to report: silent, name cleared.
    med->setText(QString());
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
    screen->edtNmEmpresa->setText(QStringLiteral("velho"));
    EXPECT_NO_THROW(screen->Vd_Empresa(false));
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
    EXPECT_TRUE(m_ui.messages().isEmpty());

    // Empty when it must be given.
    m_ui.expectMessage(QStringLiteral("Empresa deve ser informada."), fw::mbOK);
    focusGridQuietly();
    EXPECT_THROW(screen->Vd_Empresa(true), fw::Abort);
    EXPECT_EQ(screen->focusWidget(), med);

    // "1" becomes "01" before the lookup, and the change empties the list.
    loadList();
    ASSERT_TRUE(screen->cdsNotaFiscal->active());
    med->setText(QStringLiteral("2"));
    loadList();
    med->setText(QStringLiteral("1"));
    loadList();
    EXPECT_NO_THROW(screen->Vd_Empresa(true));
    EXPECT_EQ(med->text(), QStringLiteral("01"));
    EXPECT_EQ(screen->edtNmEmpresa->text(), QStringLiteral("Comércio Um Ltda"));
    EXPECT_FALSE(screen->cdsNotaFiscal->active());
    EXPECT_FALSE(screen->cdsCCe->active());

    // Not registered: reported even when an empty code would be silent.
    m_ui.expectMessage(QStringLiteral("Empresa não cadastrada."), fw::mbOK);
    med->setText(QStringLiteral("7"));
    focusGridQuietly();
    EXPECT_THROW(screen->Vd_Empresa(false), fw::Abort);
    EXPECT_EQ(med->text(), QStringLiteral("07"));
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
    EXPECT_EQ(screen->focusWidget(), med);
    EXPECT_EQ(m_ui.pendingExpectations(), 0);
    expectNoSurprises();
}

TEST_F(ScreenTest, ChangingOrEnteringTheCompanyEmptiesTheScreen)
{
    loadList();
    toLetterPage();
    ASSERT_EQ(screen->pgcPadrao->ActivePage(), screen->tshFormulario);
    screen->medCdEmpresa->setText(QStringLiteral("02"));
    EXPECT_FALSE(screen->cdsNotaFiscal->active());
    EXPECT_FALSE(screen->cdsCCe->active());
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
    EXPECT_EQ(screen->pgcPadrao->ActivePage(), screen->tshFolhaDados);
    EXPECT_TRUE(screen->mnuFolhaDados->isEnabled());

    loadList();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_TRUE(screen->sbtTransmite->isEnabled());
    screen->panEmpresaEnter(screen->panEmpresa);
    EXPECT_FALSE(screen->cdsNotaFiscal->active());
    EXPECT_FALSE(screen->sbtTransmite->isEnabled());
    EXPECT_FALSE(screen->sbtVerificar->isEnabled());
    EXPECT_FALSE(screen->sbtArquivoXml->isEnabled());
    EXPECT_FALSE(screen->sbtEnviaEmail->isEnabled());
    EXPECT_FALSE(screen->pgcPadrao->pageEnabled(screen->tshFormulario));
    EXPECT_TRUE(screen->sbtFiltro->isEnabled());
    expectNoSurprises();
}

TEST_F(ScreenTest, LookupListsEveryCompanyAndTakesThePickedOne)
{
    m_ui.expectPick(2);
    EXPECT_TRUE(screen->btpEmpresa->Pesquisa());
    ASSERT_EQ(m_ui.picks().size(), 1);
    EXPECT_EQ(m_ui.picks()[0].title, QStringLiteral("Empresa"));
    EXPECT_EQ(m_ui.picks()[0].fields, (QStringList{"CDEMPRESA", "NMRAZSOCEMPR"}));
    EXPECT_EQ(screen->medCdEmpresa->text(), QStringLiteral("02"));
    EXPECT_EQ(screen->edtNmEmpresa->text(), QStringLiteral("Indústria Dois S/A"));

    // No company at all: the button's own text.
    QSqlQuery(m_db).exec(QStringLiteral("DELETE FROM EMPRESA"));
    m_ui.expectMessage(QStringLiteral("Não há empresa cadastrada."), fw::mbOK);
    EXPECT_THROW(screen->btpEmpresa->Pesquisa(), fw::Abort);
    expectNoSurprises();
}

TEST_F(ScreenTest, LeavingThePanelOpensTheFilterUnlessJustFiltered)
{
    fw::TMaskEdit* med = screen->medCdEmpresa;
    ASSERT_EQ(fw::focusedControl(screen), med);

    // Right after a confirmed filter: nothing opens, the flag is spent.
    boFiltrado = true;
    EXPECT_TRUE(fw::moveFocus(screen->dbgPadrao));
    EXPECT_FALSE(boFiltrado);
    EXPECT_TRUE(m_ui.modalForms().isEmpty());
    ASSERT_TRUE(fw::moveFocus(med));

    // Cancelled dialog: the exit is refused and the code keeps the focus.
    m_ui.expectModal([](QWidget* form) {
        EXPECT_EQ(form->objectName(), QStringLiteral("frmFiltroTransmissao"));
        boConfirma = false;
        form->hide();
    });
    EXPECT_FALSE(fw::moveFocus(screen->dbgPadrao));
    EXPECT_EQ(fw::focusedControl(screen), med);
    EXPECT_EQ(m_ui.modalForms().size(), 1);

    // Confirmed: marks forgotten, grid focused.
    inCount = 4;
    stSGinscEsta = QStringLiteral("SP");
    stCertificado = QStringLiteral("123");
    m_ui.expectModal([](QWidget* form) {
        form->hide();
        boConfirma = true; // as a completed confirmation leaves it
    });
    EXPECT_TRUE(fw::moveFocus(screen->dbgPadrao));
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    EXPECT_TRUE(stCertificado.isEmpty());
    EXPECT_EQ(fw::focusedControl(screen), screen->dbgPadrao);
    EXPECT_FALSE(boFiltrado);

    // An empty code never reaches the dialog.
    ASSERT_TRUE(fw::moveFocus(med));
    med->setText(QString());
    m_ui.expectMessage(QStringLiteral("Empresa deve ser informada."), fw::mbOK);
    EXPECT_FALSE(fw::moveFocus(screen->dbgPadrao));
    EXPECT_EQ(fw::focusedControl(screen), med);
    EXPECT_EQ(m_ui.modalForms().size(), 2);
    EXPECT_EQ(m_ui.pendingExpectations(), 0);
    expectNoSurprises();
}

TEST_F(ScreenTest, BranchParametersAreCachedAndFollowTheModule)
{
    if (frmFiltroTransmissao) {
        frmFiltroTransmissao->medCdFiliOrig->setText(QString());
        frmFiltroTransmissao->medCdFilial->setText(QString());
    }
    m_server.calls.clear();
    screen->GetParamDFS();
    screen->GetParamDFS();
    ASSERT_EQ(m_server.count(QStringLiteral("GetParamDFS")), 1);
    EXPECT_EQ(m_server.calls.last().server, QStringLiteral("DFS00000.rdmDocFiscSaida"));
    EXPECT_EQ(m_server.calls.last().args, (QVariantList{QStringLiteral("0001")}));
    EXPECT_EQ(screen->cdsParamDFSCDFILIAL->asString(), QStringLiteral("0001"));

    for (int modulo : {14, 15, 16}) {
        m_context.module = modulo;
        fw::setHostContext(m_context);
        screen->GetParamDFS();
        EXPECT_EQ(screen->cdsParamDFSCDFILIAL->asString(), QStringLiteral("0009")) << modulo;
    }
    EXPECT_EQ(m_server.count(QStringLiteral("GetParamDFS")), 2);
    EXPECT_EQ(m_server.calls.last().args.value(0).toString(), QStringLiteral("0009"));

    m_context.module = 17;
    fw::setHostContext(m_context);
    screen->GetParamDFS();
    EXPECT_EQ(m_server.count(QStringLiteral("GetParamDFS")), 3);
    EXPECT_EQ(m_server.calls.last().args.value(0).toString(), QStringLiteral("0001"));

    // A refusal is reported and the loaded parameters stay.
    m_paramError = QStringLiteral("Parâmetros da filial 0009 não encontrados.");
    m_context.module = 15;
    fw::setHostContext(m_context);
    m_ui.expectMessage(m_paramError, fw::mbOK);
    EXPECT_THROW(screen->GetParamDFS(), fw::Abort);
    EXPECT_EQ(screen->cdsParamDFSCDFILIAL->asString(), QStringLiteral("0001"));
    EXPECT_EQ(m_ui.pendingExpectations(), 0);
    expectNoSurprises();
}

TEST_F(ScreenTest, BranchesTypedInTheFilterComeFirst)
{
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    ASSERT_NE(dlg, nullptr);
    const int before = m_server.count(QStringLiteral("GetParamDFS"));
    dlg->medCdFiliOrig->setText(QStringLiteral("0003"));
    dlg->medCdFilial->setText(QStringLiteral("0002"));
    screen->GetParamDFS();
    EXPECT_EQ(m_server.calls.last().args.value(0).toString(), QStringLiteral("0003"));
    dlg->medCdFiliOrig->setText(QString());
    screen->GetParamDFS();
    EXPECT_EQ(m_server.calls.last().args.value(0).toString(), QStringLiteral("0002"));
    EXPECT_EQ(screen->cdsParamDFSCDFILIAL->asString(), QStringLiteral("0002"));
    EXPECT_GE(m_server.count(QStringLiteral("GetParamDFS")), before + 2);
}

TEST_F(ScreenTest, InvoicePageEnablesByTheList)
{
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_FALSE(screen->mnuProcurar->isEnabled());
    EXPECT_FALSE(screen->sbtTransmite->isEnabled());
    EXPECT_FALSE(screen->pgcPadrao->pageEnabled(screen->tshFormulario));
    EXPECT_FALSE(screen->mnuFormulario->isEnabled());
    EXPECT_TRUE(screen->mnuEmailTodasPrinc->isEnabled());

    loadList(); // first invoice: pending, no carrier
    EXPECT_FALSE(screen->mnuIncluir->isEnabled());
    EXPECT_FALSE(screen->mnuAlterar->isEnabled());
    EXPECT_FALSE(screen->mnuExcluir->isEnabled());
    EXPECT_FALSE(screen->mnuGravar->isEnabled());
    EXPECT_FALSE(screen->sbtCancelar->isEnabled());
    EXPECT_TRUE(screen->sbtProcurar->isEnabled());
    EXPECT_TRUE(screen->sbtVerificar->isEnabled());
    EXPECT_TRUE(screen->sbtFiltro->isEnabled());
    EXPECT_TRUE(screen->sbtTransmite->isEnabled());
    EXPECT_TRUE(screen->sbtArquivoXml->isEnabled());
    EXPECT_TRUE(screen->sbtEnviaEmail->isEnabled());
    EXPECT_FALSE(screen->mnuEmailSelec->isEnabled());
    EXPECT_FALSE(screen->mnuEmailTransp->isEnabled());
    EXPECT_TRUE(screen->mnuEmailTodas->isEnabled());
    EXPECT_TRUE(screen->pgcPadrao->pageEnabled(screen->tshFormulario));
    EXPECT_TRUE(screen->mnuFolhaDados->isChecked());
    EXPECT_FALSE(screen->mnuFormulario->isChecked());
    EXPECT_FALSE(screen->sbtImprimir->isEnabled());

    screen->cdsNotaFiscal->next(); // accepted, with carrier
    EXPECT_TRUE(screen->mnuEmailSelec->isEnabled());
    EXPECT_TRUE(screen->mnuEmailTransp->isEnabled());
    EXPECT_TRUE(screen->sbtImprimir->isEnabled());
    EXPECT_TRUE(screen->mnuImprimir->isEnabled());
    expectNoSurprises();
}

TEST_F(ScreenTest, LetterPageEnablesByTheLetterAndTheMarks)
{
    loadList();
    toLetterPage();
    // Pending invoice with its latest letter shown.
    EXPECT_FALSE(screen->sbtIncluir->isEnabled());
    EXPECT_TRUE(screen->sbtAlterar->isEnabled());
    EXPECT_TRUE(screen->sbtExcluir->isEnabled());
    EXPECT_FALSE(screen->dbmCorrecao->isReadOnly());
    EXPECT_FALSE(screen->sbtUltimaCCe->isEnabled());
    EXPECT_FALSE(screen->sbtProximaCCe->isEnabled());
    EXPECT_TRUE(screen->sbtAnteriorCCe->isEnabled());
    EXPECT_TRUE(screen->sbtPrimeiraCCe->isEnabled());
    EXPECT_TRUE(screen->mnuFormulario->isChecked());
    EXPECT_FALSE(screen->mnuFolhaDados->isChecked());
    EXPECT_TRUE(screen->pgcPadrao->pageEnabled(screen->tshFolhaDados));

    // An older letter: no edit, memo read-only.
    screen->cdsCCe->next();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_EQ(screen->cdsCCeNRSEQCCE->asString(), QStringLiteral("02"));
    EXPECT_FALSE(screen->sbtAlterar->isEnabled());
    EXPECT_FALSE(screen->sbtExcluir->isEnabled());
    EXPECT_TRUE(screen->dbmCorrecao->isReadOnly());
    EXPECT_TRUE(screen->sbtUltimaCCe->isEnabled());
    screen->cdsCCe->last();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_FALSE(screen->sbtAnteriorCCe->isEnabled());
    EXPECT_FALSE(screen->sbtPrimeiraCCe->isEnabled());
    EXPECT_TRUE(screen->sbtProximaCCe->isEnabled());

    // A marked invoice anywhere blocks every letter change.
    screen->cdsCCe->first();
    inCount = 1;
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_FALSE(screen->sbtAlterar->isEnabled());
    EXPECT_TRUE(screen->dbmCorrecao->isReadOnly());
    inCount = 0;

    // Accepted with 19 letters: a 20th may be written, not a 21st.
    screen->cdsNotaFiscal->next();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_EQ(screen->cdsNotaFiscalNRSEQCCE->asString(), QStringLiteral("19"));
    EXPECT_TRUE(screen->sbtIncluir->isEnabled());
    EXPECT_FALSE(screen->sbtAlterar->isEnabled());
    screen->cdsNotaFiscal->edit();
    screen->cdsNotaFiscalNRSEQCCE->setAsString(QStringLiteral("20"));
    screen->cdsNotaFiscal->post();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    EXPECT_FALSE(screen->sbtIncluir->isEnabled());

    // Writing a letter: only save and cancel, no way off the page.
    screen->cdsNotaFiscal->edit();
    screen->cdsNotaFiscalNRSEQCCE->setAsString(QStringLiteral("19"));
    screen->cdsNotaFiscal->post();
    screen->dtsPadraoStateChange(screen->dtsPadrao);
    screen->cdsCCe->insert();
    EXPECT_TRUE(screen->sbtGravar->isEnabled());
    EXPECT_TRUE(screen->sbtCancelar->isEnabled());
    for (QWidget* w : {static_cast<QWidget*>(screen->sbtIncluir), static_cast<QWidget*>(screen->sbtAlterar),
                       static_cast<QWidget*>(screen->sbtExcluir), static_cast<QWidget*>(screen->sbtProcurar),
                       static_cast<QWidget*>(screen->sbtVerificar), static_cast<QWidget*>(screen->sbtFiltro),
                       static_cast<QWidget*>(screen->sbtTransmite), static_cast<QWidget*>(screen->sbtEnviaEmail),
                       static_cast<QWidget*>(screen->sbtArquivoXml), static_cast<QWidget*>(screen->sbtUltimaCCe),
                       static_cast<QWidget*>(screen->panNavegador)})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_FALSE(screen->pgcPadrao->pageEnabled(screen->tshFolhaDados));
    EXPECT_FALSE(screen->mnuFolhaDados->isEnabled());
    EXPECT_FALSE(screen->mnuEmailSelec->isEnabled());
    EXPECT_TRUE(screen->mnuEmailTodas->isEnabled());
    EXPECT_FALSE(screen->dbmCorrecao->isReadOnly());
    screen->cdsCCe->cancel();
    EXPECT_TRUE(screen->pgcPadrao->pageEnabled(screen->tshFolhaDados));
    EXPECT_TRUE(screen->sbtIncluir->isEnabled());
    expectNoSurprises();
}

TEST_F(ScreenTest, EachInvoiceShowsOnlyItsOwnLettersEvenWithQuotesInItsKey)
{
    loadList();
    auto letters = [this] {
        QStringList keys;
        for (screen->cdsCCe->first(); !screen->cdsCCe->eof(); screen->cdsCCe->next())
            keys << screen->cdsCCeCDFILIAL->asString() + QLatin1Char('/') + screen->cdsCCeNRLANCTONF->asString() +
                        QLatin1Char('/') + screen->cdsCCeNRSEQCCE->asString();
        return keys;
    };
    EXPECT_EQ(letters(), (QStringList{"0001/0000000001/03", "0001/0000000001/02", "0001/0000000001/01"}));
    screen->cdsNotaFiscal->next();
    EXPECT_EQ(letters(), (QStringList{"0001/0000000002/19"}));
    screen->cdsNotaFiscal->next();
    EXPECT_EQ(screen->cdsNotaFiscalCDFILIAL->asString(), QStringLiteral("0'1"));
    EXPECT_EQ(letters(), (QStringList{"0'1/0000000003/01"}));
    EXPECT_FALSE(screen->sbtImprimir->isEnabled());
    expectNoSurprises();
}

TEST_F(ScreenTest, RetrievalLoadsBothListsOrShowsTheServersText)
{
    const fw::FieldDefs nf = screen->cdsNotaFiscal->fieldDefs();
    const fw::FieldDefs cc = screen->cdsCCe->fieldDefs();
    QVariant answer = QVariantList{
        QVariant::fromValue(makePacket(nf, {invoice("0001", "0000000002", "000000020", "2", "07", "135"),
                                            invoice("0001", "0000000001", "000000010", "1", "03")})),
        QVariant::fromValue(makePacket(cc, {letter("0001", "0000000001", "03"), letter("0001", "0000000002", "07")}))};
    m_server.on(QStringLiteral("GetNotaFiscal"), [&answer](const QVariantList&) { return answer; });
    m_context.branchMode = true;
    fw::setHostContext(m_context);
    const QDateTime ini(QDate(2026, 12, 1), QTime(0, 0));
    const QDateTime fim(QDate(2026, 12, 7), QTime(0, 0));

    screen->GetNotafiscal("T", "0001", "S01;S05", "01", "T", "T", "T", "T", "T", "T", "N", "S", "_1_", ini, fim);
    ASSERT_EQ(m_server.count(QStringLiteral("GetNotaFiscal")), 1);
    const ServerCall call = m_server.calls.last();
    EXPECT_EQ(call.server, QStringLiteral("Dfs59000.rdmTransmissaoCCe"));
    ASSERT_EQ(call.args.size(), 16);
    EXPECT_EQ(call.args[2].toString(), QStringLiteral("S01;S05"));
    EXPECT_EQ(call.args[12].toString(), QStringLiteral("_1_"));
    EXPECT_EQ(call.args[13], QVariant(true));
    EXPECT_EQ(call.args[14].toDateTime(), ini);
    EXPECT_EQ(call.args[15].toDateTime(), fim);
    // First invoice by number, its letters only, the hidden sequence label, the wait shown and closed.
    EXPECT_EQ(screen->cdsNotaFiscalNRLANCTONF->asString(), QStringLiteral("0000000001"));
    EXPECT_EQ(screen->cdsCCe->recordCount(), 1);
    EXPECT_EQ(screen->lblMaxCCe->text(), QStringLiteral("/ 03"));
    EXPECT_TRUE(screen->sbtTransmite->isEnabled());
    EXPECT_EQ(m_ui.busyShowCount(), 1);
    EXPECT_FALSE(m_ui.busyShown());

    // An error text: shown, nothing replaced.
    answer = QStringLiteral("Nenhuma nota fiscal encontrada.");
    m_ui.expectMessage(QStringLiteral("Nenhuma nota fiscal encontrada."), fw::mbOK);
    EXPECT_NO_THROW(screen->GetNotafiscal("T", "T", "T", "01", "T", "T", "T", "T", "T", "T", "", "S", "", QDateTime(),
                                          QDateTime()));
    EXPECT_EQ(screen->cdsNotaFiscal->recordCount(), 2);
    EXPECT_TRUE(fw::isNull(m_server.calls.last().args[14]));
    EXPECT_FALSE(m_ui.busyShown());

    // An invoice without letters leaves the sequence label empty.
    answer = QVariantList{QVariant::fromValue(makePacket(nf, {invoice("0001", "0000000005", "000000050", "0", "00")})),
                          QVariant::fromValue(makePacket(cc, {}))};
    screen->GetNotafiscal("T", "T", "T", "01", "T", "T", "T", "T", "T", "T", "", "S", "", QDateTime(), QDateTime());
    EXPECT_TRUE(screen->lblMaxCCe->text().isEmpty());
    EXPECT_TRUE(screen->cdsCCe->isEmpty());
    EXPECT_EQ(m_ui.pendingExpectations(), 0);
    expectNoSurprises();
}

TEST_F(ScreenTest, LetterButtonsWalkTheSequencesNewestFirst)
{
    loadList();
    toLetterPage();
    auto seq = [this] { return screen->cdsCCeNRSEQCCE->asString(); };
    ASSERT_EQ(seq(), QStringLiteral("03"));
    screen->sbtAnteriorCCe->Click();
    EXPECT_EQ(seq(), QStringLiteral("02"));
    EXPECT_TRUE(screen->sbtProximaCCe->isEnabled());
    EXPECT_FALSE(screen->sbtAlterar->isEnabled());
    screen->sbtPrimeiraCCe->Click();
    EXPECT_EQ(seq(), QStringLiteral("01"));
    EXPECT_FALSE(screen->sbtAnteriorCCe->isEnabled());
    EXPECT_FALSE(screen->sbtPrimeiraCCe->isEnabled());
    screen->sbtProximaCCe->Click();
    EXPECT_EQ(seq(), QStringLiteral("02"));
    screen->sbtUltimaCCe->Click();
    EXPECT_EQ(seq(), QStringLiteral("03"));
    EXPECT_FALSE(screen->sbtUltimaCCe->isEnabled());
    EXPECT_FALSE(screen->sbtProximaCCe->isEnabled());
    EXPECT_TRUE(screen->sbtAlterar->isEnabled());
    EXPECT_EQ(screen->lblMaxCCe->text(), QStringLiteral("/ 03"));
    expectNoSurprises();
}

TEST_F(ScreenTest, EachOfTheThreeScreensOpensItsOwnHelpPage)
{
    screen->mnuAjuda->trigger();
    screen->sbtAjuda->Click();
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    int f1 = Qt::Key_F1;
    dlg->FormKeyDown(dlg, f1, Qt::NoModifier);
    EXPECT_EQ(f1, 0) << "F1 went on to the control";
    dlg->sbtAjuda->Click();
    auto* report = fw::createForm<TfrmCCe>(fw::formOwner());
    report->ShowHelp();
    delete report;
    EXPECT_EQ(m_ui.helpShown(),
              (QStringList{QStringLiteral("DFS59000"), QStringLiteral("DFS59000"), QStringLiteral("DFS59100"),
                           QStringLiteral("DFS59100"), QStringLiteral("DFS59300")}));
    // A page of its own each, with the screen's caption; none answered "no help".
    for (const char* code : {"DFS59000", "DFS59100", "DFS59300"}) {
        QFile page(fw::helpPage(QString::fromLatin1(code)));
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << code;
        EXPECT_TRUE(QString::fromUtf8(page.readAll()).contains(QLatin1String(code))) << code;
    }
    expectNoSurprises();
}
