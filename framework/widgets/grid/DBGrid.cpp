#include "widgets/grid/DBGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPixmapCache>
#include <QStyledItemDelegate>

#include "core/dataset/DataSetModel.h"
#include "core/errors/Dispatch.h"

namespace fw {

namespace {

// Glyphs of the host's symbol font that grids use in titles.
QString symbolGlyph(const QString& text)
{
    if (text == QLatin1String("4"))
        return QString(QChar(0x2714)); // check mark
    return text;
}

} // namespace

// The grid's model: the data set's rows under the grid's columns.
class GridModel : public DataSetModel {
public:
    GridModel(DataSet* ds, const TDBGrid* grid, QObject* parent) : DataSetModel(ds, {}, parent), m_grid(grid) {}

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || section < 0 || section >= m_grid->columnCount())
            return DataSetModel::headerData(section, orientation, role);
        const TColumn c = m_grid->column(section);
        switch (role) {
        case Qt::DisplayRole: {
            QString title = c.Title;
            if (title.isEmpty()) {
                Field* f = fieldAt(section);
                title = f ? f->displayLabel() : c.FieldName;
            }
            return c.TitleSymbol ? symbolGlyph(title) : title;
        }
        case Qt::FontRole:
            if (c.HasTitleFont)
                return c.TitleFont;
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(c.TitleSymbol ? Qt::Alignment(Qt::AlignCenter) : c.TitleAlignment);
        default: return {};
        }
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::DisplayRole || role == Qt::EditRole) {
            // A text handler that fails must not throw into the view.
            try {
                return DataSetModel::data(index, role);
            } catch (...) {
                return QString();
            }
        }
        return DataSetModel::data(index, role);
    }

    void columnsChanged(const QStringList& names) { setColumns(names); }

private:
    const TDBGrid* m_grid;
};

namespace {

class GridDelegate : public QStyledItemDelegate {
public:
    explicit GridDelegate(TDBGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        TGridDrawState state = 0;
        if (option.state & QStyle::State_Selected)
            state |= gdSelected;
        if (option.state & QStyle::State_HasFocus)
            state |= gdFocused;
        m_grid->paintCell(painter, option.rect, index.row(), index.column(), state);
    }

private:
    TDBGrid* m_grid;
};

} // namespace

// --- TCanvas ---------------------------------------------------------------------

void TCanvas::FillRect(const QRect& r)
{
    if (painter)
        painter->fillRect(r, BrushColor);
}

