// GetNotaFiscal reads its rows with SQLite's own calls on SQLite and with libpq's on
// PostgreSQL; the answer must be the one QSqlQuery gives, byte for byte, whatever a
// column holds.
#include <QJsonDocument>

#include "db/DemoData.h"

#include "server/methods/TransmissaoMethods.h"
#include "server/store/DatabaseFault.h"
#include "server/store/PgStatement.h"
#include "server/store/SqliteStatement.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;
using srv::methods::RowReader;

namespace {

QVariant day(int y, int m, int d) { return QDateTime(QDate(y, m, d), QTime(12, 0)); }

class GetNotaFiscalReaders : public MethodsTest {
protected:
    bool sqlite() const { return QLatin1String(GetParam()) == QLatin1String("sqlite"); }

    QByteArray answer(const QVariantList& params, RowReader reader)
    {
        const QVariant r = srv::methods::getNotaFiscal(*store, params, reader);
        EXPECT_EQ(r.metaType().id(), qMetaTypeId<fw::json::RawJson>()) << r.toString().toStdString();
        return r.value<fw::json::RawJson>().text;
    }

    // Every road gives one answer, which is JSON in valid UTF-8; returns it.
    QByteArray same(const QVariantList& params)
    {
        const QByteArray query = answer(params, RowReader::QueryOnly);
        if (!sqlite()) {
            RowReader taken = RowReader::Fastest;
            const QVariant r = srv::methods::getNotaFiscal(*store, params, RowReader::Fastest, &taken);
            EXPECT_EQ(taken, RowReader::LettersFirst);
            EXPECT_EQ(r.value<fw::json::RawJson>().text, query);
        }
        EXPECT_EQ(answer(params, RowReader::TwoStatements), query);
        EXPECT_EQ(answer(params, RowReader::LettersFirst), query);
        EXPECT_EQ(answer(params, RowReader::LettersScanned), query);
        EXPECT_EQ(answer(params, RowReader::LettersLookedUp), query);
        EXPECT_EQ(answer(params, RowReader::Fastest), query);
        EXPECT_EQ(QString::fromUtf8(query).toUtf8(), query) << "not valid UTF-8";
        QJsonParseError error;
        QJsonDocument::fromJson(query, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        return query;
    }

    // Stores value in the invoice's column: bytes as TEXT as they are (valid UTF-8 or
    // not), anything else with the column's affinity.
    void set(const char* lancto, const char* column, const QVariant& value, const char* table = "NOTAFISCAL",
             const char* seq = nullptr)
    {
        const bool bytes = value.typeId() == QMetaType::QByteArray;
        QString sql = QStringLiteral("UPDATE %1 SET %2 = %3 WHERE NRLANCTONF = ?")
                          .arg(QLatin1String(table), QLatin1String(column),
                               bytes ? QStringLiteral("CAST(? AS TEXT)") : QStringLiteral("?"));
        QVariantList binds{value, QString::fromLatin1(lancto)};
        if (seq) {
            sql += QStringLiteral(" AND NRSEQCCE = ?");
            binds << QString::fromLatin1(seq);
        }
        exec(sql, binds);
    }
    void blob(const char* lancto, const char* column, const QByteArray& b, const char* table = "NOTAFISCAL")
    {
        exec(QStringLiteral("UPDATE %1 SET %2 = ? WHERE NRLANCTONF = ?")
                 .arg(QLatin1String(table), QLatin1String(column)),
             {b, QString::fromLatin1(lancto)});
    }

    // Invoices whose columns hold what a careless import could leave there.
    int awkward()
    {
        const QList<QByteArray> texts = {
            "aspas \" barra \\ / nova\nlinha\ttab \x01\x1f\x7f fim",
            "ção € \xf0\x9f\x98\x80 ok",
            QByteArray("a\0b", 3), // a NUL inside
            "lone \x80 continuation",
            "cut \xc3", // a sequence cut short
            "overlong \xc0\xaf and \xe0\x80\xaf",
            "surrogate \xed\xa0\x80 half",
            "past \xf4\x90\x80\x80 and \xf5\x80",
            "nonchar \xef\xbf\xbe \xef\xbf\xbf",
            "\xff\xfe",
            "",
        };
        const QList<QVariant> values = {QVariant(0.1 + 0.2),
                                        QVariant(qint64(100)),
                                        QVariant(1e21),
                                        QVariant(-0.0),
                                        QVariant(qint64(9007199254740993LL)),
                                        QVariant(QByteArray("12,5")),
                                        QVariant(QByteArray("abc")),
                                        QVariant(QStringLiteral("1e3")),
                                        QVariant(1234.5678)};
        const QList<QVariant> dates = {
            QVariant(QByteArray("2026-11-10T09:30:00")),
            QVariant(QByteArray("2026-11-10 09:30:00.123")),
            QVariant(QByteArray("2026-11-10")),
            QVariant(QByteArray("2026-02-30 10:00:00")),
            QVariant(QByteArray("ontem")),
            QVariant(QByteArray("2026-11-10T25:00:00")),
            QVariant(QByteArray("2026-11-10T09:30:00Z")),
            QVariant(QByteArray("2026-11-10X09:30:00")),
            QVariant(QByteArray("2026-11-1\xc3\xa7T09:30")),
            QVariant(qint64(20261110)),
            QVariant(2461000.5),
            QVariant(QByteArray("2026-11-10T09:30:00\xff")),
        };
        int n = 0;
        auto lancto = [](int i) { return QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')).toLatin1(); };
        const int count = int(std::max({texts.size(), values.size(), dates.size()}));
        for (int i = 0; i < count; ++i) {
            const QByteArray id = lancto(i + 1);
            Invoice inv;
            inv.lancto = QString::fromLatin1(id);
            inv.numero = QStringLiteral("%1").arg(i + 1, 9, 10, QLatin1Char('0'));
            inv.filial = i % 2 ? QStringLiteral("0002") : QStringLiteral("0003");
            addInvoice(inv);
            ++n;
            const QByteArray& t = texts[i % texts.size()];
            set(id, "NMRAZSOCCLIE", t);
            set(id, "NRINSJURTRAN", texts[(i + 3) % texts.size()]);
            set(id, "VRNOTAFISC", values[i % values.size()]);
            set(id, "DTSAIDA", dates[i % dates.size()]);
            set(id, "DTEMISSAO", dates[(i + 5) % dates.size()]);
            set(id, "DTHRPROTOCOLNFE", dates[(i + 2) % dates.size()]);
            if (i % 3 == 0)
                set(id, "NRINSJURNF", QVariant());
            if (i % 4 == 1)
                set(id, "CDINSCMUNI", QVariant());
            if (i % 5 == 2)
                blob(id, "NRACESSONFE", "blob \x01\xff");

            // Letters: none, one, or several out of their key's order.
            const QStringList seqs =
                i % 3 == 0   ? QStringList{}
                : i % 3 == 1 ? QStringList{QStringLiteral("01")}
                             : QStringList{QStringLiteral("10"), QStringLiteral("02"), QStringLiteral("01")};
            for (const QString& seq : seqs) {
                Letter l = seq == QLatin1String("01") ? accepted(seq) : pending(seq);
                l.transm = QStringList{QStringLiteral("N"), QStringLiteral("D"), QStringLiteral("R")}[i % 3];
                addLetter(inv.filial, inv.lancto, l);
            }
            if (!seqs.isEmpty()) {
                const QByteArray last = seqs.first().toLatin1();
                set(id, "DSCORRECAONFE", texts[(i + 1) % texts.size()], "CARTACORRECAO", last.constData());
                set(id, "DSOBSSTATUSCCE", texts[(i + 2) % texts.size()], "CARTACORRECAO", "01");
                set(id, "DTHRPROTOCOLCCE", dates[(i + 4) % dates.size()], "CARTACORRECAO", last.constData());
                // Registered codes as bytes, as an integer, and one that is not a code.
                const QList<QVariant> codes = {QVariant(QByteArray("136")), QVariant(qint64(135)),
                                               QVariant(QByteArray("135 ")), QVariant(QByteArray("135"))};
                if (i % 4 == 3)
                    blob(id, "CDSTATUSCCE", "135", "CARTACORRECAO");
                else
                    set(id, "CDSTATUSCCE", codes[i % codes.size()], "CARTACORRECAO", last.constData());
                if (i % 5 == 0)
                    set(id, "IDEMAILCCE", QVariant(), "CARTACORRECAO", last.constData());
            }
        }
        // Neither of the company nor of the model: never listed.
        Invoice other;
        other.lancto = QStringLiteral("0000000900");
        other.empresa = QStringLiteral("02");
        addInvoice(other);
        other.lancto = QStringLiteral("0000000901");
        other.empresa = QStringLiteral("01");
        other.modelo = QStringLiteral("65");
        addInvoice(other);
        // Their letters lie in the table that a walk of every letter reads.
        addLetter(other.filial, QStringLiteral("0000000900"), accepted(QStringLiteral("01")));
        addLetter(other.filial, QStringLiteral("0000000901"), pending(QStringLiteral("01")));
        return n;
    }
};

TEST_P(GetNotaFiscalReaders, AwkwardColumnsGiveTheSameAnswerOnEveryRoad)
{
    if (!sqlite())
        GTEST_SKIP() << "SQLite's roads";
    ASSERT_NE(srv::SqliteStatement::handle(srv::openConnection(*store)), nullptr) << "the SQLite road is not taken";
    const int invoices = awkward();
    const QByteArray all = same(criteria());
    const auto [nf, cce] = fetch(criteria());
    EXPECT_EQ(nf.rows.size(), invoices);
    EXPECT_EQ(cce.rows.size(), 4 + 4 * 3); // 4 invoices with one letter, 4 with three
    EXPECT_TRUE(all.contains("\\u0000")) << "a NUL inside a text is escaped, not an end";
    EXPECT_TRUE(all.contains("\xef\xbf\xbd")) << "invalid UTF-8 arrives as replacement characters";

    // The criteria still narrow on the SQLite road: each answer is that of QSqlQuery and
    // a part of the whole.
    const std::map<int, QVariant> narrow[] = {
        {{2, QStringLiteral("0003")}},
        {{1, QStringLiteral("0001")}, {2, QStringLiteral("0002")}},
        {{3, QStringLiteral("S01;E51")}},
        {{11, QStringLiteral("N")}, {15, day(2026, 11, 10)}, {16, day(2026, 11, 10)}},
        {{13, QStringLiteral("_1_")}},
        {{13, QStringLiteral("_9_")}},
        {{9, QStringLiteral("C")}, {10, QStringLiteral("11222333000181")}},
        {{7, QStringLiteral("1' OR '1'='1")}},
    };
    int shorter = 0;
    for (const auto& set : narrow) {
        same(criteria(set));
        const auto [n, c] = fetch(criteria(set));
        EXPECT_LE(n.rows.size(), nf.rows.size());
        shorter += n.rows.size() < nf.rows.size();
        if (set.count(2)) {
            for (const auto& row : n.rows)
                EXPECT_EQ(row[13].toString(), set.at(2).toString());
        }
    }
    EXPECT_GE(shorter, 6) << "the criteria narrowed nothing";
}

TEST_P(GetNotaFiscalReaders, ManyInvoicesAndFewLettersKeepTheirOrder)
{
    if (!sqlite())
        GTEST_SKIP() << "SQLite's roads";
    // With few letters SQLite would walk the letters first in the second statement, unless
    // the statement keeps the invoices outer, as the in-memory join reads them.
    for (int i = 1; i <= 300; ++i) {
        Invoice inv;
        inv.lancto = QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'));
        inv.filial = i % 2 ? QStringLiteral("0002") : QStringLiteral("0003");
        inv.saida = QDateTime(QDate(2026, 11, 1 + i % 28), QTime(i % 24, 0));
        addInvoice(inv);
    }
    addLetter(QStringLiteral("0002"), QStringLiteral("0000000299"), accepted(QStringLiteral("01")));
    addLetter(QStringLiteral("0002"), QStringLiteral("0000000299"), pending(QStringLiteral("02")));
    addLetter(QStringLiteral("0003"), QStringLiteral("0000000004"), rejected(QStringLiteral("01")));
    for (bool analyzed : {false, true}) {
        if (analyzed)
            exec(QStringLiteral("ANALYZE"));
        same(criteria());
        same(criteria({{2, QStringLiteral("0002")}}));
        same(criteria({{11, QStringLiteral("N")}, {15, day(2026, 11, 3)}, {16, day(2026, 11, 20)}}));
    }
    const auto [nf, cce] = fetch(criteria());
    EXPECT_EQ(nf.rows.size(), 300);
    EXPECT_EQ(cce.rows.size(), 3);
}

TEST_P(GetNotaFiscalReaders, KeysHeldAsBytesJoinOnlyWithBytes)
{
    if (!sqlite())
        GTEST_SKIP() << "SQLite's roads";
    // A key of bytes equals no key of text, however alike their bytes; the roads that
    // match letters to invoices themselves must see it so too.
    for (int i = 1; i <= 4; ++i) {
        Invoice inv;
        inv.lancto = QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'));
        addInvoice(inv);
    }
    addLetter(QStringLiteral("0002"), QStringLiteral("0000000002"), accepted(QStringLiteral("01")));
    addLetter(QStringLiteral("0002"), QStringLiteral("0000000004"), pending(QStringLiteral("01")));
    exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
    exec(QStringLiteral("UPDATE CARTACORRECAO SET NRLANCTONF = CAST(NRLANCTONF AS BLOB) WHERE NRLANCTONF = ?"),
         {QStringLiteral("0000000002")});
    same(criteria());
    EXPECT_EQ(fetch(criteria()).second.rows.size(), 1) << "only the letter whose key is text like its invoice's";

    // An invoice's key of bytes: its letter of bytes is its own.
    blob("0000000002", "NRLANCTONF", "0000000002");
    same(criteria());
    const auto [nf, cce] = fetch(criteria());
    EXPECT_EQ(nf.rows.size(), 4);
    EXPECT_EQ(cce.rows.size(), 2);
}

TEST_P(GetNotaFiscalReaders, TheBenchmarksShapeOfDataTakesTheFastRoad)
{
    if (!sqlite())
        GTEST_SKIP() << "SQLite's roads";
    // The benchmark's data, smaller: the demo's companies with one and a half letters per
    // invoice, analysed as the benchmark does.
    clearAll();
    db::DemoOptions demo;
    demo.invoices = 3000;
    QSqlDatabase connection = db();
    QString error;
    ASSERT_TRUE(db::fillDemo(connection, demo, &error)) << error.toStdString();
    exec(QStringLiteral("ANALYZE"));
    const auto road = [&](const QVariantList& params) {
        RowReader taken = RowReader::Fastest;
        const QVariant fast = srv::methods::getNotaFiscal(*store, params, RowReader::Fastest, &taken);
        EXPECT_EQ(fast.value<fw::json::RawJson>().text, same(params));
        return taken;
    };
    // A whole company: every letter first, the invoices written as they are read.
    EXPECT_EQ(road(criteria()), RowReader::LettersFirst);
    // Most of it, narrowed by the issuing branch: the invoices first, then one walk of the
    // letters' table.
    EXPECT_EQ(road(criteria({{1, QStringLiteral("0001")}})), RowReader::LettersScanned);
    // One counterpart's few invoices: their letters looked up.
    const QString counterpart =
        row(QStringLiteral("SELECT NRINSJURNF FROM NOTAFISCAL WHERE CDEMPRESA = '01' AND IDORIGDESTNF = 'C'"))
            .value(0)
            .toString();
    EXPECT_EQ(road(criteria({{9, QStringLiteral("C")}, {10, counterpart}})), RowReader::LettersLookedUp);
}

TEST_P(GetNotaFiscalReaders, PostgreSQLsValuesGiveTheSameAnswerThroughLibpq)
{
    if (sqlite())
        GTEST_SKIP() << "PostgreSQL's road";
    ASSERT_NE(srv::PgStatement::handle(srv::openConnection(*store)), nullptr) << "libpq's road is not taken";
    const QStringList texts = {
        QString::fromUtf8("aspas \" barra \\ / nova\nlinha\ttab \x01\x1f\x7f fim"),
        QString::fromUtf8("ção € \xf0\x9f\x98\x80 ok"),
        QString::fromUtf8("nonchar \xef\xbf\xbe \xef\xbf\xbf"),
        QString(),
        QStringLiteral("plain"),
    };
    const QStringList values = {QStringLiteral("0.30"),    QStringLiteral("100"),
                                QStringLiteral("-0.01"),   QStringLiteral("9999999999999.99"),
                                QStringLiteral("1234.57"), QStringLiteral("0")};
    // As the database writes them: fractions (one that rounds up to the next second), the
    // era, the infinities, a year of five digits.
    const QStringList stamps = {QStringLiteral("2026-11-10 09:30:00"),
                                QStringLiteral("2026-11-10 09:30:00.999999"),
                                QStringLiteral("2026-11-10 23:59:59.9996"),
                                QStringLiteral("0099-01-01 10:00:00 BC"),
                                QStringLiteral("infinity"),
                                QStringLiteral("-infinity"),
                                QStringLiteral("12026-01-01 10:00:00"),
                                QStringLiteral("2026-02-28 00:00:00")};
    // Keys of different lengths, so the key's order is not the order of their numbers.
    const QStringList branches = {QStringLiteral("0002"), QStringLiteral("0003"), QStringLiteral("002"),
                                  QStringLiteral("02")};
    const int count = 24;
    for (int i = 0; i < count; ++i) {
        Invoice inv;
        inv.filial = branches[i % branches.size()];
        inv.lancto = QString::number(1000 - i * 7);
        inv.numero = QStringLiteral("%1").arg(i + 1, 9, 10, QLatin1Char('0'));
        inv.nome = texts[i % texts.size()];
        if (i % 3 == 0)
            inv.insJur.clear();
        addInvoice(inv);
        const QVariantList key{inv.filial, inv.lancto};
        auto update = [&](const char* set, const QVariant& v) {
            exec(QStringLiteral("UPDATE NOTAFISCAL SET %1 WHERE CDFILIAL = ? AND NRLANCTONF = ?")
                     .arg(QLatin1String(set)),
                 QVariantList{v} + key);
        };
        update("VRNOTAFISC = CAST(? AS NUMERIC)", values[i % values.size()]);
        update("DTSAIDA = CAST(? AS TIMESTAMP)", i % 5 == 4 ? QVariant() : QVariant(stamps[i % stamps.size()]));
        update("DTEMISSAO = CAST(? AS TIMESTAMP)", stamps[(i + 3) % stamps.size()]);
        update("DTHRPROTOCOLNFE = CAST(? AS TIMESTAMP)", stamps[(i + 5) % stamps.size()]);
        update("NRINSJURTRAN = ?", texts[(i + 1) % texts.size()].left(20));

        // Letters: none, one, or several out of their sequence's order.
        const QStringList seqs = i % 3 == 0 ? QStringList{}
                                 : i % 3 == 1
                                     ? QStringList{QStringLiteral("01")}
                                     : QStringList{QStringLiteral("10"), QStringLiteral("02"), QStringLiteral("01")};
        for (const QString& seq : seqs) {
            Letter l = seq == QLatin1String("01") ? accepted(seq) : pending(seq);
            l.texto = texts[(i + 2) % texts.size()] + QStringLiteral(" correção do destinatário");
            l.transm = QStringList{QStringLiteral("N"), QStringLiteral("D"), QStringLiteral("R")}[i % 3];
            l.status =
                QStringList{QStringLiteral("136"), QStringLiteral("135"), QStringLiteral("573"), QString()}[i % 4];
            addLetter(inv.filial, inv.lancto, l);
            exec(QStringLiteral("UPDATE CARTACORRECAO SET DTHRPROTOCOLCCE = CAST(? AS TIMESTAMP), IDEMAILCCE = ? "
                                "WHERE CDFILIAL = ? AND NRLANCTONF = ? AND NRSEQCCE = ?"),
                 {stamps[(i + 1) % stamps.size()], i % 5 == 0 ? QVariant() : QVariant(QStringLiteral("E")), inv.filial,
                  inv.lancto, seq});
        }
    }
    // Neither of the company nor of the model, with letters: never listed.
    Invoice other;
    other.lancto = QStringLiteral("9000");
    other.empresa = QStringLiteral("02");
    addInvoice(other);
    addLetter(other.filial, other.lancto, accepted(QStringLiteral("01")));

    const QByteArray all = same(criteria());
    const auto [nf, cce] = fetch(criteria());
    EXPECT_EQ(nf.rows.size(), count);
    EXPECT_EQ(cce.rows.size(), 8 + 8 * 3);
    EXPECT_TRUE(all.contains("2026-11-10T09:30:00")) << "a fraction of a second is dropped, not rounded";
    EXPECT_TRUE(all.contains("\xef\xbf\xbe")) << "a noncharacter travels as it is";
    const std::map<int, QVariant> narrow[] = {
        {{2, QStringLiteral("002")}},
        {{11, QStringLiteral("N")}, {15, day(2026, 11, 10)}, {16, day(2026, 11, 10)}},
        {{13, QStringLiteral("_9_")}},
        {{9, QStringLiteral("C")}, {10, QStringLiteral("11222333000181")}},
        // The values go into the statement as quoted literals: quotes and backslashes stay text.
        {{9, QStringLiteral("C")}, {10, QStringLiteral("1' OR '1'='1' OR E'\\' = '\\")}},
    };
    for (const auto& set : narrow) {
        same(criteria(set));
        EXPECT_LT(fetch(criteria(set)).first.rows.size(), nf.rows.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, GetNotaFiscalReaders, ::testing::Values("sqlite", "postgresql"));

} // namespace
