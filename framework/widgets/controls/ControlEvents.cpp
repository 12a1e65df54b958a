#include "widgets/controls/ControlEvents.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QPointer>

#include "core/errors/Dispatch.h"

namespace fw {

namespace {

// Handlers of widgets that are not T controls.
struct PlainEvents : TControlEvents {};

class FocusWatcher : public QObject {
public:
    FocusWatcher();
    void focusChanged(QWidget* old, QWidget* now);
    bool eventFilter(QObject* watched, QEvent* event) override;

    QHash<QWidget*, PlainEvents*> plain; // owned
    QHash<QWidget*, QPointer<QWidget>> lastFocus; // per form: the control that has the focus in it
    QHash<QWidget*, KeyPreview> previews; // per form
    // Per form: its enter or exit handlers are running. Only that form's focus changes are
    // theirs; a modal form opened from a handler is a form of its own with working handlers.
    QHash<QWidget*, int> running;
    QHash<QWidget*, int> inTransition; // per form: a move is being handled
    int moving = 0; // we are moving the focus ourselves

    // The last focus-in: its widget and reason (focusChanged comes after it).
    QPointer<QWidget> lastFocusIn;
    Qt::FocusReason lastFocusInReason = Qt::OtherFocusReason;

    bool runningIn(QWidget* form) const { return running.value(form) > 0; }

