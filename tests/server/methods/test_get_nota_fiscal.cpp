#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

class GetNotaFiscal : public MethodsTest {
protected:
    // One invoice per variation, each different from the base in one criterion.
    void varied()
    {
        auto add = [&](const char* lancto, auto change) {
            Invoice n;
            n.lancto = QString::fromLatin1(lancto);
            change(n);
            addInvoice(n);
        };
        add("0000000001", [](Invoice&) {});
        add("0000000002", [](Invoice& n) {
            n.filiEmit = QStringLiteral("0005");
            n.filial = QStringLiteral("0003");
        });
        add("0000000003", [](Invoice& n) { n.filial = QStringLiteral("0003"); });
        add("0000000004", [](Invoice& n) { n.tipoOper = QStringLiteral("05"); });
        add("0000000005", [](Invoice& n) {
            n.entrSaid = QStringLiteral("E");
            n.tipoOper = QStringLiteral("51");
        });
        add("0000000006", [](Invoice& n) { n.inscEsta = QStringLiteral("86123456"); });
        add("0000000007", [](Invoice& n) { n.inscMuni = QStringLiteral("99990000"); });
        add("0000000008", [](Invoice& n) { n.serie = QStringLiteral("2"); });
        add("0000000009", [](Invoice& n) {
            n.origDest = QStringLiteral("L");
            n.filiRece = QStringLiteral("0003");
            n.cliente.clear();
        });
        add("0000000010", [](Invoice& n) {
            n.origDest = QStringLiteral("F");
            n.fornecedor = QStringLiteral("F1");
            n.cliente.clear();
            n.insJur = QStringLiteral("98765432000198");
        });
        add("0000000011", [](Invoice& n) { n.saida = QDateTime(QDate(2026, 11, 30), QTime(23, 59, 59)); });
        add("0000000012", [](Invoice& n) { n.saida = QDateTime(QDate(2026, 12, 1), QTime(0, 0, 0)); });
        add("0000000013", [](Invoice& n) { n.tipoEmis = QStringLiteral("5"); });
        add("0000000014", [](Invoice& n) { n.situacao = QStringLiteral("N"); });
        add("0000000015", [](Invoice& n) { n.situacao = QStringLiteral("C"); });
        add("0000000016", [](Invoice& n) { n.empresa = QStringLiteral("02"); });
        add("0000000017", [](Invoice& n) { n.modelo = QStringLiteral("65"); });
        add("0000000018", [](Invoice& n) { n.saida = QDateTime(); });
    }

    static QStringList all(std::initializer_list<int> except = {})
    {
        QStringList out;
        for (int i = 1; i <= 15; ++i)
            if (std::find(except.begin(), except.end(), i) == except.end())
                out << QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'));
        out << QStringLiteral("0000000018");
        if (std::find(except.begin(), except.end(), 18) != except.end())
            out.removeLast();
        return out;
    }
    static QStringList only(std::initializer_list<int> ids)
    {
        QStringList out;
        for (int i : ids)
            out << QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'));
        out.sort();
        return out;
    }
};

Invoice invoice(const char* lancto)
{
    Invoice n;
    n.lancto = QString::fromLatin1(lancto);
    return n;
}

QVariant day(int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(12, 0)); }

} // namespace

