#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <gtest/gtest.h>

#include "core/errors/Errors.h"
#include "core/sql/TADOIBQuery.h"

using namespace fw;

namespace {

// Readable QString values in failure messages.
[[maybe_unused]] void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

FieldDef str(const QString& name, int size, bool required = false)
{
    FieldDef d;
    d.name = name;
    d.size = size;
    d.required = required;
    return d;
}

// The company query as the screen defines it.
void defineQryEmpresa(TADOIBQuery& q)
{
    q.setObjectName("qryEmpresa");
    q.SQL = QStringList{"SELECT E.CDEMPRESA,   E.NMRAZSOCEMPR, E.CDCENTCUST", "FROM EMPRESA E",
                        "WHERE (E.CDEMPRESA = :P_CDEMPRESA OR :P_TCDEMPRESA = 'T')", "ORDER BY CDEMPRESA"};
    q.addField(str("CDEMPRESA", 2, true), QString::fromUtf8("Código"));
    q.addField(str("NMRAZSOCEMPR", 80), QString::fromUtf8("Razão Social"));
    q.addField(str("CDCENTCUST", 4), QString(), false);
}

// Each case runs on SQLite (always) and on PostgreSQL when CCE_PG_URL names a server.
class QueryTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        const QString backend = QString::fromLatin1(GetParam());
        if (backend == "sqlite") {
            db = QSqlDatabase::addDatabase("QSQLITE", "company");
            db.setDatabaseName(":memory:");
        } else {
            const QString url = qEnvironmentVariable("CCE_PG_URL");
            if (url.isEmpty())
                GTEST_SKIP() << "CCE_PG_URL not set (postgresql://USER@HOST:PORT/DB): PostgreSQL cases skipped";
            const QUrl u(url);
            db = QSqlDatabase::addDatabase("QPSQL", "company");
            db.setHostName(u.host());
            db.setPort(u.port(5432));
            db.setUserName(u.userName());
            db.setPassword(u.password());
            db.setDatabaseName(u.path().mid(1));
        }
        ASSERT_TRUE(db.open()) << db.lastError().text().toStdString();
        // A temporary table on PostgreSQL: it lives in this session only.
        exec(backend == "sqlite" ? "CREATE TABLE EMPRESA (CDEMPRESA VARCHAR(2), NMRAZSOCEMPR VARCHAR(80), "
                                   "CDCENTCUST VARCHAR(4), NRFUNC INTEGER)"
                                 : "CREATE TEMP TABLE EMPRESA (CDEMPRESA VARCHAR(2), NMRAZSOCEMPR VARCHAR(80), "
                                   "CDCENTCUST VARCHAR(4), NRFUNC INTEGER)");
        insert("01", "Empresa Um", "0100", 10);
        insert("02", "D'Ávila & Filhos", "0200", 20);
        insert("03", "Empresa Três", QString(), 30);
    }

    void TearDown() override
    {
        if (db.isValid()) {
            if (db.isOpen())
                QSqlQuery(db).exec("DROP TABLE EMPRESA");
            db.close();
        }
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("company");
    }

    void exec(const QString& sql)
    {
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
    }

    void insert(const QString& cd, const QString& nm, const QString& cc, int n)
    {
        QSqlQuery q(db);
        q.prepare("INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR, CDCENTCUST, NRFUNC) VALUES (?, ?, ?, ?)");
        q.addBindValue(cd);
        q.addBindValue(nm);
        q.addBindValue(cc.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(cc));
        q.addBindValue(n);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }

    int companies()
    {
        QSqlQuery q(db);
        q.exec("SELECT COUNT(*) FROM EMPRESA");
        return q.next() ? q.value(0).toInt() : -1;
    }

    QSqlDatabase db;
};

QStringList codes(TADOIBQuery& q)
{
    QStringList out;
    for (q.first(); !q.eof(); q.next())
        out << q.fieldByName("CDEMPRESA")->asString();
    return out;
}

} // namespace

