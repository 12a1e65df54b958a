// The filter dialog's queries: statements per database kind, fields and data sources.
#include "module/Cli_dfs59100.h"

namespace {

fw::TADOIBQuery* makeQuery(QObject* owner, const QString& name)
{
    auto* q = new fw::TADOIBQuery(owner);
    q->setObjectName(name);
    return q;
}

fw::TDataSource* makeSource(QObject* owner, const QString& name, fw::DataSet* ds)
{
    auto* s = new fw::TDataSource(owner);
    s->setObjectName(name);
    s->setDataSet(ds);
    return s;
}

void str(fw::DataSet* ds, const char* name, int size, const QString& label = {}, bool visible = true,
         bool required = false)
{
    fw::FieldDef def;
    def.name = QString::fromLatin1(name);
    def.type = fw::FieldType::String;
    def.size = size;
    def.required = required;
    ds->addField(def, label, visible);
}

const QString kCodigo = QStringLiteral("Código");
const QString kNome = QStringLiteral("Nome");

} // namespace

void TfrmFiltroTransmissao::createQueries()
{
    // --- operation types ------------------------------------------------------------
    qryTipoOper = makeQuery(this, QStringLiteral("qryTipoOper"));
    qryTipoOper->SQL_ORACLE = QStringList{
        QStringLiteral("SELECT"),
        QStringLiteral("   IDENTRSAIDOP||CDTIPOOPER AS CHAVE,"),
        QStringLiteral("   CDTIPOOPER, NMTIPOOPER"),
        QStringLiteral("FROM"),
        QStringLiteral("   TIPOOPERAC"),
        QStringLiteral("WHERE"),
        QStringLiteral("   (CDTIPOOPER = :P_CDTIPOOPER OR :P_TCDTIPOOPER = 'T') AND"),
        QStringLiteral("   (DECODE(IDTPTRANSNFE,'C','N',IDTPTRANSNFE) = :P_MODO) AND"),
        QStringLiteral("   ((IDENTRSAIDOP = 'E' AND IDUTILEMISNF = 'S') OR (IDENTRSAIDOP = 'S')) AND"),
        QStringLiteral("   (:P_IDOPERACAO = IDENTRSAIDOP)"),
        QStringLiteral("ORDER BY"),
        QStringLiteral("   IDENTRSAIDOP DESC , CDTIPOOPER"),
    };
    qryTipoOper->SQL_MSSQL = qryTipoOper->SQL_ORACLE;
    qryTipoOper->SQL_MSSQL[1] = QStringLiteral("   IDENTRSAIDOP+CDTIPOOPER AS CHAVE,");
    qryTipoOper->SQL_MSSQL[7] =
        QStringLiteral("   (CASE IDTPTRANSNFE WHEN 'C' THEN 'N' ELSE IDTPTRANSNFE END = :P_MODO) AND");
    qryTipoOper->SQL_IB = qryTipoOper->SQL_ORACLE;
    qryTipoOper->SQL_IB[7] = QStringLiteral(
        "   ((IDTPTRANSNFE IN ('N', 'C') AND ('N' = :P_MODO)) OR ((IDTPTRANSNFE = 'F') AND ('F' = :P_MODO))) AND");
    // SQLite and PostgreSQL: string concatenation with || and the standard CASE.
    qryTipoOper->SQL = qryTipoOper->SQL_ORACLE;
    qryTipoOper->SQL[7] = qryTipoOper->SQL_MSSQL[7];
    str(qryTipoOper, "CDTIPOOPER", 2, kCodigo, true, true);
    str(qryTipoOper, "NMTIPOOPER", 30, kNome);
    str(qryTipoOper, "CHAVE", 3, {}, false);
    dtsTipoOper = makeSource(this, QStringLiteral("dtsTipoOper"), qryTipoOper);

    qryTipoTrans = makeQuery(this, QStringLiteral("qryTipoTrans"));
    qryTipoTrans->SQL = QStringList{
        QStringLiteral("SELECT CDTIPOOPER"),
        QStringLiteral("FROM TIPOOPERAC"),
        QStringLiteral("WHERE IDTPTRANSNFE in ('F','C')"),
    };
    qryTipoTrans->SQL_ORACLE = qryTipoTrans->SQL;
    qryTipoTrans->SQL_ORACLE[2] += QStringLiteral("  ");
    str(qryTipoTrans, "CDTIPOOPER", 2, kCodigo, true, true);

    // --- recipients -------------------------------------------------------------------
    qryCliente = makeQuery(this, QStringLiteral("qryCliente"));
    qryCliente->SQL = QStringList{
        QStringLiteral("SELECT CDCLIENTE, IDTPIJURCLIE, NRINSJURCLIE, NMRAZSOCCLIE, NMFANTCLIE"),
        QStringLiteral("FROM CLIENTE"),
        QStringLiteral("WHERE ((NRINSJURCLIE = :P_NRINSJURCLIE) OR (:P_TODOS = 'T'))"),
        QStringLiteral("ORDER BY NRINSJURCLIE"),
    };
    str(qryCliente, "NRINSJURCLIE", 20, QStringLiteral("Inscrição"));
    str(qryCliente, "CDCLIENTE", 21, {}, false, true);
    str(qryCliente, "IDTPIJURCLIE", 1, {}, false);
    str(qryCliente, "NMRAZSOCCLIE", 50, QStringLiteral("Razão Social"));
    str(qryCliente, "NMFANTCLIE", 50, QStringLiteral("Nome Fantasia"));
    qryCliente->fieldByName(QStringLiteral("NRINSJURCLIE"))->OnGetText =
        [this](fw::Field* f, QString& text, bool display) { qryClienteNRINSJURCLIEGetText(f, text, display); };
    dtsCliente = makeSource(this, QStringLiteral("dtsCliente"), qryCliente);

    qryFornecedor = makeQuery(this, QStringLiteral("qryFornecedor"));
    qryFornecedor->SQL = QStringList{
        QStringLiteral("SELECT CDFORNECED, NRINSJURFORN, IDTPIJURFORN, NMRAZSOCFORN"),
        QStringLiteral("FROM FORNECEDOR"),
        QStringLiteral("WHERE ((NRINSJURFORN = :P_NRINSJURFORN) OR (:P_TODOS = 'T'))"),
        QStringLiteral("ORDER BY NRINSJURFORN"),
    };
    str(qryFornecedor, "NRINSJURFORN", 20, QStringLiteral("Inscrição"));
    str(qryFornecedor, "CDFORNECED", 21, {}, false, true);
    str(qryFornecedor, "IDTPIJURFORN", 1, {}, false);
    str(qryFornecedor, "NMRAZSOCFORN", 40, QStringLiteral("Razão Social"));
    qryFornecedor->fieldByName(QStringLiteral("NRINSJURFORN"))->OnGetText =
        [this](fw::Field* f, QString& text, bool display) { qryFornecedorNRINSJURFORNGetText(f, text, display); };
    dtsFornecedor = makeSource(this, QStringLiteral("dtsFornecedor"), qryFornecedor);

    // --- branches -----------------------------------------------------------------------
    qryFilial = makeQuery(this, QStringLiteral("qryFilial"));
    qryFilial->SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL, NMFILIAL, CDINSCESTA, CDINSCMUNI, CDSERIE"),
        QStringLiteral("FROM FILIAL"),
        QStringLiteral("WHERE (CDFILIAL = :P_CDFILIAL OR :P_TODOS = 'T')"),
        QStringLiteral("ORDER BY CDFILIAL"),
    };
    str(qryFilial, "CDFILIAL", 4, kCodigo, true, true);
    str(qryFilial, "NMFILIAL", 30, kNome);
    str(qryFilial, "CDINSCESTA", 16, {}, false);
    str(qryFilial, "CDINSCMUNI", 16, {}, false);
    str(qryFilial, "CDSERIE", 5, {}, false);
    dtsFilial = makeSource(this, QStringLiteral("dtsFilial"), qryFilial);

    qryFiliOrig = makeQuery(this, QStringLiteral("qryFiliOrig"));
    qryFiliOrig->SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL, NMFILIAL, CDINSCESTA, CDINSCMUNI, CDSERIE"),
        QStringLiteral("  FROM FILIAL"),
        QStringLiteral(" WHERE ((CDFILIAL = :P_CDFILIAL)     OR (:P_TODOS       = 'T'))"),
        QStringLiteral("   AND ((CDFILIFISC = :P_CDFILIFISC) OR (:P_TCDFILIFISC = 'T'))"),
        QStringLiteral("ORDER BY CDFILIAL"),
    };
    str(qryFiliOrig, "CDFILIAL", 4, kCodigo);
    str(qryFiliOrig, "NMFILIAL", 30, kNome);
    str(qryFiliOrig, "CDINSCESTA", 16, {}, false);
    str(qryFiliOrig, "CDINSCMUNI", 16, {}, false);
    str(qryFiliOrig, "CDSERIE", 5, {}, false);
    dtsFiliOrig = makeSource(this, QStringLiteral("dtsFiliOrig"), qryFiliOrig);

    qryEmprCntrFil = makeQuery(this, QStringLiteral("qryEmprCntrFil"));
    qryEmprCntrFil->SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE"),
        QStringLiteral("FROM EMPRCNTRFIL"),
        QStringLiteral("WHERE ((CDFILIAL  = :P_CDFILIAL) OR (:P_TCDFILIAL  = 'T'))"),
        QStringLiteral("UNION"),
        QStringLiteral("SELECT CDFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE"),
        QStringLiteral("FROM FILIAL"),
        QStringLiteral("WHERE ((CDFILIAL  = :P_CDFILIAL) OR (:P_TCDFILIAL  = 'T'))"),
    };
    str(qryEmprCntrFil, "CDFILIAL", 4);
    str(qryEmprCntrFil, "CDINSCESTA", 16);
    str(qryEmprCntrFil, "CDINSCMUNI", 16);
    str(qryEmprCntrFil, "CDSERIE", 5);
    str(qryEmprCntrFil, "CDEMPRESA", 2);

    adqConfeFiliOrig = makeQuery(this, QStringLiteral("adqConfeFiliOrig"));
    adqConfeFiliOrig->SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL, CDFILIFISC"),
        QStringLiteral("  FROM FILIAL"),
        QStringLiteral(" WHERE CDFILIAL = :P_CDFILIAL"),
    };
    str(adqConfeFiliOrig, "CDFILIAL", 4);
    str(adqConfeFiliOrig, "CDFILIFISC", 4);

    // --- registrations and series -----------------------------------------------------------
    qryInscrEstad = makeQuery(this, QStringLiteral("qryInscrEstad"));
    qryInscrEstad->SQL = QStringList{
        QStringLiteral("SELECT I.CDINSCESTA, I.NRSERIECERTIFIC, I.IDTPAMBIENTENFE, I.SGESTADO,"),
        QStringLiteral("       I.NRINSJURIEST, E.CDESTADOIBGE"),
        QStringLiteral("  FROM INSCRESTAD I, ESTADO E"),
        QStringLiteral(" WHERE I.CDPAIS = E.CDPAIS"),
        QStringLiteral("   AND I.SGESTADO = E.SGESTADO"),
        QStringLiteral("   AND (I.CDEMPRESA  = :P_CDEMPRESA)"),
        QStringLiteral("   AND (I.CDINSCESTA = :P_CDINSCESTA OR :P_TCDINSCESTA = 'T')"),
        QStringLiteral(" ORDER BY CDINSCESTA"),
    };
    str(qryInscrEstad, "CDINSCESTA", 16, kCodigo, true, true);
    str(qryInscrEstad, "NRSERIECERTIFIC", 50, QStringLiteral("Certificado Digital"));
    str(qryInscrEstad, "IDTPAMBIENTENFE", 1, {}, false);
    str(qryInscrEstad, "SGESTADO", 2, QStringLiteral("Estado"));
    str(qryInscrEstad, "NRINSJURIEST", 20, {}, false);
    str(qryInscrEstad, "CDESTADOIBGE", 2, {}, false);
    qryInscrEstad->BeforeOpen = [this](fw::DataSet* ds) { qryInscrEstadBeforeOpen(ds); };
    dtsInscrEstad = makeSource(this, QStringLiteral("dtsInscrEstad"), qryInscrEstad);

    qryInscrMunicip = makeQuery(this, QStringLiteral("qryInscrMunicip"));
    qryInscrMunicip->SQL = QStringList{
        QStringLiteral("SELECT CDINSCMUNI, NMREPRINSMUN"),
        QStringLiteral("FROM INSCRMUNICIP"),
        QStringLiteral("WHERE (CDEMPRESA  = :P_CDEMPRESA) AND"),
        QStringLiteral("      (CDINSCMUNI = :P_CDINSCMUNI OR :P_TCDINSCMUNI = 'T')"),
        QStringLiteral("ORDER BY 1"),
    };
    str(qryInscrMunicip, "CDINSCMUNI", 16, kCodigo, true, true);
    str(qryInscrMunicip, "NMREPRINSMUN", 40, QStringLiteral("Representante"));
    dtsInscrMunicip = makeSource(this, QStringLiteral("dtsInscrMunicip"), qryInscrMunicip);

    const QStringList serieSelect{
        QStringLiteral("SELECT S.CDSERIE, S.DSSERIE, S.CDEMPRESA, S.CDINSCESTA,"),
        QStringLiteral("       C.DTEMISCTNUNF, S.CDRELMODENF, S.CDRELESPENF, C.IDCONSDTEMIS,"),
        QStringLiteral("       C.IDUTCTRLFORM, C.CDCTRLNUMENF, C.IDUTLOCAEMIS, C.IDUTFILILCEM,"),
        QStringLiteral("       S.IDUTDTPREMIS, S.CDSERIENFE"),
    };
    qrySerieNF = makeQuery(this, QStringLiteral("qrySerieNF"));
    qrySerieNF->SQL_ORACLE = serieSelect + QStringList{
                                               QStringLiteral("  FROM SERIENF S, CTRLNUMENF C"),
                                               QStringLiteral(" WHERE (S.CDEMPRESA    = :P_CDEMPRESA)"),
                                               QStringLiteral("   AND (S.CDINSCESTA   = :P_CDINSCESTA)"),
                                               QStringLiteral("   AND (S.CDINSCMUNI   = :P_CDINSCMUNI)"),
                                               QStringLiteral("   AND (S.CDCTRLNUMENF = C.CDCTRLNUMENF(+))"),
                                               QStringLiteral("   AND (S.CDSERIE    = NVL(:P_CDSERIE, S.CDSERIE))"),
                                               QStringLiteral("ORDER BY S.CDSERIE"),
                                           };
    qrySerieNF->SQL_MSSQL =
        serieSelect +
        QStringList{
            QStringLiteral("  FROM SERIENF S LEFT JOIN CTRLNUMENF C ON (S.CDCTRLNUMENF = C.CDCTRLNUMENF)"),
            QStringLiteral(" WHERE (S.CDEMPRESA    = :P_CDEMPRESA)"),
            QStringLiteral("   AND (S.CDINSCESTA   = :P_CDINSCESTA)"),
            QStringLiteral("   AND (S.CDINSCMUNI   = :P_CDINSCMUNI)"),
            QStringLiteral("   AND (S.CDSERIE    = ISNULL(:P_CDSERIE, S.CDSERIE))"),
            QStringLiteral("ORDER BY S.CDSERIE"),
        };
    qrySerieNF->SQL_IB =
        serieSelect +
        QStringList{
            QStringLiteral("  FROM SERIENF S LEFT JOIN CTRLNUMENF C ON (S.CDCTRLNUMENF = C.CDCTRLNUMENF),"),
            QStringLiteral("       PARAM(:P_CDSERIE) P_CDSERIE"),
            QStringLiteral(" WHERE (S.CDEMPRESA  = :P_CDEMPRESA)"),
            QStringLiteral("   AND (S.CDINSCESTA = :P_CDINSCESTA)"),
            QStringLiteral("   AND (S.CDINSCMUNI = :P_CDINSCMUNI)"),
            QStringLiteral("   AND (S.CDSERIE    = NVLSTR(P_CDSERIE.PARAM, S.CDSERIE))"),
            QStringLiteral("ORDER BY S.CDSERIE"),
        };
    // SQLite and PostgreSQL: a cleared (null) series accepts every series; an empty one
    // too, as on the databases that store '' as null.
    qrySerieNF->SQL =
        serieSelect +
        QStringList{
            QStringLiteral("  FROM SERIENF S LEFT JOIN CTRLNUMENF C ON (S.CDCTRLNUMENF = C.CDCTRLNUMENF)"),
            QStringLiteral(" WHERE (S.CDEMPRESA    = :P_CDEMPRESA)"),
            QStringLiteral("   AND (S.CDINSCESTA   = :P_CDINSCESTA)"),
            QStringLiteral("   AND (S.CDINSCMUNI   = :P_CDINSCMUNI)"),
            QStringLiteral("   AND (S.CDSERIE    = COALESCE(NULLIF(:P_CDSERIE, ''), S.CDSERIE))"),
            QStringLiteral("ORDER BY S.CDSERIE"),
        };
    str(qrySerieNF, "CDSERIE", 5, kCodigo, true, true);
    str(qrySerieNF, "DSSERIE", 20, QStringLiteral("Descrição"));
    str(qrySerieNF, "CDEMPRESA", 2, {}, false, true);
    str(qrySerieNF, "CDINSCESTA", 16, {}, false, true);
    str(qrySerieNF, "CDRELMODENF", 100, {}, false);
    str(qrySerieNF, "CDRELESPENF", 100, {}, false);
    str(qrySerieNF, "IDCONSDTEMIS", 1, {}, false);
    str(qrySerieNF, "IDUTCTRLFORM", 1, {}, false);
    {
        fw::FieldDef def;
        def.name = QStringLiteral("DTEMISCTNUNF");
        def.type = fw::FieldType::DateTime;
        qrySerieNF->addField(def, {}, false);
    }
    str(qrySerieNF, "CDCTRLNUMENF", 10, {}, false);
    str(qrySerieNF, "IDUTLOCAEMIS", 1, {}, false);
    str(qrySerieNF, "IDUTFILILCEM", 1, {}, false);
    str(qrySerieNF, "IDUTDTPREMIS", 1, {}, false);
    str(qrySerieNF, "CDSERIENFE", 5, {}, false);
    qrySerieNF->BeforeOpen = [this](fw::DataSet* ds) { qrySerieNFBeforeOpen(ds); };

    qryTodasSerieNF = makeQuery(this, QStringLiteral("qryTodasSerieNF"));
    qryTodasSerieNF->SQL_ORACLE = QStringList{
        QStringLiteral("SELECT CDSERIE"),
        QStringLiteral("  FROM SERIENF"),
        QStringLiteral(" WHERE (CDEMPRESA = :P_CDEMPRESA)"),
        QStringLiteral("   AND ((CDINSCESTA = :P_CDINSCESTA) OR (:P_CDINSCESTA = 'T'))"),
        QStringLiteral("   AND ((CDINSCMUNI = :P_CDINSCMUNI) OR (:P_CDINSCMUNI = 'T'))"),
        QStringLiteral("   AND (CDSERIE = NVL(:P_CDSERIE, CDSERIE))"),
        QStringLiteral(" GROUP BY CDSERIE"),
        QStringLiteral(" ORDER BY CDSERIE"),
    };
    qryTodasSerieNF->SQL_MSSQL = qryTodasSerieNF->SQL_ORACLE;
    qryTodasSerieNF->SQL_MSSQL[5] = QStringLiteral("   AND (CDSERIE = ISNULL(:P_CDSERIE, CDSERIE))");
    qryTodasSerieNF->SQL_IB = QStringList{
        QStringLiteral("SELECT CDSERIE"),
        QStringLiteral("  FROM SERIENF,"),
        QStringLiteral("       PARAM(:P_CDEMPRESA) P_CDEMPRESA,"),
        QStringLiteral("       PARAM(:P_CDINSCESTA) P_CDINSCESTA,"),
        QStringLiteral("       PARAM(:P_CDINSCMUNI) P_CDINSCMUNI,"),
        QStringLiteral("       PARAM(:P_CDSERIE) P_CDSERIE"),
        QStringLiteral(" WHERE (CDEMPRESA = P_CDEMPRESA.PARAM)"),
        QStringLiteral("   AND ((CDINSCESTA = P_CDINSCESTA.PARAM) OR (P_CDINSCESTA.PARAM = 'T'))"),
        QStringLiteral("   AND ((CDINSCMUNI = P_CDINSCMUNI.PARAM) OR (P_CDINSCMUNI.PARAM = 'T'))"),
        QStringLiteral("   AND (CDSERIE = NVLSTR(P_CDSERIE.PARAM, CDSERIE))"),
        QStringLiteral(" GROUP BY CDSERIE"),
        QStringLiteral(" ORDER BY CDSERIE"),
    };
    qryTodasSerieNF->SQL = qryTodasSerieNF->SQL_ORACLE;
    qryTodasSerieNF->SQL[5] = QStringLiteral("   AND (CDSERIE = COALESCE(NULLIF(:P_CDSERIE, ''), CDSERIE))");
    str(qryTodasSerieNF, "CDSERIE", 5, kCodigo, true, true);
    qryTodasSerieNF->BeforeOpen = [this](fw::DataSet* ds) { qryTodasSerieNFBeforeOpen(ds); };

    dtsSerieNF = makeSource(this, QStringLiteral("dtsSerieNF"), qrySerieNF);
}
