#pragma once
// The length of a correction, counted one way by the screen, the server and the event
// builder: the text as it is stored (trimmed) and as the authority receives it in
// xCorrecao, where each line break is one ";". A character outside the basic plane is
// one character, as the authority counts it, though QString holds it in two units.
#include <QString>

#include "vocabulary/Limits.h"

namespace cce {

inline int letterLength(const QString& text)
{
    const QString t = text.trimmed();
    int n = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const bool pair = i + 1 < t.size() && ((t[i] == u'\r' && t[i + 1] == u'\n') ||
                                               (t[i].isHighSurrogate() && t[i + 1].isLowSurrogate()));
        if (pair)
            ++i;
        ++n;
    }
    return n;
}

inline bool letterLengthFits(const QString& text)
{
    const int n = letterLength(text);
    return n >= kMinLetterText && n <= kMaxLetterText;
}

// The one refusal of a length out of bounds.
inline QString letterLengthMessage()
{
    return QStringLiteral("Descrição da correção deve ter no mínimo %1 e no máximo %2 caracteres.")
        .arg(kMinLetterText)
        .arg(kMaxLetterText);
}

} // namespace cce
