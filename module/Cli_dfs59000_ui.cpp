// CC-e screen: its construction: data sets and fields, the company panel, the tool bar,
// the menus, the grid columns and the "Correção" page.
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59000_Lista.h"

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

#include "module/Cli_dfs59300.h"

namespace {

fw::FieldDef str(const char* name, int size, bool fixed = false)
{
    fw::FieldDef d;
    d.name = QString::fromLatin1(name);
    d.type = fw::FieldType::String;
    d.size = size;
    d.fixed = fixed;
    return d;
}

fw::FieldDef typed(const char* name, fw::FieldType type)
{
    fw::FieldDef d;
    d.name = QString::fromLatin1(name);
    d.type = type;
    return d;
}

// The pictures are drawn on olive, the colour the grid treats as transparent.
const QColor kOlive(128, 128, 0);

QPixmap boxPixmap(bool checked, bool grey)
{
    QPixmap pm(16, 16);
    pm.fill(kOlive);
    QPainter p(&pm);
    p.setPen(QColor(grey ? 128 : 0, grey ? 128 : 0, grey ? 128 : 0));
    p.setBrush(grey ? QColor(192, 192, 192) : QColor(Qt::white));
    p.drawRect(2, 2, 11, 11);
    if (checked) {
        QPen pen(Qt::black);
        pen.setWidth(2);
        p.setPen(pen);
        p.drawLine(4, 8, 7, 11);
        p.drawLine(7, 11, 12, 4);
    }
    return pm;
}

QPixmap lightPixmap(const QColor& colour)
{
    QPixmap pm(17, 17);
    pm.fill(kOlive);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(64, 64, 64));
    p.setBrush(colour);
    p.drawEllipse(2, 2, 12, 12);
    return pm;
}

} // namespace

