#include "widgets/controls/Edits.h"

#include <QPalette>
#include <QValidator>
#include <algorithm>

#include "core/errors/Dispatch.h"
#include "core/host/HostFunctions.h"

namespace fw {

namespace {

const QList<EditMaskSlot>& maskSlots(const EditMask& m) { return m.positions; }

QString applyCase(const QString& s, TEditCharCase c)
{
    switch (c) {
    case TEditCharCase::Upper: return s.toUpper();
    case TEditCharCase::Lower: return s.toLower();
    case TEditCharCase::Normal: break;
    }
    return s;
}

// Changes the case of what is typed or pasted.
class CaseValidator : public QValidator {
public:
    CaseValidator(TEditCharCase c, QObject* parent) : QValidator(parent), m_case(c) {}
    State validate(QString& input, int&) const override
    {
        input = applyCase(input, m_case);
        return Acceptable;
    }

private:
    TEditCharCase m_case;
};

void setBase(QLineEdit* e, const QColor& c)
{
    QPalette p = e->palette();
    p.setColor(QPalette::Base, c);
    e->setPalette(p);
}

// OnChange runs only when the stored text really changed since last seen; a change the
// user made runs it through dispatch, one made by code runs it directly.
template <class Edit>
void noteChange(Edit* e, QString& last, bool byUser)
{
    const QString now = e->Text();
    if (now == last)
        return;
    last = now;
    if (!e->OnChange)
        return;
    if (byUser)
        dispatch([e] { e->OnChange(e); });
    else
        e->OnChange(e);
}

} // namespace

QColor clWindow() { return QPalette().color(QPalette::Base); }
QColor clInfoBk() { return QColor(255, 255, 225); }

// --- TEdit -----------------------------------------------------------------------

TEdit::TEdit(QWidget* parent, const QString& name) : QLineEdit(parent)
{
    if (!name.isEmpty())
        setObjectName(name);
    ensureFocusWatcher();
    connect(this, &QLineEdit::textChanged, this, &TEdit::textChangedByQt);
}

void TEdit::setText(const QString& text)
{
    m_codeChange = true;
    QLineEdit::setText(applyCase(text, m_charCase));
    m_codeChange = false;
    afterCodeChange();
}

void TEdit::setCharCase(TEditCharCase c)
{
    m_charCase = c;
    setValidator(c == TEditCharCase::Normal ? nullptr : new CaseValidator(c, this));
    if (c != TEditCharCase::Normal)
        setText(Text());
}

void TEdit::setColor(const QColor& c) { setBase(this, c); }
QColor TEdit::Color() const { return palette().color(QPalette::Base); }

void TEdit::textChangedByQt()
{
    if (!m_codeChange)
        noteChange(this, m_last, true);
}

void TEdit::afterCodeChange() { noteChange(this, m_last, false); }

// --- TMaskEdit -------------------------------------------------------------------

TMaskEdit::TMaskEdit(QWidget* parent, const QString& name) : QLineEdit(parent)
{
    if (!name.isEmpty())
        setObjectName(name);
    ensureFocusWatcher();
    connect(this, &QLineEdit::textChanged, this, &TMaskEdit::textChangedByQt);
}

QString TMaskEdit::Text() const
{
    if (m_mask.isEmpty())
        return QLineEdit::text();
    const QString shown = QLineEdit::displayText();
    QString out;
    bool anyInput = false;
    for (int i = 0; i < maskSlots(m_mask).size() && i < shown.size(); ++i) {
        const EditMaskSlot& slot = maskSlots(m_mask)[i];
        if (slot.kind == EditMaskSlot::Kind::Literal) {
            if (m_mask.saveLiterals)
                out += shown[i];
            continue;
        }
        const QChar c = shown[i];
        if (c == m_mask.blank || c == QLatin1Char(' ')) {
            out += QLatin1Char(' ');
        } else {
            out += c;
            anyInput = true;
        }
    }
    // Nothing typed is an empty text, literals or not.
    if (!anyInput)
        return QString();
    while (!out.isEmpty() && out.back() == QLatin1Char(' '))
        out.chop(1);
    return out;
}

void TMaskEdit::assign(const QString& stored)
{
    if (m_mask.isEmpty()) {
        // The maximum length limits typing, never a text the code assigns ("Todos" in a
        // four-character edit shows whole).
        const QString t = applyCase(stored, m_charCase);
        QLineEdit::setMaxLength(std::max<int>(m_maxLength > 0 ? m_maxLength : 32767, int(t.size())));
        QLineEdit::setText(t);
        return;
    }
    if (m_mask.saveLiterals) {
        QLineEdit::setText(stored); // the literals are in the text; Qt lays them
        return;
    }
    // Without literals: lay the characters into the input positions ourselves.
    QString shown;
    int k = 0;
    for (const EditMaskSlot& slot : maskSlots(m_mask)) {
        if (slot.kind == EditMaskSlot::Kind::Literal) {
            shown += slot.literal;
            continue;
        }
        QChar c = k < stored.size() ? stored[k++] : m_mask.blank;
        if (c == QLatin1Char(' '))
            c = m_mask.blank;
        if (slot.caseChange == EditMaskSlot::Case::Upper)
            c = c.toUpper();
        else if (slot.caseChange == EditMaskSlot::Case::Lower)
            c = c.toLower();
        shown += c;
    }
    QLineEdit::setText(shown);
}

void TMaskEdit::setText(const QString& text)
{
    m_codeChange = true;
    assign(text);
    m_codeChange = false;
    afterCodeChange();
}

void TMaskEdit::setEditMask(const QString& mask)
{
    const QString stored = Text();
    m_codeChange = true;
    m_maskText = mask;
    m_mask = parseEditMask(mask);
    // Qt empties the text when the mask goes; assign() puts the stored text back.
    QLineEdit::setInputMask(toQtInputMask(m_mask));
    if (m_mask.isEmpty())
        QLineEdit::setMaxLength(m_maxLength > 0 ? m_maxLength : 32767);
    assign(stored);
    m_codeChange = false;
    afterCodeChange();
}

void TMaskEdit::setMaxLength(int n)
{
    m_maxLength = n > 0 ? n : 0;
    if (m_mask.isEmpty())
        QLineEdit::setMaxLength(m_maxLength > 0 ? m_maxLength : 32767);
}

void TMaskEdit::setCharCase(TEditCharCase c)
{
    m_charCase = c;
    setValidator(c == TEditCharCase::Normal ? nullptr : new CaseValidator(c, this));
    if (m_mask.isEmpty() && c != TEditCharCase::Normal)
        setText(Text());
}

void TMaskEdit::setColor(const QColor& c) { setBase(this, c); }
QColor TMaskEdit::Color() const { return palette().color(QPalette::Base); }

bool TMaskEdit::IsComplete() const
{
    if (m_mask.isEmpty())
        return true;
    const QString shown = QLineEdit::displayText();
    for (int i = 0; i < maskSlots(m_mask).size(); ++i) {
        const EditMaskSlot& slot = maskSlots(m_mask)[i];
        if (slot.kind == EditMaskSlot::Kind::Literal || !slot.required)
            continue;
        if (i >= shown.size() || shown[i] == m_mask.blank || shown[i] == QLatin1Char(' '))
            return false;
    }
    return true;
}

// Where typing goes in: the first position still blank (after the literals that lead).
int TMaskEdit::firstFreePosition() const
{
    const QString shown = QLineEdit::displayText();
    const QList<EditMaskSlot>& positions = maskSlots(m_mask);
    for (int i = 0; i < positions.size() && i < shown.size(); ++i)
        if (positions[i].kind != EditMaskSlot::Kind::Literal &&
            (shown[i] == m_mask.blank || shown[i] == QLatin1Char(' ')))
            return i;
    return int(shown.size());
}

// An empty masked edit takes what is typed from its first position, however it got the
// focus or wherever it was clicked: past the blanks nothing could be typed.
void TMaskEdit::toFirstFreeWhenEmpty()
{
    if (m_mask.isEmpty() || !Text().isEmpty())
        return;
    deselect();
    setCursorPosition(firstFreePosition());
}

void TMaskEdit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    toFirstFreeWhenEmpty();
}

