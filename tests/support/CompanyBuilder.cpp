#include "tests/support/CompanyBuilder.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include "db/Schema.h"

namespace cce_test {

namespace {

// Empty text is stored as null.
QVariant nv(const QString& s) { return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s); }

QVariant when(const QDateTime& t) { return t.isValid() ? QVariant(t) : QVariant(); }

} // namespace

bool execSql(QSqlDatabase db, const QString& sql, QString* error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = sql + QStringLiteral(": ") + q.lastError().text();
    return false;
}

bool openCompanyDatabase(QSqlDatabase* db, const QString& file, QString* error)
{
    *db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kCompanyConnection);
    db->setDatabaseName(file);
    if (!db->open()) {
        *error = db->lastError().text();
        return false;
    }
    return db::migrate(*db, error);
}

CompanyBuilder& CompanyBuilder::insert(const char* table,
                                       std::initializer_list<std::pair<const char*, QVariant>> columns)
{
    if (!ok())
        return *this;
    QStringList names, marks;
    for (const auto& c : columns) {
        names << QString::fromLatin1(c.first);
        marks << QStringLiteral("?");
    }
    const QString sql =
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
            .arg(QString::fromLatin1(table), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    QSqlQuery q(m_db);
    bool done = q.prepare(sql);
    if (done) {
        for (const auto& c : columns)
            q.addBindValue(c.second);
        done = q.exec();
    }
    if (!done)
        m_error = sql + QStringLiteral(": ") + q.lastError().text();
    return *this;
}

CompanyBuilder& CompanyBuilder::twoCompanies()
{
    return state(QStringLiteral("SP"), QStringLiteral("São Paulo"), QStringLiteral("35"))
        .company(QStringLiteral("01"), QStringLiteral("Empresa Um"))
        .company(QStringLiteral("02"), QStringLiteral("Empresa Dois"))
        .branch({QStringLiteral("0001"),
                 QStringLiteral("Matriz"),
                 QStringLiteral("01"),
                 QStringLiteral("IE1"),
                 QStringLiteral("IM1"),
                 QStringLiteral("1"),
                 {}})
        .branch({QStringLiteral("0002"), QStringLiteral("Filial Dois"), QStringLiteral("01"), QStringLiteral("IE2"),
                 QStringLiteral("IM2"), QStringLiteral("2"), QStringLiteral("0001")});
}

CompanyBuilder& CompanyBuilder::state(const QString& code, const QString& name, const QString& ibgeCode)
{
    return insert(
        "ESTADO",
        {{"CDPAIS", QStringLiteral("1058")}, {"SGESTADO", code}, {"NMESTADO", name}, {"CDESTADOIBGE", ibgeCode}});
}

CompanyBuilder& CompanyBuilder::company(const QString& code, const QString& name, const QString& costCentre)
{
    return insert("EMPRESA", {{"CDEMPRESA", code}, {"NMRAZSOCEMPR", name}, {"CDCENTCUST", nv(costCentre)}});
}

CompanyBuilder& CompanyBuilder::branch(const BranchRow& b)
{
    return insert("FILIAL", {{"CDFILIAL", b.code},
                             {"NMFILIAL", b.name},
                             {"CDEMPRESA", b.company},
                             {"CDINSCESTA", nv(b.stateRegistration)},
                             {"CDINSCMUNI", nv(b.municipalRegistration)},
                             {"CDSERIE", nv(b.series)},
                             {"CDFILIFISC", nv(b.fiscalBranch)}});
}

CompanyBuilder& CompanyBuilder::relatedBranch(const QString& company, const QString& branch,
                                              const QString& stateRegistration, const QString& municipalRegistration,
                                              const QString& series)
{
    return insert("EMPRCNTRFIL", {{"CDEMPRESA", company},
                                  {"CDFILIAL", branch},
                                  {"CDINSCESTA", nv(stateRegistration)},
                                  {"CDINSCMUNI", nv(municipalRegistration)},
                                  {"CDSERIE", nv(series)}});
}

CompanyBuilder& CompanyBuilder::registration(const QString& code, const QString& certificate,
                                             const QString& environment, const QString& state, const QString& company)
{
    return insert("INSCRESTAD", {{"CDEMPRESA", company},
                                 {"CDINSCESTA", code},
                                 {"NRSERIECERTIFIC", nv(certificate)},
                                 {"IDTPAMBIENTENFE", nv(environment)},
                                 {"CDPAIS", QStringLiteral("1058")},
                                 {"SGESTADO", nv(state)}});
}

CompanyBuilder& CompanyBuilder::municipalRegistration(const QString& code, const QString& representative,
                                                      const QString& company)
{
    return insert("INSCRMUNICIP", {{"CDEMPRESA", company}, {"CDINSCMUNI", code}, {"NMREPRINSMUN", nv(representative)}});
}

CompanyBuilder& CompanyBuilder::series(const QString& stateRegistration, const QString& municipalRegistration,
                                       const QString& code, const QString& description, const QString& company)
{
    return insert("SERIENF", {{"CDEMPRESA", company},
                              {"CDINSCESTA", stateRegistration},
                              {"CDINSCMUNI", municipalRegistration},
                              {"CDSERIE", code},
                              {"DSSERIE", nv(description)}});
}

CompanyBuilder& CompanyBuilder::operation(const QString& code, const QString& name, const QString& entryOrExit,
                                          const QString& transmission, const QString& issuesInvoice)
{
    return insert("TIPOOPERAC", {{"CDTIPOOPER", code},
                                 {"NMTIPOOPER", name},
                                 {"IDENTRSAIDOP", nv(entryOrExit)},
                                 {"IDTPTRANSNFE", nv(transmission)},
                                 {"IDUTILEMISNF", nv(issuesInvoice)}});
}

CompanyBuilder& CompanyBuilder::customer(const QString& code, const QString& personType, const QString& document,
                                         const QString& name, const QString& tradeName)
{
    return insert("CLIENTE", {{"CDCLIENTE", code},
                              {"IDTPIJURCLIE", nv(personType)},
                              {"NRINSJURCLIE", nv(document)},
                              {"NMRAZSOCCLIE", nv(name)},
                              {"NMFANTCLIE", nv(tradeName)}});
}

CompanyBuilder& CompanyBuilder::supplier(const QString& code, const QString& personType, const QString& document,
                                         const QString& name)
{
    return insert("FORNECEDOR", {{"CDFORNECED", code},
                                 {"NRINSJURFORN", nv(document)},
                                 {"IDTPIJURFORN", nv(personType)},
                                 {"NMRAZSOCFORN", nv(name)}});
}

CompanyBuilder& CompanyBuilder::invoice(const InvoiceRow& n)
{
    const bool authorised = n.situacao != QLatin1String("N");
    return insert("NOTAFISCAL",
                  {{"CDFILIAL", n.filial},
                   {"NRLANCTONF", n.lancto},
                   {"CDEMPRESA", n.empresa},
                   {"CDFILIEMIT", n.filiEmit},
                   {"CDFILIRECE", nv(n.filiRece)},
                   {"CDCLIENTE", nv(n.cliente)},
                   {"CDFORNECED", nv(n.fornecedor)},
                   {"IDORIGDESTNF", n.origDest},
                   {"NRINSJURNF", n.insJur},
                   {"IDTPIJURNF", n.tipoPessoa},
                   {"NMRAZSOCCLIE", n.nome},
                   {"NRNOTAFISCALELE", n.numero},
                   {"CDSERIE", n.serie},
                   {"CDMODELONF", n.modelo},
                   {"DTSAIDA", when(n.saida)},
                   {"DTEMISSAO", n.emissao},
                   {"VRNOTAFISC", n.valor},
                   {"CDINSCESTA", n.inscEsta},
                   {"CDINSCMUNI", n.inscMuni},
                   {"IDTPAMBNFE", n.ambiente},
                   {"IDTIPOEMISNFE", n.tipoEmis},
                   {"CDTIPOOPER", n.tipoOper},
                   {"IDENTRSAIDOP", n.entrSaid},
                   {"NRLICENCAUSO", QVariant()},
                   {"NRACESSONFE", n.acesso},
                   {"NRINSJURTRAN", nv(n.transp)},
                   {"NRPROTOCOLONFE", authorised ? QVariant(QStringLiteral("135260000012345")) : QVariant()},
                   {"DTHRPROTOCOLNFE", authorised ? QVariant(n.protocolo) : QVariant()},
                   {"IDSITUACAONFE", n.situacao}});
}

CompanyBuilder& CompanyBuilder::letter(const QString& filial, const QString& lancto, const LetterRow& l)
{
    return insert("CARTACORRECAO", {{"CDFILIAL", filial},
                                    {"NRLANCTONF", lancto},
                                    {"NRSEQCCE", l.seq},
                                    {"DSCORRECAONFE", l.texto},
                                    {"CDSTATUSCCE", nv(l.status)},
                                    {"DSOBSSTATUSCCE", l.obs},
                                    {"DTHRPROTOCOLCCE", when(l.protocolo)},
                                    {"NRPROTOCOLCCE", nv(l.nrProtocolo)},
                                    {"IDEMAILCCE", l.email},
                                    {"IDEMAILCCETRANS", l.emailTrans},
                                    {"IDTRANSMCCE", l.transm},
                                    {"DSXMLEVENTO", nv(l.eventXml)},
                                    {"NRVERSAOREG", 1}});
}

} // namespace cce_test
