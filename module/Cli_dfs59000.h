#pragma once
// The CC-e transmission screen: the company, the invoice list with its marks and
// lights, the correction letters of the current invoice, transmission, e-mail, the
// rejection XML and printing.
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "module/Pkg_dfs59000.h"
#include "module/services/ApplicationServer.h"
#include "module/services/HostFramework.h"

class QAction;
class QMenu;
class QPainter;
struct TRecordFilter;

class PKG_EXPORT TfrmTransmissaoCCe : public fw::TfrmPadrao {
    Q_OBJECT
public:
    explicit TfrmTransmissaoCCe(QWidget* owner = nullptr);
    ~TfrmTransmissaoCCe() override;

    // --- data -----------------------------------------------------------------------
    fw::DataSet* cdsNotaFiscal = nullptr;
    fw::Field* cdsNotaFiscalIDCHECK = nullptr;
    fw::Field* cdsNotaFiscalCDFILIEMIT = nullptr;
    fw::Field* cdsNotaFiscalNRINSJURNF = nullptr;
    fw::Field* cdsNotaFiscalNMRAZSOCCLIE = nullptr;
    fw::Field* cdsNotaFiscalNRNOTAFISCALELE = nullptr;
    fw::Field* cdsNotaFiscalDATASAIDA = nullptr;
    fw::Field* cdsNotaFiscalDATAEMISSAO = nullptr;
    fw::Field* cdsNotaFiscalCDSERIE = nullptr;
    fw::Field* cdsNotaFiscalVRNOTAFISC = nullptr;
    fw::Field* cdsNotaFiscalIDEMAILCCE = nullptr;
    fw::Field* cdsNotaFiscalIDEMAILCCETRANS = nullptr;
    fw::Field* cdsNotaFiscalIDTPAMBNFE = nullptr;
    fw::Field* cdsNotaFiscalIDSTATUSCCE = nullptr;
    fw::Field* cdsNotaFiscalCDFILIAL = nullptr;
    fw::Field* cdsNotaFiscalNRLANCTONF = nullptr;
    fw::Field* cdsNotaFiscalCDEMPRESA = nullptr;
    fw::Field* cdsNotaFiscalCDINSCESTA = nullptr;
    fw::Field* cdsNotaFiscalCDINSCMUNI = nullptr;
    fw::Field* cdsNotaFiscalNRLICENCAUSO = nullptr;
    fw::Field* cdsNotaFiscalCDCLIENTE = nullptr;
    fw::Field* cdsNotaFiscalCDFILIRECE = nullptr;
    fw::Field* cdsNotaFiscalCDFORNECED = nullptr;
    fw::Field* cdsNotaFiscalIDTIPOEMISNFE = nullptr;
    fw::Field* cdsNotaFiscalCDTIPOOPER = nullptr;
    fw::Field* cdsNotaFiscalIDENTRSAIDOP = nullptr;
    fw::Field* cdsNotaFiscalNRSEQCCE = nullptr;
    fw::Field* cdsNotaFiscalIDORIGDESTNF = nullptr;
    fw::Field* cdsNotaFiscalIDTPIJURNF = nullptr;
    fw::Field* cdsNotaFiscalCDSTATUSCCE = nullptr;
    fw::Field* cdsNotaFiscalNRACESSONFE = nullptr;
    fw::Field* cdsNotaFiscalNRINSJURTRAN = nullptr;
    fw::Field* cdsNotaFiscalDTHRPROTOCOLNFE = nullptr;

    fw::DataSet* cdsCCe = nullptr;
    fw::Field* cdsCCeCDFILIAL = nullptr;
    fw::Field* cdsCCeNRLANCTONF = nullptr;
    fw::Field* cdsCCeNRSEQCCE = nullptr;
    fw::Field* cdsCCeDSCORRECAONFE = nullptr;
    fw::Field* cdsCCeCDSTATUSCCE = nullptr;
    fw::Field* cdsCCeDSOBSSTATUSCCE = nullptr;
    fw::Field* cdsCCeDTHRPROTOCOLCCE = nullptr;
    fw::Field* cdsCCeNRPROTOCOLCCE = nullptr;
    fw::Field* cdsCCeIDEMAILCCE = nullptr;
    fw::Field* cdsCCeIDEMAILCCETRANS = nullptr;

    fw::DataSet* cdsParamDFS = nullptr;
    fw::Field* cdsParamDFSNREXEMEMISSAO = nullptr;
    fw::Field* cdsParamDFSIDUTREIMPRNF = nullptr;
    fw::Field* cdsParamDFSCDFILIAL = nullptr;
    fw::Field* cdsParamDFSNRTAMNUMNFUT = nullptr;
    fw::Field* cdsParamDFSIDUTLIBERANF = nullptr;
    fw::Field* cdsParamDFSIDUTFILCENTOBR = nullptr;
    fw::Field* cdsParamDFSIDNFILTROINSCR = nullptr;

