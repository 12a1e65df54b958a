#include <QJsonDocument>
#include <gtest/gtest.h>

#include "core/dataset/DataSet.h"
#include "core/errors/Errors.h"
#include "core/values/JsonCodec.h"
#include "tests/framework/dataset/DataSetTestUtil.h"

using namespace fw;
using namespace dstest;

class DataSetChangeLog : public dstest::Loaded {};

namespace {

DataPacket base()
{
    return letterPacket({{"0001", "10", "01", "um"}, {"0001", "10", "02", "dois"}, {"0001", "11", "01", "tres"}});
}

void setText(DataSet& ds, const QString& text)
{
    ds.edit();
    ds.fieldByName("DSCORRECAONFE")->setAsString(text);
    ds.post();
}

void insertLetter(DataSet& ds, const QString& nf, const QString& seq)
{
    ds.insert();
    ds.fieldByName("CDFILIAL")->setAsString("0001");
    ds.fieldByName("NRLANCTONF")->setAsString(nf);
    ds.fieldByName("NRSEQCCE")->setAsString(seq);
    ds.fieldByName("DSCORRECAONFE")->setAsString("nova");
    ds.post();
}

Row row(const QString& nf, const QString& seq, const QString& text) { return {QStringLiteral("0001"), nf, seq, text}; }

// Through the wire encoding and back, as the server would see it.
DeltaPacket roundTrip(const DeltaPacket& d)
{
    const QByteArray bytes = QJsonDocument::fromVariant(QVariant()).toJson(); // keeps QJsonDocument linked
    Q_UNUSED(bytes);
    DeltaPacket out;
    QString error;
    EXPECT_TRUE(json::decodeDelta(json::encodeDelta(d), &out, &error)) << error.toStdString();
    return out;
}

} // namespace

TEST_P(DataSetChangeLog, ChangesCollapsePerRowInTheOrderFirstMade)
{
    DataSet ds;
    defineLetters(ds);
    load(ds, base());
    EXPECT_EQ(ds.changeCount(), 0);

    ds.locate("NRLANCTONF;NRSEQCCE", {"11", "01"});
    setText(ds, "tres a");
    setText(ds, "tres b"); // modify + modify: one modify with the loaded old values
    insertLetter(ds, "10", "03");
    setText(ds, "nova editada"); // insert + modify: one insert with current values
    insertLetter(ds, "11", "02");
    ds.deleteRecord(); // insert + delete: nothing
    ds.locate("NRLANCTONF;NRSEQCCE", {"10", "01"});
    setText(ds, "um a");
    ds.deleteRecord(); // modify + delete: delete with the loaded old values
    ds.locate("NRLANCTONF;NRSEQCCE", {"10", "02"});
    ds.edit();
    ds.post(); // an edit that changes nothing logs nothing

    ASSERT_EQ(ds.changeCount(), 3);
    const DeltaPacket d = roundTrip(ds.delta());
    EXPECT_EQ(d.fields, ds.fieldDefs());
    ASSERT_EQ(d.changes.size(), 3);
    EXPECT_EQ(d.changes[0].op, DeltaChange::Op::Modify);
    EXPECT_TRUE(d.changes[0].oldRow == row("11", "01", "tres"));
    EXPECT_TRUE(d.changes[0].newRow == row("11", "01", "tres b"));
    EXPECT_EQ(d.changes[1].op, DeltaChange::Op::Insert);
    EXPECT_TRUE(d.changes[1].newRow == row("10", "03", "nova editada"));
    EXPECT_EQ(d.changes[2].op, DeltaChange::Op::Delete);
    EXPECT_TRUE(d.changes[2].oldRow == row("10", "01", "um"));
    EXPECT_EQ(d, ds.delta());

    // Data: every row with the changes applied, whatever the filter.
    ds.setFilter("NRLANCTONF = '99'");
    ds.setFiltered(true);
    EXPECT_EQ(ds.recordCount(), 0);
    const DataPacket all = ds.data();
    EXPECT_EQ(all.rows.size(), 3);
    DataPacket decoded;
    QString error;
    ASSERT_TRUE(json::decodePacket(json::encodePacket(all), &decoded, &error)) << error.toStdString();
    DataSet copy;
    load(copy, decoded);
    EXPECT_EQ(copy.data(), all);
    EXPECT_EQ(copy.changeCount(), 0);
    copy.setDataVariant(ds.dataVariant());
    EXPECT_EQ(copy.recordCount(), 3);
    EXPECT_THROW(copy.setDataVariant(QStringLiteral("erro do servidor")), DataSetError);
}

TEST_P(DataSetChangeLog, CancelUpdatesRestoresTheLoadedRows)
{
    DataSet ds;
    defineLetters(ds);
    load(ds, base());
    const DataPacket loaded = ds.data();

    ds.locate("NRLANCTONF;NRSEQCCE", {"10", "02"});
    setText(ds, "mudou");
    ds.locate("NRLANCTONF;NRSEQCCE", {"11", "01"});
    ds.deleteRecord();
    insertLetter(ds, "12", "01");
    ds.edit();
    ds.fieldByName("DSCORRECAONFE")->setAsString("pendente"); // an open edit is dropped too
    ASSERT_EQ(ds.changeCount(), 3);

    ds.cancelUpdates();
    EXPECT_EQ(ds.state(), DataSetState::Browse);
    EXPECT_EQ(ds.changeCount(), 0);
    EXPECT_EQ(ds.data(), loaded);
    EXPECT_EQ(column(ds, "DSCORRECAONFE"), QStringList({"tres", "dois", "um"}));

    // Undoing from inside the after-delete handler, as a refused save does.
    ds.AfterDelete = [](DataSet* d) { d->cancelUpdates(); };
    ds.first();
    ds.deleteRecord();
    EXPECT_EQ(ds.recordCount(), 3);
    EXPECT_EQ(ds.changeCount(), 0);
}

TEST_P(DataSetChangeLog, MergeKeepsTheRowsAndForgetsTheChanges)
{
    DataSet ds;
    defineLetters(ds);
    load(ds, base());
    setText(ds, "alterado");
    insertLetter(ds, "12", "01");
    ds.locate("NRLANCTONF", "11");
    ds.deleteRecord();
    const DataPacket now = ds.data();
    ds.mergeChangeLog();
    EXPECT_EQ(ds.changeCount(), 0);
    EXPECT_TRUE(ds.delta().changes.isEmpty());
    EXPECT_EQ(ds.data(), now);

    // After the merge the merged values are the ones a later change reports as old.
    ds.locate("NRLANCTONF", "12");
    setText(ds, "de novo");
    ASSERT_EQ(ds.changeCount(), 1);
    EXPECT_TRUE(ds.delta().changes[0].oldRow == row("12", "01", "nova"));
    ds.cancelUpdates();
    EXPECT_EQ(ds.data(), now);

    ds.close();
    EXPECT_EQ(ds.changeCount(), 0);
    EXPECT_TRUE(ds.data().rows.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Packets, DataSetChangeLog, ::testing::Bool(), loadedName);