TEST_P(QueryTest, AllRowsFlagAndOneParameterAtEveryOccurrence)
{
    TADOIBQuery q;
    defineQryEmpresa(q);
    q.ParamByName("P_CDEMPRESA")->setAsString("02");
    q.ParamByName("p_tcdempresa")->setAsString("T"); // names ignore case
    q.open();
    EXPECT_EQ(codes(q), QStringList({"01", "02", "03"}));
    // Persistent fields keep their definition; values come typed from the result.
    EXPECT_EQ(q.fieldByName("CDEMPRESA")->displayLabel(), QString::fromUtf8("Código"));
    EXPECT_FALSE(q.fieldByName("CDCENTCUST")->visible());
    ASSERT_TRUE(q.locate("CDEMPRESA", "03"));
    EXPECT_TRUE(q.fieldByName("CDCENTCUST")->isNull());
    EXPECT_EQ(q.fieldByName("NMRAZSOCEMPR")->asString(), QString::fromUtf8("Empresa Três"));

    q.close();
    q.ParamByName("P_TCDEMPRESA")->setAsString("");
    q.open();
    EXPECT_EQ(codes(q), QStringList({"02"}));
    EXPECT_EQ(q.fieldByName("NMRAZSOCEMPR")->asString(), QString::fromUtf8("D'Ávila & Filhos"));
    q.close();
    q.ParamByName("P_CDEMPRESA")->setAsString("99");
    q.open();
    EXPECT_TRUE(q.IsEmpty());

    // One parameter, three places: every occurrence receives the value.
    TADOIBQuery twice;
    twice.SQL = QStringList{"SELECT CDEMPRESA FROM EMPRESA", "WHERE CDEMPRESA >= :P_CD AND CDEMPRESA <= :P_CD",
                            "   OR NMRAZSOCEMPR = :P_CD"};
    EXPECT_EQ(twice.paramNames(), QStringList({"P_CD"}));
    twice.ParamByName("P_CD")->setValue("03");
    twice.Open();
    EXPECT_EQ(codes(twice), QStringList({"03"}));
}

TEST_P(QueryTest, BeforeOpenRunsFirstAndMaySetParameters)
{
    TADOIBQuery q;
    defineQryEmpresa(q);
    QStringList order;
    q.BeforeOpen = [&](DataSet* ds) {
        order << "BeforeOpen";
        auto* query = static_cast<TADOIBQuery*>(ds);
        query->ParamByName("P_CDEMPRESA")->setAsString("01");
        query->ParamByName("P_TCDEMPRESA")->setAsString("");
    };
    q.AfterOpen = [&](DataSet* ds) { order << "AfterOpen:" + QString::number(ds->recordCount()); };
    q.AfterScroll = [&](DataSet*) { order << "AfterScroll"; };
    q.open();
    EXPECT_EQ(order, QStringList({"BeforeOpen", "AfterOpen:1", "AfterScroll"}));
    EXPECT_EQ(q.fieldByName("CDEMPRESA")->asString(), "01");

    // An abort in BeforeOpen leaves the query closed and runs nothing.
    q.close();
    q.BeforeOpen = [](DataSet*) { throw Abort(); };
    EXPECT_THROW(q.open(), Abort);
    EXPECT_FALSE(q.active());
}

TEST_P(QueryTest, ValuesWithSqlMetacharactersAreOnlyValues)
{
    TADOIBQuery q;
    defineQryEmpresa(q);
    for (const char* hostile : {"01' OR '1'='1", "'; DROP TABLE EMPRESA; --", "01 --", ":P_TCDEMPRESA", "\\'"}) {
        q.close();
        q.ParamByName("P_CDEMPRESA")->setAsString(QString::fromLatin1(hostile));
        q.ParamByName("P_TCDEMPRESA")->setAsString("");
        q.open();
        EXPECT_TRUE(q.isEmpty()) << hostile;
    }
    EXPECT_EQ(companies(), 3);
    // A value matches exactly, quotes included.
    TADOIBQuery byName;
    byName.SQL = QStringList{"SELECT CDEMPRESA FROM EMPRESA WHERE NMRAZSOCEMPR = :P_NM"};
    byName.ParamByName("P_NM")->setAsString(QString::fromUtf8("D'Ávila & Filhos"));
    byName.open();
    EXPECT_EQ(codes(byName), QStringList({"02"}));
}

TEST_P(QueryTest, FieldsComeFromTheResultWhenNoneAreDefined)
{
    TADOIBQuery q;
    q.SQL = QStringList{"SELECT CDEMPRESA, NRFUNC FROM EMPRESA WHERE CDEMPRESA <> ':P_NAO' ORDER BY NRFUNC DESC"};
    EXPECT_TRUE(q.paramNames().isEmpty()); // text inside quotes is not a parameter
    q.open();
    ASSERT_EQ(q.fieldCount(), 2);
    EXPECT_EQ(q.field(0)->fieldName(), "CDEMPRESA");
    EXPECT_EQ(q.field(1)->dataType(), FieldType::Integer);
    EXPECT_EQ(q.recordCount(), 3);
    EXPECT_EQ(q.fieldByName("NRFUNC")->asInteger(), 30);
    EXPECT_TRUE(q.locate("NRFUNC", 10));
    EXPECT_EQ(q.fieldByName("CDEMPRESA")->asString(), "01");
}

