#pragma once
// Whether the caller may reach a company, branch or invoice, as every method checks it.
#include <QList>
#include <QPair>
#include <QString>

#include "server/store/Store.h"

namespace srv::methods {

// The caller's company scope (the token's, see server/rpc/CompanyScope.h). Each answers
// "" when the caller may reach what it names, else the text to return as the method's
// result, before anything is read or changed. A caller reaching every company costs no
// query; an invoice or branch that does not exist is left to the method to report.
QString companyScopeRefusal(const QString& company);
QString branchScopeRefusal(Store& store, const QString& filial);
QString invoiceScopeRefusal(Store& store, const QString& filial, const QString& lancto);
// Every invoice (CDFILIAL, NRLANCTONF) of a list, a few queries for thousands of them.
QString invoicesScopeRefusal(Store& store, const QList<QPair<QString, QString>>& invoices);

} // namespace srv::methods