TEST_P(GetNotaFiscal, PacketsCarryTheScreensFieldsInOrder)
{
    addInvoice(invoice("0000000001"));
    const auto [nf, cce] = fetch(criteria());
    const QStringList nfNames = {
        "IDCHECK",      "CDFILIEMIT",     "NRINSJURNF",   "NMRAZSOCCLIE", "NRNOTAFISCALELE", "DATASAIDA",
        "DATAEMISSAO",  "CDSERIE",        "VRNOTAFISC",   "IDEMAILCCE",   "IDEMAILCCETRANS", "IDTPAMBNFE",
        "IDSTATUSCCE",  "CDFILIAL",       "NRLANCTONF",   "CDEMPRESA",    "CDINSCESTA",      "CDINSCMUNI",
        "NRLICENCAUSO", "CDCLIENTE",      "CDFILIRECE",   "CDFORNECED",   "IDTIPOEMISNFE",   "CDTIPOOPER",
        "IDENTRSAIDOP", "NRSEQCCE",       "IDORIGDESTNF", "IDTPIJURNF",   "CDSTATUSCCE",     "NRACESSONFE",
        "NRINSJURTRAN", "DTHRPROTOCOLNFE"};
    const QList<int> nfSizes = {1,  4,  20, 50, 9, 10, 10, 5, 0, 1, 1, 1, 1, 4,  10, 2,
                                16, 16, 10, 21, 4, 21, 1,  2, 1, 2, 1, 1, 4, 50, 20, 0};
    ASSERT_EQ(nf.fields.size(), nfNames.size());
    for (int i = 0; i < nfNames.size(); ++i) {
        EXPECT_EQ(nf.fields[i].name, nfNames[i]) << i;
        EXPECT_EQ(nf.fields[i].size, nfSizes[i]) << nfNames[i].toStdString();
        const fw::FieldType t = nfNames[i] == QLatin1String("VRNOTAFISC")        ? fw::FieldType::Float
                                : nfNames[i] == QLatin1String("DTHRPROTOCOLNFE") ? fw::FieldType::DateTime
                                                                                 : fw::FieldType::String;
        EXPECT_EQ(nf.fields[i].type, t) << nfNames[i].toStdString();
    }
    EXPECT_TRUE(nf.fields[0].fixed);
    const QStringList cceNames = {"CDFILIAL",    "NRLANCTONF",     "NRSEQCCE",        "DSCORRECAONFE",
                                  "CDSTATUSCCE", "DSOBSSTATUSCCE", "DTHRPROTOCOLCCE", "NRPROTOCOLCCE",
                                  "IDEMAILCCE",  "IDEMAILCCETRANS"};
    // The authority's codes take 4 digits and its protocols 17 in the tax reform's layouts.
    const QList<int> cceSizes = {4, 10, 2, 1000, 4, 255, 0, 17, 1, 1};
    ASSERT_EQ(cce.fields.size(), cceNames.size());
    for (int i = 0; i < cceNames.size(); ++i) {
        EXPECT_EQ(cce.fields[i].name, cceNames[i]);
        EXPECT_EQ(cce.fields[i].size, cceSizes[i]);
    }
    EXPECT_EQ(cce.fields[6].type, fw::FieldType::DateTime);
    ASSERT_EQ(nf.rows.size(), 1);
    EXPECT_EQ(nf.rows[0].size(), nfNames.size());
}

TEST_P(GetNotaFiscal, EachCriterionNarrowsTheList)
{
    varied();
    struct Case {
        const char* what;
        std::map<int, QVariant> args;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"no restriction: company 01, model 55, any authorisation", {}, all()},
        {"issuing branch", {{1, QStringLiteral("0005")}}, only({2})},
        {"origin branch", {{2, QStringLiteral("0003")}}, only({2, 3})},
        {"operation types", {{3, QStringLiteral("S05;E51")}}, only({4, 5})},
        {"operation type needs its direction", {{3, QStringLiteral("E05")}}, {}},
        {"operation types, empty list", {{3, QString()}}, all()},
        {"state registration", {{5, QStringLiteral("86123456")}}, only({6})},
        {"municipal registration", {{6, QStringLiteral("99990000")}}, only({7})},
        {"series", {{7, QStringLiteral("2")}}, only({8})},
        {"recipient branch", {{8, QStringLiteral("0003")}}, only({9})},
        {"counterpart kind L", {{9, QStringLiteral("L")}}, only({9})},
        {"counterpart kind F", {{9, QStringLiteral("F")}}, only({10})},
        {"counterpart registration", {{10, QStringLiteral("98765432000198")}}, only({10})},
        {"direction E", {{12, QStringLiteral("E")}}, only({5})},
        {"direction S", {{12, QStringLiteral("S")}}, all({5})},
        {"emission types", {{13, QStringLiteral("_2__5_")}}, only({13})},
        {"emission types, normal only", {{13, QStringLiteral("_1_")}}, all({13})},
        {"dates: T ignores them", {{11, QStringLiteral("T")}, {15, day(2030, 1, 1)}, {16, day(2030, 1, 2)}}, all()},
        {"dates: both days included",
         {{11, QStringLiteral("N")}, {15, day(2026, 11, 30)}, {16, day(2026, 12, 1)}},
         only({11, 12})},
        {"dates: empty switch restricts too",
         {{11, QString()}, {15, day(2026, 11, 30)}, {16, day(2026, 11, 30)}},
         only({11})},
        {"dates: null lower bound", {{11, QStringLiteral("N")}, {16, day(2026, 11, 29)}}, all({11, 12, 18})},
        {"dates: null upper bound", {{11, QStringLiteral("N")}, {15, day(2026, 12, 1)}}, only({12})},
        {"dates: both bounds null", {{11, QStringLiteral("N")}}, all()},
        {"company 02", {{4, QStringLiteral("02")}}, only({16})},
    };
    // A list the server counts among the whole-company ones (a few at a time) is one that
    // leaves the company whole but for direction and emission types; any narrower one
    // must never wait for them.
    const srv::Method* m = registry.find(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"));
    ASSERT_TRUE(m && m->heavy);
    for (const Case& c : cases) {
        EXPECT_EQ(entries(criteria(c.args)), c.expected) << c.what;
        bool wholeButDirection = true;
        for (const auto& [arg, value] : c.args)
            wholeButDirection = wholeButDirection && (arg == 4 || arg == 12 || arg == 13);
        EXPECT_EQ(m->heavy(criteria(c.args)), c.expected == all() || wholeButDirection) << c.what;
    }
}