TEST_P(QueryTest, RefusalsAreClearAndKeepValuesOut)
{
    TADOIBQuery q;
    defineQryEmpresa(q);
    try {
        q.ParamByName("P_NADA");
        FAIL() << "unknown parameter accepted";
    } catch (const SqlError& e) {
        EXPECT_EQ(e.message(), QString::fromUtf8("Parâmetro P_NADA não encontrado."));
    }

    TADOIBQuery bad;
    bad.setObjectName("qryRuim");
    bad.SQL = QStringList{"SELECT CDEMPRESA FROM TABELA_QUE_NAO_EXISTE WHERE CDEMPRESA = :P_SEGREDO"};
    bad.ParamByName("P_SEGREDO")->setAsString("valor-secreto-123");
    try {
        bad.open();
        FAIL() << "missing table accepted";
    } catch (const SqlError& e) {
        EXPECT_TRUE(e.message().startsWith(QString::fromUtf8("Erro ao executar a consulta qryRuim"))) << e.what();
        EXPECT_FALSE(e.message().contains("valor-secreto-123")) << e.what();
    }
    EXPECT_FALSE(bad.active());

    // Another connection by name; a missing one is reported, not crashed on.
    TADOIBQuery elsewhere;
    elsewhere.SQL = QStringList{"SELECT 1"};
    elsewhere.setConnectionName("nao_existe");
    EXPECT_THROW(elsewhere.open(), SqlError);
}

INSTANTIATE_TEST_SUITE_P(Databases, QueryTest, ::testing::Values("sqlite", "postgresql"));

TEST(QueryStatement, EachDatabaseKindRunsItsOwnStatement)
{
    TADOIBQuery q;
    q.SQL = QStringList{"generic"};
    q.SQL_ORACLE = QStringList{"oracle"};
    q.SQL_MSSQL = QStringList{"mssql", "second line"};
    EXPECT_EQ(q.statementFor("QOCI"), "oracle");
    EXPECT_EQ(q.statementFor("QODBC"), "mssql\nsecond line");
    EXPECT_EQ(q.statementFor("QTDS"), "mssql\nsecond line");
    EXPECT_EQ(q.statementFor("QIBASE"), "generic"); // empty SQL_IB falls back
    EXPECT_EQ(q.statementFor("QSQLITE"), "generic");
    EXPECT_EQ(q.statementFor("QPSQL"), "generic");

    // Parameters are known from every statement.
    q.SQL_ORACLE = QStringList{"SELECT 1 FROM DUAL WHERE :P_ORA = 1"};
    EXPECT_NO_THROW(q.ParamByName("P_ORA"));

    // A statement of another kind is never run on SQLite.
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "kinds");
    db.setDatabaseName(":memory:");
    ASSERT_TRUE(db.open());
    {
        TADOIBQuery run;
        run.setConnectionName("kinds");
        run.SQL = QStringList{"SELECT 'generic' AS QUAL"};
        run.SQL_ORACLE = QStringList{"SELECT 'oracle' AS QUAL FROM DUAL"};
        run.SQL_IB = QStringList{"SELECT 'ib' AS QUAL FROM RDB$DATABASE"};
        run.open();
        EXPECT_EQ(run.fieldByName("QUAL")->asString(), "generic");
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("kinds");
}

TEST(QueryStatement, NamedParametersBecomePositionalOutsideLiteralsCommentsAndCasts)
{
    QStringList names;
    const QString out =
        TADOIBQuery::toPositional("SELECT ':X', \"A:B\", CAST(V AS TEXT)::VARCHAR -- :Y\n"
                                  "FROM T /* :Z */ WHERE A = :P_A AND B = :p_b OR C = :P_A AND D = 'it''s :W'",
                                  &names);
    EXPECT_EQ(names, QStringList({"P_A", "p_b", "P_A"}));
    EXPECT_EQ(out, "SELECT ':X', \"A:B\", CAST(V AS TEXT)::VARCHAR -- :Y\n"
                   "FROM T /* :Z */ WHERE A = ? AND B = ? OR C = ? AND D = 'it''s :W'");
}
