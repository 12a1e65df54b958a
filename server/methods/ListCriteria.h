#pragma once
// GetNotaFiscal's arguments, checked and read as the criteria of the invoice list.
#include <QString>
#include <QVariantList>

#include "server/store/InvoiceList.h"

namespace srv::methods {

// "" with *criteria filled in, or the message that refuses the arguments.
QString readCriteria(const QVariantList& args, InvoiceCriteria* criteria);

// Whether the arguments list a whole company: nothing narrows it but the company (and the
// direction or the emission types, which leave most of it).
bool readsWholeCompany(const QVariantList& args);

} // namespace srv::methods
