#pragma once
// The text of a correction letter as the event may carry it (xCorrecao): 15 to 1000
// characters of U+0020..U+00FF, no line breaks or tabs, not starting or ending with a
// blank. What a user types is turned into that form where the meaning stays (line
// breaks become ";", which the printed letter shows as line breaks again; a tab a blank;
// typographic quotes, apostrophes and dashes their plain forms); anything else is
// refused with a message naming the character. Nothing is ever dropped silently.
#include <QString>

namespace nfe {

struct CorrectionText {
    QString text; // the form to sign (empty when refused)
    QString error; // the refusal, in Portuguese; empty when the text passes
    bool ok() const { return error.isEmpty(); }
};

// foldAccents: for an authority that refuses accented letters, "ç" becomes "c" and so on.
CorrectionText normaliseCorrection(const QString& typed, bool foldAccents = false);

} // namespace nfe
