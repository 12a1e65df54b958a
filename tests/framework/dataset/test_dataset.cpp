#include <QElapsedTimer>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include "core/dataset/DataSet.h"
#include "core/errors/Errors.h"
#include "tests/framework/dataset/DataSetTestUtil.h"

using namespace fw;
using namespace dstest;

class DataSetLoading : public dstest::Loaded {};
class DataSetFilter : public dstest::Loaded {};
class DataSetIndex : public dstest::Loaded {};
class DataSetLocate : public dstest::Loaded {};
class DataSetBookmarks : public dstest::Loaded {};
class DataSetScale : public dstest::Loaded {};

namespace {

// Records every event handler and every data-source state change in order.
struct Recorder {
    QStringList log;
    TDataSource source;

    explicit Recorder(DataSet& ds)
    {
        auto rec = [this](const char* name) { return [this, name](DataSet*) { log << QString::fromLatin1(name); }; };
        ds.BeforeOpen = rec("BeforeOpen");
        ds.AfterOpen = rec("AfterOpen");
        ds.BeforeClose = rec("BeforeClose");
        ds.AfterClose = rec("AfterClose");
        ds.BeforeInsert = rec("BeforeInsert");
        ds.AfterInsert = rec("AfterInsert");
        ds.OnNewRecord = rec("OnNewRecord");
        ds.BeforeEdit = rec("BeforeEdit");
        ds.AfterEdit = rec("AfterEdit");
        ds.BeforePost = rec("BeforePost");
        ds.AfterPost = rec("AfterPost");
        ds.BeforeCancel = rec("BeforeCancel");
        ds.AfterCancel = rec("AfterCancel");
        ds.BeforeDelete = rec("BeforeDelete");
        ds.AfterDelete = rec("AfterDelete");
        ds.BeforeScroll = rec("BeforeScroll");
        ds.AfterScroll = rec("AfterScroll");
        source.OnStateChange = [this](QObject* sender) {
            auto* s = static_cast<TDataSource*>(sender);
            static const char* names[] = {"Inactive", "Browse", "Edit", "Insert"};
            log << QStringLiteral("state:%1").arg(QLatin1String(names[int(s->state())]));
        };
        source.setDataSet(&ds);
    }

    QStringList take()
    {
        QStringList out = log;
        log.clear();
        return out;
    }
};

DataPacket threeLetters()
{
    return letterPacket({{"0001", "10", "01", "primeira carta"},
                         {"0001", "10", "02", "segunda carta"},
                         {"0001", "11", "01", "outra nota"}});
}

} // namespace

