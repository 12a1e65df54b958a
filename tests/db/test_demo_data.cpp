#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <gtest/gtest.h>

#include "core/host/Documents.h"
#include "db/DemoData.h"
#include "db/Schema.h"
#include "nfe/AccessKey.h"

namespace {

struct DemoDb {
    QTemporaryDir dir;
    QString name = QUuid::createUuid().toString();
    DemoDb(const db::DemoOptions& o)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dir.filePath(QStringLiteral("demo.db")));
        EXPECT_TRUE(db.open());
        QString error;
        EXPECT_TRUE(db::configureConnection(db, &error)) << error.toStdString();
        EXPECT_TRUE(db::migrate(db, &error)) << error.toStdString();
        EXPECT_TRUE(db::fillDemo(db, o, &error, &summary)) << error.toStdString();
    }
    ~DemoDb()
    {
        QSqlDatabase::database(name).close();
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name); }
    QStringList column(const QString& sql) const
    {
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        QStringList out;
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    int number(const QString& sql) const
    {
        const QStringList c = column(sql);
        return c.isEmpty() ? -1 : c.first().toInt();
    }
    db::DemoSummary summary;
};

db::DemoOptions fixed(int invoices = 0, int letters = -1)
{
    db::DemoOptions o;
    o.invoices = invoices;
    o.letters = letters;
    o.today = QDate(2026, 12, 7);
    return o;
}

} // namespace

TEST(DemoData, RegistrationNumbersAndAccessKeysAreValid)
{
    DemoDb d(fixed());
    for (const QString& sql :
         {QStringLiteral("SELECT NRINSJUREMPR FROM EMPRESA"), QStringLiteral("SELECT NRINSJURFILI FROM FILIAL"),
          QStringLiteral("SELECT NRINSJURFORN FROM FORNECEDOR"),
          QStringLiteral("SELECT NRINSJURTRAN FROM TRANSPORTADORA")}) {
        const QStringList docs = d.column(sql);
        ASSERT_FALSE(docs.isEmpty()) << sql.toStdString();
        for (const QString& doc : docs)
            EXPECT_TRUE(fw::validCnpj(doc)) << sql.toStdString() << " " << doc.toStdString();
    }
    QSqlQuery q(d.db());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT IDTPIJURCLIE, NRINSJURCLIE FROM CLIENTE")));
    int people = 0, companies = 0;
    while (q.next()) {
        if (q.value(0).toString() == QLatin1String("F")) {
            ++people;
            EXPECT_TRUE(fw::validCpf(q.value(1).toString())) << q.value(1).toString().toStdString();
        } else {
            ++companies;
            EXPECT_TRUE(fw::validCnpj(q.value(1).toString())) << q.value(1).toString().toStdString();
        }
    }
    EXPECT_GT(people, 0);
    EXPECT_GT(companies, 0);

    ASSERT_TRUE(
        q.exec(QStringLiteral("SELECT N.NRACESSONFE, N.NRNOTAFISCALELE, N.IDTIPOEMISNFE, F.NRINSJURFILI, N.CDMODELONF "
                              "FROM NOTAFISCAL N JOIN FILIAL F ON F.CDFILIAL = N.CDFILIAL")));
    int n = 0;
    while (q.next()) {
        const QString key = q.value(0).toString();
        EXPECT_TRUE(nfe::validAccessKey(key)) << key.toStdString();
        // The key carries the issuer, the model, the number and the emission type.
        EXPECT_EQ(key.mid(6, 14), q.value(3).toString());
        EXPECT_EQ(key.mid(20, 2), q.value(4).toString());
        EXPECT_EQ(key.mid(25, 9), q.value(1).toString());
        EXPECT_EQ(key.mid(34, 1), q.value(2).toString());
        ++n;
    }
    EXPECT_EQ(n, db::kDefaultDemoInvoices);
}