    fw::DataSet* cdsValdXMLSchema = nullptr;
    fw::Field* cdsValdXMLSchemaCDFILIAL = nullptr;
    fw::Field* cdsValdXMLSchemaNRLANCTONF = nullptr;
    fw::Field* cdsValdXMLSchemaIDTIPOARQXML = nullptr;
    fw::Field* cdsValdXMLSchemaDSARQXMLNFE = nullptr;

    fw::TDataSource* dtsNotaFiscal = nullptr;
    fw::TDataSource* dtsEmpresa = nullptr;

    fw::TADOIBQuery* qryEmpresa = nullptr;
    fw::Field* qryEmpresaCDEMPRESA = nullptr;
    fw::Field* qryEmpresaNMRAZSOCEMPR = nullptr;
    fw::Field* qryEmpresaCDCENTCUST = nullptr;

    TNetConnection* netTransmissao = nullptr;
    TNetConnection* netDocFiscSaid = nullptr;

    // --- company panel -------------------------------------------------------------
    fw::TPanel* panEmpresa = nullptr;
    fw::TLabel* lblEmpresa = nullptr;
    fw::TMaskEdit* medCdEmpresa = nullptr;
    fw::TBtnPesquisa* btpEmpresa = nullptr;
    fw::TEdit* edtNmEmpresa = nullptr;

    // --- pictures of the grid ------------------------------------------------------
    fw::TImage* imgCheck = nullptr;
    fw::TImage* imgUncheck = nullptr;
    fw::TImage* imgGray = nullptr;
    fw::TImage* imgFarolCinza = nullptr;
    fw::TImage* imgFarolVerde = nullptr;
    fw::TImage* imgFarolAmarelo = nullptr;
    fw::TImage* imgFarolVermelho = nullptr;

    // --- tool bar and menus ---------------------------------------------------------
    fw::TSpeedButton* sbtFiltro = nullptr;
    fw::TSpeedButton* sbtTransmite = nullptr;
    fw::TSpeedButton* sbtArquivoXml = nullptr;
    fw::TSpeedButton* sbtEnviaEmail = nullptr;
    QAction* mnuFiltro = nullptr;
    QAction* mnuTransmite = nullptr;
    QMenu* mnuEnviaEmailMenu = nullptr;
    QAction* mnuEnviaEmail = nullptr; // the submenu's own item
    QAction* mnuEmailSelecPrinc = nullptr;
    QAction* mnuEmailTodasPrinc = nullptr;
    QAction* mnuEmailSelecPrincTransp = nullptr;
    fw::TPopupMenu* pmnEmail = nullptr;
    QAction* mnuEmailSelec = nullptr;
    QAction* mnuEmailTodas = nullptr;
    QAction* mnuEmailTransp = nullptr;

    // --- the "Correção" page --------------------------------------------------------
    fw::TLabel* lblVersao = nullptr;
    fw::TDBEdit* dbeVersao = nullptr;
    fw::TLabel* lblProtRegi = nullptr;
    fw::TDBEdit* dbeProtRegi = nullptr;
    fw::TLabel* lblDtHrRegi = nullptr;
    fw::TDBEdit* dbeDtHrRegi = nullptr;
    fw::TLabel* lblObservao = nullptr;
    fw::TDBMemo* dbeObservao = nullptr;
    fw::TLabel* lblMaxCCe = nullptr;
    fw::TDBMemo* dbmCorrecao = nullptr;
    fw::TSpeedButton* sbtUltimaCCe = nullptr;
    fw::TSpeedButton* sbtProximaCCe = nullptr;
    fw::TSpeedButton* sbtAnteriorCCe = nullptr;
    fw::TSpeedButton* sbtPrimeiraCCe = nullptr;

    // The emission-type tokens chosen in the filter dialog ("_1_".."_7_"), which its
    // confirmation sets.
    QString tiposEmis() const { return stTiposEmis; }
    void setTiposEmis(const QString& tokens) { stTiposEmis = tokens; }

    // Run by the base when the screen closes.
    void FormClose(QObject* sender, fw::TCloseAction& action) override;
    void dbgPadraoKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift) override;