TEST_P(GetNotaFiscal, ComputedFieldsFollowTheLatestLetter)
{
    auto inv = [&](const char* lancto, const QString& transp = QString()) {
        Invoice n;
        n.lancto = QString::fromLatin1(lancto);
        n.transp = transp;
        addInvoice(n);
        return n.lancto;
    };
    const QString f = QStringLiteral("0002");
    inv("0000000001");
    addLetter(f, inv("0000000002"), pending(QStringLiteral("01")));
    Letter doubt = pending(QStringLiteral("01"));
    doubt.transm = QStringLiteral("D");
    addLetter(f, inv("0000000003"), doubt);
    const QString four = inv("0000000004", QStringLiteral("11444777000161"));
    addLetter(f, four, accepted(QStringLiteral("01")));
    addLetter(f, four, accepted(QStringLiteral("02"), QStringLiteral("136")));
    Letter third = accepted(QStringLiteral("03"));
    third.emailTrans = QStringLiteral("P");
    addLetter(f, four, third);
    const QString five = inv("0000000005");
    addLetter(f, five, accepted(QStringLiteral("01")));
    addLetter(f, five, rejected(QStringLiteral("02")));

    const auto [nf, cce] = fetch(criteria());
    ASSERT_EQ(nf.rows.size(), 5);
    auto cell = [&](const QString& lancto, const char* field) {
        const int at = nf.fieldIndex(QString::fromLatin1(field));
        for (const fw::Row& r : nf.rows)
            if (r[nf.fieldIndex(QStringLiteral("NRLANCTONF"))].toString() == lancto)
                return r[at].toString();
        return QStringLiteral("<missing>");
    };
    struct Expect {
        const char* lancto;
        const char* status;
        const char* seq;
        const char* cd;
        const char* mail;
        const char* mailTrans;
    };
    for (const Expect& e :
         {Expect{"0000000001", "0", "00", "", "", ""}, Expect{"0000000002", "1", "01", "", "P", "N"},
          Expect{"0000000003", "1", "01", "", "P", "N"}, Expect{"0000000004", "2", "03", "135", "E", "P"},
          Expect{"0000000005", "3", "02", "573", "P", "N"}}) {
        const QString l = QString::fromLatin1(e.lancto);
        EXPECT_EQ(cell(l, "IDSTATUSCCE"), QLatin1String(e.status)) << e.lancto;
        EXPECT_EQ(cell(l, "NRSEQCCE"), QLatin1String(e.seq)) << e.lancto;
        EXPECT_EQ(cell(l, "CDSTATUSCCE"), QLatin1String(e.cd)) << e.lancto;
        EXPECT_EQ(cell(l, "IDEMAILCCE"), QLatin1String(e.mail)) << e.lancto;
        EXPECT_EQ(cell(l, "IDEMAILCCETRANS"), QLatin1String(e.mailTrans)) << e.lancto;
        EXPECT_EQ(cell(l, "IDCHECK"), QStringLiteral("N"));
    }
    EXPECT_EQ(cell(QStringLiteral("0000000001"), "DATASAIDA"), QStringLiteral("10/11/2026"));
    EXPECT_EQ(cell(QStringLiteral("0000000001"), "DATAEMISSAO"), QStringLiteral("09/11/2026"));
    const fw::Row& first = nf.rows[0];
    EXPECT_DOUBLE_EQ(first[nf.fieldIndex(QStringLiteral("VRNOTAFISC"))].toDouble(), 1234.56);
    EXPECT_EQ(first[nf.fieldIndex(QStringLiteral("DTHRPROTOCOLNFE"))].toDateTime(),
              QDateTime(QDate(2026, 11, 9), QTime(17, 6, 0)));

    // Every letter of the listed invoices, with its own values.
    EXPECT_EQ(cce.rows.size(), 7);
    bool sawAccepted = false;
    for (const fw::Row& r : cce.rows) {
        if (r[1].toString() == four && r[2].toString() == QLatin1String("01")) {
            sawAccepted = true;
            EXPECT_EQ(r[4].toString(), QStringLiteral("135"));
            EXPECT_EQ(r[6].toDateTime(), QDateTime(QDate(2026, 11, 12), QTime(10, 0, 0)));
            EXPECT_EQ(r[7].toString(), QStringLiteral("135260000099999"));
        }
    }
    EXPECT_TRUE(sawAccepted);

    // Letters of invoices left out stay out.
    const auto narrowed = fetch(criteria({{2, QStringLiteral("9999")}}));
    EXPECT_TRUE(narrowed.first.rows.isEmpty());
    EXPECT_TRUE(narrowed.second.rows.isEmpty());
}

