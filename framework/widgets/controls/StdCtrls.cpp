#include "widgets/controls/StdCtrls.h"

#include <QEvent>
#include <QIcon>
#include <QPainter>
#include <QPointer>
#include <QTabBar>

#include "core/errors/Dispatch.h"

namespace fw {

namespace {
void nameIt(QObject* o, const QString& name)
{
    if (!name.isEmpty())
        o->setObjectName(name);
    ensureFocusWatcher();
}
std::function<void(TPopupMenu*, const QPoint&)>& popupHook()
{
    static std::function<void(TPopupMenu*, const QPoint&)> hook;
    return hook;
}
} // namespace

// --- TLabel ----------------------------------------------------------------------

TLabel::TLabel(QWidget* parent, const QString& name, const QString& caption) : QLabel(caption, parent)
{
    nameIt(this, name);
}

// --- TPanel ----------------------------------------------------------------------

TPanel::TPanel(QWidget* parent, const QString& name) : QFrame(parent)
{
    nameIt(this, name);
    setFrameShape(QFrame::NoFrame);
}

void TPanel::setCaption(const QString& c)
{
    m_caption = c;
    update();
}

void TPanel::paintEvent(QPaintEvent* e)
{
    QFrame::paintEvent(e);
    if (m_caption.isEmpty())
        return;
    QPainter p(this);
    p.drawText(contentsRect(), Qt::AlignCenter, m_caption);
}

// --- TGroupBox -------------------------------------------------------------------

TGroupBox::TGroupBox(QWidget* parent, const QString& name, const QString& caption) : QGroupBox(caption, parent)
{
    nameIt(this, name);
}

// --- TComboBox -------------------------------------------------------------------

TComboBox::TComboBox(QWidget* parent, const QString& name) : QComboBox(parent)
{
    nameIt(this, name);
    // Only the user's choice raises the handlers; setting the index by code raises none.
    connect(this, &QComboBox::activated, this, [this](int) {
        dispatch([this] {
            QPointer<TComboBox> guard(this);
            if (OnChange)
                OnChange(this);
            if (guard && OnClick)
                OnClick(this);
        });
    });
}

void TComboBox::setItemIndex(int index) { setCurrentIndex(index < count() ? index : -1); }

void TComboBox::setItems(const QStringList& items)
{
    clear();
    addItems(items);
    setCurrentIndex(-1);
}

// --- TCheckBox -------------------------------------------------------------------

TCheckBox::TCheckBox(QWidget* parent, const QString& name, const QString& caption) : QCheckBox(caption, parent)
{
    nameIt(this, name);
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on == m_last)
            return;
        m_last = on;
        if (OnClick)
            dispatch([this] { OnClick(this); });
    });
}

void TCheckBox::setChecked(bool checked)
{
    if (checked == isChecked())
        return;
    const QSignalBlocker block(this);
    QCheckBox::setChecked(checked);
    m_last = checked;
    if (OnClick)
        OnClick(this); // from code: an exception reaches the caller
}

// --- TRadioButton ----------------------------------------------------------------

TRadioButton::TRadioButton(QWidget* parent, const QString& name, const QString& caption) : QRadioButton(caption, parent)
{
    nameIt(this, name);
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on == m_last)
            return;
        m_last = on;
        if (on && OnClick)
            dispatch([this] { OnClick(this); });
    });
}

void TRadioButton::setChecked(bool checked)
{
    if (checked == isChecked())
        return;
    if (!checked) {
        // Qt refuses to uncheck the checked button of an exclusive group; the host does not.
        const QSignalBlocker block(this);
        setAutoExclusive(false);
        QRadioButton::setChecked(false);
        setAutoExclusive(true);
        m_last = false;
        return;
    }
    {
        // The sibling that gets unchecked hears it through its own toggled (no click).
        const QSignalBlocker block(this);
        QRadioButton::setChecked(true);
    }
    m_last = true;
    if (OnClick)
        OnClick(this);
}

// --- TSpeedButton ----------------------------------------------------------------

TSpeedButton::TSpeedButton(QWidget* parent, const QString& name, const QString& hint) : QToolButton(parent)
{
    nameIt(this, name);
    setToolTip(hint);
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QToolButton::clicked, this, [this] { dispatch([this] { doClick(); }); });
}

void TSpeedButton::Click()
{
    if (isEnabled())
        doClick();
}

void TSpeedButton::setGlyph(const QString& iconName)
{
    const QIcon icon = QIcon::fromTheme(iconName);
    if (icon.isNull())
        return;
    setIcon(icon);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    if (toolTip().isEmpty())
        setToolTip(text());
}

void TSpeedButton::doClick()
{
    if (OnClick)
        OnClick(this);
}

// --- TImage ----------------------------------------------------------------------

TImage::TImage(QWidget* parent, const QString& name) : QLabel(parent) { nameIt(this, name); }

void TImage::setPicture(const QPixmap& p)
{
    m_picture = p;
    setPixmap(p);
    if (!p.isNull())
        resize(p.size());
}