TEST(DataSetEvents, OperationsRunTheirHandlersInTheHostsOrder)
{
    DataSet ds;
    defineLetters(ds);
    Recorder r(ds);

    ds.setData(threeLetters());
    EXPECT_EQ(r.take(), QStringList({"BeforeOpen", "state:Browse", "AfterOpen", "AfterScroll"}));

    ds.next();
    EXPECT_EQ(r.take(), QStringList({"BeforeScroll", "AfterScroll"}));

    ds.insert();
    EXPECT_EQ(r.take(), QStringList({"BeforeInsert", "BeforeScroll", "state:Insert", "OnNewRecord", "AfterInsert",
                                     "AfterScroll"}));
    ds.fieldByName("CDFILIAL")->setAsString("0002");
    ds.post();
    EXPECT_EQ(r.take(), QStringList({"BeforePost", "state:Browse", "AfterPost"}));

    ds.edit();
    EXPECT_EQ(r.take(), QStringList({"BeforeEdit", "state:Edit", "AfterEdit"}));
    ds.cancel();
    EXPECT_EQ(r.take(), QStringList({"BeforeCancel", "state:Browse", "AfterCancel"}));

    ds.deleteRecord();
    EXPECT_EQ(r.take(), QStringList({"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));

    // Moving with a pending edit posts it first.
    ds.edit();
    ds.fieldByName("DSCORRECAONFE")->setAsString("alterada");
    r.take();
    ds.last();
    EXPECT_EQ(r.take(), QStringList({"BeforePost", "state:Browse", "AfterPost", "BeforeScroll", "AfterScroll"}));

    // No move, no scroll events.
    ds.last();
    EXPECT_TRUE(r.take().isEmpty());

    ds.close();
    EXPECT_EQ(r.take(), QStringList({"BeforeClose", "state:Inactive", "AfterClose"}));
}

TEST(DataSetEvents, AbortFromBeforeHandlersLeavesTheDataSetAsItWas)
{
    DataSet ds;
    defineLetters(ds);
    ds.setData(threeLetters());
    TDataSource src;
    QList<DataSetState> states;
    src.OnStateChange = [&](QObject*) { states << src.state(); };
    src.setDataSet(&ds);

    bool refuse = true;
    ds.BeforePost = [&](DataSet*) {
        if (refuse)
            throw Abort();
    };
    ds.insert();
    ds.fieldByName("CDFILIAL")->setAsString("0009");
    EXPECT_THROW(ds.post(), Abort);
    EXPECT_EQ(ds.state(), DataSetState::Insert);
    EXPECT_EQ(ds.fieldByName("CDFILIAL")->asString(), "0009"); // the typed value survives
    EXPECT_EQ(ds.recordCount(), 3);
    EXPECT_EQ(ds.changeCount(), 0);
    refuse = false;
    ds.post();
    EXPECT_EQ(ds.recordCount(), 4);
    EXPECT_EQ(ds.changeCount(), 1);

    ds.BeforeDelete = [](DataSet*) { throw Abort(); };
    const qint64 bm = ds.bookmark();
    EXPECT_THROW(ds.deleteRecord(), Abort);
    EXPECT_EQ(ds.recordCount(), 4);
    EXPECT_EQ(ds.changeCount(), 1);
    EXPECT_EQ(ds.bookmark(), bm);
    EXPECT_EQ(ds.state(), DataSetState::Browse);

    // A new record handler that fails takes the insert back.
    ds.OnNewRecord = [](DataSet*) { throw DataSetError("falhou"); };
    states.clear();
    EXPECT_THROW(ds.insert(), DataSetError);
    EXPECT_EQ(ds.state(), DataSetState::Browse);
    EXPECT_EQ(states, QList<DataSetState>({DataSetState::Insert, DataSetState::Browse}));

    // A state-change handler that throws reaches the caller of the operation.
    ds.OnNewRecord = nullptr;
    src.OnStateChange = [](QObject*) { throw Abort(); };
    EXPECT_THROW(ds.edit(), Abort);
}

TEST(DataSetCursor, BeginningAndEndMarksDriveTheUsualLoops)
{
    DataSet ds;
    defineLetters(ds);
    ds.open();
    EXPECT_TRUE(ds.bof());
    EXPECT_TRUE(ds.eof());
    EXPECT_TRUE(ds.isEmpty());
    EXPECT_EQ(ds.recNo(), 0);
    int visits = 0;
    for (ds.first(); !ds.eof(); ds.next())
        ++visits;
    EXPECT_EQ(visits, 0);

    ds.close();
    ds.setData(threeLetters());
    visits = 0;
    for (ds.first(); !ds.eof(); ds.next())
        ++visits;
    EXPECT_EQ(visits, 3);
    // Next on the last row marks the end and stays on it.
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_EQ(ds.fieldByName("NRLANCTONF")->asString(), "10");
    ds.next();
    EXPECT_EQ(ds.recNo(), 3);

    visits = 0;
    for (ds.last(); !ds.bof(); ds.prior())
        ++visits;
    EXPECT_EQ(visits, 3);
    EXPECT_EQ(ds.recNo(), 1);

    EXPECT_EQ(ds.moveBy(10), 2);
    EXPECT_TRUE(ds.eof());
    EXPECT_EQ(ds.moveBy(-1), -1);
    EXPECT_FALSE(ds.eof());
    ds.setRecNo(2);
    EXPECT_EQ(ds.recNo(), 2);
    EXPECT_FALSE(ds.bof());
    EXPECT_FALSE(ds.eof());
}

TEST(DataSetFields, ValuesAreCheckedConvertedAndShownAsTheHostDoes)
{
    DataSet ds;
    ds.setObjectName("cdsNotaFiscal");
    Field* code = ds.addField(str("CDEMPRESA", 2, true), QStringLiteral("Código"));
    Field* text = ds.addField(str("DSTEXTO", 5));
    Field* value = ds.addField(typed("VRNOTAFISC", FieldType::Float));
    Field* when = ds.addField(typed("DTHRPROTOCOLNFE", FieldType::DateTime));
    value->setDisplayFormat("###,##0.00");
    EXPECT_EQ(code->objectName(), "cdsNotaFiscalCDEMPRESA");
    EXPECT_EQ(ds.findField("vrnotafisc"), value);
    EXPECT_THROW(ds.fieldByName("NAOEXISTE"), DataSetError);

    ds.open();
    EXPECT_THROW(code->setAsString("01"), DataSetError); // browse state
    EXPECT_TRUE(code->isNull());
    EXPECT_EQ(code->asString(), "");

    ds.edit(); // empty: inserts
    EXPECT_EQ(ds.state(), DataSetState::Insert);
    text->setAsString(QString::fromUtf8("çãõéü€x")); // cut by characters, not bytes
    EXPECT_EQ(text->asString(), QString::fromUtf8("çãõéü"));
    text->setAsString(QString::fromUtf8("ab😀😀😀😀")); // a surrogate pair is one character
    EXPECT_EQ(text->asString(), QString::fromUtf8("ab😀😀😀"));
    value->setValue(1234.5);
    when->setValue(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)));
    try {
        ds.post();
        FAIL() << "required field accepted empty";
    } catch (const DataSetError& e) {
        EXPECT_EQ(e.message(), QString::fromUtf8("Campo 'Código' deve ser informado."));
    }
    EXPECT_EQ(ds.state(), DataSetState::Insert);
    code->setAsString("01");
    ds.post();
    EXPECT_EQ(value->displayText(), "1.234,50");
    EXPECT_EQ(when->displayText(), "07/12/2026 14:05:09");
    ds.edit();
    value->setValue(-1234567.456);
    EXPECT_EQ(value->displayText(), "-1.234.567,46");
    value->setAsString("12,5"); // typed the Brazilian way
    EXPECT_DOUBLE_EQ(value->asFloat(), 12.5);
    value->setValue(-0.001);
    EXPECT_EQ(value->displayText(), "0,00");
    EXPECT_THROW(value->setAsString("abc"), DataSetError);
    value->clear();
    EXPECT_TRUE(value->isNull());
    EXPECT_EQ(value->displayText(), "");
    ds.cancel();
    EXPECT_EQ(value->displayText(), "1.234,50");

    // OnGetText replaces the text, the value stays.
    code->OnGetText = [](Field* f, QString& t, bool display) { t = (display ? "D:" : "E:") + f->asString(); };
    EXPECT_EQ(code->displayText(), "D:01");
    EXPECT_EQ(code->text(), "E:01");
}

TEST_P(DataSetLoading, SetDataMapsPersistentFieldsByNameAndCreatesMissingOnes)
{
    DataPacket p;
    p.fields = {str("B", 3), typed("A", FieldType::Integer), str("EXTRA", 1)};
    p.rows = {{QVariant("xyz"), QVariant(qlonglong(7)), QVariant("e")}};

    DataSet persistent;
    persistent.addField(typed("a", FieldType::Float));
    persistent.addField(str("B", 3));
    persistent.addField(str("MISSING", 3));
    load(persistent, p);
    ASSERT_EQ(persistent.fieldCount(), 3);
    EXPECT_DOUBLE_EQ(persistent.fieldByName("A")->asFloat(), 7.0);
    EXPECT_EQ(persistent.fieldByName("B")->asString(), "xyz");
    EXPECT_TRUE(persistent.fieldByName("MISSING")->isNull());

    DataSet dynamic;
    load(dynamic, p);
    ASSERT_EQ(dynamic.fieldCount(), 3);
    EXPECT_EQ(dynamic.field(0)->fieldName(), "B");
    EXPECT_EQ(dynamic.fieldByName("A")->asInteger(), 7);
    EXPECT_EQ(dynamic.fieldDefs(), p.fields);

    // Closing drops the rows; the fields remain for the next load.
    dynamic.close();
    EXPECT_EQ(dynamic.recordCount(), 0);
    EXPECT_EQ(dynamic.fieldCount(), 3);
}

TEST_P(DataSetFilter, ExpressionsSelectRowsOnlyWhileFiltered)
{
    DataSet ds;
    ds.addField(str("NOME", 20));
    ds.addField(typed("QTD", FieldType::Integer));
    ds.addField(str("UF", 2));
    DataPacket p;
    p.fields = ds.fieldDefs();
    p.rows = {{"it's", qlonglong(1), "SP"},
              {"Ana", qlonglong(5), "RJ"},
              {"Bia", qlonglong(10), "SP"},
              {"Caio", fw::nullValue(), "MG"},
              {fw::nullValue(), qlonglong(3), "SP"}};
    load(ds, p);

    ds.setFilter("NOME = 'it''s'");
    EXPECT_EQ(ds.recordCount(), 5); // stored, not applied
    ds.setFiltered(true);
    EXPECT_EQ(column(ds, "NOME"), QStringList({"it's"}));

    ds.setFilter("(uf = 'SP' OR UF = 'MG') AND NOT qtd >= 10");
    EXPECT_EQ(column(ds, "NOME"), QStringList({"it's", "Caio", ""})); // null >= 10 is false
    ds.setFilter("QTD > 1 AND QTD <= 10 OR NOME = 'Caio'");
    EXPECT_EQ(column(ds, "NOME"), QStringList({"Ana", "Bia", "Caio", ""}));
    ds.setFilter("QTD <> 5");
    EXPECT_EQ(column(ds, "NOME"), QStringList({"it's", "Bia", ""})); // null is not "different"
    ds.setFilter("NOME = ''"); // an empty text field reads as empty
    EXPECT_EQ(ds.recordCount(), 1);
    ds.setFilter("QTD IS NULL");
    EXPECT_EQ(column(ds, "NOME"), QStringList({"Caio"}));

    // A bad expression is refused and the one in force stays.
    for (const char* bad : {"NOME = 'aberta", "NOME = ", "(UF = 'SP'", "UF = 'SP' AND", "NOME == 'x'",
                            "NAOEXISTE = 'x'", "QTD = 'abc'", "UF 'SP'"}) {
        EXPECT_THROW(ds.setFilter(QString::fromLatin1(bad)), DataSetError) << bad;
        EXPECT_EQ(ds.filter(), "QTD IS NULL");
        EXPECT_EQ(ds.recordCount(), 1);
    }

    ds.setFiltered(false);
    EXPECT_EQ(ds.recordCount(), 5);

    // A posted row that no longer matches leaves the view.
    ds.setFilter("UF = 'SP'");
    ds.setFiltered(true);
    ASSERT_EQ(ds.recordCount(), 3);
    ds.first();
    ds.edit();
    ds.fieldByName("UF")->setAsString("RJ");
    ds.post();
    EXPECT_EQ(ds.recordCount(), 2);
    ds.insert();
    ds.fieldByName("UF")->setAsString("AM");
    ds.post();
    EXPECT_EQ(ds.recordCount(), 2);
    ds.setFiltered(false);
    EXPECT_EQ(ds.recordCount(), 6);
}

TEST_P(DataSetIndex, ActiveIndexOrdersTheViewAndPlacesPostedRows)
{
    DataSet ds;
    defineLetters(ds);
    ds.addIndex("porTexto", "DSCORRECAONFE", false, true);
    load(ds, letterPacket({{"0001", "10", "01", "b"},
                           {"0002", "01", "01", "A"},
                           {"0001", "10", "03", "c"},
                           {"0001", "10", "02", "a"}}));
    // Descending on every field: within an invoice the latest letter first.
    EXPECT_EQ(column(ds, "NRSEQCCE"), QStringList({"01", "03", "02", "01"}));
    EXPECT_EQ(column(ds, "CDFILIAL"), QStringList({"0002", "0001", "0001", "0001"}));

    ds.last();
    ds.edit();
    ds.fieldByName("NRSEQCCE")->setAsString("09"); // 0001/10/01 becomes the latest
    ds.post();
    EXPECT_EQ(ds.recNo(), 2); // the cursor follows the row to its new place
    EXPECT_EQ(column(ds, "NRSEQCCE"), QStringList({"01", "09", "03", "02"}));

    ds.append();
    ds.fieldByName("CDFILIAL")->setAsString("0001");
    ds.fieldByName("NRLANCTONF")->setAsString("10");
    ds.fieldByName("NRSEQCCE")->setAsString("04");
    ds.post();
    EXPECT_EQ(ds.recNo(), 3);
    EXPECT_EQ(column(ds, "NRSEQCCE"), QStringList({"01", "09", "04", "03", "02"}));

    // Switching the index keeps the current row.
    ds.locate("NRSEQCCE", "03");
    const qint64 bm = ds.bookmark();
    ds.setIndexName("porTexto");
    EXPECT_EQ(ds.bookmark(), bm);
    EXPECT_EQ(ds.indexFieldNames(), "DSCORRECAONFE");
    const QStringList texts = column(ds, "DSCORRECAONFE");
    EXPECT_EQ(texts.value(0), ""); // no text sorts as empty text
    EXPECT_EQ(texts.mid(1, 2).join(",").toLower(), "a,a"); // case-insensitive order
    EXPECT_EQ(texts.mid(3), QStringList({"b", "c"}));

    ds.setIndexName("");
    EXPECT_EQ(column(ds, "NRSEQCCE"), QStringList({"09", "01", "03", "02", "04"})); // load order, append last
    EXPECT_THROW(ds.setIndexName("naoExiste"), DataSetError);
}

TEST_P(DataSetLocate, FindsRowsExactlyOrIgnoringCaseInTheView)
{
    DataSet ds;
    defineLetters(ds);
    load(ds, letterPacket({{"0001", "10", "01", "Texto"},
                           {"AB01", "10", "02", "texto"},
                           {"0001", "11", "01", "outro"},
                           {"0001", "10", "02", "mais"}}));
    ds.first();
    EXPECT_TRUE(ds.locate("CDFILIAL;NRLANCTONF", {"0001", "10"})); // uses the index, first of the key
    EXPECT_EQ(ds.fieldByName("NRSEQCCE")->asString(), "02");
    EXPECT_TRUE(ds.locate("NRLANCTONF;CDFILIAL;NRSEQCCE", {"10", "0001", "01"}));
    EXPECT_EQ(ds.fieldByName("DSCORRECAONFE")->asString(), "Texto");

    const int here = ds.recNo();
    EXPECT_FALSE(ds.locate("CDFILIAL;NRLANCTONF", {"ab01", "10"}));
    EXPECT_EQ(ds.recNo(), here); // not found: no move
    LocateOptions ci;
    ci.caseInsensitive = true;
    EXPECT_TRUE(ds.locate("CDFILIAL;NRLANCTONF", {"ab01", "10"}, ci));
    EXPECT_EQ(ds.fieldByName("CDFILIAL")->asString(), "AB01");
    EXPECT_TRUE(ds.locate("DSCORRECAONFE", "TEXTO", ci));
    LocateOptions partial;
    partial.partialKey = true;
    EXPECT_TRUE(ds.locate("DSCORRECAONFE", "out", partial));
    EXPECT_EQ(ds.fieldByName("NRLANCTONF")->asString(), "11");

    // Only rows of the view are found.
    ds.setFilter("NRLANCTONF = '11'");
    ds.setFiltered(true);
    EXPECT_FALSE(ds.locate("DSCORRECAONFE", "mais"));
    EXPECT_THROW(ds.locate("NAOEXISTE", "x"), DataSetError);
}

TEST_P(DataSetBookmarks, SurviveFilterAndIndexChanges)
{
    DataSet ds;
    defineLetters(ds);
    load(ds, threeLetters());
    ASSERT_TRUE(ds.locate("NRLANCTONF;NRSEQCCE", {"10", "01"}));
    const qint64 bm = ds.bookmark();
    ds.setFilter("NRLANCTONF = '10'");
    ds.setFiltered(true);
    ds.setIndexName("");
    ds.last();
    ds.gotoBookmark(bm);
    EXPECT_EQ(ds.fieldByName("DSCORRECAONFE")->asString(), "primeira carta");
    ds.deleteRecord();
    EXPECT_FALSE(ds.bookmarkValid(bm));
    EXPECT_THROW(ds.gotoBookmark(bm), DataSetError);
}

TEST(DataSetControls, DisabledControlsSilenceViewsUntilTheLastEnable)
{
    DataSet ds;
    defineLetters(ds);
    ds.setData(threeLetters());
    QSignalSpy resets(&ds, &DataSet::layoutReset);
    QSignalSpy moves(&ds, &DataSet::currentChanged);
    QSignalSpy rows(&ds, &DataSet::rowChanged);
    TDataSource src;
    int dataChanges = 0, stateChanges = 0;
    src.OnDataChange = [&](QObject*, Field*) { ++dataChanges; };
    src.OnStateChange = [&](QObject*) { ++stateChanges; };
    src.setDataSet(&ds);
    EXPECT_EQ(stateChanges, 1); // bound to an open data set: inactive to browse
    stateChanges = 0;
    int scrolls = 0;
    ds.AfterScroll = [&](DataSet*) { ++scrolls; };

    ds.disableControls();
    ds.disableControls();
    EXPECT_TRUE(ds.controlsDisabled());
    ds.next();
    ds.edit();
    ds.fieldByName("DSCORRECAONFE")->setAsString("x");
    ds.post();
    ds.setFilter("NRLANCTONF = '10'");
    ds.setFiltered(true);
    ds.enableControls();
    EXPECT_EQ(resets.count() + moves.count() + rows.count() + dataChanges, 0);
    EXPECT_EQ(scrolls, 2); // data set events still run
    EXPECT_EQ(stateChanges, 2); // and the data source still hears of edit and browse
    ds.enableControls();
    EXPECT_FALSE(ds.controlsDisabled());
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(dataChanges, 1);

    // Editing in place is one row change, not a reset.
    resets.clear();
    ds.edit();
    ds.fieldByName("DSCORRECAONFE")->setAsString("y");
    ds.post();
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(rows.count(), 1);
}

TEST_P(DataSetScale, PerInvoiceFilterOverManyLettersStaysQuick)
{
    constexpr int invoices = 50000;
    DataPacket p = letterPacket({});
    p.rows.reserve(invoices * 2);
    for (int i = 0; i < invoices; ++i)
        for (int s = 1; s <= 2; ++s)
            p.rows.append({QStringLiteral("%1").arg(i % 7, 4, 10, QLatin1Char('0')),
                           QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')),
                           QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0')), QStringLiteral("texto %1").arg(i)});
    DataSet ds;
    defineLetters(ds);
    QElapsedTimer t;
    t.start();
    load(ds, p);
    ASSERT_EQ(ds.recordCount(), 100000);
    // The letter filter is switched 10 000 times, as the invoice grid does on every move.
    int seen = 0;
    for (int k = 0; k < 10000; ++k) {
        const int i = (k * 7919) % invoices;
        ds.setFiltered(false);
        ds.setFilter(QStringLiteral("CDFILIAL = '%1' AND NRLANCTONF = '%2'")
                         .arg(QStringLiteral("%1").arg(i % 7, 4, 10, QLatin1Char('0')),
                              QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0'))));
        ds.setFiltered(true);
        ASSERT_EQ(ds.recordCount(), 2) << i;
        ASSERT_EQ(ds.fieldByName("NRSEQCCE")->asString(), "02");
        seen += ds.recordCount();
        ASSERT_TRUE(ds.locate("CDFILIAL;NRLANCTONF;NRSEQCCE",
                              {ds.fieldByName("CDFILIAL")->value(), ds.fieldByName("NRLANCTONF")->value(), "01"}));
    }
    EXPECT_EQ(seen, 20000);
    // Sanity bound only: a scan per move would take minutes here, not seconds.
    EXPECT_LT(t.elapsed(), 60000);
}

TEST_P(DataSetIndex, OrderAndKeyFiltersAgreeWithFieldComparisonForAnyText)
{
    // Texts with the characters an index key escapes, prefixes of each other and nulls.
    const QStringList alphabet = {QString(QChar(0)), QString(QChar(1)), QString(QChar(2)), "a", "B", "b"};
    quint32 seed = 12345;
    auto rnd = [&seed](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % quint32(n));
    };
    auto text = [&]() -> QVariant {
        const int len = rnd(4);
        if (len == 0 && rnd(2))
            return fw::nullValue();
        QString s;
        for (int i = 0; i < len; ++i)
            s += alphabet[rnd(alphabet.size())];
        return s;
    };
    DataPacket p;
    p.fields = {str("A", 5), str("B", 5), typed("N", FieldType::Integer)};
    for (int i = 0; i < 400; ++i)
        p.rows.append({text(), text(), qlonglong(i)});

    for (bool desc : {false, true}) {
        DataSet ds;
        ds.addIndex("ab", "A;B", desc);
        ds.setIndexName("ab");
        load(ds, p);
        QList<int> expected;
        for (int i = 0; i < p.rows.size(); ++i)
            expected.append(i);
        auto txt = [](const QVariant& v) { return fw::isNullOrEmpty(v) ? QString() : v.toString(); };
        std::stable_sort(expected.begin(), expected.end(), [&](int x, int y) {
            int c = QString::compare(txt(p.rows[x][0]), txt(p.rows[y][0]));
            if (!c)
                c = QString::compare(txt(p.rows[x][1]), txt(p.rows[y][1]));
            return desc ? c > 0 : c < 0;
        });
        QList<int> actual;
        for (ds.first(); !ds.eof(); ds.next())
            actual.append(int(ds.fieldByName("N")->asInteger()));
        EXPECT_EQ(actual, expected) << (desc ? "descending" : "ascending");

        // Equality filters on the index prefix, often enough to use the group table too.
        for (int round = 0; round < 3; ++round)
            for (int i = 0; i < 40; ++i) {
                const Row& row = p.rows[(i * 37 + round) % p.rows.size()];
                const QString a = txt(row[0]), b = txt(row[1]);
                int want = 0;
                for (const Row& r : p.rows)
                    want += txt(r[0]) == a && txt(r[1]) == b;
                QString quotedA = a, quotedB = b;
                quotedA.replace("'", "''");
                quotedB.replace("'", "''");
                ds.setFiltered(false);
                ds.setFilter(QStringLiteral("A = '%1' AND B = '%2'").arg(quotedA, quotedB));
                ds.setFiltered(true);
                ASSERT_EQ(ds.recordCount(), want) << "round " << round << " row " << i;
                for (ds.first(); !ds.eof(); ds.next()) {
                    ASSERT_EQ(ds.fieldByName("A")->asString(), a);
                    ASSERT_EQ(ds.fieldByName("B")->asString(), b);
                }
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, DataSetLoading, ::testing::Bool(), loadedName);
INSTANTIATE_TEST_SUITE_P(Packets, DataSetFilter, ::testing::Bool(), loadedName);
INSTANTIATE_TEST_SUITE_P(Packets, DataSetIndex, ::testing::Bool(), loadedName);
INSTANTIATE_TEST_SUITE_P(Packets, DataSetLocate, ::testing::Bool(), loadedName);
INSTANTIATE_TEST_SUITE_P(Packets, DataSetBookmarks, ::testing::Bool(), loadedName);
INSTANTIATE_TEST_SUITE_P(Packets, DataSetScale, ::testing::Bool(), loadedName);