    // For the key preview: a key event is offered to the preview once, at its first receiver.
    const QEvent* lastKeyEvent = nullptr;
    QPointer<QObject> lastKeyReceiver;
    int lastKey = 0;
    Qt::KeyboardModifiers lastModifiers;
};

FocusWatcher* g_watcher = nullptr;

FocusWatcher* watcher()
{
    ensureFocusWatcher();
    return g_watcher;
}

TControlEvents* eventsOf(QWidget* w)
{
    if (auto* t = dynamic_cast<TControlEvents*>(w))
        return t;
    if (!g_watcher)
        return nullptr;
    return g_watcher->plain.value(w, nullptr);
}

bool isAncestorOrSelf(const QWidget* ancestor, const QWidget* w)
{
    for (; w; w = w->parentWidget()) {
        if (w == ancestor)
            return true;
        if (w->isWindow())
            break;
    }
    return false;
}

// A form boundary: a window, or the frame of an MDI child. Each form keeps its own
// focused control, and switching forms is no exit, as in the host.
bool isFormBoundary(const QWidget* w) { return w->isWindow() || qobject_cast<const QMdiSubWindow*>(w); }

QWidget* formOf(QWidget* w)
{
    for (; w; w = w->parentWidget())
        if (isFormBoundary(w))
            return w;
    return nullptr;
}

// The chain from w up to (not including) its form, innermost first.
QList<QWidget*> chainOf(QWidget* w)
{
    QList<QWidget*> out;
    for (; w && !isFormBoundary(w); w = w->parentWidget())
        out.append(w);
    return out;
}

// The control with the focus in the form of w (in a form that is not active, the one
// that last had it).
QWidget* focusInForm(QWidget* w)
{
    QWidget* form = formOf(w);
    if (!form)
        return nullptr;
    QWidget* f = w->window()->focusWidget();
    if (f && formOf(f) == form)
        return f;
    return g_watcher ? g_watcher->lastFocus.value(form).data() : nullptr;
}

// Runs the exit handlers of what `from` leaves for `to`. Returns the widget whose
// handler refused, or nullptr when all passed.
QWidget* runExits(QWidget* from, QWidget* to)
{
    const QList<QWidget*> chain = chainOf(from);
    for (QWidget* w : chain) {
        if (to && isAncestorOrSelf(w, to))
            break; // w (and what holds it) still holds the focus
        TControlEvents* ev = eventsOf(w);
        if (!ev || !ev->OnExit)
            continue;
        QPointer<QWidget> guard(w);
        TNotifyEvent handler = ev->OnExit;
        if (!dispatch([&] { handler(w); }))
            return guard ? guard.data() : from;
    }
    return nullptr;
}

void runEnters(QWidget* from, QWidget* to)
{
    QList<QWidget*> chain = chainOf(to);
    std::reverse(chain.begin(), chain.end());
    for (QWidget* w : chain) {
        if (from && isAncestorOrSelf(w, from))
            continue; // already inside it
        TControlEvents* ev = eventsOf(w);
        if (!ev || !ev->OnEnter)
            continue;
        TNotifyEvent handler = ev->OnEnter;
        dispatch([&] { handler(w); });
    }
}

void focusBack(QWidget* refused, QWidget* previous)
{
    QWidget* target = refused;
    if (!target || target->focusPolicy() == Qt::NoFocus || !target->isEnabled())
        target = previous;
    if (!target)
        return;
    ++g_watcher->moving;
    target->setFocus(Qt::OtherFocusReason);
    --g_watcher->moving;
    g_watcher->lastFocus.insert(formOf(target), target);
}

// One move of the focus inside a form, from `from` to `to`. Returns whether it passed.
bool transition(QWidget* from, QWidget* to, bool giveFocus)
{
    FocusWatcher* fw = g_watcher;
    QWidget* form = formOf(to);
    QPointer<QWidget> fromGuard(from), toGuard(to), formGuard(form);
    ++fw->running[form];
    QWidget* refused = from ? runExits(from, to) : nullptr;
    if (formGuard && --fw->running[form] == 0)
        fw->running.remove(form);
    if (refused) {
        focusBack(refused, fromGuard);
        return false;
    }
    if (!toGuard)
        return false;
    if (giveFocus) {
        ++fw->moving;
        to->setFocus(Qt::OtherFocusReason);
        --fw->moving;
    }
    fw->lastFocus.insert(form, to);
    ++fw->running[form];
    runEnters(fromGuard, to);
    if (formGuard && --fw->running[form] == 0)
        fw->running.remove(form);
    // Handlers may have moved the focus themselves; what holds it now is the truth.
    if (QWidget* now = focusInForm(toGuard ? toGuard.data() : nullptr))
        fw->lastFocus.insert(form, now);
    return true;
}

FocusWatcher::FocusWatcher() : QObject(qApp)
{
    connect(qApp, &QApplication::focusChanged, this, &FocusWatcher::focusChanged);
    qApp->installEventFilter(this);
}

void FocusWatcher::focusChanged(QWidget* old, QWidget* now)
{
    if (!now || moving > 0)
        return; // deactivation, or a change we cause
    // A window or an MDI child's frame taking the focus (a click on a button that takes
    // none) is no control: nothing is left or entered.
    if (isFormBoundary(now))
        return;
    QWidget* form = formOf(now);
    if (runningIn(form))
        return; // this form's own handlers are moving the focus
    QWidget* previous = lastFocus.value(form);
    if (previous == now)
        return; // the form got the focus back (reactivation): no enter, no exit
    // A window activated again (the focus comes from nowhere or from another form, or Qt
    // says so) gives the focus back to the control that had it; what Qt or the MDI frame
    // restores may be stale, and that is no move of the user's.
    const Qt::FocusReason reason = lastFocusIn == now ? lastFocusInReason : Qt::OtherFocusReason;
    const bool byUser = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                        reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
    const bool activation =
        reason == Qt::ActiveWindowFocusReason || (!byUser && (!old || isFormBoundary(old) || formOf(old) != form));
    if (activation) {
        if (previous && previous->isVisible() && previous->isEnabled() && previous->focusPolicy() != Qt::NoFocus) {
            ++moving;
            previous->setFocus(Qt::OtherFocusReason);
            --moving;
        } else {
            lastFocus.insert(form, now);
        }
        return;
    }
    // Whatever focus changes the move itself causes (giving the focus back, a frame
    // activating) are its own: never a second round of handlers.
    if (inTransition.value(form) > 0)
        return;
    QPointer<QWidget> formGuard(form);
    ++inTransition[form];
    transition(previous, now, false);
    if (formGuard && --inTransition[form] == 0)
        inTransition.remove(form);
}

bool FocusWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn && watched->isWidgetType()) {
        lastFocusIn = static_cast<QWidget*>(watched);
        lastFocusInReason = static_cast<QFocusEvent*>(event)->reason();
        return false;
    }
    if (event->type() != QEvent::KeyPress || previews.isEmpty() || !watched->isWidgetType())
        return false;
    auto* ke = static_cast<QKeyEvent*>(event);
    // The same key travelling up to the parents of its receiver: offered already. (A new
    // event may reuse the old one's address, but then it goes to a receiver, not its parent.)
    if (event == lastKeyEvent && lastKeyReceiver && watched != lastKeyReceiver && ke->key() == lastKey &&
        ke->modifiers() == lastModifiers &&
        isAncestorOrSelf(static_cast<QWidget*>(watched), qobject_cast<QWidget*>(lastKeyReceiver.data())))
        return false;
    auto* w = static_cast<QWidget*>(watched);
    QWidget* form = w->window();
    auto it = previews.constFind(form);
    if (it == previews.constEnd())
        return false;
    lastKeyEvent = event;
    lastKeyReceiver = watched;
    lastKey = ke->key();
    lastModifiers = ke->modifiers();
    int key = ke->key();
    KeyPreview preview = it.value();
    const bool ok = dispatch([&] { preview(key, ke->modifiers()); });
    return !ok || key == 0;
}

} // namespace

