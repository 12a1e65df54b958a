#pragma once
// The rows of the invoice list's two packets, written field by field from the columns of
// the statements (server/store/InvoiceList.h) by whichever row reader gave them
// (PacketRow.h). An
// invoice's row holds its latest letter's values in four places, so it is written in
// parts: the invoice's own five, between which the letter's four go. The in-memory join
// writes each once and puts them together when the letters are known.
#include <QByteArray>

#include "nfe/Status.h"
#include "server/methods/PacketWriter.h"
#include "server/store/InvoiceList.h"
#include "vocabulary/Flags.h"

namespace srv::methods {

// Where each part of a row lies in a text shared by many rows: part i runs from
// end[i - 1] (from at, for the first) to end[i].
template <int N>
struct Parts {
    qsizetype at = 0;
    qsizetype end[N] = {};
    qsizetype from(int i) const { return i == 0 ? at : end[i - 1]; }
};
using InvoiceParts = Parts<5>;
using LatestParts = Parts<4>;

// The columns of a row that hold the letter an invoice's row shows.
struct LatestColumns {
    int email, emailTrans, transm, seq, status;
};
namespace nf = cce::packet::notaFiscal;
namespace cc = cce::packet::cartaCorrecao;
constexpr LatestColumns kJoinedLatest{invoiceColumn(nf::IDEMAILCCE), invoiceColumn(nf::IDEMAILCCETRANS),
                                      invoiceColumn(nf::IDSTATUSCCE), invoiceColumn(nf::NRSEQCCE),
                                      invoiceColumn(nf::CDSTATUSCCE)};
constexpr LatestColumns kLetterLatest{cc::IDEMAILCCE, cc::IDEMAILCCETRANS, kLetterTransmissionColumn, cc::NRSEQCCE,
                                      cc::CDSTATUSCCE};

// Appends a part after part of a row, each closed by end().
template <int N>
class PartsWriter {
public:
    explicit PartsWriter(QByteArray& out) : m_out(out), m_w(&out) { m_parts.at = out.size(); }
    PacketWriter& w() { return m_w; }
    void end()
    {
        m_parts.end[m_part++] = m_out.size();
        m_w.beginValues();
    }
    Parts<N> parts() const { return m_parts; }

private:
    QByteArray& m_out;
    PacketWriter m_w;
    Parts<N> m_parts;
    int m_part = 0;
};

// The invoice's own values of an invoices' statement's row.
template <class Row>
InvoiceParts appendInvoice(QByteArray& out, const Row& r)
{
    auto text = [&](PacketWriter& w, int from, int to) {
        for (int f = from; f <= to; ++f)
            r.stringOrNull(w, invoiceColumn(nf::Column(f)));
    };
    PartsWriter<5> p(out);
    PacketWriter& w = p.w();
    w.latin1(cce::check::kUnmarked.data());
    text(w, nf::CDFILIEMIT, nf::NRNOTAFISCALELE);
    r.brazilianDate(w, invoiceColumn(nf::DATASAIDA));
    r.brazilianDate(w, invoiceColumn(nf::DATAEMISSAO));
    text(w, nf::CDSERIE, nf::CDSERIE);
    r.numberOrNull(w, invoiceColumn(nf::VRNOTAFISC));
    p.end();
    text(w, nf::IDTPAMBNFE, nf::IDTPAMBNFE);
    p.end();
    text(w, nf::CDFILIAL, nf::IDENTRSAIDOP);
    p.end();
    text(w, nf::IDORIGDESTNF, nf::IDTPIJURNF);
    p.end();
    text(w, nf::NRACESSONFE, nf::NRINSJURTRAN);
    r.dateTimeOrNull(w, invoiceColumn(nf::DTHRPROTOCOLNFE));
    p.end();
    return p.parts();
}

// What the row of an invoice without letters shows in their place.
LatestParts appendNoLetter(QByteArray& out);

// The letter r holds at the columns c, as its invoice's row shows it.
template <class Row>
LatestParts appendLatest(QByteArray& out, const Row& r, const LatestColumns& c)
{
    PartsWriter<4> p(out);
    PacketWriter& w = p.w();
    r.textOrEmpty(w, c.email);
    r.textOrEmpty(w, c.emailTrans);
    p.end();
    // In doubt is pending to the user: its send is reconciled, never repeated blindly.
    if (r.textIs(c.transm, cce::transm::kNotSent) || r.textIs(c.transm, cce::transm::kInDoubt))
        w.latin1(cce::idStatus::kPending.data());
    else if (nfe::status::eventRegistered(r.value(c.status).toString()))
        w.latin1(cce::idStatus::kAccepted.data());
    else
        w.latin1(cce::idStatus::kRejected.data());
    p.end();
    r.stringOrNull(w, c.seq);
    p.end();
    r.textOrEmpty(w, c.status);
    p.end();
    return p.parts();
}

// An invoice's row of its parts and its latest letter's.
void writeInvoiceRow(PacketWriter& w, const QByteArray& invoices, const InvoiceParts& i, const QByteArray& latest,
                     const LatestParts& l);

// A letter's values of a letters' statement's row.
template <class Row>
void writeLetterValues(PacketWriter& w, const Row& r)
{
    for (int c = 0; c < cc::kColumnCount; ++c) {
        if (c == cc::DTHRPROTOCOLCCE)
            r.dateTimeOrNull(w, c);
        else
            r.stringOrNull(w, c);
    }
}

} // namespace srv::methods
