// The data-aware grid and controls: cursor both ways, events, drawing, binding.
#include <QHeaderView>
#include <QTest>
#include <QToolButton>

#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/DBCtrls.h"
#include "widgets/grid/DBGrid.h"

using namespace fw;

namespace {

class Grid : public wt::UiTest {
protected:
    void SetUp() override
    {
        ds = wt::makeDataSet(&owner, 8);
        dts = new TDataSource(&owner);
        dts->setDataSet(ds);
        grid = new TDBGrid(nullptr, QStringLiteral("dbgPadrao"));
        grid->resize(500, 300);
        TColumn mark;
        mark.FieldName = QStringLiteral("KIND");
        mark.Title = QStringLiteral("4");
        mark.TitleSymbol = true;
        mark.Width = 21;
        TColumn code;
        code.FieldName = QStringLiteral("CODE");
        TColumn name;
        name.FieldName = QStringLiteral("NAME");
        grid->setColumns({mark, code, name});
        grid->setDataSource(dts);
        grid->show();
    }
    void TearDown() override
    {
        delete grid;
        wt::UiTest::TearDown();
    }
    QRect cellRect(int row, int col) const { return grid->visualRect(grid->model()->index(row, col)); }

    QObject owner;
    DataSet* ds;
    TDataSource* dts;
    TDBGrid* grid;
};

} // namespace

TEST_F(Grid, CurrentRowFollowsTheCursorBothWays)
{
    EXPECT_EQ(grid->model()->rowCount(), 8);
    ds->setRecNo(5);
    EXPECT_EQ(grid->currentIndex().row(), 4);
    ds->last();
    EXPECT_EQ(grid->currentIndex().row(), 7);

    grid->setCurrentIndex(grid->model()->index(2, 1)); // a click on the third row
    EXPECT_EQ(ds->recNo(), 3);

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellRect(5, 2).center());
    EXPECT_EQ(ds->recNo(), 6);

    // A scroll the data set refuses keeps the grid on the data set's row.
    ds->BeforeScroll = [](DataSet*) { throw fw::Abort(); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellRect(1, 2).center());
    EXPECT_EQ(ds->recNo(), 6);
    EXPECT_EQ(grid->currentIndex().row(), 5);
    ds->BeforeScroll = nullptr;

    // Filtering rebuilds the rows.
    ds->setFilter(QStringLiteral("KIND = 'S'"));
    ds->setFiltered(true);
    EXPECT_EQ(grid->model()->rowCount(), 4);
    EXPECT_EQ(grid->currentIndex().row(), ds->recNo() - 1);
}

TEST_F(Grid, DoubleClickKeysAndTitleClicksReachTheHandlers)
{
    int dbl = 0;
    QList<int> keys, titles;
    grid->OnDblClick = [&](QObject* s) {
        EXPECT_EQ(s, grid);
        ++dbl;
    };
    grid->OnKeyDown = [&](QObject*, int& key, Qt::KeyboardModifiers) {
        keys << key;
        if (key == Qt::Key_Space || key == Qt::Key_PageDown)
            key = 0; // handled: the grid does nothing more
    };
    grid->OnTitleClick = [&](TDBGrid*, int column) { titles << column; };

    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cellRect(3, 1).center());
    EXPECT_EQ(dbl, 1);
    EXPECT_EQ(ds->recNo(), 4);

    QTest::keyClick(grid, Qt::Key_Space);
    QTest::keyClick(grid, Qt::Key_PageDown);
    EXPECT_EQ(ds->recNo(), 4); // consumed
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(ds->recNo(), 5); // not consumed: the grid moved
    EXPECT_EQ(keys, (QList<int>{Qt::Key_Space, Qt::Key_PageDown, Qt::Key_Down}));
    EXPECT_EQ(keys.first(), 32);

    QHeaderView* header = grid->horizontalHeader();
    const int x = header->sectionViewportPosition(0) + header->sectionSize(0) / 2;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    EXPECT_EQ(titles, QList<int>{0});
}

