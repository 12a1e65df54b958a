#include "server/methods/ListLayout.h"

namespace srv::methods {

LatestParts appendNoLetter(QByteArray& out)
{
    PartsWriter<4> p(out);
    PacketWriter& w = p.w();
    w.string(QString());
    w.string(QString());
    p.end();
    w.latin1(cce::idStatus::kNoLetter.data());
    p.end();
    w.latin1(cce::kNoLetterSequence.data());
    p.end();
    w.string(QString());
    p.end();
    return p.parts();
}

void writeInvoiceRow(PacketWriter& w, const QByteArray& invoices, const InvoiceParts& i, const QByteArray& latest,
                     const LatestParts& l)
{
    w.beginRow();
    for (int k = 0; k < 5; ++k) {
        w.json(invoices.constData() + i.from(k), i.end[k] - i.from(k));
        if (k < 4)
            w.json(latest.constData() + l.from(k), l.end[k] - l.from(k));
    }
    w.endRow();
}

} // namespace srv::methods