// --- TNotebook -------------------------------------------------------------------

TNotebook::TNotebook(QWidget* parent, const QString& name) : QStackedWidget(parent) { nameIt(this, name); }

QWidget* TNotebook::addPage(const QString& pageName)
{
    auto* page = new QWidget(this);
    page->setProperty("pageName", pageName);
    addWidget(page);
    m_names.append(pageName);
    return page;
}

QWidget* TNotebook::page(const QString& pageName) const
{
    const int i = m_names.indexOf(pageName);
    return i < 0 ? nullptr : widget(i);
}

void TNotebook::setPageIndex(int index)
{
    if (index >= 0 && index < count())
        setCurrentIndex(index);
}

QString TNotebook::ActivePage() const
{
    const int i = currentIndex();
    return i >= 0 && i < m_names.size() ? m_names[i] : QString();
}

void TNotebook::setActivePage(const QString& pageName) { setPageIndex(m_names.indexOf(pageName)); }

// --- TPopupMenu ------------------------------------------------------------------

TPopupMenu::TPopupMenu(QWidget* parent, const QString& name) : QMenu(parent)
{
    if (!name.isEmpty())
        setObjectName(name);
}

void TPopupMenu::Popup(const QPoint& globalPos)
{
    ++m_popups;
    if (popupHook())
        popupHook()(this, globalPos);
    else
        popup(globalPos);
}

void TPopupMenu::setPopupHook(std::function<void(TPopupMenu*, const QPoint&)> hook) { popupHook() = std::move(hook); }

// --- TPageControl ----------------------------------------------------------------

TPageControl::TPageControl(QWidget* parent, const QString& name) : QTabWidget(parent)
{
    nameIt(this, name);
    // A tab bar of our own, heard before the tab widget switches the pages: whatever road
    // changes the page (a click on a tab, the keyboard, code), the focus leaves the page
    // going away for the page control itself while that page is still shown. Otherwise Qt
    // hands it to whatever control comes next in the window, such as the company panel,
    // whose entry would run.
    auto* bar = new QTabBar(this);
    bar->setObjectName(QStringLiteral("tabBar"));
    connect(bar, &QTabBar::currentChanged, this, [this](int index) { focusOffLeavingPage(widget(index)); });
    setTabBar(bar);
    connect(this, &QTabWidget::currentChanged, this, [this](int) {
        if (m_settingByCode || !OnChange)
            return;
        dispatch([this] { OnChange(this); });
    });
}

QWidget* TPageControl::addPage(const QString& pageName, const QString& caption)
{
    auto* page = new QWidget;
    page->setObjectName(pageName);
    addPage(page, caption);
    return page;
}

void TPageControl::addPage(QWidget* page, const QString& caption)
{
    m_settingByCode = true;
    addTab(page, caption);
    m_settingByCode = false;
    page->installEventFilter(this);
    syncTab(page);
}

bool TPageControl::SetActivePage(QWidget* page)
{
    const int i = indexOf(page);
    if (i < 0 || !pageEnabled(page))
        return false;
    // An exit handler of the control being left may refuse the change.
    if (!focusOffLeavingPage(page))
        return false;
    m_settingByCode = true;
    setCurrentIndex(i);
    m_settingByCode = false;
    return true;
}

bool TPageControl::focusOffLeavingPage(QWidget* coming)
{
    QWidget* leaving = currentWidget();
    QWidget* focused = focusedControl(this);
    if (!leaving || leaving == coming || !focused || !leaving->isAncestorOf(focused) || focusPolicy() == Qt::NoFocus)
        return true;
    return moveFocus(this);
}

void TPageControl::setPageEnabled(QWidget* page, bool enabled) { page->setEnabled(enabled); }

bool TPageControl::pageEnabled(QWidget* page) const { return page && !page->testAttribute(Qt::WA_Disabled); }

void TPageControl::setPageCaption(QWidget* page, const QString& caption)
{
    const int i = indexOf(page);
    if (i >= 0)
        setTabText(i, caption);
}

QString TPageControl::pageCaption(QWidget* page) const
{
    const int i = indexOf(page);
    return i >= 0 ? tabText(i) : QString();
}

bool TPageControl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && watched->isWidgetType())
        syncTab(static_cast<QWidget*>(watched));
    return QTabWidget::eventFilter(watched, event);
}

void TPageControl::syncTab(QWidget* page)
{
    const int i = indexOf(page);
    if (i < 0 || m_syncing)
        return;
    m_syncing = true;
    m_settingByCode = true;
    // The tab bar alone: QTabWidget::setTabEnabled would also touch the page. A disabled
    // active page stays active, as in the host (the tab bar would move away from it).
    const int current = currentIndex();
    tabBar()->setTabEnabled(i, pageEnabled(page));
    if (currentIndex() != current && current >= 0)
        setCurrentIndex(current);
    m_settingByCode = false;
    m_syncing = false;
}

} // namespace fw