void TCanvas::TextRect(const QRect& r, int x, int y, const QString& text)
{
    if (!painter)
        return;
    painter->save();
    painter->setClipRect(r);
    painter->setFont(Font);
    painter->setPen(FontColor);
    painter->drawText(QRect(x, y, std::max(0, r.right() - x + 1), std::max(0, r.bottom() - y + 1)),
                      Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter->restore();
}

void TCanvas::Draw(int x, int y, const QPixmap& pixmap)
{
    if (painter && !pixmap.isNull())
        painter->drawPixmap(x, y, pixmap);
}

void TCanvas::DrawTransparent(const QRect& target, const QPixmap& pixmap, const QColor& transparent)
{
    if (!painter || pixmap.isNull())
        return;
    const QString key = QStringLiteral("fwgrid:%1:%2").arg(pixmap.cacheKey()).arg(transparent.rgb());
    QPixmap masked;
    if (!QPixmapCache::find(key, &masked)) {
        masked = pixmap;
        masked.setMask(pixmap.createMaskFromColor(transparent, Qt::MaskInColor));
        QPixmapCache::insert(key, masked);
    }
    painter->drawPixmap(target, masked);
}

// --- TDBGrid ---------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent, const QString& name) : QTableView(parent), m_model(nullptr)
{
    if (!name.isEmpty())
        setObjectName(name);
    ensureFocusWatcher();
    setItemDelegate(new GridDelegate(this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setWordWrap(false);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    // Uniform rows: the view never measures a row.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(8); // the mark column is 21 pixels
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setStretchLastSection(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (OnTitleClick)
            dispatch([&] { OnTitleClick(this, section); });
    });
}

TDBGrid::~TDBGrid()
{
    for (const auto& c : m_conns)
        disconnect(c);
}

TDataSource* TDBGrid::DataSource() const { return m_dataSource; }

DataSet* TDBGrid::dataSet() const { return m_dataSource ? m_dataSource->dataSet() : nullptr; }

void TDBGrid::setDataSource(TDataSource* ds)
{
    if (m_dataSource == ds)
        return;
    m_dataSource = ds;
    rebind();
}

void TDBGrid::rebind()
{
    for (const auto& c : m_conns)
        disconnect(c);
    m_conns.clear();
    GridModel* old = m_model;
    DataSet* ds = dataSet();
    m_model = new GridModel(ds, this, this);
    m_model->columnsChanged(m_definedColumns());
    setModel(m_model);
    delete old;
    if (m_dataSource)
        m_conns << connect(m_dataSource, &TDataSource::dataSetChanged, this, [this] { rebind(); });
    if (ds) {
        m_conns << connect(ds, &DataSet::layoutReset, this, [this] {
            applyColumnWidths();
            followDataSet();
        });
        m_conns << connect(ds, &DataSet::currentChanged, this, [this] { followDataSet(); });
        m_conns << connect(ds, &DataSet::stateChanged, this, [this] { viewport()->update(); });
    }
    applyColumnWidths();
    followDataSet();
}

QStringList TDBGrid::m_definedColumns() const
{
    QStringList names;
    for (const TColumn& c : m_columns)
        names << c.FieldName;
    return names;
}

QList<TColumn> TDBGrid::Columns() const
{
    if (!m_columns.isEmpty())
        return m_columns;
    QList<TColumn> out;
    if (DataSet* ds = dataSet())
        for (Field* f : ds->fields())
            if (f->visible()) {
                TColumn c;
                c.FieldName = f->fieldName();
                if (f->dataType() == FieldType::Integer || f->dataType() == FieldType::Float)
                    c.Alignment = Qt::AlignRight | Qt::AlignVCenter;
                out << c;
            }
    return out;
}

void TDBGrid::setColumns(const QList<TColumn>& columns)
{
    m_columns = columns;
    if (m_model)
        m_model->columnsChanged(m_definedColumns());
    applyColumnWidths();
    followDataSet();
}

int TDBGrid::addColumn(const TColumn& column)
{
    QList<TColumn> cols = m_columns;
    cols << column;
    setColumns(cols);
    return int(cols.size()) - 1;
}

TColumn TDBGrid::column(int index) const
{
    const QList<TColumn> cols = Columns();
    return index >= 0 && index < cols.size() ? cols[index] : TColumn();
}

void TDBGrid::setColumn(int index, const TColumn& column)
{
    if (m_columns.isEmpty())
        m_columns = Columns();
    if (index < 0 || index >= m_columns.size())
        return;
    m_columns[index] = column;
    setColumns(m_columns);
}

int TDBGrid::columnCount() const { return int(Columns().size()); }

Field* TDBGrid::columnField(int index) const
{
    DataSet* ds = dataSet();
    if (!ds)
        return nullptr;
    return ds->findField(column(index).FieldName);
}

int TDBGrid::columnOf(const QString& fieldName) const
{
    const QList<TColumn> cols = Columns();
    for (int i = 0; i < cols.size(); ++i)
        if (cols[i].FieldName.compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool TDBGrid::RowSelect() const { return selectionBehavior() == QAbstractItemView::SelectRows; }

void TDBGrid::setRowSelect(bool on)
{
    setSelectionBehavior(on ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
}

void TDBGrid::applyColumnWidths()
{
    if (!m_model)
        return;
    const QList<TColumn> cols = Columns();
    const int charWidth = fontMetrics().averageCharWidth();
    for (int i = 0; i < cols.size(); ++i) {
        const TColumn& c = cols[i];
        setColumnHidden(i, !c.Visible);
        int w = c.Width;
        const QFontMetrics titles(horizontalHeader()->font());
        const QString title = m_model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
        // A title reads whole, whatever width the column was given (a symbol is a picture).
        if (w > 0 && !c.TitleSymbol)
            w = std::max(w, titles.horizontalAdvance(title) + 20);
        if (w <= 0) {
            Field* f = columnField(i);
            int chars = f ? (f->displayWidth() > 0 ? f->displayWidth() : f->size()) : 10;
            if (chars <= 0)
                chars = 12;
            const QFontMetrics cells = fontMetrics();
            // Measured, not counted: titles and the texts shown must read whole.
            w = std::max(chars * charWidth + 8, titles.horizontalAdvance(title) + 20);
            for (const QString& s : c.Samples)
                w = std::max(w, cells.horizontalAdvance(s) + 14);
            w = std::clamp(w, 24, 360);
        }
        setColumnWidth(i, w);
    }
}

void TDBGrid::followDataSet()
{
    DataSet* ds = dataSet();
    if (!ds || !m_model || m_updateLock > 0 || ds->controlsDisabled())
        return;
    const int row = ds->active() ? ds->currentViewRow() : -1;
    m_following = true;
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
    } else {
        const int col = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex idx = m_model->index(row, std::max(0, col));
        if (currentIndex() != idx || !selectionModel()->isSelected(idx)) {
            QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::ClearAndSelect;
            if (RowSelect())
                flags |= QItemSelectionModel::Rows;
            selectionModel()->setCurrentIndex(idx, flags);
        }
        scrollTo(idx);
    }
    m_following = false;
    viewport()->update();
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (m_following || !current.isValid())
        return;
    DataSet* ds = dataSet();
    if (!ds || !ds->active() || ds->currentViewRow() == current.row())
        return;
    const int target = current.row() + 1;
    if (!dispatch([&] { ds->setRecNo(target); }) || ds->currentViewRow() != current.row())
        followDataSet(); // the move was refused: back to the data set's row
}

void TDBGrid::BeginUpdate()
{
    if (m_updateLock++ == 0)
        setUpdatesEnabled(false);
}

void TDBGrid::EndUpdate()
{
    if (m_updateLock == 0)
        return;
    if (--m_updateLock == 0) {
        setUpdatesEnabled(true);
        followDataSet();
    }
}

void TDBGrid::DefaultDrawColumnCell(const QRect& rect, int column, Field* field, TGridDrawState)
{
    m_canvas.FillRect(rect);
    if (!field)
        return;
    QString text;
    try {
        text = field->displayText();
    } catch (...) {
        return;
    }
    const Qt::Alignment a = this->column(column).Alignment;
    if (a & Qt::AlignRight || a & Qt::AlignHCenter) {
        if (!m_canvas.painter)
            return;
        QPainter* p = m_canvas.painter;
        p->save();
        p->setClipRect(rect);
        p->setFont(m_canvas.Font);
        p->setPen(m_canvas.FontColor);
        p->drawText(rect.adjusted(2, 2, -2, 0), (a & Qt::AlignHorizontal_Mask) | Qt::AlignTop | Qt::TextSingleLine,
                    text);
        p->restore();
    } else {
        m_canvas.TextRect(rect, rect.left() + 2, rect.top() + 2, text);
    }
}

void TDBGrid::paintCell(QPainter* painter, const QRect& rect, int viewRow, int column, TGridDrawState state)
{
    DataSet* ds = dataSet();
    if (!ds || !ds->active() || viewRow < 0 || viewRow >= ds->recordCount())
        return;
    const bool selected = state & gdSelected;
    const QPalette& pal = palette();
    m_canvas.painter = painter;
    m_canvas.Font = font();
    m_canvas.FontColor = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
    m_canvas.BrushColor = pal.color(selected ? QPalette::Highlight : QPalette::Base);
    painter->save();
    try {
        DisplayRowScope scope(ds, viewRow);
        Field* f = columnField(column);
        if (DefaultDrawing || !OnDrawColumnCell)
            DefaultDrawColumnCell(rect, column, f, state);
        if (OnDrawColumnCell)
            OnDrawColumnCell(this, painter, rect, column, f, state);
    } catch (...) {
        // Painting never throws into Qt: the cell stays as far as it got.
    }
    painter->restore();
    m_canvas.painter = nullptr;
}

void TDBGrid::keyPressEvent(QKeyEvent* e)
{
    if (OnKeyDown) {
        int key = e->key();
        const bool ok = dispatch([&] { OnKeyDown(this, key, e->modifiers()); });
        if (!ok || key == 0) {
            e->accept();
            return;
        }
    }
    QTableView::keyPressEvent(e);
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* e)
{
    QTableView::mouseDoubleClickEvent(e);
    if (OnDblClick && indexAt(e->position().toPoint()).isValid())
        dispatch([this] { OnDblClick(this); });
}

} // namespace fw