void ensureFocusWatcher()
{
    if (!g_watcher && qApp)
        g_watcher = new FocusWatcher;
}

TControlEvents& controlEvents(QWidget* w)
{
    if (auto* t = dynamic_cast<TControlEvents*>(w))
        return *t;
    FocusWatcher* fw = watcher();
    PlainEvents* ev = fw->plain.value(w, nullptr);
    if (!ev) {
        ev = new PlainEvents;
        fw->plain.insert(w, ev);
        QObject::connect(w, &QObject::destroyed, fw, [fw, w] { delete fw->plain.take(w); });
    }
    return *ev;
}

void setOnEnter(QWidget* w, TNotifyEvent handler) { controlEvents(w).OnEnter = std::move(handler); }
void setOnExit(QWidget* w, TNotifyEvent handler) { controlEvents(w).OnExit = std::move(handler); }

QWidget* focusedControl(QWidget* inWindowOf)
{
    if (!inWindowOf)
        return nullptr;
    ensureFocusWatcher();
    return focusInForm(inWindowOf);
}

bool moveFocus(QWidget* to)
{
    if (!to || !to->isEnabled() || to->focusPolicy() == Qt::NoFocus || !to->isVisibleTo(to->window()))
        return false;
    FocusWatcher* fw = watcher();
    QWidget* from = focusedControl(to);
    if (from == to) {
        fw->lastFocus.insert(formOf(to), to);
        if (!to->hasFocus() && to->isActiveWindow()) {
            ++fw->moving;
            to->setFocus(Qt::OtherFocusReason);
            --fw->moving;
        }
        return true;
    }
    if (fw->runningIn(formOf(to))) {
        // Called from inside a handler of this form: just move, as a guard moving the focus does.
        ++fw->moving;
        to->setFocus(Qt::OtherFocusReason);
        --fw->moving;
        fw->lastFocus.insert(formOf(to), to);
        return true;
    }
    return transition(from, to, true);
}

void setFocusQuietly(QWidget* to)
{
    if (!to)
        return;
    FocusWatcher* fw = watcher();
    ++fw->moving;
    to->setFocus(Qt::OtherFocusReason);
    --fw->moving;
    fw->lastFocus.insert(formOf(to), to);
}

bool focusNextControl(QWidget* from, bool forward)
{
    if (!from)
        return false;
    QWidget* window = from->window();
    QWidget* w = from;
    for (int guard = 0; guard < 10000; ++guard) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == from)
            return false;
        if (w->window() != window || formOf(w) != formOf(from) || !w->isVisibleTo(window) || !w->isEnabled())
            continue;
        if (!(w->focusPolicy() & Qt::TabFocus))
            continue;
        if (w->focusProxy())
            continue;
        return moveFocus(w);
    }
    return false;
}

bool focusHandlersRunning() { return g_watcher && !g_watcher->running.isEmpty(); }

void setKeyPreview(QWidget* form, KeyPreview preview)
{
    FocusWatcher* fw = watcher();
    if (!preview) {
        fw->previews.remove(form);
        return;
    }
    const bool known = fw->previews.contains(form);
    fw->previews.insert(form, std::move(preview));
    if (!known)
        QObject::connect(form, &QObject::destroyed, fw, [fw, form] { fw->previews.remove(form); });
}

} // namespace fw
