#pragma once
// The rows of a report's statement (the engine's SQL with :NAME parameters), read the way
// every statement of the server is read (on PostgreSQL through libpq, nothing prepared under
// a name, as a pooler in transaction mode needs), each as the report engine's query would
// give it: fields by their upper-case names, whole numbers as 64-bit, dates as date-times,
// bytes as text. A failure is a DatabaseFault.
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace srv {

class Store;

// params by upper-case name; a parameter not given is null.
QList<QVariantMap> reportRows(Store& store, const QString& sql, const QHash<QString, QVariant>& params);

} // namespace srv
