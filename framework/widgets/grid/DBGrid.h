#pragma once
// The data-aware grid: a QTableView over a data source's data set, one row per row of
// the data set's view, uniform row heights, nothing per row but painting (fast at a
// hundred thousand rows).
//
// The current row follows the data set's cursor and the other way round (a click moves
// the cursor with setRecNo; a BeforeScroll that aborts keeps the row).
//
// Drawing: for every cell the grid first draws the default (DefaultDrawing, the cell's
// background and the field's display text), then calls OnDrawColumnCell. While either
// runs, the data set reads the painted row (DisplayRowScope), so the handler reads any
// field of that row through the data set's fields. The handler paints with Canvas():
// its font colour and brush are those of the cell and may be changed before
// DefaultDrawColumnCell, FillRect, TextRect or Draw.
#include <QFont>
#include <QPainter>
#include <QPointer>
#include <QTableView>

#include "core/dataset/DataSet.h"
#include "widgets/controls/ControlEvents.h"

#include "widgets/WidgetsExport.h"

namespace fw {

class DataSet;
class Field;
class TDataSource;
class GridModel;

struct FW_WIDGETS_EXPORT TColumn {
    QString FieldName;
    QString Title; // empty: the field's display label
    int Width = 0; // pixels; 0: from the field's display width
    Qt::Alignment Alignment = Qt::AlignLeft | Qt::AlignVCenter;
    bool Visible = true;
    QFont TitleFont; // used when HasTitleFont
    bool HasTitleFont = false;
    bool TitleSymbol = false; // the title is a glyph of the host's symbol font, centred
    Qt::Alignment TitleAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    // Texts the column shows that its field's size does not tell (display texts of codes,
    // formatted dates): the column is at least as wide as the widest of them.
    QStringList Samples;
};

enum TGridDrawStateFlag { gdSelected = 1, gdFocused = 2, gdFixed = 4 };
using TGridDrawState = int;

// What a draw handler paints with: the cell's font, font colour and brush.
class FW_WIDGETS_EXPORT TCanvas {
public:
    QPainter* painter = nullptr;
    QFont Font;
    QColor FontColor;
    QColor BrushColor;

    void FillRect(const QRect& r);
    // Writes text with its top-left at (x, y), clipped to r.
    void TextRect(const QRect& r, int x, int y, const QString& text);
    void Draw(int x, int y, const QPixmap& pixmap);
    // Draws pixmap into target (scaled to it), treating `transparent` as see-through.
    void DrawTransparent(const QRect& target, const QPixmap& pixmap, const QColor& transparent);
};

class FW_WIDGETS_EXPORT TDBGrid : public QTableView, public TControlEvents {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr, const QString& name = {});
    ~TDBGrid() override;

    TDataSource* DataSource() const;
    void setDataSource(TDataSource* ds);
    DataSet* dataSet() const; // the data source's, or nullptr

    // Columns; none defined: one per visible field of the data set.
    QList<TColumn> Columns() const;
    void setColumns(const QList<TColumn>& columns);
    int addColumn(const TColumn& column);
    TColumn column(int index) const; // of the shown columns (defined or default)
    void setColumn(int index, const TColumn& column);
    int columnCount() const;
    Field* columnField(int index) const; // nullptr when the field does not exist
    int columnOf(const QString& fieldName) const; // -1 when absent

    bool DefaultDrawing = true;
    bool RowSelect() const;
    void setRowSelect(bool on);
    bool ReadOnly = true; // the grid itself never edits cells

    // Painting helpers for OnDrawColumnCell (valid only while painting).
    TCanvas* Canvas() { return &m_canvas; }
    void DefaultDrawColumnCell(const QRect& rect, int column, Field* field, TGridDrawState state);

    std::function<void(TDBGrid* sender, QPainter* painter, const QRect& rect, int column, Field* field,
                       TGridDrawState state)>
        OnDrawColumnCell;
    TNotifyEvent OnDblClick;
    std::function<void(QObject* sender, int& key, Qt::KeyboardModifiers shift)> OnKeyDown;
    std::function<void(TDBGrid* sender, int column)> OnTitleClick;

    // Freezes painting and following (host's DisableControls for the grid alone).
    void BeginUpdate();
    void EndUpdate();

    // For the delegate.
    void paintCell(QPainter* painter, const QRect& rect, int viewRow, int column, TGridDrawState state);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void rebind();
    void followDataSet();
    void applyColumnWidths();
    QStringList m_definedColumns() const;

    GridModel* m_model;
    QList<TColumn> m_columns; // defined columns; empty: the data set's visible fields
    QPointer<TDataSource> m_dataSource;
    QList<QMetaObject::Connection> m_conns;
    TCanvas m_canvas;
    bool m_following = false;
    int m_updateLock = 0;
};

} // namespace fw
