#pragma once
#include <QStringList>

#include "core/dataset/DataSet.h"
#include "core/values/Value.h"

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace dstest {

inline fw::FieldDef str(const QString& name, int size, bool required = false)
{
    fw::FieldDef d;
    d.name = name;
    d.type = fw::FieldType::String;
    d.size = size;
    d.required = required;
    return d;
}

inline fw::FieldDef typed(const QString& name, fw::FieldType t)
{
    fw::FieldDef d;
    d.name = name;
    d.type = t;
    return d;
}

// Letters as the screen keeps them: invoice key, sequence, text.
inline void defineLetters(fw::DataSet& ds)
{
    ds.setObjectName(QStringLiteral("cdsCCe"));
    ds.addField(str("CDFILIAL", 4));
    ds.addField(str("NRLANCTONF", 10));
    ds.addField(str("NRSEQCCE", 2));
    ds.addField(str("DSCORRECAONFE", 1000));
    ds.addIndex(QStringLiteral("cdsCCeIndex1"), QStringLiteral("CDFILIAL;NRLANCTONF;NRSEQCCE"), true);
    ds.setIndexName(QStringLiteral("cdsCCeIndex1"));
}

inline fw::DataPacket letterPacket(const QList<QStringList>& rows)
{
    fw::DataPacket p;
    p.fields = {str("CDFILIAL", 4), str("NRLANCTONF", 10), str("NRSEQCCE", 2), str("DSCORRECAONFE", 1000)};
    for (const QStringList& r : rows) {
        fw::Row row;
        for (const QString& v : r)
            row.append(v.isNull() ? fw::nullValue() : QVariant(v));
        p.rows.append(row);
    }
    return p;
}

// The values of one field along the view, from first to last.
inline QStringList column(fw::DataSet& ds, const QString& field)
{
    QStringList out;
    ds.first();
    while (!ds.eof()) {
        out.append(ds.fieldByName(field)->asString());
        ds.next();
    }
    return out;
}

} // namespace dstest
