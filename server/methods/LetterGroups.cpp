#include "server/methods/LetterGroups.h"

#include <algorithm>

namespace srv::methods {

LetterGroups::LetterGroups() { m_noneParts = appendNoLetter(m_none); }

std::string_view LetterGroups::seq(const Held& h) const
{
    return std::string_view(m_seqs.constData() + h.seqAt, size_t(h.seqSize));
}

int LetterGroups::group(std::string_view key, bool add)
{
    const size_t hash = std::hash<std::string_view>()(key);
    const size_t mask = m_slots.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        Slot& slot = m_slots[at];
        if (slot.group < 0) {
            if (!add)
                return -1;
            slot = Slot{hash, int(m_groupKeys.size())};
            m_groupKeys.push_back(key);
            return slot.group;
        }
        if (slot.hash == hash && m_groupKeys[size_t(slot.group)] == key)
            return slot.group;
    }
}

void LetterGroups::close()
{
    // The keys no longer move: the groups' keys are views into them.
    size_t room = 16;
    while (room < m_held.size() * 2)
        room *= 2;
    m_slots.assign(room, Slot());
    std::vector<int> groupOf(m_held.size());
    std::vector<int> count;
    for (size_t i = 0; i < m_held.size(); ++i) {
        const Held& h = m_held[i];
        const int g = group(std::string_view(m_keys.data() + h.keyAt, size_t(h.keySize)), true);
        if (g == int(count.size()))
            count.push_back(0);
        groupOf[i] = g;
        ++count[size_t(g)];
    }
    m_start.assign(count.size() + 1, 0);
    for (size_t g = 0; g < count.size(); ++g)
        m_start[g + 1] = m_start[g] + count[g];
    m_order.resize(m_held.size());
    std::vector<int> next(m_start.begin(), m_start.end() - 1);
    for (size_t i = 0; i < m_held.size(); ++i)
        m_order[size_t(next[size_t(groupOf[i])]++)] = int(i);
    for (size_t g = 0; g < count.size(); ++g)
        std::stable_sort(m_order.begin() + m_start[g], m_order.begin() + m_start[g + 1], [this](int a, int b) {
            const Held& x = m_held[size_t(a)];
            const Held& y = m_held[size_t(b)];
            if (x.seqType != y.seqType)
                return x.seqType == SqliteStatement::Text;
            return seq(x) < seq(y);
        });
}

void LetterGroups::writeInvoiceRow(PacketWriter& w, const QByteArray& invoice, const InvoiceParts& parts,
                                   int group) const
{
    if (group < 0)
        return methods::writeInvoiceRow(w, invoice, parts, m_none, m_noneParts);
    const Held& latest = m_held[size_t(m_order[size_t(m_start[size_t(group) + 1] - 1)])];
    methods::writeInvoiceRow(w, invoice, parts, m_latest, latest.latest);
}

void LetterGroups::writeLetters(PacketWriter& w, const std::vector<int>& groups, AnswerText& answer) const
{
    for (const int g : groups) {
        for (int k = m_start[size_t(g)]; k < m_start[size_t(g) + 1]; ++k) {
            const Held& h = m_held[size_t(m_order[size_t(k)])];
            w.beginRow();
            w.json(m_rows.constData() + h.rowAt, h.rowEnd - h.rowAt);
            w.endRow();
            answer.written();
        }
    }
}

} // namespace srv::methods
