#pragma once
// The filter dialog of the CC-e screen: collects and checks the criteria, fetches the
// matching invoices through the main screen and keeps the accepted criteria in its
// record, which the main screen reads to repeat the fetch.
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "core/dataset/DataSet.h"
#include "core/sql/TADOIBQuery.h"
#include "module/Pkg_dfs59000.h"
#include "widgets/controls/Edits.h"
#include "widgets/controls/StdCtrls.h"
#include "widgets/controls/TBtnPesquisa.h"
#include "widgets/forms/TfrmRotiGeral.h"

class QFrame;

// The accepted criteria. The field order is an interface: the host's preset copies
// the elements 1 to 27 of its array into the fields 1 to 27.
struct PKG_EXPORT TRecordFilter {
    qint32 DestRem = 0; // 0 Cliente, 1 Fornecedor, 2 Filial, 3 Todos
    qint32 IdOperacao = 0; // 0 Saída, 1 Entrada
    QString CdDestRem;
    QString InscCliente;
    QString NmCliente;
    QString InscFornecedor;
    QString NmRazSocForn;
    QString CdFilialDest;
    QString NmFilialDest;
    QString CodTipoOper;
    QString CdFilial;
    QString NmFiliEmit;
    QString CdInscEsta;
    QString CdInscMuni;
    QString CdSerie;
    QDateTime DtSaidIni;
    QDateTime DtSaidFim;
    bool TodosTipoOper = false;
    // Emission types left out; all false means every type.
    bool SemEmisNormal = false;
    bool SemEmisContFS = false;
    bool SemEmisContSCAN = false;
    bool SemEmisContEPEC = false;
    bool SemEmisContFSDA = false;
    bool SemEmisContSVCAN = false;
    bool SemEmisContSVCRS = false;
    QString CdFiliOrig;
    QString NmFilialOrig;

    static constexpr int FieldCount = 27;
    // Field n (1 to 27) as a variant, and its assignment converting to the field's type
    // (integers, strings, date-times and Booleans as the preset gives them).
    QVariant field(int n) const;
    void setField(int n, const QVariant& value);
};

class PKG_EXPORT TfrmFiltroTransmissao : public fw::TfrmRotiGeral {
    Q_OBJECT
public:
    explicit TfrmFiltroTransmissao(QWidget* owner = nullptr);
    ~TfrmFiltroTransmissao() override;

    // The accepted criteria; lives as long as the dialog.
    TRecordFilter RecordFilter;

    // --- issuing and origin branches -----------------------------------------------
    fw::TLabel* lblFilial = nullptr;
    fw::TMaskEdit* medCdFilial = nullptr;
    fw::TBtnPesquisa* btpFiliEmit = nullptr;
    fw::TEdit* edtFiliEmit = nullptr;
    fw::TLabel* lblOrig = nullptr;
    fw::TMaskEdit* medCdFiliOrig = nullptr;
    fw::TBtnPesquisa* btpFiliOrig = nullptr;
    fw::TEdit* edtNmFilialOrig = nullptr;

    // --- registrations and series ----------------------------------------------------
    fw::TLabel* lblInscEsta = nullptr;
    fw::TEdit* edtCdInscEsta = nullptr;
    fw::TBtnPesquisa* btnInscrEstad = nullptr;
    fw::TLabel* lblInscMuni = nullptr;
    fw::TEdit* edtCdInscMuni = nullptr;
    fw::TBtnPesquisa* btpInscrMunicip = nullptr;
    fw::TLabel* lblSerie = nullptr;
    fw::TEdit* edtCdSerie = nullptr;
    fw::TBtnPesquisa* btpSerieNF = nullptr;

    // --- recipient ------------------------------------------------------------------
    fw::TGroupBox* grbDest = nullptr;
    fw::TComboBox* cbbDestRem = nullptr;
    fw::TNotebook* nbkCliente = nullptr;
    fw::TLabel* lblInscricao = nullptr;
    fw::TMaskEdit* medCliente = nullptr;
    fw::TBtnPesquisa* btpCliente = nullptr;
    fw::TEdit* edtNmCliente = nullptr;
    fw::TLabel* lblInscForn = nullptr;
    fw::TMaskEdit* medFornecedor = nullptr;
    fw::TBtnPesquisa* btpFornecedor = nullptr;
    fw::TEdit* edtNmRazSocForn = nullptr;
    fw::TMaskEdit* medFilial = nullptr;
    fw::TBtnPesquisa* btpFilial = nullptr;
    fw::TEdit* edtNmFilial = nullptr;
    fw::TMaskEdit* medTodos = nullptr;
    fw::TBtnPesquisa* btpTodos = nullptr;
    fw::TEdit* edtTodos = nullptr;

