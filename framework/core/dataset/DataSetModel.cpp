#include "core/dataset/DataSetModel.h"

#include "core/values/Value.h"

namespace fw {

DataSetModel::DataSetModel(DataSet* dataSet, const QStringList& columns, QObject* parent)
    : QAbstractTableModel(parent), m_dataSet(dataSet), m_columns(columns)
{
    if (!dataSet)
        return;
    connect(dataSet, &DataSet::layoutReset, this, &DataSetModel::reset);
    connect(dataSet, &DataSet::rowChanged, this, [this](int row) {
        if (row >= 0 && row < rowCount())
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    });
    connect(dataSet, &DataSet::currentChanged, this, [this](int row) {
        // While editing the current row shows the edit buffer; repaint it.
        if (row >= 0 && row < rowCount() && m_dataSet->state() == DataSetState::Edit)
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        emit currentRowChanged(row);
    });
    connect(dataSet, &DataSet::stateChanged, this, [this](DataSetState s) {
        if (s == DataSetState::Inactive)
            reset();
    });
    connect(dataSet, &QObject::destroyed, this, &DataSetModel::reset);
}

void DataSetModel::reset()
{
    beginResetModel();
    m_cacheValid = false;
    endResetModel();
}

void DataSetModel::setColumns(const QStringList& fieldNames)
{
    beginResetModel();
    m_columns = fieldNames;
    m_cacheValid = false;
    endResetModel();
}

QStringList DataSetModel::effectiveColumns() const
{
    if (!m_columns.isEmpty() || !m_dataSet)
        return m_columns;
    QStringList names;
    for (Field* f : m_dataSet->fields())
        if (f->visible())
            names.append(f->fieldName());
    return names;
}

QStringList DataSetModel::columns() const { return effectiveColumns(); }

Field* DataSetModel::fieldAt(int column) const
{
    if (!m_dataSet)
        return nullptr;
    if (!m_cacheValid) {
        m_fieldCache.clear();
        for (const QString& name : effectiveColumns())
            m_fieldCache.append(m_dataSet->findField(name));
        m_cacheValid = true;
    }
    return column >= 0 && column < m_fieldCache.size() ? m_fieldCache[column].data() : nullptr;
}

int DataSetModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_dataSet)
        return 0;
    return m_dataSet->recordCount();
}

int DataSetModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return int(effectiveColumns().size());
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_dataSet || index.row() >= rowCount())
        return {};
    Field* f = fieldAt(index.column());
    if (!f)
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        DisplayRowScope scope(m_dataSet, index.row());
        return f->displayText();
    }
    case Qt::EditRole: {
        DisplayRowScope scope(m_dataSet, index.row());
        return f->text();
    }
    case ValueRole: {
        const QVariant v = m_dataSet->valueAt(index.row(), f->index());
        return isNullOrEmpty(v) ? QVariant() : v;
    }
    case Qt::TextAlignmentRole:
        if (f->dataType() == FieldType::Integer || f->dataType() == FieldType::Float)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default: return {};
    }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    Field* f = fieldAt(section);
    return f ? f->displayLabel() : QVariant();
}

QModelIndex DataSetModel::currentIndex(int column) const
{
    if (!m_dataSet)
        return {};
    const int row = m_dataSet->currentViewRow();
    return row >= 0 && row < rowCount() ? index(row, column) : QModelIndex();
}

void DataSetModel::setCurrentIndex(const QModelIndex& index)
{
    if (!m_dataSet || !index.isValid())
        return;
    m_dataSet->setRecNo(index.row() + 1);
}

} // namespace fw
