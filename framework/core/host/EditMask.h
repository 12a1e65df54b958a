#pragma once
// Edit masks as the host writes them: "mask;save-literals;blank", for example
// "99.999.999/9999-99;0;_". Mask characters:
//   0 digit, required          9 digit, optional        # digit or sign, optional
//   L letter, required         l letter, optional
//   A letter or digit, req.    a letter or digit, opt.
//   C any character, req.      c any character, opt.
//   > upper case from here     < lower case from here   <> no case change
//   \x the literal character x ! blanks trimmed on the left (accepted, no effect here)
// Any other character is a literal. save-literals "0" means the stored text has no
// literals; "1" (the default) that it keeps them. blank is the character shown in an
// empty position ('_' by default).
#include <QList>
#include <QString>

#include "core/CoreExport.h"

namespace fw {

struct FW_CORE_EXPORT EditMaskSlot {
    enum class Kind { Literal, Digit, DigitOrSign, Letter, AlphaNum, Any };
    enum class Case { Keep, Upper, Lower };
    Kind kind = Kind::Literal;
    bool required = false;
    Case caseChange = Case::Keep;
    QChar literal; // Literal positions only
};

struct FW_CORE_EXPORT EditMask {
    QList<EditMaskSlot> positions;
    bool saveLiterals = true;
    QChar blank = QLatin1Char('_');

    bool isEmpty() const { return positions.isEmpty(); }
    int inputCount() const; // positions that take a character of the value

    // Whether c may stand in slot (literals accept only themselves).
    static bool accepts(const EditMaskSlot& slot, QChar c);
};

FW_CORE_EXPORT EditMask parseEditMask(const QString& editMask);

// The same mask in QLineEdit::setInputMask syntax (empty for an empty mask). Qt's mask
// has no "save literals" setting: the edit's owner strips the literals when saveLiterals
// is false.
FW_CORE_EXPORT QString toQtInputMask(const EditMask& mask);

// The value's characters without the mask's literals, as stored when saveLiterals is false.
FW_CORE_EXPORT QString stripMaskLiterals(const EditMask& mask, const QString& text);

} // namespace fw