    // --- dates, operation types, emission types ----------------------------------------
    fw::TGroupBox* grbDtSaida = nullptr;
    fw::TLabel* lblInicial = nullptr;
    fw::TDateEditPlus* depSaidIni = nullptr;
    fw::TLabel* lblFinal = nullptr;
    fw::TDateEditPlus* depSaidFim = nullptr;
    fw::TGroupBox* grbTipoOper = nullptr;
    fw::TComboBox* cbbIdOperacao = nullptr;
    fw::TRadioButton* rdgTodosTipoOper = nullptr;
    fw::TRadioButton* rdgListaTipoOper = nullptr;
    fw::TBtnPesquisa* btpTipoOper = nullptr;
    fw::TGroupBox* GroupBox1 = nullptr;
    fw::TCheckBox* chbEmisNormal = nullptr;
    fw::TCheckBox* chbEmisContFS = nullptr;
    fw::TCheckBox* chbEmisContFSDA = nullptr;
    fw::TCheckBox* chbEmisContSCAN = nullptr;
    fw::TCheckBox* chbEmisContEPEC = nullptr;
    fw::TCheckBox* chbEmisContSVCAN = nullptr;
    fw::TCheckBox* chbEmisContSVCRS = nullptr;
    QFrame* bvl1 = nullptr;
    QFrame* bvl2 = nullptr;
    fw::TSpeedButton* sbtDesfazer = nullptr;

    // --- queries ------------------------------------------------------------------------
    fw::TADOIBQuery* qryTipoOper = nullptr;
    fw::TADOIBQuery* qryTipoTrans = nullptr;
    fw::TADOIBQuery* qryCliente = nullptr;
    fw::TADOIBQuery* qryFornecedor = nullptr;
    fw::TADOIBQuery* qryFilial = nullptr;
    fw::TADOIBQuery* qryFiliOrig = nullptr;
    fw::TADOIBQuery* qryEmprCntrFil = nullptr;
    fw::TADOIBQuery* qryInscrEstad = nullptr;
    fw::TADOIBQuery* qryInscrMunicip = nullptr;
    fw::TADOIBQuery* qrySerieNF = nullptr;
    fw::TADOIBQuery* qryTodasSerieNF = nullptr;
    fw::TADOIBQuery* adqConfeFiliOrig = nullptr;
    fw::TDataSource* dtsTipoOper = nullptr;
    fw::TDataSource* dtsCliente = nullptr;
    fw::TDataSource* dtsFornecedor = nullptr;
    fw::TDataSource* dtsFilial = nullptr;
    fw::TDataSource* dtsFiliOrig = nullptr;
    fw::TDataSource* dtsInscrEstad = nullptr;
    fw::TDataSource* dtsInscrMunicip = nullptr;
    fw::TDataSource* dtsSerieNF = nullptr;

public:
    void FormClose(QObject* sender, fw::TCloseAction& action) override;
    void FormKeyDown(QObject* sender, int& key, Qt::KeyboardModifiers shift) override;

public slots:
    // Life of the dialog.
    void FormCreate(QObject* sender = nullptr) override;
    void FormShow(QObject* sender = nullptr) override;
    void FormActivate(QObject* sender = nullptr) override;
    void sbtCancelClick(QObject* sender = nullptr) override;
    void sbtConfirmaClick(QObject* sender = nullptr) override;
    void sbtDesfazerClick(QObject* sender = nullptr);
    void PreencheCampos();

public:
    // Whether the branch lookup holds a branch without a centralising branch of its own,
    // looking the issuing branch up again when no origin branch is given (the
    // confirmation, the refresh and the host's preset alike).
    bool semCentralizadora(const QString& filial, const QString& origem);
    // The company whose criteria the record holds (the host's preset sets a record of its own).
    void setCriteriaCompany(const QString& empresa);

public slots:

    // Operation types, direction, dates.
    void cbbDestRemChange(QObject* sender);
    void cbbIdOperacaoChange(QObject* sender);
    void rdgTodosTipoOperClick(QObject* sender);
    void rdgListaTipoOperClick(QObject* sender);
    void btpTipoOperClick(QObject* sender);
    void depSaidIniExit(QObject* sender);
    void depSaidFimExit(QObject* sender);
    void Vd_Datas(fw::TDateEditPlus* Ini, fw::TDateEditPlus* Fim);
    void Atualiza_Datas();