void TfrmTransmissaoCCe::createData()
{
    using fw::FieldType;

    cdsNotaFiscal = new fw::DataSet(this);
    cdsNotaFiscal->setObjectName(QStringLiteral("cdsNotaFiscal"));
    auto* n = cdsNotaFiscal;
    cdsNotaFiscalIDCHECK = n->addField(str("IDCHECK", 1, true), QStringLiteral("4"), false);
    cdsNotaFiscalCDFILIEMIT = n->addField(str("CDFILIEMIT", 4), QStringLiteral("Filial"));
    cdsNotaFiscalNRINSJURNF = n->addField(str("NRINSJURNF", 20), QStringLiteral("Inscrição"));
    cdsNotaFiscalNMRAZSOCCLIE = n->addField(str("NMRAZSOCCLIE", 50), QStringLiteral("Razão Social"));
    cdsNotaFiscalNRNOTAFISCALELE = n->addField(str("NRNOTAFISCALELE", 9), QStringLiteral("Nota Fiscal"));
    cdsNotaFiscalDATASAIDA = n->addField(str("DATASAIDA", 10), QStringLiteral("Data Saída"));
    cdsNotaFiscalDATAEMISSAO = n->addField(str("DATAEMISSAO", 10), QStringLiteral("Data Emissão"));
    cdsNotaFiscalCDSERIE = n->addField(str("CDSERIE", 5), QStringLiteral("Série"));
    cdsNotaFiscalVRNOTAFISC = n->addField(typed("VRNOTAFISC", FieldType::Float), QStringLiteral("Valor Nota"));
    cdsNotaFiscalVRNOTAFISC->setDisplayFormat(QStringLiteral("###,##0.00"));
    cdsNotaFiscalIDEMAILCCE = n->addField(str("IDEMAILCCE", 1), QStringLiteral("E-mail"), false);
    cdsNotaFiscalIDEMAILCCETRANS = n->addField(str("IDEMAILCCETRANS", 1), QStringLiteral("E-mail Transp"), false);
    cdsNotaFiscalIDTPAMBNFE = n->addField(str("IDTPAMBNFE", 1), QStringLiteral("Ambiente"), false);
    cdsNotaFiscalIDSTATUSCCE = n->addField(str("IDSTATUSCCE", 1), QStringLiteral("Status"), false);
    cdsNotaFiscalCDFILIAL = n->addField(str("CDFILIAL", 4), {}, false);
    cdsNotaFiscalNRLANCTONF = n->addField(str("NRLANCTONF", 10), {}, false);
    cdsNotaFiscalCDEMPRESA = n->addField(str("CDEMPRESA", 2), {}, false);
    cdsNotaFiscalCDINSCESTA = n->addField(str("CDINSCESTA", 16), QStringLiteral("Insc. Estadual"));
    cdsNotaFiscalCDINSCMUNI = n->addField(str("CDINSCMUNI", 16), QStringLiteral("Insc. Municipal"));
    cdsNotaFiscalNRLICENCAUSO = n->addField(str("NRLICENCAUSO", 10), {}, false);
    cdsNotaFiscalCDCLIENTE = n->addField(str("CDCLIENTE", 21), {}, false);
    cdsNotaFiscalCDFILIRECE = n->addField(str("CDFILIRECE", 4), {}, false);
    cdsNotaFiscalCDFORNECED = n->addField(str("CDFORNECED", 21), {}, false);
    cdsNotaFiscalIDTIPOEMISNFE = n->addField(str("IDTIPOEMISNFE", 1), QStringLiteral("Tipo Emissão"), false);
    cdsNotaFiscalCDTIPOOPER = n->addField(str("CDTIPOOPER", 2), {}, false);
    cdsNotaFiscalIDENTRSAIDOP = n->addField(str("IDENTRSAIDOP", 1), {}, false);
    cdsNotaFiscalNRSEQCCE = n->addField(str("NRSEQCCE", 2), {}, false);
    cdsNotaFiscalIDORIGDESTNF = n->addField(str("IDORIGDESTNF", 1), {}, false);
    cdsNotaFiscalIDTPIJURNF = n->addField(str("IDTPIJURNF", 1), {}, false);
    cdsNotaFiscalCDSTATUSCCE = n->addField(str("CDSTATUSCCE", 4), {}, false);
    cdsNotaFiscalNRACESSONFE = n->addField(str("NRACESSONFE", 50), {}, false);
    cdsNotaFiscalNRINSJURTRAN = n->addField(str("NRINSJURTRAN", 20), {}, false);
    cdsNotaFiscalDTHRPROTOCOLNFE = n->addField(typed("DTHRPROTOCOLNFE", FieldType::DateTime), {}, false);
    n->addIndex(QStringLiteral("cdsNotaFiscalIndex1"), QStringLiteral("NRNOTAFISCALELE;NRLANCTONF"));
    n->setIndexName(QStringLiteral("cdsNotaFiscalIndex1"));
    n->setFilter(QStringLiteral("IDCHECK = 'S'"));
    n->AfterScroll = [this](fw::DataSet* ds) { cdsNotaFiscalAfterScroll(ds); };
    // Rows may arrive marked: counted as they come.
    n->AfterOpen = [this](fw::DataSet*) { cceGrid::marksLoaded(*this); };
    cdsNotaFiscalNRINSJURNF->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalNRINSJURNFGetText(f, t, d);
    };
    cdsNotaFiscalCDFILIEMIT->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalCDFILIEMITGetText(f, t, d);
    };
    cdsNotaFiscalIDEMAILCCE->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalIDEMAILCCEGetText(f, t, d);
    };
    cdsNotaFiscalIDEMAILCCETRANS->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalIDEMAILCCETRANSGetText(f, t, d);
    };
    cdsNotaFiscalIDTPAMBNFE->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalIDTPAMBNFEGetText(f, t, d);
    };
    cdsNotaFiscalNRLANCTONF->OnGetText = [this](fw::Field* f, QString& t, bool d) {
        cdsNotaFiscalNRLANCTONFGetText(f, t, d);
    };

    cdsCCe = new fw::DataSet(this);
    cdsCCe->setObjectName(QStringLiteral("cdsCCe"));
    auto* c = cdsCCe;
    cdsCCeCDFILIAL = c->addField(str("CDFILIAL", 4));
    cdsCCeNRLANCTONF = c->addField(str("NRLANCTONF", 10));
    cdsCCeNRSEQCCE = c->addField(str("NRSEQCCE", 2));
    cdsCCeDSCORRECAONFE = c->addField(str("DSCORRECAONFE", 1000));
    cdsCCeCDSTATUSCCE = c->addField(str("CDSTATUSCCE", 4));
    cdsCCeDSOBSSTATUSCCE = c->addField(str("DSOBSSTATUSCCE", 255));
    cdsCCeDTHRPROTOCOLCCE = c->addField(typed("DTHRPROTOCOLCCE", FieldType::DateTime));
    cdsCCeNRPROTOCOLCCE = c->addField(str("NRPROTOCOLCCE", 17));
    cdsCCeIDEMAILCCE = c->addField(str("IDEMAILCCE", 1));
    cdsCCeIDEMAILCCETRANS = c->addField(str("IDEMAILCCETRANS", 1));
    c->addIndex(QStringLiteral("cdsCCeIndex1"), QStringLiteral("CDFILIAL;NRLANCTONF;NRSEQCCE"), true);
    c->setIndexName(QStringLiteral("cdsCCeIndex1"));
    c->AfterInsert = [this](fw::DataSet* ds) { cdsCCeAfterInsert(ds); };
    c->BeforePost = [this](fw::DataSet* ds) { cdsCCeBeforePost(ds); };
    c->AfterPost = [this](fw::DataSet* ds) { cdsCCeAfterPost(ds); };
    c->BeforeDelete = [this](fw::DataSet* ds) { cdsCCeBeforeDelete(ds); };
    c->AfterDelete = [this](fw::DataSet* ds) { cdsCCeAfterDelete(ds); };
    c->AfterScroll = [this](fw::DataSet* ds) { cdsCCeAfterScroll(ds); };

    cdsParamDFS = new fw::DataSet(this);
    cdsParamDFS->setObjectName(QStringLiteral("cdsParamDFS"));
    cdsParamDFSNREXEMEMISSAO = cdsParamDFS->addField(str("NREXEMEMISSAO", 1), {}, false);
    cdsParamDFSIDUTREIMPRNF = cdsParamDFS->addField(str("IDUTREIMPRNF", 1));
    cdsParamDFSCDFILIAL = cdsParamDFS->addField(str("CDFILIAL", 4));
    cdsParamDFSNRTAMNUMNFUT = cdsParamDFS->addField(typed("NRTAMNUMNFUT", FieldType::Float));
    cdsParamDFSIDUTLIBERANF = cdsParamDFS->addField(str("IDUTLIBERANF", 1));
    cdsParamDFSIDUTFILCENTOBR = cdsParamDFS->addField(str("IDUTFILCENTOBR", 1));
    cdsParamDFSIDNFILTROINSCR = cdsParamDFS->addField(str("IDNFILTROINSCR", 1), {}, false);

    cdsValdXMLSchema = new fw::DataSet(this);
    cdsValdXMLSchema->setObjectName(QStringLiteral("cdsValdXMLSchema"));
    cdsValdXMLSchemaCDFILIAL = cdsValdXMLSchema->addField(str("CDFILIAL", 4));
    cdsValdXMLSchemaNRLANCTONF = cdsValdXMLSchema->addField(str("NRLANCTONF", 10));
    cdsValdXMLSchemaIDTIPOARQXML = cdsValdXMLSchema->addField(str("IDTIPOARQXML", 1));
    cdsValdXMLSchemaDSARQXMLNFE = cdsValdXMLSchema->addField(typed("DSARQXMLNFE", FieldType::Blob));

    dtsNotaFiscal = new fw::TDataSource(this);
    dtsNotaFiscal->setObjectName(QStringLiteral("dtsNotaFiscal"));
    dtsNotaFiscal->setDataSet(cdsNotaFiscal);
    dtsPadrao->setDataSet(cdsCCe);

    qryEmpresa = new fw::TADOIBQuery(this);
    qryEmpresa->setObjectName(QStringLiteral("qryEmpresa"));
    qryEmpresa->SQL = QStringList{QStringLiteral("SELECT E.CDEMPRESA,   E.NMRAZSOCEMPR, E.CDCENTCUST"),
                                  QStringLiteral("FROM EMPRESA E"),
                                  QStringLiteral("WHERE (E.CDEMPRESA = :P_CDEMPRESA OR :P_TCDEMPRESA = 'T')"),
                                  QStringLiteral("ORDER BY CDEMPRESA")};
    fw::FieldDef cdEmpresa = str("CDEMPRESA", 2);
    cdEmpresa.required = true;
    qryEmpresaCDEMPRESA = qryEmpresa->addField(cdEmpresa, QStringLiteral("Código"));
    qryEmpresaNMRAZSOCEMPR = qryEmpresa->addField(str("NMRAZSOCEMPR", 80), QStringLiteral("Razão Social"));
    qryEmpresaCDCENTCUST = qryEmpresa->addField(str("CDCENTCUST", 4), {}, false);
    dtsEmpresa = new fw::TDataSource(this);
    dtsEmpresa->setObjectName(QStringLiteral("dtsEmpresa"));
    dtsEmpresa->setDataSet(qryEmpresa);

    netTransmissao = new TNetConnection(this);
    netTransmissao->setObjectName(QStringLiteral("netTransmissao"));
    netTransmissao->setServerName(AppServer::kTransmissaoCCe);
    netTransmissao->setThrowException(false);
    netTransmissao->OnBeforeConnect = [this](QObject* s) { netTransmissaoBeforeConnect(s); };
    netDocFiscSaid = new TNetConnection(this);
    netDocFiscSaid->setObjectName(QStringLiteral("netDocFiscSaid"));
    netDocFiscSaid->setServerName(AppServer::kDocFiscSaida);
    netDocFiscSaid->setThrowException(false);
    netDocFiscSaid->OnBeforeConnect = [this](QObject* s) { netDocFiscSaidBeforeConnect(s); };
}

