#pragma once
// The host's standard controls on top of Qt widgets. Each is found with findChild by
// its objectName. Handlers are std::function members (the host's event properties),
// run through fw::dispatch when the event loop raises them; assigning nullptr
// suspends one. Changes made by code follow the host's rules:
//   - assigning a text runs OnChange only when the text really changes;
//   - checking a radio button (user or code) runs OnClick; a check box runs OnClick
//     whenever its state changes;
//   - setting a combo box's item index runs no handler; a user's choice runs OnChange
//     and OnClick.
// Click() on a button runs its handler directly (exceptions reach the caller), as a
// call from code does in the host.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>

#include "widgets/controls/ControlEvents.h"

#include "widgets/WidgetsExport.h"

namespace fw {

class FW_WIDGETS_EXPORT TLabel : public QLabel, public TControlEvents {
    Q_OBJECT
public:
    explicit TLabel(QWidget* parent = nullptr, const QString& name = {}, const QString& caption = {});
    QString Caption() const { return text(); }
    void setCaption(const QString& c) { setText(c); }
};

// A panel: a container with an optional caption (shown centred when set).
class FW_WIDGETS_EXPORT TPanel : public QFrame, public TControlEvents {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr, const QString& name = {});
    QString Caption() const { return m_caption; }
    void setCaption(const QString& c);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QString m_caption;
};

class FW_WIDGETS_EXPORT TGroupBox : public QGroupBox, public TControlEvents {
    Q_OBJECT
public:
    explicit TGroupBox(QWidget* parent = nullptr, const QString& name = {}, const QString& caption = {});
    QString Caption() const { return title(); }
    void setCaption(const QString& c) { setTitle(c); }
};

class FW_WIDGETS_EXPORT TComboBox : public QComboBox, public TControlEvents {
    Q_OBJECT
public:
    explicit TComboBox(QWidget* parent = nullptr, const QString& name = {});
    // Runs no handler.
    int ItemIndex() const { return currentIndex(); }
    void setItemIndex(int index);
    void setItems(const QStringList& items); // replaces the items, index -1, no handler

    TNotifyEvent OnChange; // the user chose an item
    TNotifyEvent OnClick; // the user chose an item (after OnChange)
};

class FW_WIDGETS_EXPORT TCheckBox : public QCheckBox, public TControlEvents {
    Q_OBJECT
public:
    explicit TCheckBox(QWidget* parent = nullptr, const QString& name = {}, const QString& caption = {});
    bool Checked() const { return isChecked(); }
    void setChecked(bool checked); // runs OnClick when the state changes
    TNotifyEvent OnClick;

private:
    bool m_last = false;
};

// A radio button. Buttons with the same parent exclude each other. Setting Checked to
// false works even when it is the checked one of its group (the host allows it).
class FW_WIDGETS_EXPORT TRadioButton : public QRadioButton, public TControlEvents {
    Q_OBJECT
public:
    explicit TRadioButton(QWidget* parent = nullptr, const QString& name = {}, const QString& caption = {});
    bool Checked() const { return isChecked(); }
    void setChecked(bool checked); // becoming checked runs OnClick
    TNotifyEvent OnClick;

private:
    bool m_last = false;
};

// A tool button with a hint (tool tip) and a click handler. Flat (auto-raise) by default;
// does not take the focus on a click, as the host's speed buttons.
class FW_WIDGETS_EXPORT TSpeedButton : public QToolButton, public TControlEvents {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr, const QString& name = {}, const QString& hint = {});
    QString Hint() const { return toolTip(); }
    void setHint(const QString& h) { setToolTip(h); }
    // Runs OnClick directly when enabled; exceptions reach the caller.
    void Click();
    // The button's picture, by its name in the desktop's icon theme ("document-save"); the
    // button then shows the picture alone, its text in the hint. Without such an icon the
    // text stays.
    void setGlyph(const QString& iconName);
    TNotifyEvent OnClick;

protected:
    virtual void doClick(); // the user's click, inside dispatch
};

// An image; hidden images serve as picture sources for grid drawing.
class FW_WIDGETS_EXPORT TImage : public QLabel, public TControlEvents {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr, const QString& name = {});
    QPixmap Picture() const { return m_picture; }
    void setPicture(const QPixmap& p);

private:
    QPixmap m_picture;
};

// A notebook: a stack of named pages ("Cliente", "Fornecedor", ...).
class FW_WIDGETS_EXPORT TNotebook : public QStackedWidget, public TControlEvents {
    Q_OBJECT
public:
    explicit TNotebook(QWidget* parent = nullptr, const QString& name = {});
    QWidget* addPage(const QString& pageName); // returns the page container
    QStringList Pages() const { return m_names; }
    QWidget* page(const QString& pageName) const;
    int PageIndex() const { return currentIndex(); }
    void setPageIndex(int index); // out of range: ignored
    QString ActivePage() const;
    void setActivePage(const QString& pageName);

private:
    QStringList m_names;
};

// A pop-up menu; Popup shows it at a screen point. Through the UI services in tests:
// setPopupHook lets automation record or skip the showing.
class FW_WIDGETS_EXPORT TPopupMenu : public QMenu {
    Q_OBJECT
public:
    explicit TPopupMenu(QWidget* parent = nullptr, const QString& name = {});
    void Popup(const QPoint& globalPos);
    // Replaces the real showing (tests): the hook gets the menu and the point.
    static void setPopupHook(std::function<void(TPopupMenu*, const QPoint&)> hook);
    int popupCount() const { return m_popups; }

private:
    int m_popups = 0;
};

// The page control. Pages are widgets whose objectName is the page's name. A disabled
// page greys its tab and cannot be switched to (by the user or SetActivePage).
// OnChange runs when the user switches pages (a tab click or keys), not when code sets
// the active page, as in the host.
class FW_WIDGETS_EXPORT TPageControl : public QTabWidget, public TControlEvents {
    Q_OBJECT
public:
    explicit TPageControl(QWidget* parent = nullptr, const QString& name = {});
    QWidget* addPage(const QString& pageName, const QString& caption); // a new empty page
    void addPage(QWidget* page, const QString& caption);
    QWidget* ActivePage() const { return currentWidget(); }
    bool SetActivePage(QWidget* page); // false when the page is disabled or not one of ours
    void setPageEnabled(QWidget* page, bool enabled); // same as page->setEnabled()
    bool pageEnabled(QWidget* page) const;
    void setPageCaption(QWidget* page, const QString& caption);
    QString pageCaption(QWidget* page) const;

    TNotifyEvent OnChange;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void syncTab(QWidget* page);
    // Takes the focus off the active page when another page comes, before it is hidden.
    bool focusOffLeavingPage(QWidget* coming);
    bool m_settingByCode = false;
    bool m_syncing = false;
};
using TCustomPageControl98 = TPageControl;

} // namespace fw
