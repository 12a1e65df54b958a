#pragma once
// cce-server --audit: the audit trail of a company as CSV, one row per recorded action:
// when, who, token, address, action, invoice, sequence, outcome and the request's id.
#include <QDate>
#include <QString>
#include <cstdio>

namespace srv {

class Store;

// invoice: "BRANCH/ENTRY" or empty for every invoice. Returns the rows written.
int writeAuditCsv(Store& store, const QString& company, const QDate& since, const QString& invoice, std::FILE* out);

// One CSV field: quoted when it holds a separator, a quote or a line break; a field that a
// spreadsheet would take for a formula is quoted with a leading apostrophe.
QString csvField(const QString& text);

} // namespace srv