TEST_F(Grid, TitlesComeFromColumnsOrFieldLabelsAndTheMarkTitleIsASymbol)
{
    QAbstractItemModel* m = grid->model();
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QString(QChar(0x2714)));
    EXPECT_EQ(m->headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::Alignment(Qt::AlignCenter));
    EXPECT_EQ(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Código"));
    EXPECT_EQ(m->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Nome"));
    EXPECT_EQ(grid->columnWidth(0), 21);
    // A narrow width given to a column with a word for a title still shows the whole word.
    QList<TColumn> cols = grid->Columns();
    cols[1].Title = QStringLiteral("Status");
    cols[1].Width = 35;
    grid->setColumns(cols);
    EXPECT_GE(grid->columnWidth(1),
              QFontMetrics(grid->horizontalHeader()->font()).horizontalAdvance(QStringLiteral("Status")) + 12);
    EXPECT_EQ(grid->columnWidth(0), 21);
    EXPECT_EQ(grid->columnOf(QStringLiteral("name")), 2);
    EXPECT_EQ(grid->columnField(1), ds->fieldByName(QStringLiteral("CODE")));
}

TEST_F(Grid, DrawHandlerReadsThePaintedRowAndPaintsWithTheCanvas)
{
    QMap<int, QString> seen; // painted row -> NAME read through the field
    grid->OnDrawColumnCell = [&](TDBGrid* g, QPainter*, const QRect& rect, int column, Field* field, TGridDrawState) {
        const QString kind = ds->fieldByName(QStringLiteral("KIND"))->asString();
        const int row = grid->rowAt(rect.center().y());
        seen[row] = ds->fieldByName(QStringLiteral("NAME"))->asString();
        if (kind == QLatin1String("N")) {
            g->Canvas()->FontColor = QColor(255, 0, 0);
            g->Canvas()->BrushColor = QColor(255, 255, 255);
            g->DefaultDrawColumnCell(rect, column, field, 0);
        }
    };
    ds->setRecNo(1);
    const QImage shot = grid->grab().toImage();
    ASSERT_FALSE(seen.isEmpty());
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        EXPECT_EQ(it.value(), ds->valueAt(it.key(), 1).toString()) << "row " << it.key();
    // The cursor did not move while painting.
    EXPECT_EQ(ds->recNo(), 1);

    // Row 1 (KIND "N") shows red text in its name cell; row 2 (KIND "S") none.
    auto hasRed = [&](int row) {
        const QRect r = cellRect(row, 2).translated(grid->viewport()->pos());
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 80 && c.blue() < 80)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(hasRed(1));
    EXPECT_FALSE(hasRed(2));
}

TEST_F(Grid, AHundredThousandRowsScrollWithoutPerRowWork)
{
    DataSet* big = wt::makeDataSet(&owner, 100000, QStringLiteral("cdsGrande"));
    dts->setDataSet(big);
    EXPECT_EQ(grid->model()->rowCount(), 100000);
    big->last();
    EXPECT_EQ(grid->currentIndex().row(), 99999);
    EXPECT_FALSE(grid->grab().isNull());
    EXPECT_EQ(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    big->first();
    EXPECT_EQ(grid->currentIndex().row(), 0);
}

TEST_F(Grid, BoundEditMemoAndTextFollowTheRowAndWriteWhenEditing)
{
    TDBEdit edit(nullptr, QStringLiteral("dbeNome"));
    edit.setDataSource(dts);
    edit.setDataField(QStringLiteral("NAME"));
    TDBMemo memo(nullptr, QStringLiteral("dbmCorrecao"));
    memo.setDataSource(dts);
    memo.setDataField(QStringLiteral("NAME"));
    TDBText text(nullptr, QStringLiteral("dbtNome"));
    text.setDataSource(dts);
    text.setDataField(QStringLiteral("CODE"));
    ds->fieldByName(QStringLiteral("CODE"))->OnGetText = [](Field* f, QString& t, bool) {
        t = QStringLiteral("[%1]").arg(f->asString());
    };

    ds->setRecNo(2);
    EXPECT_EQ(edit.text(), QStringLiteral("Beta"));
    EXPECT_EQ(memo.Text(), QStringLiteral("Beta"));
    EXPECT_EQ(text.Caption(), QStringLiteral("[B002]"));

    // Typing in browse state starts the edit (AutoEdit) and writes the field.
    QTest::keyClicks(&edit, QStringLiteral("!"));
    EXPECT_EQ(ds->state(), DataSetState::Edit);
    EXPECT_EQ(ds->fieldByName(QStringLiteral("NAME"))->asString(), QStringLiteral("Beta!"));
    EXPECT_EQ(memo.Text(), QStringLiteral("Beta!"));
    ds->cancel();
    EXPECT_EQ(edit.text(), QStringLiteral("Beta"));

    // Without AutoEdit typing in browse state is undone.
    memo.AutoEdit = false;
    memo.moveCursor(QTextCursor::End);
    QTest::keyClicks(&memo, QStringLiteral("x"));
    EXPECT_EQ(memo.Text(), QStringLiteral("Beta"));
    EXPECT_EQ(ds->state(), DataSetState::Browse);

    // In edit state the memo writes; the field keeps what fits, the memo shows all of it
    // (a screen's check reads the memo and refuses the excess).
    ds->edit();
    memo.setText(QString(40, QLatin1Char('a')));
    EXPECT_EQ(memo.Text().size(), 40);
    EXPECT_EQ(ds->fieldByName(QStringLiteral("NAME"))->asString(), QString(30, QLatin1Char('a')));
    memo.setMaxLength(35);
    memo.setText(QString(40, QLatin1Char('b')));
    EXPECT_EQ(memo.Text().size(), 35);
    ds->post();
    ds->setRecNo(1);
    EXPECT_EQ(memo.Text(), QStringLiteral("Alfa"));
    EXPECT_EQ(text.Caption(), QStringLiteral("[A001]"));
}

TEST_F(Grid, NavigatorMovesAndDisablesAtTheEnds)
{
    TDBNavigator nav(nullptr, QStringLiteral("dbnPadrao"));
    nav.setDataSource(dts);
    ds->first();
    EXPECT_FALSE(nav.button(TDBNavigator::nbPrior)->isEnabled());
    EXPECT_TRUE(nav.button(TDBNavigator::nbNext)->isEnabled());
    nav.button(TDBNavigator::nbLast)->click();
    EXPECT_EQ(ds->recNo(), 8);
    EXPECT_FALSE(nav.button(TDBNavigator::nbNext)->isEnabled());
    nav.button(TDBNavigator::nbPrior)->click();
    EXPECT_EQ(ds->recNo(), 7);
}
