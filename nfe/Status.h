#pragma once
// Status codes of the authority's answers (cStat) that the system acts on.
#include <QString>

namespace nfe::status {

inline const QString kBatchProcessed = QStringLiteral("128"); // the batch was read; each event has its own answer
inline const QString kRegistered = QStringLiteral("135"); // event registered and linked to the NF-e
inline const QString kRegisteredUnlinked = QStringLiteral("136"); // registered, the NF-e not (yet) known there
inline const QString kDuplicate = QStringLiteral("573"); // the same event was registered before

// The authority registered the event: the letter is accepted.
inline bool eventRegistered(const QString& cStat) { return cStat == kRegistered || cStat == kRegisteredUnlinked; }

} // namespace nfe::status
