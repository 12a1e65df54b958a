#include <QSignalSpy>
#include <gtest/gtest.h>

#include "core/dataset/DataSet.h"
#include "core/dataset/DataSetModel.h"
#include "tests/framework/dataset/DataSetTestUtil.h"

using namespace fw;
using namespace dstest;

class DataSetViews : public dstest::Loaded {};

TEST_P(DataSetViews, ShowsDisplayTextsOfThePaintedRowThroughTextHandlers)
{
    DataSet ds;
    ds.addField(str("NRLANCTONF", 10));
    ds.addField(str("NMRAZSOCCLIE", 50), QStringLiteral("Razão Social"));
    Field* value = ds.addField(typed("VRNOTAFISC", FieldType::Float), QStringLiteral("Valor Nota"));
    value->setDisplayFormat("###,##0.00");
    ds.addIndex("idx", "NRLANCTONF");
    ds.setIndexName("idx");
    // The handler reads a sibling field: it must see the row being painted, not the current one.
    ds.fieldByName("NRLANCTONF")->OnGetText = [&ds](Field* f, QString& text, bool) {
        text = f->asString() + " - " + ds.fieldByName("NMRAZSOCCLIE")->asString();
    };
    DataPacket p;
    p.fields = ds.fieldDefs();
    p.rows = {{"3", "Cliente C", 3000.0}, {"1", "Cliente A", 1.5}, {"2", "Cliente B", fw::nullValue()}};
    load(ds, p);

    DataSetModel model(&ds, {"NRLANCTONF", "NMRAZSOCCLIE", "VRNOTAFISC"});
    ASSERT_EQ(model.rowCount(), 3);
    ASSERT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("Razão Social"));
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "NRLANCTONF");
    ds.last();
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), "1 - Cliente A");
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), "2 - Cliente B");
    EXPECT_EQ(model.data(model.index(2, 2)).toString(), "3.000,00");
    EXPECT_EQ(model.data(model.index(1, 2)).toString(), "");
    EXPECT_EQ(model.currentIndex().row(), 2);
    // Painting does not move the cursor.
    EXPECT_EQ(ds.fieldByName("NMRAZSOCCLIE")->asString(), "Cliente C");

    model.setCurrentIndex(model.index(1, 0));
    EXPECT_EQ(ds.recNo(), 2);

    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    ds.edit();
    ds.fieldByName("NMRAZSOCCLIE")->setAsString("Outro");
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), "Outro"); // the edit shows while typing
    ds.post();
    EXPECT_GE(changes.count(), 1);
    EXPECT_EQ(resets.count(), 0);

    ds.setFilter("NRLANCTONF <> '2'");
    ds.setFiltered(true);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), "3 - Cliente C");
    ds.close();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_FALSE(model.currentIndex().isValid());
}

INSTANTIATE_TEST_SUITE_P(Packets, DataSetViews, ::testing::Bool(), loadedName);