TEST_P(GetNotaFiscal, RefusesBadCriteriaWithAMessage)
{
    addInvoice(invoice("0000000001"));
    auto answer = [&](std::map<int, QVariant> args) { return tr(QStringLiteral("GetNotaFiscal"), criteria(args)); };
    for (const QVariant& company :
         {QVariant(QStringLiteral("T")), QVariant(QString()), QVariant(QStringLiteral("  "))}) {
        const QVariant r = answer({{4, company}});
        EXPECT_EQ(r.metaType().id(), QMetaType::QString);
        EXPECT_EQ(r.toString(), QStringLiteral("Empresa deve ser informada."));
    }
    for (const auto& [pos, v] :
         std::vector<std::pair<int, QVariant>>{{9, QStringLiteral("X")},
                                               {11, QStringLiteral("S")},
                                               {12, QStringLiteral("X")},
                                               {3, QStringLiteral("X01")},
                                               {1, QString(10 * 1024 * 1024, QLatin1Char('a'))},
                                               {3, QString(10 * 1024 * 1024, QLatin1Char(';'))}}) {
        const QVariant r = answer({{pos, v}});
        ASSERT_EQ(r.metaType().id(), QMetaType::QString) << pos;
        EXPECT_TRUE(r.toString().startsWith(QStringLiteral("Critério de seleção inválido"))) << pos;
        EXPECT_LT(r.toString().size(), 300);
    }
}

TEST_P(GetNotaFiscal, SqlTextInCriteriaIsJustAValue)
{
    addInvoice(invoice("0000000001"));
    EXPECT_TRUE(entries(criteria({{1, QStringLiteral("' OR '1'='1")}})).isEmpty());
    EXPECT_TRUE(entries(criteria({{4, QStringLiteral("01' --")}})).isEmpty());
    EXPECT_TRUE(entries(criteria({{10, QStringLiteral("x'); DELETE FROM NOTAFISCAL; --")}})).isEmpty());
    EXPECT_TRUE(entries(criteria({{3, QStringLiteral("S0'")}})).isEmpty());
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, GetNotaFiscal, ::testing::Values("sqlite", "postgresql"));
