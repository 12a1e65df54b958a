#pragma once
// The company database of a test or a benchmark: the "company" SQLite connection, migrated,
// and a builder that fills it with the rows the test names (companies, branches, their
// registrations, invoices and letters), every value bound. Fixtures share it instead of
// each writing its own seed statements:
//
//   QSqlDatabase db;
//   ASSERT_TRUE(cce_test::openCompany(&db, QStringLiteral(":memory:"), &error)) << ...;
//   cce_test::CompanyBuilder seed(db);
//   seed.twoCompanies().state("RJ", "Rio de Janeiro", "33").registration("IE1", "CERT1", "2", "SP");
//   ASSERT_TRUE(seed.ok()) << seed.error().toStdString();
//
// Optional columns left empty are stored as null. No gtest here: the benchmarks link it too.
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <initializer_list>
#include <utility>

namespace cce_test {

inline const QString kCompanyConnection = QStringLiteral("company");

// Runs one statement; false with "statement: error" in *error.
bool execSql(QSqlDatabase db, const QString& sql, QString* error);

// Opens the "company" connection on file (":memory:" for one in memory) and migrates it;
// false with the failure in *error.
bool openCompanyDatabase(QSqlDatabase* db, const QString& file, QString* error);

// The same, then runs statements in order.
template <class Statements = std::initializer_list<const char*>>
bool openCompany(QSqlDatabase* db, const QString& file, QString* error, const Statements& statements = {})
{
    if (!openCompanyDatabase(db, file, error))
        return false;
    for (const char* sql : statements)
        if (!execSql(*db, QString::fromUtf8(sql), error))
            return false;
    return true;
}

// A branch (FILIAL): code, name, company, state and municipal registrations, series, and
// the branch that answers for it to the tax authority.
struct BranchRow {
    QString code, name, company = QStringLiteral("01"), stateRegistration, municipalRegistration, series, fiscalBranch;
};

// An invoice (NOTAFISCAL), authorised unless situacao says otherwise ("N": no protocol).
struct InvoiceRow {
    QString filial = QStringLiteral("0002");
    QString lancto;
    QString empresa = QStringLiteral("01");
    QString filiEmit = QStringLiteral("0001");
    QString filiRece;
    QString cliente = QStringLiteral("C1");
    QString fornecedor;
    QString origDest = QStringLiteral("C");
    QString insJur = QStringLiteral("11222333000181");
    QString tipoPessoa = QStringLiteral("J");
    QString nome = QStringLiteral("Mercado Boa Vista Ltda");
    QString numero = QStringLiteral("000000001");
    QString serie = QStringLiteral("1");
    QString modelo = QStringLiteral("55");
    QDateTime saida = QDateTime(QDate(2026, 11, 10), QTime(9, 30));
    QDateTime emissao = QDateTime(QDate(2026, 11, 9), QTime(17, 5, 7));
    double valor = 1234.56;
    QString inscEsta = QStringLiteral("110042490114");
    QString inscMuni = QStringLiteral("34567890");
    QString ambiente = QStringLiteral("1");
    QString tipoEmis = QStringLiteral("1");
    QString tipoOper = QStringLiteral("01");
    QString entrSaid = QStringLiteral("S");
    QString acesso = QStringLiteral("35261111222333000181550010000000011123456780");
    QString transp;
    QString situacao = QStringLiteral("A");
    QDateTime protocolo = QDateTime(QDate(2026, 11, 9), QTime(17, 6, 0));
};

// A correction letter (CARTACORRECAO) of an invoice, pending unless the fields say otherwise.
struct LetterRow {
    QString seq;
    QString texto = QStringLiteral("Correção do endereço de entrega do destinatário.");
    QString status; // CDSTATUSCCE
    QString obs = QStringLiteral("Carta de Correção Pendente no Sistema");
    QString transm = QStringLiteral("N");
    QDateTime protocolo;
    QString nrProtocolo;
    QString email = QStringLiteral("P");
    QString emailTrans = QStringLiteral("N");
    QString eventXml; // DSXMLEVENTO
};

class CompanyBuilder {
public:
    explicit CompanyBuilder(QSqlDatabase db) : m_db(std::move(db)) {}

    // State SP; companies 01 "Empresa Um" and 02 "Empresa Dois"; company 01's branches 0001
    // "Matriz" (IE1, IM1, series 1) and 0002 "Filial Dois" (IE2, IM2, series 2, answered
    // for by 0001).
    CompanyBuilder& twoCompanies();

    CompanyBuilder& state(const QString& code, const QString& name, const QString& ibgeCode); // of Brazil
    CompanyBuilder& company(const QString& code, const QString& name, const QString& costCentre = {});
    CompanyBuilder& branch(const BranchRow& b);
    // A branch of another company that this company answers for (EMPRCNTRFIL).
    CompanyBuilder& relatedBranch(const QString& company, const QString& branch, const QString& stateRegistration,
                                  const QString& municipalRegistration, const QString& series);
    // A state registration (INSCRESTAD) with its certificate, environment ("1" production,
    // "2" homologation) and state.
    CompanyBuilder& registration(const QString& code, const QString& certificate, const QString& environment,
                                 const QString& state, const QString& company = QStringLiteral("01"));
    CompanyBuilder& municipalRegistration(const QString& code, const QString& representative,
                                          const QString& company = QStringLiteral("01"));
    CompanyBuilder& series(const QString& stateRegistration, const QString& municipalRegistration, const QString& code,
                           const QString& description, const QString& company = QStringLiteral("01"));
    // An operation type: entry or exit ("E", "S"), its transmission kind and whether it issues invoices.
    CompanyBuilder& operation(const QString& code, const QString& name, const QString& entryOrExit,
                              const QString& transmission, const QString& issuesInvoice);
    CompanyBuilder& customer(const QString& code, const QString& personType, const QString& document,
                             const QString& name, const QString& tradeName = {});
    CompanyBuilder& supplier(const QString& code, const QString& personType, const QString& document,
                             const QString& name);
    CompanyBuilder& invoice(const InvoiceRow& n);
    CompanyBuilder& letter(const QString& filial, const QString& lancto, const LetterRow& l);

    // False once a row failed; the rows after it are not written.
    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

private:
    CompanyBuilder& insert(const char* table, std::initializer_list<std::pair<const char*, QVariant>> columns);

    QSqlDatabase m_db;
    QString m_error;
};

} // namespace cce_test
