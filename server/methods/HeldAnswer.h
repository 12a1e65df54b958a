#pragma once
// The answer of a list read invoices first: the invoices' rows are held until their
// letters are known, the letters looked up invoice by invoice or read in one walk of
// their table, and the two packets then written in the order the two statements give:
// the invoices as read, each invoice's letters after those of the invoices before it,
// by their sequence as SQLite orders it.
#include <QByteArray>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/methods/AnswerText.h"
#include "server/methods/ListLayout.h"
#include "server/store/SqliteStatement.h"

namespace srv::methods {

class HeldAnswer {
public:
    // Reads the invoices' rows (InvoiceList::invoicesAlone); false, nothing held, when
    // a key is neither text nor bytes or the statement failed (then s.error() says so).
    bool readInvoices(SqliteStatement& s);
    int size() const { return int(m_parts.size()); }

    // The invoice held under the key of the letter s holds, -1 for none.
    int invoiceOf(const SqliteStatement& s);
    // The key's two values of invoice i, to look its letters up with.
    void keyOf(int i, SqliteStatement::Stored (&values)[2]) const;
    // Holds the letter of s for invoice i; false when its sequence cannot be ordered as
    // SQLite orders text and bytes.
    bool addLetter(int invoice, const SqliteStatement& s);

    // The answer: [<invoices>, <letters>] less its brackets, appended to the answer's text.
    void write(AnswerText& answer);

private:
    struct Held {
        int invoice = 0;
        int seqType = 0;
        qsizetype seqAt = 0;
        int seqSize = 0;
        qsizetype rowAt = 0, rowEnd = 0;
        LatestParts latest;
    };

    std::string_view key(int i) const;
    std::string_view seq(const Held& h) const;

    QByteArray m_invoices, m_latest, m_letters, m_seqs;
    std::vector<InvoiceParts> m_parts;
    std::string m_keys, m_scratch;
    std::vector<qsizetype> m_keyAt;
    std::unordered_map<std::string_view, int> m_byKey;
    std::vector<Held> m_held;
};

} // namespace srv::methods