fw::TSpeedButton* TfrmTransmissaoCCe::newToolButton(const char* name, const QString& hint, bool enabled)
{
    auto* b = new fw::TSpeedButton(this, QString::fromLatin1(name), hint);
    b->setEnabled(enabled);
    addToolButton(b);
    return b;
}

QAction* TfrmTransmissaoCCe::newAction(QMenu* menu, const char* name, const QString& caption)
{
    auto* a = new QAction(caption, menu);
    a->setObjectName(QString::fromLatin1(name));
    menu->addAction(a);
    return a;
}

void TfrmTransmissaoCCe::onTriggered(QAction* action, void (TfrmTransmissaoCCe::*handler)(QObject*))
{
    connect(action, &QAction::triggered, this,
            [this, action, handler] { fw::dispatch([&] { (this->*handler)(action); }); });
}

void TfrmTransmissaoCCe::createControls()
{
    // Company panel, below the tool bar.
    panEmpresa = new fw::TPanel(panCabecalho, QStringLiteral("panEmpresa"));
    auto* row = new QHBoxLayout(panEmpresa);
    row->setContentsMargins(4, 2, 4, 2);
    lblEmpresa = new fw::TLabel(panEmpresa, QStringLiteral("lblEmpresa"), QStringLiteral("Empresa"));
    medCdEmpresa = new fw::TMaskEdit(panEmpresa, QStringLiteral("medCdEmpresa"));
    medCdEmpresa->setEditMask(QStringLiteral("99;0; "));
    medCdEmpresa->setMaxLength(2);
    medCdEmpresa->setFixedWidth(32);
    btpEmpresa = new fw::TBtnPesquisa(panEmpresa, QStringLiteral("btpEmpresa"));
    btpEmpresa->setHint(QStringLiteral("Pesquisar"));
    btpEmpresa->Title = QStringLiteral("Empresa");
    btpEmpresa->EmptyError = QStringLiteral("Não há empresa cadastrada.");
    btpEmpresa->setDataSource(dtsEmpresa);
    btpEmpresa->setAssociate(medCdEmpresa);
    edtNmEmpresa = new fw::TEdit(panEmpresa, QStringLiteral("edtNmEmpresa"));
    edtNmEmpresa->setEnabled(false);
    edtNmEmpresa->setTabStop(false);
    row->addWidget(lblEmpresa);
    row->addWidget(medCdEmpresa);
    row->addWidget(btpEmpresa);
    row->addWidget(edtNmEmpresa, 1);
    headerLayout()->addWidget(panEmpresa);

    medCdEmpresa->OnChange = [this](QObject* s) { medCdEmpresaChange(s); };
    panEmpresa->OnEnter = [this](QObject* s) { panEmpresaEnter(s); };
    panEmpresa->OnExit = [this](QObject* s) { panEmpresaExit(s); };
    btpEmpresa->OnBeforePesq = [this](QObject* s, bool& cancel) { btpEmpresaBeforePesq(s, cancel); };
    btpEmpresa->OnAfterPesq = [this](QObject* s) { btpEmpresaAfterPesq(s); };

    // Picture sources of the grid's mark and status columns.
    auto image = [this](const char* name, const QPixmap& pm) {
        auto* img = new fw::TImage(this, QString::fromLatin1(name));
        img->setPicture(pm);
        img->setFixedSize(pm.size());
        img->setVisible(false);
        return img;
    };
    imgCheck = image("imgCheck", boxPixmap(true, false));
    imgUncheck = image("imgUncheck", boxPixmap(false, false));
    imgGray = image("imgGray", boxPixmap(false, true));
    imgFarolCinza = image("imgFarolCinza", lightPixmap(QColor(160, 160, 160)));
    imgFarolVerde = image("imgFarolVerde", lightPixmap(QColor(0, 176, 0)));
    imgFarolAmarelo = image("imgFarolAmarelo", lightPixmap(QColor(255, 208, 0)));
    imgFarolVermelho = image("imgFarolVermelho", lightPixmap(QColor(224, 0, 0)));

    // Tool buttons of the screen.
    sbtFiltro = newToolButton("sbtFiltro", QStringLiteral("Filtrar Lançamentos"), true);
    sbtTransmite =
        newToolButton("sbtTransmite", QStringLiteral("Transmissão das Cartas de Correções Eletrônicas"), false);
    sbtArquivoXml = newToolButton("sbtArquivoXml", QStringLiteral("Arquivo XML(Falha no Schema/Rejeição)"), false);
    sbtEnviaEmail = newToolButton("sbtEnviaEmail", QStringLiteral("Envio de E-mail"), false);
    sbtFiltro->setText(QStringLiteral("Filtro"));
    sbtTransmite->setText(QStringLiteral("Transmitir"));
    sbtArquivoXml->setText(QStringLiteral("XML"));
    sbtEnviaEmail->setText(QStringLiteral("E-mail"));
    sbtFiltro->setGlyph(QStringLiteral("system-search"));
    sbtTransmite->setGlyph(QStringLiteral("network-transmit"));
    sbtArquivoXml->setGlyph(QStringLiteral("text-x-generic"));
    sbtEnviaEmail->setGlyph(QStringLiteral("mail-message-new"));
    sbtFiltro->OnClick = [this](QObject* s) { sbtFiltroClick(s); };
    sbtTransmite->OnClick = [this](QObject* s) { sbtTransmiteClick(s); };
    sbtArquivoXml->OnClick = [this](QObject* s) { sbtArquivoXmlClick(s); };
    sbtEnviaEmail->OnClick = [this](QObject* s) { sbtEnviaEmailClick(s); };
    sbtImprimir->setEnabled(false);

    // The invoice list.
    dbgPadrao->setDataSource(dtsNotaFiscal);
    dbnPadrao->setDataSource(dtsNotaFiscal);
    dbtNome->setDataSource(dtsNotaFiscal);
    dbtNome->setDataField(QStringLiteral("NRLANCTONF"));
    dbgPadrao->OnDrawColumnCell = [this](fw::TDBGrid* g, QPainter* p, const QRect& r, int col, fw::Field* f,
                                         fw::TGridDrawState st) { dbgPadraoDrawColumnCell(g, p, r, col, f, st); };
    dbgPadrao->OnDblClick = [this](QObject* s) { dbgPadraoDblClick(s); };
    dbgPadrao->OnTitleClick = [this](fw::TDBGrid* g, int col) { dbgPadraoTitleClick(g, col); };

    pgcPadrao->setPageCaption(tshFolhaDados, QStringLiteral("Nota Fiscal"));
    pgcPadrao->setPageCaption(tshFormulario, QStringLiteral("Correção"));
}

