#pragma once
// Which road GetNotaFiscal's rows come by on SQLite, decided from facts this system
// controls: the statements' join order (InvoiceList), the letters' index the schema
// creates, and the row counts. Every road gives the same answer, byte for byte.
#include <QtGlobal>

#include "server/methods/TransmissaoMethods.h"

struct sqlite3;

namespace srv::methods {

// Whether every letter is read first and the invoices written as they are read after
// them (a whole company's list, which then goes out while it is read), rather than the
// invoices first.
bool readLettersFirst(RowReader asked, bool wholeCompany, sqlite3* db);

// Whether the invoices are read alone first and their letters joined in memory, rather
// than the two statements run as they are.
bool readInvoicesFirst(RowReader asked, sqlite3* db);

// With the invoices held, whether one walk of the whole letters' table costs less than
// looking up the letters of each invoice.
bool scanLetters(RowReader asked, qsizetype invoices, qint64 letterRows);

} // namespace srv::methods