public slots:
    // Life of the screen.
    void FormCreate(QObject* sender = nullptr) override;
    void FormShow(QObject* sender = nullptr) override;
    void FormActivate(QObject* sender = nullptr) override;

    // Company and parameters.
    void medCdEmpresaChange(QObject* sender = nullptr);
    void panEmpresaEnter(QObject* sender = nullptr);
    void panEmpresaExit(QObject* sender = nullptr);
    void Vd_Empresa(bool reportEmpty);
    void btpEmpresaBeforePesq(QObject* sender, bool& cancel);
    void btpEmpresaAfterPesq(QObject* sender = nullptr);
    void netTransmissaoBeforeConnect(QObject* sender = nullptr);
    void netDocFiscSaidBeforeConnect(QObject* sender = nullptr);
    void GetParamDFS();

    // Invoice retrieval.
    void sbtFiltroClick(QObject* sender = nullptr);
    void AplicaFiltro();
    void GetNotafiscal(const QString& cdFiliEmit, const QString& cdFiliOrig, const QString& tiposOper,
                       const QString& cdEmpresa, const QString& cdInscEsta, const QString& cdInscMuni,
                       const QString& cdSerie, const QString& cdFiliRece, const QString& idOrigDest,
                       const QString& nrInsJur, const QString& idPeriodo, const QString& idEntrSaid,
                       const QString& tiposEmis, const QDateTime& dtSaidIni, const QDateTime& dtSaidFim);

    // Invoice grid.
    void dbgPadraoDrawColumnCell(fw::TDBGrid* sender, QPainter* painter, const QRect& rect, int column,
                                 fw::Field* field, int state);
    void dbgPadraoDblClick(QObject* sender = nullptr);
    void dbgPadraoTitleClick(fw::TDBGrid* sender, int column);
    void cdsNotaFiscalNRINSJURNFGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalCDFILIEMITGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalIDEMAILCCEGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalIDEMAILCCETRANSGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalIDTPAMBNFEGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalNRLANCTONFGetText(fw::Field* sender, QString& text, bool displayText);
    void cdsNotaFiscalAfterScroll(fw::DataSet* dataSet);
    void pgcPadraoChange(QObject* sender = nullptr) override;
    void sbtProcurarClick(QObject* sender = nullptr) override;

    // Letters.
    void dtsPadraoStateChange(QObject* sender = nullptr) override;
    void cdsCCeAfterInsert(fw::DataSet* dataSet);
    void cdsCCeBeforePost(fw::DataSet* dataSet);
    void cdsCCeAfterPost(fw::DataSet* dataSet);
    void cdsCCeBeforeDelete(fw::DataSet* dataSet);
    void cdsCCeAfterDelete(fw::DataSet* dataSet);
    void cdsCCeAfterScroll(fw::DataSet* dataSet);
    void sbtUltimaCCeClick(QObject* sender = nullptr);
    void sbtProximaCCeClick(QObject* sender = nullptr);
    void sbtAnteriorCCeClick(QObject* sender = nullptr);
    void sbtPrimeiraCCeClick(QObject* sender = nullptr);
    void Vd_Correcao();

    // Transmission and status check.
    void sbtVerificarClick(QObject* sender = nullptr) override;
    void sbtTransmiteClick(QObject* sender = nullptr);

    // E-mail.
    void sbtEnviaEmailClick(QObject* sender = nullptr);
    void mnuEmailSelecClick(QObject* sender = nullptr);
    void mnuEmailTodasClick(QObject* sender = nullptr);
    void mnuEmailTranspClick(QObject* sender = nullptr);

    // Rejection XML and printing.
    void sbtArquivoXmlClick(QObject* sender = nullptr);
    void sbtImprimirClick(QObject* sender = nullptr) override;

private:
    void createData();
    void createControls();
    void createMenus();
    void createGridColumns();
    void createLetterPage();
    fw::TSpeedButton* newToolButton(const char* name, const QString& hint, bool enabled);
    QAction* newAction(QMenu* menu, const char* name, const QString& caption);
    void onTriggered(QAction* action, void (TfrmTransmissaoCCe::*handler)(QObject*));
    void fetchWith(const TRecordFilter& rec);
    void storeLetterChanges(bool afterDelete);
    // Writes the batch's XML; the absolute path, or empty when it could not (said to the user).
    QString gravaXml(const QString& fileName, const QString& xml);
    // What the XML's window says above it: the invoice, the kind of failure, the reason, the file.
    QString cabecalhoXml(const QString& fileName) const;
    // The refresh, staying on the invoice with these keys when it is still listed.
    void atualizaNaNota(const QString& cdFilial, const QString& nrLanctoNF, bool ignoraCaixa);
    // A string literal of the filter language: quotes inside are doubled.
    static QString filterLiteral(const QString& value);
    // The current invoice's letter to its recipient or, with transportadora, its carrier.
    void enviaEmailNota(bool transportadora);

    QString stTiposEmis;
    QString m_condicaoUso; // handed to the server unaccented, once the user confirmed it
    bool m_built = false;
    bool m_gravandoInclusao = false; // the letter being saved is a new one
};

// --- globals of the unit -------------------------------------------------------------
PKG_EXPORT extern TfrmTransmissaoCCe* frmTransmissaoCCe;
PKG_EXPORT extern bool boStCriado;
PKG_EXPORT extern bool boFiltrado;
PKG_EXPORT extern qint32 inCount;
PKG_EXPORT extern QString stSGinscEsta;
PKG_EXPORT extern QString stAmbiente;
PKG_EXPORT extern QString stCertificado;
PKG_EXPORT extern QVariant oleParam;

// Opens or brings forward the screen; a preset that is not Null replaces the pending one.
PKG_EXPORT void CriaTransmissaoCCe(const QVariant& Param);

extern "C" {
// The host's entry, found by this plain name.
PKG_EXPORT void IniProc(const QVariant& Param);
}

void Cli_dfs59000_Initialization();
void Cli_dfs59000_Finalization();
int Cli_dfs59000_InitCount();
