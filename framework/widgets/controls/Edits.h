#pragma once
// Edits: the plain edit, the mask edit with the host's edit masks, and the date edit.
//
// Text()/text() is the stored text; setText() assigns it. OnChange runs only when the
// stored text really changes, typed by the user (through fw::dispatch) or assigned by
// code (directly, after the assignment, so an exception reaches the assigning code).
// Assigning nullptr to OnChange suspends it, as the host's code does.
#include <QColor>
#include <QDate>
#include <QLineEdit>

#include "core/host/EditMask.h"
#include "widgets/controls/ControlEvents.h"

#include "widgets/WidgetsExport.h"

namespace fw {

enum class TEditCharCase { Normal, Upper, Lower };

// The window colours the host's screens use for edits.
FW_WIDGETS_EXPORT QColor clWindow(); // normal edit background
FW_WIDGETS_EXPORT QColor clInfoBk(); // information background: a field that must be filled

class FW_WIDGETS_EXPORT TEdit : public QLineEdit, public TControlEvents {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE setText)
public:
    explicit TEdit(QWidget* parent = nullptr, const QString& name = {});

    QString Text() const { return QLineEdit::text(); }
    QString text() const { return Text(); }
    void setText(const QString& text);
    void clear() { setText(QString()); }

    TEditCharCase CharCase() const { return m_charCase; }
    void setCharCase(TEditCharCase c);
    int MaxLength() const { return maxLength(); }
    void setMaxLength(int n) { QLineEdit::setMaxLength(n > 0 ? n : 32767); }
    bool ReadOnly() const { return isReadOnly(); }
    void setReadOnly(bool r) { QLineEdit::setReadOnly(r); }
    void setColor(const QColor& c);
    QColor Color() const;
    void setTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); }

    TNotifyEvent OnChange;

private:
    void textChangedByQt();
    void afterCodeChange();
    TEditCharCase m_charCase = TEditCharCase::Normal;
    QString m_last;
    bool m_codeChange = false;
};

// The mask edit. EditMask takes the host's masks as written: ">aaaa;0; ", "99;0; ",
// "99.999.999/9999-99;0;_"; an empty mask is a plain edit. With the second part "0" the
// stored text has no literals; trailing blanks are never stored.
class FW_WIDGETS_EXPORT TMaskEdit : public QLineEdit, public TControlEvents {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE setText)
    Q_PROPERTY(QString EditMask READ EditMask WRITE setEditMask)
public:
    explicit TMaskEdit(QWidget* parent = nullptr, const QString& name = {});

    QString Text() const;
    QString text() const { return Text(); }
    void setText(const QString& text);
    void clear() { setText(QString()); }
    // The text as shown, with literals and blanks ("12.345.678/____-__").
    QString EditText() const { return QLineEdit::displayText(); }

    QString EditMask() const { return m_maskText; }
    // Changes the mask keeping the stored text (re-laid into the new mask); runs OnChange
    // only if the stored text changes because it does not fit.
    void setEditMask(const QString& mask);
    int MaxLength() const { return m_maxLength; }
    void setMaxLength(int n); // applies while there is no mask
    TEditCharCase CharCase() const { return m_charCase; }
    void setCharCase(TEditCharCase c);
    bool ReadOnly() const { return isReadOnly(); }
    void setReadOnly(bool r) { QLineEdit::setReadOnly(r); }
    void setColor(const QColor& c);
    QColor Color() const;
    void setTabStop(bool on) { setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus); }
    // True when every required position of the mask is filled (always true without a mask).
    bool IsComplete() const;

    TNotifyEvent OnChange;

    // The first input position still blank (the text's length when none is).
    int firstFreePosition() const;

protected:
    void focusInEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void textChangedByQt();
    void afterCodeChange();
    void toFirstFreeWhenEmpty();
    void assign(const QString& stored); // lays stored text into the mask, no handler
    QString m_maskText;
    fw::EditMask m_mask;
    int m_maxLength = 0; // 0: no limit
    TEditCharCase m_charCase = TEditCharCase::Normal;
    QString m_last;
    bool m_codeChange = false;
};

// The date edit: mask "99/99/9999", empty allowed. Valid dates show in blue.
class FW_WIDGETS_EXPORT TDateEditPlus : public TMaskEdit {
    Q_OBJECT
public:
    explicit TDateEditPlus(QWidget* parent = nullptr, const QString& name = {});

    // The date typed; a null QDate when the edit is empty or the date is invalid.
    QDate GetDate() const;
    void SetDate(const QDate& date); // a null date empties the edit
    bool IsEmpty() const; // no digit typed
    bool IsValidDate() const; // non-empty and a real calendar date
    // A non-empty invalid date: focuses the edit and MensErro("Data inválida.", true).
    void CheckValidDate();

private:
    void updateColor();
};

} // namespace fw
