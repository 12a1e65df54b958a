#include "db/DemoData.h"

#include <QDateTime>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <random>
#include <vector>

#include "core/host/Documents.h"
#include "db/Schema.h"
#include "nfe/AccessKey.h"

namespace db {

namespace {

const QString kCountry = QStringLiteral("1058");
const QString kPendingObs = QStringLiteral("Carta de Correção Pendente no Sistema");

struct StateDef {
    const char* uf;
    const char* name;
    int ibge;
    int ieDigits;
};
const StateDef kStates[] = {
    {"SP", "São Paulo", 35, 12}, {"RJ", "Rio de Janeiro", 33, 8},     {"MG", "Minas Gerais", 31, 13},
    {"PR", "Paraná", 41, 10},    {"RS", "Rio Grande do Sul", 43, 10}, {"BA", "Bahia", 29, 9},
};

struct CompanyDef {
    const char* code;
    const char* name;
    const char* costCentre;
};
const CompanyDef kCompanies[] = {
    {"01", "Alimentos Bandeirantes Ltda", "0100"},
    {"02", "Metalúrgica Serra Azul S.A.", "0200"},
    {"03", "Distribuidora Guanabara de Bebidas Ltda", "0300"},
};

// fisc: the centralising branch ("" for a branch that centralises nothing and is
// centralised by none); a centralising branch names itself.
struct BranchDef {
    const char* code;
    const char* name;
    const char* company;
    const char* uf;
    const char* fisc;
    int order; // CNPJ branch order
};
// Where each branch is: street, district, city, postal code.
struct BranchAddress {
    const char* code;
    const char* street;
    const char* district;
    const char* city;
    const char* cep;
};
const BranchAddress kAddresses[] = {
    {"0001", "Avenida Paulista, 1500", "Bela Vista", "São Paulo", "01310200"},
    {"0002", "Rua Barão de Jaguara, 870", "Centro", "Campinas", "13015001"},
    {"0003", "Avenida Ana Costa, 255", "Gonzaga", "Santos", "11060001"},
    {"0010", "Avenida Rio Branco, 120", "Centro", "Rio de Janeiro", "20040007"},
    {"0011", "Rua da Conceição, 45", "Centro", "Niterói", "24020080"},
    {"0020", "Avenida Afonso Pena, 3000", "Funcionários", "Belo Horizonte", "30130009"},
    {"0021", "Avenida João César de Oliveira, 1200", "Eldorado", "Contagem", "32310000"},
    {"0030", "Rodovia Anhanguera, km 58", "Distrito Industrial", "Jundiaí", "13213000"},
    {"0101", "Avenida Juiz Marco Túlio Isaac, 700", "Centro", "Betim", "32600000"},
    {"0102", "Rua Sete de Setembro, 300", "Centro", "Sete Lagoas", "35700001"},
    {"0110", "Rua Vergueiro, 2100", "Vila Mariana", "São Paulo", "04101000"},
    {"0201", "Rua do Ouvidor, 60", "Centro", "Rio de Janeiro", "20040030"},
    {"0202", "Avenida Brigadeiro Lima e Silva, 1500", "Jardim 25 de Agosto", "Duque de Caxias", "25071182"},
    {"0210", "Rua XV de Novembro, 700", "Centro", "Curitiba", "80020310"},
};

const BranchAddress* addressOf(const char* code)
{
    for (const BranchAddress& a : kAddresses)
        if (qstrcmp(a.code, code) == 0)
            return &a;
    return nullptr;
}

const BranchDef kBranches[] = {
    {"0001", "Matriz São Paulo", "01", "SP", "0001", 1},
    {"0002", "Filial Campinas", "01", "SP", "0001", 2},
    {"0003", "Filial Santos", "01", "SP", "0001", 3},
    {"0010", "Filial Rio de Janeiro", "01", "RJ", "0010", 10},
    {"0011", "Filial Niterói", "01", "RJ", "0010", 11},
    {"0020", "Filial Belo Horizonte", "01", "MG", "0020", 20},
    {"0021", "Filial Contagem", "01", "MG", "0020", 21},
    {"0030", "Depósito Jundiaí", "01", "SP", "", 30},
    {"0101", "Serra Azul Betim", "02", "MG", "0101", 1},
    {"0102", "Serra Azul Sete Lagoas", "02", "MG", "0101", 2},
    {"0110", "Serra Azul São Paulo", "02", "SP", "0110", 10},
    {"0201", "Guanabara Rio", "03", "RJ", "0201", 1},
    {"0202", "Guanabara Duque de Caxias", "03", "RJ", "0201", 2},
    {"0210", "Guanabara Curitiba", "03", "PR", "0210", 10},
};

struct OperDef {
    const char* code;
    const char* name;
    const char* dir;
    const char* trans; // IDTPTRANSNFE: N normal, C complementary, F foreign trade
    const char* issued; // IDUTILEMISNF
};
const OperDef kOpers[] = {
    {"01", "Venda de mercadoria", "S", "N", "S"},
    {"02", "Venda para entrega futura", "S", "N", "S"},
    {"05", "Remessa para conserto", "S", "C", "S"},
    {"07", "Transferência entre filiais", "S", "N", "S"},
    {"09", "Exportação", "S", "F", "S"},
    {"10", "Devolução de compra", "S", "N", "S"},
    {"51", "Compra para comercialização", "E", "N", "S"},
    {"52", "Devolução de venda", "E", "N", "S"},
    {"55", "Retorno de conserto", "E", "C", "S"},
    {"57", "Importação", "E", "F", "S"},
    {"60", "Entrada de transferência", "E", "N", "N"},
};

const char* const kCorrections[] = {
    "Correção do endereço de entrega: Rua das Palmeiras, 123 - Centro.",
    "Onde se lê CFOP 5.102, leia-se CFOP 5.405 para o item 1.",
    "Inclusão do número do pedido de compra 4500123456 nas informações complementares.",
    "Correção do peso bruto para 1.250,00 kg e do peso líquido para 1.180,00 kg.",
    "Correção da quantidade de volumes transportados: 15 caixas de papelão.",
    "Correção do código NCM do item 2 para 8471.30.12, mantidos os demais dados.",
    "Correção da descrição do produto: leia-se Óleo de soja refinado 900 ml.",
    "Inclusão da placa do veículo transportador ABC1D23 e da UF SP.",
    "Correção do complemento do endereço do destinatário: Galpão 4, Bloco B.",
    "Correção da espécie dos volumes: leia-se paletes em vez de caixas.",
    "Correção do número do lote do item 3: leia-se lote L2026-118, validade 12/2027.",
    "Correção do telefone do destinatário para (11) 3456-7890.",
};

struct RejectDef {
    const char* code;
    const char* text;
};
const RejectDef kRejects[] = {
    {"573", "Rejeição: Duplicidade de Evento"},
    {"594", "Rejeição: O número de sequencia do evento informado é maior que o permitido"},
    {"580", "Rejeição: O evento exige uma NF-e autorizada"},
    {"489", "Rejeição: CNPJ informado inválido (DV ou zeros)"},
};

const char* const kFirstNames[] = {"Ana",      "Bruno",   "Carla", "Diego",   "Eduarda", "Felipe",  "Gabriela",
                                   "Henrique", "Isabela", "João",  "Larissa", "Marcos",  "Natália", "Otávio",
                                   "Patrícia", "Rafael",  "Sofia", "Tiago",   "Vanessa", "William"};
const char* const kLastNames[] = {"Silva",   "Santos", "Oliveira", "Souza", "Rodrigues", "Ferreira", "Alves",
                                  "Pereira", "Lima",   "Gomes",    "Costa", "Ribeiro",   "Martins",  "Carvalho"};
const char* const kTradeA[] = {"Supermercado", "Mercearia",   "Comercial", "Atacadão",       "Distribuidora",
                               "Padaria",      "Restaurante", "Empório",   "Casa de Carnes", "Hortifruti"};
const char* const kTradeB[] = {"Boa Vista", "Primavera", "São Jorge",   "Estrela",    "Horizonte", "Santa Luzia",
                               "Bom Preço", "Nova Era",  "Três Irmãos", "Vale Verde", "Ipiranga",  "Aurora"};
const char* const kSupplierA[] = {"Agroindustrial", "Embalagens", "Laticínios", "Aços",
                                  "Plásticos",      "Química",    "Moinho",     "Frigorífico"};
const char* const kCarriers[] = {"Transportadora Rápido Paulista Ltda", "TransMinas Cargas S.A.",
                                 "Expresso Carioca Logística Ltda",     "Rodoviário Sul Brasil Ltda",
                                 "Translog Bandeirante Ltda",           "Via Norte Transportes Ltda"};

template <size_t N, typename T>
constexpr size_t count(const T (&)[N])
{
    return N;
}

QVariant nv(const QString& s) { return s.isEmpty() ? QVariant() : QVariant(s); }

// Demo times are worked out as plain wall-clock values (no time-zone lookups, which cost
// a file check each in the C library) and stored in the text form the SQLite driver
// uses for date-times; PostgreSQL reads the same text as a timestamp.
QDateTime wall(const QDate& d, const QTime& t) { return QDateTime(d, t, Qt::UTC); }
QVariant stamp(const QDateTime& wallTime) { return wallTime.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")); }

QString xmlEscape(const QString& s)
{
    QString out = s.toHtmlEscaped();
    out.replace(QLatin1Char('\''), QLatin1String("&apos;"));
    return out;
}

struct Branch {
    const BranchDef* def;
    QString cnpj;
    QString ie;
    QString im;
    QString env;
    int cuf = 0;
    int nextEntry = 1;
    int nextNumber[3] = {1, 1, 1};
};

struct Party {
    QString code;
    QString kind; // J or F
    QString doc;
    QString name;
};

// Letter plan of one invoice: how many letters, and how the latest stands.
enum class Last { Pending, Accepted135, Accepted136, Rejected, SchemaFailure, InDoubt };

struct InvoicePlan {
    int letters = 0;
    Last last = Last::Accepted135;
    QChar situation = QLatin1Char('A');
    int emissionType = 1;
    QChar direction = QLatin1Char('S');
    QChar counterpart = QLatin1Char('C');
    int carrier = -1; // -1 random, 0 none, 1 with
    bool mailsSent = false;
};

class Generator {
public:
    Generator(QSqlDatabase& db, const DemoOptions& o) : m_db(db), m_rng(o.seed), m_today(o.today) {}

    bool run(int invoices, int letters, QString* error, DemoSummary* summary);

private:
    int rnd(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool chance(int percent) { return rnd(0, 99) < percent; }
    QString digits(int n)
    {
        QString s;
        s.reserve(n);
        for (int i = 0; i < n; ++i)
            s += QChar(QLatin1Char(char('0' + rnd(0, 9))));
        return s;
    }
    QString hex(int n)
    {
        static const char* h = "0123456789ABCDEF";
        QString s;
        for (int i = 0; i < n; ++i)
            s += QLatin1Char(h[rnd(0, 15)]);
        return s;
    }
    QString newCnpj(const QString& base8, int order)
    {
        const QString b12 = base8 + QStringLiteral("%1").arg(order, 4, 10, QLatin1Char('0'));
        return b12 + fw::cnpjCheckDigits(b12);
    }
    QString newCpf()
    {
        QString b9;
        do
            b9 = digits(9);
        while (b9.count(b9[0]) == 9);
        return b9 + fw::cpfCheckDigits(b9);
    }

    bool prepare(QSqlQuery& q, const QString& sql, QString* error)
    {
        if (!q.prepare(sql)) {
            *error = q.lastError().text();
            return false;
        }
        return true;
    }
    bool exec(QSqlQuery& q, std::initializer_list<QVariant> values, QString* error)
    {
        int i = 0;
        for (const QVariant& v : values)
            q.bindValue(i++, v);
        if (!q.exec()) {
            *error = q.lastError().text();
            return false;
        }
        return true;
    }
    bool insert(const QString& table, const QStringList& columns, std::initializer_list<QVariant> values,
                QString* error)
    {
        QSqlQuery q(m_db);
        QStringList marks;
        for (int i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        if (!prepare(q,
                     QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                         .arg(table, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                     error))
            return false;
        return exec(q, values, error);
    }

    bool referenceData(QString* error);
    bool invoicesAndLetters(int invoices, int letters, QString* error, DemoSummary* summary);
    std::vector<InvoicePlan> plans(int invoices, int letters);

    QSqlDatabase& m_db;
    std::mt19937 m_rng;
    QDate m_today;
    std::vector<Branch> m_branches;
    std::vector<Party> m_customers, m_suppliers, m_carriers;
    QHash<QString, QString> m_companyBase;
};

bool Generator::referenceData(QString* error)
{
    for (const StateDef& s : kStates)
        if (!insert(QStringLiteral("ESTADO"), {"CDPAIS", "SGESTADO", "NMESTADO", "CDESTADOIBGE"},
                    {kCountry, QString::fromLatin1(s.uf), QString::fromUtf8(s.name), QString::number(s.ibge)}, error))
            return false;

    for (const CompanyDef& c : kCompanies) {
        QString base;
        do
            base = digits(8);
        while (base.startsWith(QLatin1Char('0')));
        m_companyBase.insert(QString::fromLatin1(c.code), base);
        if (!insert(QStringLiteral("EMPRESA"), {"CDEMPRESA", "NMRAZSOCEMPR", "CDCENTCUST", "NRINSJUREMPR"},
                    {QString::fromLatin1(c.code), QString::fromUtf8(c.name), QString::fromLatin1(c.costCentre),
                     newCnpj(base, 1)},
                    error))
            return false;
    }

    int ieIndex = 0;
    for (const BranchDef& d : kBranches) {
        Branch b;
        b.def = &d;
        b.cnpj = newCnpj(m_companyBase.value(QString::fromLatin1(d.company)), d.order);
        const StateDef* st = nullptr;
        for (const StateDef& s : kStates)
            if (qstrcmp(s.uf, d.uf) == 0)
                st = &s;
        b.cuf = st->ibge;
        b.ie = digits(st->ieDigits);
        b.im = digits(8);
        // Company 02 works in homologation; the others have one test registration each.
        b.env = qstrcmp(d.company, "02") == 0 || ieIndex % 4 == 3 ? QStringLiteral("2") : QStringLiteral("1");
        ++ieIndex;
        m_branches.push_back(b);
        const QString email =
            QStringLiteral("fiscal.%1@%2.com.br")
                .arg(QString::fromLatin1(d.code), QString::fromLatin1(d.company[1] == '1'   ? "bandeirantes"
                                                                      : d.company[1] == '2' ? "serraazul"
                                                                                            : "guanabara"));
        const BranchAddress* address = addressOf(d.code);
        auto part = [address](const char* BranchAddress::*field) {
            return address ? QVariant(QString::fromUtf8(address->*field)) : QVariant(QMetaType(QMetaType::QString));
        };
        if (!insert(QStringLiteral("FILIAL"),
                    {"CDFILIAL", "NMFILIAL", "CDEMPRESA", "CDINSCESTA", "CDINSCMUNI", "CDSERIE", "CDFILIFISC",
                     "NRINSJURFILI", "SGESTADO", "DSEMAILFILI", "DSENDERFILI", "NMBAIRROFILI", "NMCIDADEFILI",
                     "NRCEPFILI"},
                    {QString::fromLatin1(d.code), QString::fromUtf8(d.name), QString::fromLatin1(d.company), b.ie, b.im,
                     QStringLiteral("1"), nv(QString::fromLatin1(d.fisc)), b.cnpj, QString::fromLatin1(d.uf), email,
                     part(&BranchAddress::street), part(&BranchAddress::district), part(&BranchAddress::city),
                     part(&BranchAddress::cep)},
                    error))
            return false;
        if (!insert(
                QStringLiteral("INSCRESTAD"),
                {"CDEMPRESA", "CDINSCESTA", "NRSERIECERTIFIC", "IDTPAMBIENTENFE", "CDPAIS", "SGESTADO", "NRINSJURIEST"},
                {QString::fromLatin1(d.company), b.ie, hex(32), b.env, kCountry, QString::fromLatin1(d.uf), b.cnpj},
                error))
            return false;
        if (!insert(QStringLiteral("INSCRMUNICIP"), {"CDEMPRESA", "CDINSCMUNI", "NMREPRINSMUN"},
                    {QString::fromLatin1(d.company), b.im,
                     QStringLiteral("%1 %2").arg(QString::fromUtf8(kFirstNames[rnd(0, int(count(kFirstNames)) - 1)]),
                                                 QString::fromUtf8(kLastNames[rnd(0, int(count(kLastNames)) - 1)]))},
                    error))
            return false;
        for (int s = 1; s <= 2; ++s) {
            const QString ctrl = QStringLiteral("%1S%2").arg(QString::fromLatin1(d.code)).arg(s);
            if (!insert(
                    QStringLiteral("CTRLNUMENF"),
                    {"CDCTRLNUMENF", "DTEMISCTNUNF", "IDCONSDTEMIS", "IDUTCTRLFORM", "IDUTLOCAEMIS", "IDUTFILILCEM"},
                    {ctrl, stamp(wall(m_today.addDays(-200), QTime(0, 0))), QStringLiteral("S"), QStringLiteral("N"),
                     QStringLiteral("N"), QStringLiteral("N")},
                    error))
                return false;
            if (!insert(QStringLiteral("SERIENF"),
                        {"CDEMPRESA", "CDINSCESTA", "CDINSCMUNI", "CDSERIE", "DSSERIE", "CDRELMODENF", "CDRELESPENF",
                         "CDCTRLNUMENF", "IDUTDTPREMIS", "CDSERIENFE"},
                        {QString::fromLatin1(d.company), b.ie, b.im, QString::number(s),
                         s == 1 ? QStringLiteral("NF-e série 1") : QStringLiteral("NF-e série 2"),
                         QStringLiteral("DANFE"), QStringLiteral("NFE"), ctrl, QStringLiteral("N"), QString::number(s)},
                        error))
                return false;
        }
        // Fiscal parameters: most branches have their own, one has none (strict mode).
        if (qstrcmp(d.code, "0003") != 0) {
            const bool lenient = d.order % 2 == 0;
            if (!insert(QStringLiteral("PARAMDFS"),
                        {"CDFILIAL", "NREXEMEMISSAO", "IDUTREIMPRNF", "NRTAMNUMNFUT", "IDUTLIBERANF", "IDUTFILCENTOBR",
                         "IDNFILTROINSCR"},
                        {QString::fromLatin1(d.code), QStringLiteral("1"), QStringLiteral("S"), 9.0,
                         QStringLiteral("N"), QString::fromLatin1(*d.fisc ? "S" : "N"),
                         lenient ? QStringLiteral("N") : QStringLiteral("S")},
                        error))
                return false;
        }
    }
    // Relations of companies to centralising branches: each company to its own, and
    // company 03 also to company 01's São Paulo head office.
    for (const Branch& b : m_branches) {
        if (qstrcmp(b.def->code, b.def->fisc) != 0)
            continue;
        for (int s = 1; s <= 2; ++s)
            if (!insert(QStringLiteral("EMPRCNTRFIL"), {"CDEMPRESA", "CDFILIAL", "CDINSCESTA", "CDINSCMUNI", "CDSERIE"},
                        {QString::fromLatin1(b.def->company), QString::fromLatin1(b.def->code), b.ie, b.im,
                         QString::number(s)},
                        error))
                return false;
    }
    // The relation carries the head office's registrations, which company 03 holds too.
    const Branch& head = m_branches[0];
    if (!insert(QStringLiteral("EMPRCNTRFIL"), {"CDEMPRESA", "CDFILIAL", "CDINSCESTA", "CDINSCMUNI", "CDSERIE"},
                {QStringLiteral("03"), QStringLiteral("0001"), head.ie, head.im, QStringLiteral("1")}, error) ||
        !insert(QStringLiteral("INSCRESTAD"),
                {"CDEMPRESA", "CDINSCESTA", "NRSERIECERTIFIC", "IDTPAMBIENTENFE", "CDPAIS", "SGESTADO", "NRINSJURIEST"},
                {QStringLiteral("03"), head.ie, hex(32), head.env, kCountry, QStringLiteral("SP"), head.cnpj}, error) ||
        !insert(QStringLiteral("INSCRMUNICIP"), {"CDEMPRESA", "CDINSCMUNI", "NMREPRINSMUN"},
                {QStringLiteral("03"), head.im, QStringLiteral("Representante Guanabara")}, error) ||
        !insert(QStringLiteral("SERIENF"),
                {"CDEMPRESA", "CDINSCESTA", "CDINSCMUNI", "CDSERIE", "DSSERIE", "CDRELMODENF", "CDRELESPENF",
                 "CDCTRLNUMENF", "IDUTDTPREMIS", "CDSERIENFE"},
                {QStringLiteral("03"), head.ie, head.im, QStringLiteral("1"), QStringLiteral("NF-e série 1"),
                 QStringLiteral("DANFE"), QStringLiteral("NFE"), QStringLiteral("0001S1"), QStringLiteral("N"),
                 QStringLiteral("1")},
                error))
        return false;

    for (const OperDef& o : kOpers)
        if (!insert(QStringLiteral("TIPOOPERAC"),
                    {"CDTIPOOPER", "NMTIPOOPER", "IDENTRSAIDOP", "IDTPTRANSNFE", "IDUTILEMISNF"},
                    {QString::fromLatin1(o.code), QString::fromUtf8(o.name), QString::fromLatin1(o.dir),
                     QString::fromLatin1(o.trans), QString::fromLatin1(o.issued)},
                    error))
            return false;

    for (int i = 0; i < 60; ++i) {
        Party p;
        p.code = QStringLiteral("C%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        const bool person = i % 4 == 3;
        p.kind = person ? QStringLiteral("F") : QStringLiteral("J");
        if (person) {
            p.doc = newCpf();
            p.name = QStringLiteral("%1 %2 %3")
                         .arg(QString::fromUtf8(kFirstNames[rnd(0, int(count(kFirstNames)) - 1)]),
                              QString::fromUtf8(kLastNames[rnd(0, int(count(kLastNames)) - 1)]),
                              QString::fromUtf8(kLastNames[rnd(0, int(count(kLastNames)) - 1)]));
        } else {
            p.doc = newCnpj(QString::number(rnd(10000000, 99999999)), rnd(1, 12));
            p.name = QStringLiteral("%1 %2 Ltda")
                         .arg(QString::fromUtf8(kTradeA[rnd(0, int(count(kTradeA)) - 1)]),
                              QString::fromUtf8(kTradeB[rnd(0, int(count(kTradeB)) - 1)]));
        }
        const QString email = i % 10 == 9 ? QString() : QStringLiteral("nfe.cliente%1@exemplo.com.br").arg(i + 1);
        if (!insert(QStringLiteral("CLIENTE"),
                    {"CDCLIENTE", "IDTPIJURCLIE", "NRINSJURCLIE", "NMRAZSOCCLIE", "NMFANTCLIE", "DSEMAILCLIE"},
                    {p.code, p.kind, p.doc, p.name, p.name.left(50), nv(email)}, error))
            return false;
        m_customers.push_back(p);
    }
    for (int i = 0; i < 25; ++i) {
        Party p;
        p.code = QStringLiteral("F%1").arg(i + 1, 6, 10, QLatin1Char('0'));
        p.kind = QStringLiteral("J");
        p.doc = newCnpj(QString::number(rnd(10000000, 99999999)), 1);
        p.name = QStringLiteral("%1 %2 S.A.")
                     .arg(QString::fromUtf8(kSupplierA[rnd(0, int(count(kSupplierA)) - 1)]),
                          QString::fromUtf8(kTradeB[rnd(0, int(count(kTradeB)) - 1)]))
                     .left(40);
        if (!insert(QStringLiteral("FORNECEDOR"),
                    {"CDFORNECED", "NRINSJURFORN", "IDTPIJURFORN", "NMRAZSOCFORN", "DSEMAILFORN"},
                    {p.code, p.doc, p.kind, p.name, QStringLiteral("nfe.fornecedor%1@exemplo.com.br").arg(i + 1)},
                    error))
            return false;
        m_suppliers.push_back(p);
    }
    for (size_t i = 0; i < count(kCarriers); ++i) {
        Party p;
        p.kind = QStringLiteral("J");
        p.doc = newCnpj(QString::number(rnd(10000000, 99999999)), 1);
        p.name = QString::fromUtf8(kCarriers[i]);
        if (!insert(QStringLiteral("TRANSPORTADORA"), {"NRINSJURTRAN", "IDTPIJURTRAN", "NMRAZSOCTRAN", "DSEMAILTRAN"},
                    {p.doc, p.kind, p.name,
                     i == 3 ? QVariant() : QVariant(QStringLiteral("cte.transp%1@exemplo.com.br").arg(i + 1))},
                    error))
            return false;
        m_carriers.push_back(p);
    }
    return true;
}

// The first invoices cover every state the screen shows; the rest are drawn at random
// and then trimmed or topped up to the requested number of letters.
std::vector<InvoicePlan> Generator::plans(int invoices, int letters)
{
    std::vector<InvoicePlan> out(static_cast<size_t>(invoices));
    for (InvoicePlan& p : out) {
        const int r = rnd(0, 99);
        p.letters = r < 40 ? 0 : r < 70 ? 1 : r < 85 ? 2 : r < 93 ? 3 : r < 97 ? 5 : 8;
        const int s = rnd(0, 99);
        p.last = s < 55   ? Last::Accepted135
                 : s < 60 ? Last::Accepted136
                 : s < 80 ? Last::Pending
                 : s < 92 ? Last::Rejected
                 : s < 96 ? Last::SchemaFailure
                          : Last::InDoubt;
        const int a = rnd(0, 99);
        p.situation = a < 95 ? QLatin1Char('A') : a < 97 ? QLatin1Char('N') : QLatin1Char('C');
        p.emissionType = chance(88) ? 1 : rnd(2, 7);
        p.direction = chance(78) ? QLatin1Char('S') : QLatin1Char('E');
        const int c = rnd(0, 99);
        if (p.direction == QLatin1Char('S'))
            p.counterpart = c < 75 ? QLatin1Char('C') : c < 88 ? QLatin1Char('F') : QLatin1Char('L');
        else
            p.counterpart = c < 60 ? QLatin1Char('F') : c < 90 ? QLatin1Char('C') : QLatin1Char('L');
        p.mailsSent = chance(50);
        if (p.situation == QLatin1Char('N'))
            p.letters = 0;
    }
    auto force = [&](int i, int n, Last last, QChar situation = QLatin1Char('A'), int emission = 1,
                     QChar dir = QLatin1Char('S'), QChar cp = QLatin1Char('C'), int carrier = -1, bool sent = false) {
        if (i >= invoices)
            return;
        out[size_t(i)] = InvoicePlan{n, last, situation, emission, dir, cp, carrier, sent};
    };
    force(0, 0, Last::Pending);
    force(1, 1, Last::Pending);
    force(2, 1, Last::Accepted135, QLatin1Char('A'), 1, QLatin1Char('S'), QLatin1Char('C'), 1);
    force(3, 1, Last::Accepted136, QLatin1Char('A'), 1, QLatin1Char('S'), QLatin1Char('C'), 1, true);
    force(4, 2, Last::Rejected);
    force(5, 1, Last::SchemaFailure);
    force(6, 20, Last::Accepted135);
    force(7, 19, Last::Accepted135);
    force(8, 3, Last::Pending);
    force(9, 1, Last::InDoubt);
    force(10, 0, Last::Pending, QLatin1Char('N'));
    force(11, 1, Last::Accepted135, QLatin1Char('C'));
    for (int t = 2; t <= 7; ++t)
        force(10 + t, t % 2, Last::Pending, QLatin1Char('A'), t);
    force(18, 1, Last::Pending, QLatin1Char('A'), 1, QLatin1Char('E'), QLatin1Char('C'));
    force(19, 0, Last::Pending, QLatin1Char('A'), 1, QLatin1Char('E'), QLatin1Char('F'), 0);
    force(20, 1, Last::Accepted135, QLatin1Char('A'), 1, QLatin1Char('S'), QLatin1Char('L'), 1);
    force(21, 1, Last::Rejected, QLatin1Char('A'), 1, QLatin1Char('S'), QLatin1Char('F'));
    force(22, 1, Last::Accepted135, QLatin1Char('A'), 1, QLatin1Char('S'), QLatin1Char('C'), 0, true);
    force(23, 0, Last::Pending, QLatin1Char('N'), 4);
    force(24, 2, Last::Accepted135, QLatin1Char('C'), 1, QLatin1Char('E'), QLatin1Char('F'));
    const int fixed = std::min(invoices, 25);

    // Bring the total to the requested letters, changing only the random invoices.
    long total = 0;
    for (const InvoicePlan& p : out)
        total += p.letters;
    std::vector<int> open;
    for (int i = fixed; i < invoices; ++i)
        if (out[size_t(i)].situation != QLatin1Char('N'))
            open.push_back(i);
    int guard = 0;
    while (total != letters && !open.empty() && guard++ < 50 * invoices + 1000) {
        InvoicePlan& p = out[size_t(open[size_t(rnd(0, int(open.size()) - 1))])];
        if (total < letters && p.letters < 20) {
            ++p.letters;
            ++total;
        } else if (total > letters && p.letters > 0) {
            --p.letters;
            --total;
        }
    }
    return out;
}

bool Generator::invoicesAndLetters(int invoices, int letters, QString* error, DemoSummary* summary)
{
    QSqlQuery nf(m_db), cce(m_db), lote(m_db), loteNf(m_db);
    if (!prepare(
            nf,
            QStringLiteral(
                "INSERT INTO NOTAFISCAL (CDFILIAL, NRLANCTONF, CDEMPRESA, CDFILIEMIT, CDFILIRECE, CDCLIENTE, "
                "CDFORNECED, IDORIGDESTNF, NRINSJURNF, IDTPIJURNF, NMRAZSOCCLIE, NRNOTAFISCALELE, CDSERIE, "
                "CDMODELONF, DTSAIDA, DTEMISSAO, VRNOTAFISC, CDINSCESTA, CDINSCMUNI, IDTPAMBNFE, IDTIPOEMISNFE, "
                "CDTIPOOPER, IDENTRSAIDOP, NRLICENCAUSO, NRACESSONFE, NRINSJURTRAN, NRPROTOCOLONFE, "
                "DTHRPROTOCOLNFE, IDSITUACAONFE) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
            error) ||
        !prepare(
            cce,
            QStringLiteral("INSERT INTO CARTACORRECAO (CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, CDSTATUSCCE, "
                           "DSOBSSTATUSCCE, DTHRPROTOCOLCCE, NRPROTOCOLCCE, IDEMAILCCE, IDEMAILCCETRANS, IDTRANSMCCE, "
                           "NRVERSAOREG, DTHRALTERACAO) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
            error) ||
        !prepare(lote,
                 QStringLiteral(
                     "INSERT INTO LOTECCE (NRLOTE, CDEMPRESA, DTHRENVIO, IDTIPOARQXML, CDSTATUSLOTE, DSMOTIVOLOTE, "
                     "DSXMLENVIO, DSXMLRETORNO) VALUES (?,?,?,?,?,?,?,?)"),
                 error) ||
        !prepare(loteNf,
                 QStringLiteral("INSERT INTO LOTECCENF (NRLOTE, CDFILIAL, NRLANCTONF, NRSEQCCE) VALUES (?,?,?,?)"),
                 error))
        return false;

    const std::vector<InvoicePlan> plan = plans(invoices, letters);
    qint64 batch = 0;
    for (int i = 0; i < invoices; ++i) {
        const InvoicePlan& p = plan[size_t(i)];
        // The fixed cases visit every branch; the rest favour company 01.
        Branch& b = i < 25 ? m_branches[size_t(i) % m_branches.size()]
                           : m_branches[size_t(chance(60) ? rnd(0, 7) : rnd(0, int(m_branches.size()) - 1))];
        const QString company = QString::fromLatin1(b.def->company);
        const QString branch = QString::fromLatin1(b.def->code);
        const QString emitter = *b.def->fisc ? QString::fromLatin1(b.def->fisc) : branch;

        // Outgoing: sale, future delivery, repair, export to customers; purchase returns to
        // suppliers; transfers to own branches. Incoming: sale returns, purchases, imports.
        static const int outToCustomer[] = {0, 0, 0, 1, 2, 4};
        const OperDef* op = nullptr;
        if (p.direction == QLatin1Char('S'))
            op = p.counterpart == QLatin1Char('L')   ? &kOpers[3]
                 : p.counterpart == QLatin1Char('F') ? &kOpers[5]
                                                     : &kOpers[outToCustomer[rnd(0, 5)]];
        else
            op = p.counterpart == QLatin1Char('C')   ? &kOpers[7]
                 : p.counterpart == QLatin1Char('L') ? &kOpers[8]
                                                     : (chance(80) ? &kOpers[6] : &kOpers[9]);
        QString cdCliente, cdFornec, cdFiliRece, docNf, kindNf, nameNf;
        if (p.counterpart == QLatin1Char('C')) {
            const Party& c = m_customers[size_t(rnd(0, int(m_customers.size()) - 1))];
            cdCliente = c.code;
            docNf = c.doc;
            kindNf = c.kind;
            nameNf = c.name;
        } else if (p.counterpart == QLatin1Char('F')) {
            const Party& f = m_suppliers[size_t(rnd(0, int(m_suppliers.size()) - 1))];
            cdFornec = f.code;
            docNf = f.doc;
            kindNf = f.kind;
            nameNf = f.name;
        } else {
            const Branch* other = &b;
            for (int tries = 0; tries < 20 && (other == &b || qstrcmp(other->def->company, b.def->company) != 0);
                 ++tries)
                other = &m_branches[size_t(rnd(0, int(m_branches.size()) - 1))];
            cdFiliRece = QString::fromLatin1(other->def->code);
            docNf = other->cnpj;
            kindNf = QStringLiteral("J");
            nameNf = QString::fromUtf8(other->def->name);
        }
        if (p.direction == QLatin1Char('E') && cdFiliRece.isEmpty())
            cdFiliRece = branch;

        const bool withCarrier = p.carrier < 0 ? chance(60) : p.carrier == 1;
        const QString carrier = withCarrier ? m_carriers[size_t(rnd(0, int(m_carriers.size()) - 1))].doc : QString();
        const int seriesIdx = chance(85) ? 1 : 2;
        const int number = b.nextNumber[seriesIdx]++;
        const QString entry = QStringLiteral("%1").arg(b.nextEntry++, 10, 10, QLatin1Char('0'));
        const QDate day = m_today.addDays(-rnd(0, 120));
        const QDateTime emitted = wall(day, QTime(rnd(7, 18), rnd(0, 59), rnd(0, 59)));
        const QDateTime departed = wall(day.addDays(rnd(0, 2)), QTime(rnd(8, 17), rnd(0, 59), 0));
        const double value = rnd(5000, 25000000) / 100.0;
        const QString key =
            nfe::buildAccessKey(b.cuf, day, b.cnpj, 55, seriesIdx, number, p.emissionType, rnd(10000000, 99999999));
        const bool hasProtocol = p.situation != QLatin1Char('N');
        const QDateTime protocolAt = emitted.addSecs(rnd(5, 1800));
        const QString protocol =
            hasProtocol ? QStringLiteral("1%1%2%3").arg(b.cuf).arg(day.toString(QStringLiteral("yy"))).arg(digits(10))
                        : QString();

        if (!exec(nf,
                  {branch,
                   entry,
                   company,
                   emitter,
                   nv(cdFiliRece),
                   nv(cdCliente),
                   nv(cdFornec),
                   QString(p.counterpart),
                   docNf,
                   kindNf,
                   nameNf.left(50),
                   QStringLiteral("%1").arg(number, 9, 10, QLatin1Char('0')),
                   QString::number(seriesIdx),
                   QStringLiteral("55"),
                   stamp(departed),
                   stamp(emitted),
                   value,
                   b.ie,
                   b.im,
                   b.env,
                   QString::number(p.emissionType),
                   QString::fromLatin1(op->code),
                   QString::fromLatin1(op->dir),
                   QVariant(),
                   key,
                   nv(carrier),
                   nv(protocol),
                   hasProtocol ? stamp(protocolAt) : QVariant(),
                   QString(p.situation)},
                  error))
            return false;
        ++summary->invoices;

        QDateTime at = protocolAt.addSecs(3600);
        for (int s = 1; s <= p.letters; ++s) {
            const bool latest = s == p.letters;
            const Last state = latest ? p.last : (chance(90) ? Last::Accepted135 : Last::Accepted136);
            at = at.addSecs(rnd(600, 86400));
            const QString seq = QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0'));
            const QString text = QString::fromUtf8(kCorrections[rnd(0, int(count(kCorrections)) - 1)]);
            QString status, obs, prot, transm = QStringLiteral("R");
            QVariant when;
            QString mail = QStringLiteral("P");
            QString mailTrans = carrier.isEmpty() ? QStringLiteral("N") : QStringLiteral("P");
            switch (state) {
            case Last::Accepted135:
            case Last::Accepted136:
                status = state == Last::Accepted135 ? QStringLiteral("135") : QStringLiteral("136");
                obs = state == Last::Accepted135 ? QStringLiteral("Evento registrado e vinculado a NF-e")
                                                 : QStringLiteral("Evento registrado, mas não vinculado a NF-e");
                prot = QStringLiteral("1%1%2%3").arg(b.cuf).arg(at.toString(QStringLiteral("yy"))).arg(digits(10));
                when = stamp(at);
                if (!latest || p.mailsSent) {
                    mail = QStringLiteral("E");
                    if (!carrier.isEmpty())
                        mailTrans = QStringLiteral("E");
                }
                break;
            case Last::Pending:
                obs = kPendingObs;
                transm = QStringLiteral("N");
                break;
            case Last::InDoubt:
                obs = QStringLiteral("Transmitida sem resposta da SEFAZ; situação a confirmar");
                transm = QStringLiteral("D");
                break;
            case Last::Rejected: {
                const RejectDef& r = kRejects[rnd(0, int(count(kRejects)) - 1)];
                status = QString::fromLatin1(r.code);
                obs = QString::fromUtf8(r.text);
                break;
            }
            case Last::SchemaFailure:
                status = QStringLiteral("215");
                obs = QStringLiteral("Rejeição: Falha no schema XML");
                break;
            }
            if (!exec(
                    cce,
                    {branch, entry, seq, text, nv(status), obs, when, nv(prot), mail, mailTrans, transm, 1, stamp(at)},
                    error))
                return false;
            ++summary->letters;

            if (state == Last::Rejected || state == Last::SchemaFailure) {
                ++batch;
                const bool schema = state == Last::SchemaFailure;
                const QString sent =
                    QStringLiteral(
                        "<envEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\"><idLote>%1</idLote>"
                        "<evento versao=\"1.00\"><infEvento Id=\"ID110110%2%3\"><cOrgao>%4</cOrgao><tpAmb>%5</tpAmb>"
                        "<CNPJ>%6</CNPJ><chNFe>%2</chNFe><dhEvento>%7-03:00</dhEvento><tpEvento>110110</tpEvento>"
                        "<nSeqEvento>%8</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
                        "<descEvento>Carta de "
                        "Correcao</descEvento><xCorrecao>%9</xCorrecao></detEvento></infEvento></evento></envEvento>")
                        .arg(batch)
                        .arg(key, seq)
                        .arg(b.cuf)
                        .arg(b.env, b.cnpj, at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")))
                        .arg(s)
                        .arg(xmlEscape(text));
                const QString answer =
                    schema ? QString()
                           : QStringLiteral(
                                 "<retEnvEvento xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">"
                                 "<idLote>%1</idLote><tpAmb>%2</tpAmb><cOrgao>%3</cOrgao><cStat>128</cStat>"
                                 "<xMotivo>Lote de Evento Processado</xMotivo><retEvento versao=\"1.00\"><infEvento>"
                                 "<tpAmb>%2</tpAmb><cOrgao>%3</cOrgao><cStat>%4</cStat><xMotivo>%5</xMotivo>"
                                 "<chNFe>%6</chNFe></infEvento></retEvento></retEnvEvento>")
                                 .arg(batch)
                                 .arg(b.env)
                                 .arg(b.cuf)
                                 .arg(status, xmlEscape(obs), key);
                if (!exec(lote,
                          {batch, company, stamp(at), schema ? QStringLiteral("S") : QStringLiteral("R"), status, obs,
                           sent, nv(answer)},
                          error) ||
                    !exec(loteNf, {batch, branch, entry, seq}, error))
                    return false;
                ++summary->batches;
            }
        }
    }
    return true;
}

bool Generator::run(int invoices, int letters, QString* error, DemoSummary* summary)
{
    if (!referenceData(error))
        return false;
    return invoicesAndLetters(invoices, letters, error, summary);
}

} // namespace

bool fillDemo(QSqlDatabase& db, const DemoOptions& options, QString* error, DemoSummary* summary)
{
    DemoSummary local;
    if (!summary)
        summary = &local;
    *summary = DemoSummary{};
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) || !q.next()) {
            if (error)
                *error = q.lastError().text();
            return false;
        }
        if (q.value(0).toInt() > 0) {
            if (error)
                *error = QStringLiteral(
                    "O banco de dados já contém empresas; os dados de demonstração só são gravados em um banco vazio.");
            return false;
        }
    }
    DemoOptions o = options;
    if (o.invoices <= 0)
        o.invoices = kDefaultDemoInvoices;
    if (o.letters < 0)
        o.letters = o.invoices * 3 / 2;
    o.letters = std::min<qint64>(o.letters, qint64(o.invoices) * 20);
    if (!o.today.isValid())
        o.today = QDate::currentDate();

    const bool ok = inTransaction(
        db,
        [&](QString* err) {
            Generator g(db, o);
            return g.run(o.invoices, o.letters, err, summary);
        },
        error);
    if (!ok)
        *summary = DemoSummary{};
    return ok;
}

} // namespace db
