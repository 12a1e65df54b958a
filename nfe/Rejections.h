#pragma once
// The codes the event service answers a correction letter with: the authority's own text
// and what the user can do about it, one line per code. The server explains every
// answer with it; the stand-in answers its rules with the same texts.
#include <QString>

namespace nfe {

struct Rejection {
    const char* cStat;
    const char* xMotivo; // the service's published text
    const char* advice; // what the user can do, in Portuguese; empty for an accepted event
};

// The code's line, or nullptr for a code the table does not hold.
const Rejection* rejection(const QString& cStat);
// The published text of a code the table holds ("" otherwise).
QString publishedText(const QString& cStat);

// "cStat - xMotivo" as the authority answered, then the advice for that code; shortened
// to at most maxChars by cutting the authority's text, never the advice.
QString explainAnswer(const QString& cStat, const QString& xMotivo, int maxChars = 255);

} // namespace nfe