    // Recipient.
    void Vd_Cliente();
    void Vd_Fornecedor();
    void Vd_Filial();
    void medClienteEnter(QObject* sender);
    void medFornecedorEnter(QObject* sender);
    void medClienteChange(QObject* sender);
    void medFornecedorChange(QObject* sender);
    void medFilialChange(QObject* sender);
    void medClienteExit(QObject* sender);
    void medFornecedorExit(QObject* sender);
    void medFilialExit(QObject* sender);
    void btpClienteBeforePesq(QObject* sender, bool& cancel);
    void btpClienteAfterPesq(QObject* sender);
    void btpFornecedorBeforePesq(QObject* sender, bool& cancel);
    void btpFornecedorAfterPesq(QObject* sender);
    void btpFilialBeforePesq(QObject* sender, bool& cancel);
    void btpFilialAfterPesq(QObject* sender);
    void qryClienteNRINSJURCLIEGetText(fw::Field* sender, QString& text, bool displayText);
    void qryFornecedorNRINSJURFORNGetText(fw::Field* sender, QString& text, bool displayText);

    // Issuing and origin branches.
    void Vd_FiliEmit();
    void Vd_FiliOrig();
    void medCdFilialChange(QObject* sender);
    void medCdFilialExit(QObject* sender);
    void medCdFiliOrigChange(QObject* sender);
    void medCdFiliOrigExit(QObject* sender);
    void btpFiliEmitAfterPesq(QObject* sender);
    void btpFiliOrigBeforePesq(QObject* sender, bool& cancel);
    void btpFiliOrigAfterPesq(QObject* sender);

    // Registrations and series.
    void Vd_CdInscEsta();
    void Vd_CdInscMuni();
    void Vd_Serie();
    void edtCdInscEstaChange(QObject* sender);
    void edtCdInscMuniChange(QObject* sender);
    void edtCdInscEstaExit(QObject* sender);
    void edtCdInscMuniExit(QObject* sender);
    void edtCdSerieExit(QObject* sender);
    void btnInscrEstadBeforePesq(QObject* sender, bool& cancel);
    void btnInscrEstadAfterPesq(QObject* sender);
    void btpInscrMunicipBeforePesq(QObject* sender, bool& cancel);
    void btpInscrMunicipAfterPesq(QObject* sender);
    void btpSerieNFBeforePesq(QObject* sender, bool& cancel);
    void btpSerieNFAfterPesq(QObject* sender);
    void qryInscrEstadBeforeOpen(fw::DataSet* dataSet);
    void qrySerieNFBeforeOpen(fw::DataSet* dataSet);
    void qryTodasSerieNFBeforeOpen(fw::DataSet* dataSet);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    // The criteria as the controls hold them, as the confirmation stores them.
    TRecordFilter criteriosDaTela() const;
    // The creation's default branch and its registrations and series; onlyTheCompanys:
    // only what the company is related to (another company came).
    void branchDefaults(const QString& filtro, bool onlyTheCompanys);
    void adoptCompany();
    // The branch's parameters loaded for the branch in effect; their IDNFILTROINSCR.
    QString filtroInscricoes();
    // The branch, registration and series edits into the record.
    void branchesToRecord();
    void reopenEmprCntrFil(const QString& filial);
    void createQueries();
    void createControls();
    void wireHandlers();
    QString companyCode() const;
    bool lenientMode() const; // IDNFILTROINSCR "S" of the loaded parameters
    bool emprCntrFilHas(const QString& fields, const QVariantList& values);
    void openEmprCntrFilForContext();
    fw::TADOIBQuery* seriesQueryInUse() const;
    void setSeriesQueryParams(fw::TADOIBQuery* q, bool forLookup);
    bool m_confirmed = false; // the showing ended with a completed confirmation
    QString m_empresa; // the company the record's branches, registrations and series belong to
};

// --- globals of the unit -------------------------------------------------------------
PKG_EXPORT extern TfrmFiltroTransmissao* frmFiltroTransmissao;
PKG_EXPORT extern bool boConfirma;
PKG_EXPORT extern bool boActive;
PKG_EXPORT extern QString stCodTipoOper;

// Shows the filter dialog modally (creating it at the first call); true when the showing
// ended with a completed confirmation.
PKG_EXPORT bool CriaFiltroTransmissao();

// Creates the dialog without showing it when it does not exist yet (the host's preset).
PKG_EXPORT TfrmFiltroTransmissao* CreateFiltroTransmissao();

void Cli_dfs59100_Initialization();
void Cli_dfs59100_Finalization();
int Cli_dfs59100_InitCount();
