#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include "db/Schema.h"
#include "nfe/AccessKey.h"
#include "tests/support/CompanyBuilder.h"

namespace {

class SqliteFile {
public:
    SqliteFile()
    {
        m_name = QUuid::createUuid().toString();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(m_dir.filePath(QStringLiteral("company.db")));
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~SqliteFile()
    {
        QSqlDatabase::database(m_name).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name); }

private:
    QTemporaryDir m_dir;
    QString m_name;
};

bool execOk(QSqlDatabase db, const QString& sql)
{
    QSqlQuery q(db);
    return q.exec(sql);
}

} // namespace

TEST(Schema, MigratesEmptyDatabaseOnceAndRecordsTheVersion)
{
    SqliteFile f;
    QSqlDatabase db = f.db();
    QString error;
    ASSERT_TRUE(db::configureConnection(db, &error)) << error.toStdString();
    EXPECT_EQ(db::schemaVersion(db), 0);
    ASSERT_TRUE(db::migrate(db, &error)) << error.toStdString();
    EXPECT_EQ(db::schemaVersion(db), db::latestSchemaVersion());
    EXPECT_GE(db::latestSchemaVersion(), 1);
    // A second run finds nothing to do and fails nothing.
    ASSERT_TRUE(db::migrate(db, &error)) << error.toStdString();
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*) FROM SCHEMA_VERSION")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), db::latestSchemaVersion());
    for (const char* table : {"EMPRESA", "FILIAL", "CLIENTE", "FORNECEDOR", "TIPOOPERAC", "INSCRESTAD", "ESTADO",
                              "INSCRMUNICIP", "SERIENF", "CTRLNUMENF", "EMPRCNTRFIL", "NOTAFISCAL", "CARTACORRECAO",
                              "LOTECCE", "LOTECCENF", "PARAMDFS", "TRANSPORTADORA", "CONSULTACCE"})
        EXPECT_TRUE(db.tables().contains(QString::fromLatin1(table))) << table;
}

TEST(Schema, SqliteRunsInWalMode)
{
    SqliteFile f;
    QSqlDatabase db = f.db();
    QString error;
    ASSERT_TRUE(db::configureConnection(db, &error));
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA journal_mode")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString().toLower(), QStringLiteral("wal"));
}

TEST(Schema, LetterConstraintsHoldInTheDatabase)
{
    SqliteFile f;
    QSqlDatabase db = f.db();
    QString error;
    ASSERT_TRUE(db::configureConnection(db, &error));
    ASSERT_TRUE(db::migrate(db, &error)) << error.toStdString();
    cce_test::InvoiceRow invoice;
    invoice.filial = QStringLiteral("0001");
    invoice.lancto = QStringLiteral("0000000001");
    cce_test::CompanyBuilder seed(db);
    ASSERT_TRUE(seed.invoice(invoice).ok()) << seed.error().toStdString();
    const QString letter = QStringLiteral(
        "INSERT INTO CARTACORRECAO (CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE, NRVERSAOREG) "
        "VALUES ('0001', '0000000001', '%1', 'Texto de correção válido', 'N', 1)");
    EXPECT_TRUE(execOk(db, letter.arg(QStringLiteral("01"))));
    EXPECT_TRUE(execOk(db, letter.arg(QStringLiteral("20"))));
    EXPECT_FALSE(execOk(db, letter.arg(QStringLiteral("01")))) << "duplicate key accepted";
    for (const char* bad : {"00", "21", "1", "99", "2A0"})
        EXPECT_FALSE(execOk(db, letter.arg(QString::fromLatin1(bad)))) << bad;
    // A letter needs its invoice.
    EXPECT_FALSE(execOk(
        db, QStringLiteral(
                "INSERT INTO CARTACORRECAO (CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE, IDTRANSMCCE, NRVERSAOREG) "
                "VALUES ('0009', '0000000001', '01', 'Texto de correção válido', 'N', 1)")));
}

TEST(Schema, SplitsScriptsAtStatementEnds)
{
    const QStringList s = db::splitStatements(
        QStringLiteral("-- note; here\nCREATE TABLE A (X INTEGER);\n\nCREATE INDEX I\n  ON A (X);\n"));
    ASSERT_EQ(s.size(), 2);
    EXPECT_EQ(s[0], QStringLiteral("CREATE TABLE A (X INTEGER)"));
    EXPECT_TRUE(s[1].startsWith(QStringLiteral("CREATE INDEX I")));
    EXPECT_FALSE(s[1].endsWith(QLatin1Char(';')));
}

TEST(AccessKey, CheckDigitFollowsModulo11)
{
    // Digit worked out by hand for this key.
    const QString key =
        nfe::buildAccessKey(35, QDate(2026, 12, 7), QStringLiteral("12345678000195"), 55, 1, 123, 1, 87654321);
    ASSERT_EQ(key.size(), 44);
    EXPECT_EQ(key, QStringLiteral("35261212345678000195550010000001231876543215"));
    EXPECT_TRUE(nfe::validAccessKey(key));
    // Any single changed digit breaks it.
    for (int i = 0; i < 44; ++i) {
        QString k = key;
        k[i] = QChar(QLatin1Char(char('0' + (k[i].unicode() - '0' + 1) % 10)));
        EXPECT_FALSE(nfe::validAccessKey(k)) << i;
    }
    // Remainders 0 and 1 give digit 0.
    EXPECT_EQ(nfe::accessKeyCheckDigit(QString(43, QLatin1Char('0'))), 0);
    EXPECT_EQ(nfe::accessKeyCheckDigit(QStringLiteral("123")), -1);
    EXPECT_FALSE(nfe::validAccessKey(QString(44, QLatin1Char('x'))));
}
