#pragma once
// A table model over a data set's view: one row per row the filter lets through,
// in index order, one column per configured field. Texts are computed when asked,
// so a hundred thousand rows cost nothing up front.
#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>

#include "core/dataset/DataSet.h"

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT DataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Role with the field's raw value (null as an invalid variant).
    static constexpr int ValueRole = Qt::UserRole + 1;

    explicit DataSetModel(DataSet* dataSet, const QStringList& columns = {}, QObject* parent = nullptr);

    DataSet* dataSet() const { return m_dataSet; }
    // Field names shown as columns; empty = every visible field.
    void setColumns(const QStringList& fieldNames);
    QStringList columns() const;
    Field* fieldAt(int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The model index of the data set's current row (invalid when empty).
    QModelIndex currentIndex(int column = 0) const;
    // Moves the data set to the row of index (scroll events run; exceptions propagate).
    void setCurrentIndex(const QModelIndex& index);

signals:
    // The data set's cursor moved to this model row (-1 when empty).
    void currentRowChanged(int row);

private:
    void reset();
    QStringList effectiveColumns() const;

    QPointer<DataSet> m_dataSet;
    QStringList m_columns;
    mutable QList<QPointer<Field>> m_fieldCache;
    mutable bool m_cacheValid = false;
};

} // namespace fw
