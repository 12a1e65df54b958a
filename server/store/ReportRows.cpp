#include "server/store/ReportRows.h"

#include "core/sql/TADOIBQuery.h"
#include "server/store/DatabaseFault.h"
#include "server/store/Query.h"

namespace srv {

namespace {

QVariant asReportField(QVariant v)
{
    if (v.isNull())
        return QVariant();
    switch (v.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return v.toLongLong();
    case QMetaType::QDate: return v.toDate().startOfDay();
    case QMetaType::QByteArray: return QString::fromUtf8(v.toByteArray());
    default: return v;
    }
}

} // namespace

QList<QVariantMap> reportRows(Store& store, const QString& sql, const QHash<QString, QVariant>& params)
{
    QStringList names;
    const QString positional = fw::TADOIBQuery::toPositional(sql, &names);
    QVariantList binds;
    for (const QString& n : names)
        binds << params.value(n.toUpper(), QVariant(QMetaType::fromType<QString>()));
    Query q(store, openConnection(store), "report");
    q.run(positional, binds);
    QStringList columns;
    for (int c = 0; c < q.columnCount(); ++c)
        columns << q.columnName(c).toUpper();
    QList<QVariantMap> rows;
    while (q.next()) {
        QVariantMap row;
        for (int c = 0; c < columns.size(); ++c)
            row.insert(columns[c], asReportField(q.value(c)));
        rows << row;
    }
    return rows;
}

} // namespace srv
