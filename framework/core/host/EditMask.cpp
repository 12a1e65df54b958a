#include "core/host/EditMask.h"

namespace fw {

int EditMask::inputCount() const
{
    int n = 0;
    for (const EditMaskSlot& s : positions)
        n += s.kind != EditMaskSlot::Kind::Literal;
    return n;
}

bool EditMask::accepts(const EditMaskSlot& slot, QChar c)
{
    switch (slot.kind) {
    case EditMaskSlot::Kind::Literal: return c == slot.literal;
    case EditMaskSlot::Kind::Digit: return c.isDigit();
    case EditMaskSlot::Kind::DigitOrSign: return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
    case EditMaskSlot::Kind::Letter: return c.isLetter();
    case EditMaskSlot::Kind::AlphaNum: return c.isLetterOrNumber();
    case EditMaskSlot::Kind::Any: return true;
    }
    return false;
}

namespace {

// Splits "mask;save;blank" from the right: only the last two unescaped separators
// count, so a mask may hold an escaped ";" of its own.
void splitFields(const QString& text, QString* mask, QString* save, QString* blank)
{
    QList<int> separators;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\\')) {
            ++i;
            continue;
        }
        if (text[i] == QLatin1Char(';'))
            separators.append(i);
    }
    *mask = text;
    save->clear();
    blank->clear();
    if (separators.size() >= 2) {
        const int a = separators[separators.size() - 2];
        const int b = separators.last();
        *mask = text.left(a);
        *save = text.mid(a + 1, b - a - 1);
        *blank = text.mid(b + 1);
    } else if (separators.size() == 1) {
        *mask = text.left(separators[0]);
        *save = text.mid(separators[0] + 1);
    }
}

} // namespace

EditMask parseEditMask(const QString& editMask)
{
    EditMask out;
    QString mask, save, blank;
    splitFields(editMask, &mask, &save, &blank);
    if (!save.isEmpty())
        out.saveLiterals = save.at(0) != QLatin1Char('0');
    if (!blank.isEmpty())
        out.blank = blank.at(0);

    EditMaskSlot::Case currentCase = EditMaskSlot::Case::Keep;
    for (int i = 0; i < mask.size(); ++i) {
        const QChar c = mask[i];
        EditMaskSlot slot;
        switch (c.unicode()) {
        case '>':
            if (i + 1 < mask.size() && mask[i + 1] == QLatin1Char('<')) {
                currentCase = EditMaskSlot::Case::Keep;
                ++i;
            } else {
                currentCase = EditMaskSlot::Case::Upper;
            }
            continue;
        case '<':
            if (i + 1 < mask.size() && mask[i + 1] == QLatin1Char('>')) {
                currentCase = EditMaskSlot::Case::Keep;
                ++i;
            } else {
                currentCase = EditMaskSlot::Case::Lower;
            }
            continue;
        case '!': continue;
        case '\\':
            if (i + 1 >= mask.size())
                continue;
            slot.literal = mask[++i];
            break;
        case '0':
            slot.kind = EditMaskSlot::Kind::Digit;
            slot.required = true;
            break;
        case '9': slot.kind = EditMaskSlot::Kind::Digit; break;
        case '#': slot.kind = EditMaskSlot::Kind::DigitOrSign; break;
        case 'L':
            slot.kind = EditMaskSlot::Kind::Letter;
            slot.required = true;
            break;
        case 'l': slot.kind = EditMaskSlot::Kind::Letter; break;
        case 'A':
            slot.kind = EditMaskSlot::Kind::AlphaNum;
            slot.required = true;
            break;
        case 'a': slot.kind = EditMaskSlot::Kind::AlphaNum; break;
        case 'C':
            slot.kind = EditMaskSlot::Kind::Any;
            slot.required = true;
            break;
        case 'c': slot.kind = EditMaskSlot::Kind::Any; break;
        default: slot.literal = c; break;
        }
        if (slot.kind != EditMaskSlot::Kind::Literal)
            slot.caseChange = currentCase;
        out.positions.append(slot);
    }
    return out;
}

QString toQtInputMask(const EditMask& mask)
{
    if (mask.isEmpty())
        return QString();
    static const QString qtMeta = QStringLiteral("AaNnXx90DdHhBb#><!;[]{}\\");
    QString out;
    EditMaskSlot::Case currentCase = EditMaskSlot::Case::Keep;
    for (const EditMaskSlot& s : mask.positions) {
        if (s.kind != EditMaskSlot::Kind::Literal && s.caseChange != currentCase) {
            currentCase = s.caseChange;
            out += currentCase == EditMaskSlot::Case::Upper   ? QLatin1Char('>')
                   : currentCase == EditMaskSlot::Case::Lower ? QLatin1Char('<')
                                                              : QLatin1Char('!');
        }
        switch (s.kind) {
        case EditMaskSlot::Kind::Literal:
            if (qtMeta.contains(s.literal))
                out += QLatin1Char('\\');
            out += s.literal;
            break;
        case EditMaskSlot::Kind::Digit: out += QLatin1Char(s.required ? '9' : '0'); break;
        case EditMaskSlot::Kind::DigitOrSign: out += QLatin1Char('#'); break;
        case EditMaskSlot::Kind::Letter: out += QLatin1Char(s.required ? 'A' : 'a'); break;
        case EditMaskSlot::Kind::AlphaNum: out += QLatin1Char(s.required ? 'N' : 'n'); break;
        case EditMaskSlot::Kind::Any: out += QLatin1Char(s.required ? 'X' : 'x'); break;
        }
    }
    out += QLatin1Char(';');
    out += mask.blank;
    return out;
}

QString stripMaskLiterals(const EditMask& mask, const QString& text)
{
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        if (i < mask.positions.size()) {
            const EditMaskSlot& s = mask.positions[i];
            if (s.kind == EditMaskSlot::Kind::Literal && text[i] == s.literal)
                continue;
            if (text[i] == mask.blank)
                continue;
        }
        out += text[i];
    }
    return out;
}

} // namespace fw
