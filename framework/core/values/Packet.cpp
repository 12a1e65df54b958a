#include "core/values/Packet.h"

#include "core/values/PackedRows.h"
#include "core/values/Value.h"

namespace fw {

QString fieldTypeName(FieldType t)
{
    switch (t) {
    case FieldType::String: return QStringLiteral("string");
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Float: return QStringLiteral("float");
    case FieldType::Boolean: return QStringLiteral("boolean");
    case FieldType::DateTime: return QStringLiteral("datetime");
    case FieldType::Blob: return QStringLiteral("blob");
    }
    return QStringLiteral("string");
}

bool fieldTypeFromName(const QString& name, FieldType* t)
{
    static const QList<QPair<QString, FieldType>> names = {
        {QStringLiteral("string"), FieldType::String},     {QStringLiteral("integer"), FieldType::Integer},
        {QStringLiteral("float"), FieldType::Float},       {QStringLiteral("boolean"), FieldType::Boolean},
        {QStringLiteral("datetime"), FieldType::DateTime}, {QStringLiteral("blob"), FieldType::Blob},
    };
    for (const auto& [n, type] : names) {
        if (n == name) {
            *t = type;
            return true;
        }
    }
    return false;
}

static int indexOfField(const FieldDefs& fields, const QString& name)
{
    for (int i = 0; i < fields.size(); ++i)
        if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    const bool an = isNullOrEmpty(a), bn = isNullOrEmpty(b);
    if (an || bn)
        return an == bn;
    const auto ta = a.metaType().id(), tb = b.metaType().id();
    if (ta == QMetaType::QString || tb == QMetaType::QString)
        return a.toString() == b.toString();
    if (ta == QMetaType::QDateTime || tb == QMetaType::QDateTime)
        return a.toDateTime() == b.toDateTime();
    if (ta == QMetaType::Bool || tb == QMetaType::Bool)
        return a.toBool() == b.toBool();
    return QVariant::compare(a, b) == QPartialOrdering::Equivalent;
}

static bool sameRow(const Row& a, const Row& b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (!sameValue(a[i], b[i]))
            return false;
    return true;
}

int DataPacket::fieldIndex(const QString& name) const { return indexOfField(fields, name); }

int DataPacket::rowCount() const { return packed ? packed->size() : int(rows.size()); }

Row DataPacket::row(int i) const { return packed ? packed->row(i) : rows.at(i); }

bool DataPacket::operator==(const DataPacket& o) const
{
    if (fields != o.fields || rowCount() != o.rowCount())
        return false;
    for (int i = 0; i < rowCount(); ++i)
        if (!sameRow(row(i), o.row(i)))
            return false;
    return true;
}

int DeltaPacket::fieldIndex(const QString& name) const { return indexOfField(fields, name); }

bool DeltaPacket::operator==(const DeltaPacket& o) const
{
    if (fields != o.fields || changes.size() != o.changes.size())
        return false;
    for (int i = 0; i < changes.size(); ++i) {
        const auto &x = changes[i], &y = o.changes[i];
        if (x.op != y.op || !sameRow(x.oldRow, y.oldRow) || !sameRow(x.newRow, y.newRow))
            return false;
    }
    return true;
}

} // namespace fw
