#pragma once
// The letters of a list read before its invoices, kept by invoice: each invoice's row is
// then written as soon as it is read, with its latest letter, and the letters' packet
// after the invoices, invoice after invoice in the order they were written, each
// invoice's letters by their sequence as the database orders it (text before bytes, then
// byte by byte). The letters of an invoice that is not listed are never written.
#include <QByteArray>
#include <string>
#include <string_view>
#include <vector>

#include "server/methods/AnswerText.h"
#include "server/methods/ListLayout.h"
#include "server/methods/PacketRow.h"

namespace srv::methods {

class LetterGroups {
public:
    LetterGroups();

    // Holds the letter of r, a letters' statement's row. Not when its key is neither text
    // nor bytes: it then joins no invoice (Joinless); nor when its sequence is neither, as
    // it could not be ordered as the database orders it (Unordered).
    enum class Added { Held, Joinless, Unordered };
    template <class Row>
    Added add(const Row& r)
    {
        Held h;
        SqliteStatement::Stored seq;
        h.keyAt = qsizetype(m_keys.size());
        if (!appendKey(m_keys, r, cc::CDFILIAL)) {
            m_keys.resize(size_t(h.keyAt));
            return Added::Joinless;
        }
        if (!r.textOrBytes(kLetterLatest.seq, &seq)) {
            m_keys.resize(size_t(h.keyAt));
            return Added::Unordered;
        }
        h.keySize = qsizetype(m_keys.size()) - h.keyAt;
        h.seqType = seq.type;
        h.seqAt = m_seqs.size();
        h.seqSize = seq.size;
        m_seqs.append(seq.data, seq.size);
        h.rowAt = m_rows.size();
        PacketWriter w(&m_rows);
        writeLetterValues(w, r);
        h.rowEnd = m_rows.size();
        h.latest = appendLatest(m_latest, r, kLetterLatest);
        m_held.push_back(h);
        return Added::Held;
    }

    // Once every letter is in: groups them by invoice, each by its sequence.
    void close();

    // The group of the invoice whose key r holds (an invoices' statement's row); -1 when
    // it has no letter.
    template <class Row>
    int find(const Row& r)
    {
        m_scratch.clear();
        if (!appendKey(m_scratch, r, invoiceColumn(nf::CDFILIAL)))
            return -1;
        return group(m_scratch, false);
    }

    // An invoice's row of its parts and the latest letter of its group (or none).
    void writeInvoiceRow(PacketWriter& w, const QByteArray& invoice, const InvoiceParts& parts, int group) const;
    // The letters' packet's rows: every letter of these groups, group after group.
    void writeLetters(PacketWriter& w, const std::vector<int>& groups, AnswerText& answer) const;

private:
    struct Held {
        qsizetype keyAt = 0, keySize = 0;
        int seqType = 0;
        qsizetype seqAt = 0;
        int seqSize = 0;
        qsizetype rowAt = 0, rowEnd = 0;
        LatestParts latest;
    };
    std::string_view seq(const Held& h) const;
    // The group of key; a new one for a key not seen when add is true, else -1.
    int group(std::string_view key, bool add);

    std::string m_keys, m_scratch;
    QByteArray m_seqs, m_rows, m_latest, m_none;
    LatestParts m_noneParts;
    std::vector<Held> m_held;
    // After close(): the letters of group g are m_held[m_order[m_start[g]]] up to
    // m_start[g + 1], the latest last. The groups are found by their key through a table
    // of open addressing, each slot a key's hash and its group: a whole company's list
    // looks up every invoice, and a slot apiece misses the cache less than a node apiece.
    struct Slot {
        size_t hash = 0;
        int group = -1;
    };
    std::vector<Slot> m_slots;
    std::vector<std::string_view> m_groupKeys;
    std::vector<int> m_order, m_start;
};

} // namespace srv::methods
