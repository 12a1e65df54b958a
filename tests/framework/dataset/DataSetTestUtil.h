#pragma once
#include <QStringList>
#include <gtest/gtest.h>

#include "core/dataset/DataSet.h"
#include "core/values/PackedRows.h"
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

// The same packet with its rows kept compact, as the client receives large lists.
inline fw::DataPacket packed(const fw::DataPacket& p)
{
    auto rows = std::make_shared<fw::PackedRows>(int(p.fields.size()));
    for (const fw::Row& r : p.rows) {
        for (const QVariant& v : r) {
            switch (fw::isNullOrEmpty(v) ? QMetaType::Nullptr : v.metaType().id()) {
            case QMetaType::Nullptr: rows->addNull(); break;
            case QMetaType::QString: rows->addText(v.toString()); break;
            case QMetaType::Double: rows->addFloat(v.toDouble()); break;
            case QMetaType::Bool: rows->addBoolean(v.toBool()); break;
            case QMetaType::QDateTime: rows->addDateTime(v.toDateTime()); break;
            default: rows->addInteger(v.toLongLong()); break;
            }
        }
        EXPECT_TRUE(rows->endRow());
    }
    fw::DataPacket out;
    out.fields = p.fields;
    out.packed = rows;
    return out;
}

// A data set's cases run on packets with their rows and on the compact ones alike.
class Loaded : public ::testing::TestWithParam<bool> {
protected:
    static void load(fw::DataSet& ds, const fw::DataPacket& p) { ds.setData(GetParam() ? packed(p) : p); }
};
inline std::string loadedName(const ::testing::TestParamInfo<bool>& i) { return i.param ? "Packed" : "Rows"; }

} // namespace dstest
