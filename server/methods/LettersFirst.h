#pragma once
// GetNotaFiscal's rows read letters first: every letter the list may show, kept by invoice
// (LetterGroups), then the invoices in the order of their statement, each written with
// its latest letter as soon as it is read, so the answer goes out while the invoices are
// still read; then the letters' packet, invoice after invoice. The same for libpq's and
// SQLite's own statements.
#include <vector>

#include "server/methods/AnswerText.h"
#include "server/methods/LetterGroups.h"
#include "server/methods/PacketFields.h"
#include "server/store/DatabaseFault.h"
#include "server/store/InvoiceList.h"

namespace srv::methods {

// letters and invoices are the two statements, ready to give their rows (prepared, or
// read). False, with nothing written, when a letter's sequence cannot be ordered as the
// database orders it.
template <class Statement, class Row>
bool writeLettersFirst(Store& store, Statement& letters, Statement& invoices, AnswerText& answer)
{
    LetterGroups groups;
    {
        const Row row(letters);
        while (letters.next())
            if (groups.add(row) == LetterGroups::Added::Unordered)
                return false;
        if (letters.error().isValid())
            databaseFault(store, letters.error(), "GetNotaFiscal");
    }
    groups.close();
    std::vector<int> listed;
    {
        Statement& s = invoices;
        PacketWriter w(&answer.json(), fields::notaFiscal());
        const Row row(s);
        QByteArray invoice;
        while (s.next()) {
            invoice.clear();
            const InvoiceParts parts = appendInvoice(invoice, row);
            const int group = groups.find(row);
            if (group >= 0)
                listed.push_back(group);
            groups.writeInvoiceRow(w, invoice, parts, group);
            answer.written();
        }
        if (s.error().isValid())
            databaseFault(store, s.error(), "GetNotaFiscal");
        w.finish();
    }
    answer.json().append(',');
    PacketWriter w(&answer.json(), fields::cartaCorrecao());
    groups.writeLetters(w, listed, answer);
    w.finish();
    return true;
}

} // namespace srv::methods
