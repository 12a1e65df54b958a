#include "server/methods/HeldAnswer.h"

#include <algorithm>
#include <cstring>

#include "server/methods/PacketFields.h"
#include "server/methods/PacketRow.h"

namespace srv::methods {

bool HeldAnswer::readInvoices(SqliteStatement& s)
{
    const SqliteRow row(s);
    while (s.next()) {
        m_parts.push_back(appendInvoice(m_invoices, row));
        const qsizetype at = qsizetype(m_keys.size());
        if (!appendKey(m_keys, row, invoiceColumn(nf::CDFILIAL)))
            return false;
        m_keyAt.push_back(at);
    }
    m_keyAt.push_back(qsizetype(m_keys.size()));
    // The texts no longer move: the table's keys are views into them.
    m_byKey.reserve(m_parts.size());
    for (size_t i = 0; i + 1 < m_keyAt.size(); ++i)
        m_byKey.emplace(key(int(i)), int(i));
    return !s.error().isValid();
}

int HeldAnswer::invoiceOf(const SqliteStatement& s)
{
    m_scratch.clear();
    if (!appendKey(m_scratch, SqliteRow(s), cc::CDFILIAL))
        return -1;
    const auto it = m_byKey.find(m_scratch);
    return it == m_byKey.end() ? -1 : it->second;
}

void HeldAnswer::keyOf(int i, SqliteStatement::Stored (&values)[2]) const
{
    const char* p = m_keys.data() + m_keyAt[size_t(i)];
    for (auto& v : values) {
        v.type = static_cast<unsigned char>(*p++);
        std::memcpy(&v.size, p, sizeof v.size);
        p += sizeof v.size;
        v.data = p;
        p += v.size;
    }
}

bool HeldAnswer::addLetter(int invoice, const SqliteStatement& s)
{
    const SqliteStatement::Stored seq = s.stored(kLetterLatest.seq);
    if (seq.type != SqliteStatement::Text && seq.type != SqliteStatement::Blob)
        return false;
    Held h;
    h.invoice = invoice;
    h.seqType = seq.type;
    h.seqAt = m_seqs.size();
    h.seqSize = seq.size;
    m_seqs.append(seq.data, seq.size);
    h.rowAt = m_letters.size();
    PacketWriter w(&m_letters);
    const SqliteRow row(s);
    writeLetterValues(w, row);
    h.rowEnd = m_letters.size();
    h.latest = appendLatest(m_latest, row, kLetterLatest);
    m_held.push_back(h);
    return true;
}

void HeldAnswer::write(AnswerText& answer)
{
    QByteArray& json = answer.json();
    // Each invoice's letters by their sequence, as SQLite orders it: text before bytes,
    // then byte by byte.
    std::stable_sort(m_held.begin(), m_held.end(), [this](const Held& a, const Held& b) {
        if (a.invoice != b.invoice)
            return a.invoice < b.invoice;
        if (a.seqType != b.seqType)
            return a.seqType == SqliteStatement::Text;
        return seq(a) < seq(b);
    });
    QByteArray none;
    const LatestParts noneParts = appendNoLetter(none);
    PacketWriter iw(&json, fields::notaFiscal());
    size_t k = 0;
    for (size_t i = 0; i < m_parts.size(); ++i) {
        size_t e = k;
        while (e < m_held.size() && m_held[e].invoice == int(i))
            ++e;
        if (e > k)
            writeInvoiceRow(iw, m_invoices, m_parts[i], m_latest, m_held[e - 1].latest);
        else
            writeInvoiceRow(iw, m_invoices, m_parts[i], none, noneParts);
        answer.written();
        k = e;
    }
    iw.finish();
    json.append(',');
    PacketWriter lw(&json, fields::cartaCorrecao());
    for (const Held& h : m_held) {
        lw.beginRow();
        lw.json(m_letters.constData() + h.rowAt, h.rowEnd - h.rowAt);
        lw.endRow();
        answer.written();
    }
    lw.finish();
}

std::string_view HeldAnswer::key(int i) const
{
    return std::string_view(m_keys).substr(size_t(m_keyAt[size_t(i)]),
                                           size_t(m_keyAt[size_t(i) + 1] - m_keyAt[size_t(i)]));
}

std::string_view HeldAnswer::seq(const Held& h) const
{
    return std::string_view(m_seqs.constData() + h.seqAt, size_t(h.seqSize));
}

} // namespace srv::methods