void TMaskEdit::mousePressEvent(QMouseEvent* e)
{
    QLineEdit::mousePressEvent(e);
    toFirstFreeWhenEmpty();
}

void TMaskEdit::mouseReleaseEvent(QMouseEvent* e)
{
    QLineEdit::mouseReleaseEvent(e);
    toFirstFreeWhenEmpty();
}

void TMaskEdit::textChangedByQt()
{
    if (!m_codeChange)
        noteChange(this, m_last, true);
}

void TMaskEdit::afterCodeChange() { noteChange(this, m_last, false); }

// --- TDateEditPlus ---------------------------------------------------------------

TDateEditPlus::TDateEditPlus(QWidget* parent, const QString& name) : TMaskEdit(parent, name)
{
    setEditMask(QStringLiteral("99/99/9999;1;_"));
    connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::updateColor);
}

bool TDateEditPlus::IsEmpty() const
{
    const QString shown = EditText();
    for (QChar c : shown)
        if (c.isDigit())
            return false;
    return true;
}

QDate TDateEditPlus::GetDate() const
{
    const QString shown = EditText();
    if (shown.size() != 10)
        return QDate();
    for (int i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (!shown[i].isDigit())
            return QDate();
    return QDate(shown.mid(6, 4).toInt(), shown.mid(3, 2).toInt(), shown.left(2).toInt());
}

bool TDateEditPlus::IsValidDate() const { return !IsEmpty() && GetDate().isValid(); }

void TDateEditPlus::SetDate(const QDate& date)
{
    setText(date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString());
}

void TDateEditPlus::CheckValidDate()
{
    if (IsEmpty() || IsValidDate())
        return;
    setFocus(Qt::OtherFocusReason);
    MensErro(QStringLiteral("Data inválida."), true);
}

void TDateEditPlus::updateColor()
{
    QPalette p = palette();
    p.setColor(QPalette::Text, IsValidDate() ? QColor(Qt::blue) : QPalette().color(QPalette::Text));
    setPalette(p);
}

} // namespace fw
