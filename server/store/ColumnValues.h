#pragma once
// A column's value as the server's answers and records want it, whichever database gave
// it: SQLite keeps date-times as text, PostgreSQL as date-times.
#include <QDateTime>
#include <QString>
#include <QVariant>

namespace srv::column {

QVariant stringOrNull(const QVariant& v); // null stays null, anything else a QString
QString text(const QVariant& v); // null gives ""
QDateTime toDateTime(const QVariant& v); // invalid for null or what is no date
QString brazilianDate(const QVariant& v); // "dd/MM/yyyy", "" for null
QVariant nullIfEmpty(const QString& s); // a text to store: empty as null

} // namespace srv::column