void TfrmTransmissaoCCe::createMenus()
{
    mnuFolhaDados->setText(QStringLiteral("&Nota Fiscal"));
    mnuFormulario->setText(QStringLiteral("&Correção"));
    mnuListagem->setEnabled(false);
    mnuConfigImpressora->setEnabled(false);
    mnuImprimir->setEnabled(false);

    mnuManutencao->addSeparator();
    mnuFiltro = newAction(mnuManutencao, "mnuFiltro", QStringLiteral("&Filtrar Lançamentos"));
    mnuFiltro->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuManutencao->addSeparator();
    mnuTransmite =
        newAction(mnuManutencao, "mnuTransmite", QStringLiteral("&Transmissão das Cartas de Correções Eletrônicas"));
    mnuTransmite->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mnuManutencao->addSeparator();
    mnuEnviaEmailMenu = new QMenu(QStringLiteral("Envio de E-mail"), mnuManutencao);
    mnuEnviaEmailMenu->setObjectName(QStringLiteral("mnuEnviaEmail"));
    mnuEnviaEmail = mnuManutencao->addMenu(mnuEnviaEmailMenu);
    mnuEnviaEmail->setObjectName(QStringLiteral("mnuEnviaEmail"));
    mnuEmailSelecPrinc =
        newAction(mnuEnviaEmailMenu, "mnuEmailSelecPrinc", QStringLiteral("Enviar E-mail da NF Selecionada"));
    mnuEmailTodasPrinc = newAction(mnuEnviaEmailMenu, "mnuEmailTodasPrinc",
                                   QStringLiteral("Enviar E-mail Pendente das NF's com CC-e Aceita"));
    mnuEmailSelecPrincTransp =
        newAction(mnuEnviaEmailMenu, "mnuEmailSelecPrincTransp", QStringLiteral("Enviar E-mail da Transportadora"));

    pmnEmail = new fw::TPopupMenu(this, QStringLiteral("pmnEmail"));
    mnuEmailSelec = newAction(pmnEmail, "mnuEmailSelec", QStringLiteral("Enviar E-mail da NF Selecionada"));
    mnuEmailTodas =
        newAction(pmnEmail, "mnuEmailTodas", QStringLiteral("Enviar E-mail Pendente das NF's com CC-e Aceita"));
    mnuEmailTransp = newAction(pmnEmail, "mnuEmailTransp", QStringLiteral("Enviar E-mail da Transportadora"));

    onTriggered(mnuFiltro, &TfrmTransmissaoCCe::sbtFiltroClick);
    onTriggered(mnuTransmite, &TfrmTransmissaoCCe::sbtTransmiteClick);
    onTriggered(mnuEmailSelecPrinc, &TfrmTransmissaoCCe::mnuEmailSelecClick);
    onTriggered(mnuEmailTodasPrinc, &TfrmTransmissaoCCe::mnuEmailTodasClick);
    onTriggered(mnuEmailSelecPrincTransp, &TfrmTransmissaoCCe::mnuEmailTranspClick);
    onTriggered(mnuEmailSelec, &TfrmTransmissaoCCe::mnuEmailSelecClick);
    onTriggered(mnuEmailTodas, &TfrmTransmissaoCCe::mnuEmailTodasClick);
    onTriggered(mnuEmailTransp, &TfrmTransmissaoCCe::mnuEmailTranspClick);
}

