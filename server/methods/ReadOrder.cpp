#include "server/methods/ReadOrder.h"

#include "server/store/InvoiceList.h"

namespace srv::methods {

bool readLettersFirst(RowReader asked, bool wholeCompany, sqlite3* db)
{
    const bool wanted = asked == RowReader::LettersFirst || (asked == RowReader::Fastest && wholeCompany);
    return wanted && db && InvoiceList::joinKeepsOrder(db);
}

bool readInvoicesFirst(RowReader asked, sqlite3* db)
{
    const bool allowed =
        asked == RowReader::Fastest || asked == RowReader::LettersScanned || asked == RowReader::LettersLookedUp;
    return allowed && db && InvoiceList::joinKeepsOrder(db);
}

bool scanLetters(RowReader asked, qsizetype invoices, qint64 letterRows)
{
    if (asked != RowReader::Fastest)
        return asked == RowReader::LettersScanned;
    // One walk of the table costs about what a lookup of every eighth letter's invoice does.
    return letterRows >= 0 && qint64(invoices) * 8 >= letterRows;
}

} // namespace srv::methods
