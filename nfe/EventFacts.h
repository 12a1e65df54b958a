#pragma once
// What a signed CC-e event says, read back from any XML that holds it (the event alone, a
// batch, a procEventoNFe as an authority answers it). Two events are the same signed event
// when their signatures are: one key signing one content gives one value, any other key or
// content another. Key and sequence alone say only which slot an event took.
#include <QByteArray>
#include <QList>
#include <QString>

namespace nfe {

struct EventFacts {
    QString id, chNFe, tpEvento, author, dhEvento, xCorrecao;
    int nSeqEvento = 0;
    QByteArray digest, signature; // DigestValue and SignatureValue, blanks removed
    QByteArray bytes; // the evento element exactly as it stands in the text read
};

// Every evento element of the text, in document order; unreadable text gives none.
QList<EventFacts> readEvents(const QByteArray& xml);

// The same signed event: both signed, with equal digests and equal signature values.
bool sameSignedEvent(const EventFacts& a, const EventFacts& b);

} // namespace nfe
