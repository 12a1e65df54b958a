#pragma once
// Status codes of the authority's answers (cStat) that the system acts on, and the forms
// the answers' codes and protocols may take.
#include <QString>

namespace nfe::status {

inline const QString kBatchProcessed = QStringLiteral("128"); // the batch was read; each event has its own answer
inline const QString kRegistered = QStringLiteral("135"); // event registered and linked to the NF-e
inline const QString kRegisteredUnlinked = QStringLiteral("136"); // registered, the NF-e not (yet) known there
inline const QString kDuplicate = QStringLiteral("573"); // the same event was registered before
inline const QString kAuthorised = QStringLiteral("100"); // the protocol query: the NF-e is authorised
inline const QString kCancelled = QStringLiteral("101"); // the protocol query: the NF-e was cancelled

// The authority registered the event: the letter is accepted.
inline bool eventRegistered(const QString& cStat) { return cStat == kRegistered || cStat == kRegisteredUnlinked; }

namespace detail {
inline bool digits(const QString& s)
{
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}
} // namespace detail

// The layouts of the tax reform widened the answers: a code of 3 or 4 digits, a protocol
// of 15 or 17. Anything else is no answer the system can keep.
inline bool wellFormedCode(const QString& cStat)
{
    return (cStat.size() == 3 || cStat.size() == 4) && detail::digits(cStat);
}
inline bool wellFormedProtocol(const QString& nProt)
{
    return (nProt.size() == 15 || nProt.size() == 17) && detail::digits(nProt);
}

} // namespace nfe::status
