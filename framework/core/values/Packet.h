#pragma once
// Data and delta packets: the tabular values exchanged with the application server.
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <memory>

#include "core/CoreExport.h"

namespace fw {

class PackedRows;

enum class FieldType { String, Integer, Float, Boolean, DateTime, Blob };

FW_CORE_EXPORT QString fieldTypeName(FieldType t); // "string", "integer", ...
FW_CORE_EXPORT bool fieldTypeFromName(const QString& name, FieldType* t);

struct FW_CORE_EXPORT FieldDef {
    QString name;
    FieldType type = FieldType::String;
    int size = 0; // maximum characters for strings; 0 otherwise
    bool fixed = false; // fixed-length string
    bool required = false; // may not be null

    bool operator==(const FieldDef& o) const
    {
        return name == o.name && type == o.type && size == o.size && fixed == o.fixed && required == o.required;
    }
};
using FieldDefs = QList<FieldDef>;

// Row values by field type: QString (string, blob), qlonglong (integer), double (float),
// bool (boolean), QDateTime (datetime); a null value is an invalid QVariant or fw::nullValue().
using Row = QVariantList;

struct FW_CORE_EXPORT DataPacket {
    FieldDefs fields;
    QList<Row> rows;
    // The rows of a packet received whole from a server are kept compact here instead,
    // rows then staying empty (PackedRows.h); rowCount() and row() read either.
    std::shared_ptr<const PackedRows> packed;

    int rowCount() const;
    Row row(int i) const;
    int fieldIndex(const QString& name) const; // -1 when absent, name compared case-insensitively
    bool operator==(const DataPacket& o) const;
};

struct FW_CORE_EXPORT DeltaChange {
    enum class Op { Insert, Modify, Delete };
    Op op = Op::Insert;
    Row oldRow; // modify, delete: the values as loaded
    Row newRow; // insert, modify: the full current values
};

struct FW_CORE_EXPORT DeltaPacket {
    FieldDefs fields;
    QList<DeltaChange> changes;

    int fieldIndex(const QString& name) const;
    bool operator==(const DeltaPacket& o) const;
};

// Compares two row values the way the data set does: nulls equal, numbers by value,
// strings exactly.
FW_CORE_EXPORT bool sameValue(const QVariant& a, const QVariant& b);

} // namespace fw

Q_DECLARE_METATYPE(fw::DataPacket)
Q_DECLARE_METATYPE(fw::DeltaPacket)