void TfrmTransmissaoCCe::createGridColumns()
{
    auto col = [](const char* field, const QString& title, int width = 0) {
        fw::TColumn c;
        c.FieldName = QString::fromLatin1(field);
        c.Title = title;
        c.Width = width;
        return c;
    };
    QList<fw::TColumn> cols;
    fw::TColumn check = col("IDCHECK", QStringLiteral("4"), 21);
    check.TitleSymbol = true;
    check.TitleAlignment = Qt::AlignCenter;
    cols << check;
    auto sampled = [&col](const char* field, const QString& title, const QStringList& samples) {
        fw::TColumn c = col(field, title);
        c.Samples = samples;
        return c;
    };
    const QStringList date{QStringLiteral("00/00/0000")};
    cols << col("CDFILIEMIT", QStringLiteral("Filial"))
         << sampled("NRINSJURNF", QStringLiteral("Inscrição"), {QStringLiteral("00.000.000/0000-00")})
         << col("NMRAZSOCCLIE", QStringLiteral("Razão Social")) << col("NRNOTAFISCALELE", QStringLiteral("Nota Fiscal"))
         << sampled("DATASAIDA", QStringLiteral("Data Saída"), date)
         << sampled("DATAEMISSAO", QStringLiteral("Data Emissão"), date) << col("CDSERIE", QStringLiteral("Série"))
         << sampled("VRNOTAFISC", QStringLiteral("Valor Nota"), {QStringLiteral("000.000.000,00")})
         << sampled("IDEMAILCCE", QStringLiteral("E-mail"),
                    {msgPadrao->Msg(QStringLiteral("PENDENTE")), msgPadrao->Msg(QStringLiteral("ENVIADO"))})
         << sampled("IDEMAILCCETRANS", QStringLiteral("E-mail Transp"),
                    {msgPadrao->Msg(QStringLiteral("PENDENTE")), msgPadrao->Msg(QStringLiteral("ENVIADO")),
                     msgPadrao->Msg(QStringLiteral("SEM_TRANSP"))})
         << sampled("IDTPAMBNFE", QStringLiteral("Ambiente"),
                    {msgPadrao->Msg(QStringLiteral("PRODUCAO")), msgPadrao->Msg(QStringLiteral("HOMOLOGACAO"))});
    fw::TColumn status = col("IDSTATUSCCE", QStringLiteral("Status"), 35);
    status.Alignment = Qt::AlignCenter;
    status.TitleAlignment = Qt::AlignCenter;
    cols << status;
    cols << col("CDINSCESTA", QStringLiteral("Insc. Estadual")) << col("CDINSCMUNI", QStringLiteral("Insc. Municipal"));
    dbgPadrao->setColumns(cols);
}