TEST(DemoData, CoversEveryStateTheScreenShows)
{
    DemoDb d(fixed());
    EXPECT_GE(d.number(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")), 3);
    // Centralising branches name themselves, origin branches point to one of them, and
    // one branch stands alone.
    EXPECT_GT(d.number(QStringLiteral("SELECT COUNT(*) FROM FILIAL WHERE CDFILIFISC = CDFILIAL")), 2);
    EXPECT_GT(d.number(QStringLiteral("SELECT COUNT(*) FROM FILIAL F JOIN FILIAL C ON C.CDFILIAL = F.CDFILIFISC "
                                      "WHERE F.CDFILIFISC <> F.CDFILIAL AND C.CDFILIFISC = C.CDFILIAL")),
              2);
    EXPECT_GE(d.number(QStringLiteral("SELECT COUNT(*) FROM FILIAL WHERE CDFILIFISC IS NULL")), 1);
    EXPECT_GE(d.number(QStringLiteral("SELECT COUNT(DISTINCT SGESTADO) FROM INSCRESTAD")), 3);
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDTPAMBIENTENFE FROM INSCRESTAD ORDER BY 1")),
              QStringList({QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDNFILTROINSCR FROM PARAMDFS ORDER BY 1")),
              QStringList({QStringLiteral("N"), QStringLiteral("S")}));
    EXPECT_GE(
        d.number(QStringLiteral("SELECT COUNT(*) FROM FILIAL WHERE CDFILIAL NOT IN (SELECT CDFILIAL FROM PARAMDFS)")),
        1);
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDENTRSAIDOP FROM TIPOOPERAC ORDER BY 1")),
              QStringList({QStringLiteral("E"), QStringLiteral("S")}));
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDTPTRANSNFE FROM TIPOOPERAC ORDER BY 1")),
              QStringList({QStringLiteral("C"), QStringLiteral("F"), QStringLiteral("N")}));

    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDTIPOEMISNFE FROM NOTAFISCAL ORDER BY 1")).size(), 7);
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDSITUACAONFE FROM NOTAFISCAL ORDER BY 1")),
              QStringList({QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("N")}));
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDORIGDESTNF FROM NOTAFISCAL ORDER BY 1")),
              QStringList({QStringLiteral("C"), QStringLiteral("F"), QStringLiteral("L")}));
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDENTRSAIDOP FROM NOTAFISCAL ORDER BY 1")),
              QStringList({QStringLiteral("E"), QStringLiteral("S")}));
    EXPECT_GT(d.number(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE NRINSJURTRAN IS NULL")), 0);
    EXPECT_GT(d.number(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE NRINSJURTRAN IS NOT NULL")), 0);
    EXPECT_EQ(d.number(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE IDSITUACAONFE = 'N' AND "
                                      "(NRPROTOCOLONFE IS NOT NULL OR EXISTS (SELECT 1 FROM CARTACORRECAO L WHERE "
                                      "L.CDFILIAL = NOTAFISCAL.CDFILIAL AND L.NRLANCTONF = NOTAFISCAL.NRLANCTONF))")),
              0);

    // Latest letters: none, pending, in doubt, 135, 136, rejected; one invoice with 20.
    const QString latest = QStringLiteral(
        "SELECT COUNT(*) FROM CARTACORRECAO L WHERE L.NRSEQCCE = (SELECT MAX(X.NRSEQCCE) FROM CARTACORRECAO X "
        "WHERE X.CDFILIAL = L.CDFILIAL AND X.NRLANCTONF = L.NRLANCTONF) AND %1");
    EXPECT_GT(d.number(latest.arg(QStringLiteral("L.IDTRANSMCCE = 'N'"))), 0);
    EXPECT_GT(d.number(latest.arg(QStringLiteral("L.IDTRANSMCCE = 'D'"))), 0);
    EXPECT_GT(d.number(latest.arg(QStringLiteral("L.CDSTATUSCCE = '135'"))), 0);
    EXPECT_GT(d.number(latest.arg(QStringLiteral("L.CDSTATUSCCE = '136'"))), 0);
    EXPECT_GT(d.number(latest.arg(QStringLiteral("L.IDTRANSMCCE = 'R' AND L.CDSTATUSCCE NOT IN ('135', '136')"))), 0);
    EXPECT_GT(
        d.number(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL N WHERE NOT EXISTS (SELECT 1 FROM CARTACORRECAO L "
                                "WHERE L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF)")),
        0);
    EXPECT_EQ(d.number(QStringLiteral(
                  "SELECT MAX(C) FROM (SELECT COUNT(*) AS C FROM CARTACORRECAO GROUP BY CDFILIAL, NRLANCTONF) T")),
              20);
    EXPECT_EQ(d.column(QStringLiteral("SELECT DISTINCT IDTIPOARQXML FROM LOTECCE ORDER BY 1")),
              QStringList({QStringLiteral("R"), QStringLiteral("S")}));
    // A carrier-less invoice never has a pending carrier e-mail.
    EXPECT_EQ(d.number(QStringLiteral(
                  "SELECT COUNT(*) FROM CARTACORRECAO L JOIN NOTAFISCAL N ON N.CDFILIAL = L.CDFILIAL "
                  "AND N.NRLANCTONF = L.NRLANCTONF WHERE N.NRINSJURTRAN IS NULL AND L.IDEMAILCCETRANS <> 'N'")),
              0);
}

TEST(DemoData, SameSeedSameDataAndRequestedSizes)
{
    DemoDb a(fixed(500, 900));
    DemoDb b(fixed(500, 900));
    EXPECT_EQ(a.summary.invoices, 500);
    EXPECT_EQ(a.summary.letters, 900);
    EXPECT_EQ(a.number(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO")), 900);
    const QString sql =
        QStringLiteral("SELECT CDFILIAL || NRLANCTONF || NRACESSONFE || CAST(VRNOTAFISC AS VARCHAR(20)) "
                       "FROM NOTAFISCAL ORDER BY CDFILIAL, NRLANCTONF");
    EXPECT_EQ(a.column(sql), b.column(sql));

    // A database that already holds data is left alone.
    QString error;
    QSqlDatabase db = a.db();
    EXPECT_FALSE(db::fillDemo(db, fixed(10), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(a.number(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")), 500);
}