void TfrmTransmissaoCCe::createLetterPage()
{
    auto* grid = new QGridLayout(tshFormulario);
    auto label = [this](const char* name, const QString& caption) {
        return new fw::TLabel(tshFormulario, QString::fromLatin1(name), caption);
    };
    auto readOnlyEdit = [this](const char* name, const char* field) {
        auto* e = new fw::TDBEdit(tshFormulario, QString::fromLatin1(name));
        e->setDataSource(dtsPadrao);
        e->setDataField(QString::fromLatin1(field));
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::ClickFocus);
        return e;
    };
    lblVersao = label("lblVersao", QStringLiteral("Versão"));
    dbeVersao = readOnlyEdit("dbeVersao", "NRSEQCCE");
    lblMaxCCe = label("lblMaxCCe", QStringLiteral("Máxima CCE"));
    lblMaxCCe->setVisible(false);
    lblProtRegi = label("lblProtRegi", QStringLiteral("Protocolo do Registro"));
    dbeProtRegi = readOnlyEdit("dbeProtRegi", "NRPROTOCOLCCE");
    lblDtHrRegi = label("lblDtHrRegi", QStringLiteral("Data/Hora do Registro"));
    dbeDtHrRegi = readOnlyEdit("dbeDtHrRegi", "DTHRPROTOCOLCCE");
    lblObservao = label("lblObservao", QStringLiteral("Observação"));
    dbeObservao = new fw::TDBMemo(tshFormulario, QStringLiteral("dbeObservao"));
    dbeObservao->setDataSource(dtsPadrao);
    dbeObservao->setDataField(QStringLiteral("DSOBSSTATUSCCE"));
    dbeObservao->setReadOnly(true);
    dbeObservao->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    dbeObservao->setFocusPolicy(Qt::ClickFocus);
    dbeObservao->setMaximumHeight(60);
    dbmCorrecao = new fw::TDBMemo(tshFormulario, QStringLiteral("dbmCorrecao"));
    dbmCorrecao->setDataSource(dtsPadrao);
    dbmCorrecao->setDataField(QStringLiteral("DSCORRECAONFE"));
    dbmCorrecao->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto navButton = [this](const char* name, const QString& hint, const QString& text, const char* glyph) {
        auto* b = new fw::TSpeedButton(tshFormulario, QString::fromLatin1(name), hint);
        b->setText(text);
        b->setGlyph(QString::fromLatin1(glyph));
        b->setEnabled(false);
        return b;
    };
    sbtPrimeiraCCe = navButton("sbtPrimeiraCCe", QStringLiteral("Primeira CC-e"), QStringLiteral("|<"), "go-first");
    sbtAnteriorCCe = navButton("sbtAnteriorCCe", QStringLiteral("CC-e Anterior"), QStringLiteral("<"), "go-previous");
    sbtProximaCCe = navButton("sbtProximaCCe", QStringLiteral("Próxima CC-e"), QStringLiteral(">"), "go-next");
    sbtUltimaCCe = navButton("sbtUltimaCCe", QStringLiteral("Última CC-e"), QStringLiteral(">|"), "go-last");
    sbtPrimeiraCCe->OnClick = [this](QObject* s) { sbtPrimeiraCCeClick(s); };
    sbtAnteriorCCe->OnClick = [this](QObject* s) { sbtAnteriorCCeClick(s); };
    sbtProximaCCe->OnClick = [this](QObject* s) { sbtProximaCCeClick(s); };
    sbtUltimaCCe->OnClick = [this](QObject* s) { sbtUltimaCCeClick(s); };
    auto* nav = new QHBoxLayout;
    nav->addWidget(sbtPrimeiraCCe);
    nav->addWidget(sbtAnteriorCCe);
    nav->addWidget(sbtProximaCCe);
    nav->addWidget(sbtUltimaCCe);
    nav->addStretch(1);

    grid->addWidget(lblVersao, 0, 0);
    grid->addWidget(dbeVersao, 0, 1);
    grid->addWidget(lblMaxCCe, 0, 2);
    grid->addLayout(nav, 0, 3);
    grid->addWidget(lblProtRegi, 1, 0);
    grid->addWidget(dbeProtRegi, 1, 1);
    grid->addWidget(lblDtHrRegi, 1, 2);
    grid->addWidget(dbeDtHrRegi, 1, 3);
    grid->addWidget(lblObservao, 2, 0);
    grid->addWidget(dbeObservao, 2, 1, 1, 3);
    grid->addWidget(dbmCorrecao, 3, 0, 1, 4);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(3, 1);
}
