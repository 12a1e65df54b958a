#pragma once
// Enter and exit events of controls and containers, and the key preview of forms.
// A form is a window or an MDI child's frame: each keeps its own focused control, and
// going from one form to another runs no exit or enter handler (as in the host).
//
// Any widget may carry OnEnter/OnExit handlers. Exit runs when the focus leaves the
// widget (for a container: leaves all its children) for a widget outside it in the same
// window; enter runs when the focus comes in from outside. Both run through
// fw::dispatch. When an exit handler aborts or fails, the focus returns to (stays in)
// that widget and no further exit or enter handler of that move runs.
//
// One application-wide watcher does this for real focus changes; fw::moveFocus()
// takes the same path deterministically (tests, automation, Enter-to-next-control).
// While a form's handlers run, the focus changes they cause in that form (a guard that
// focuses another edit) start no further exit or enter handlers; a modal form they open
// is a form of its own, whose handlers work as usual, at any depth. Focus that a window
// or an MDI frame takes, and focus given back when a window is activated again, are no
// moves of the user's: no exit, no enter.
#include <QObject>
#include <QWidget>
#include <functional>

#include "widgets/WidgetsExport.h"

namespace fw {

using TNotifyEvent = std::function<void(QObject* sender)>;

// The enter/exit handlers of one widget. The T controls inherit it, so that
// medCdFilial->OnExit = ... reads as the host's event properties; any other widget
// (a plain panel, a group box) gets one through controlEvents().
struct FW_WIDGETS_EXPORT TControlEvents {
    virtual ~TControlEvents() = default;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
};

// The handlers of w: the control itself when it is a T control, else an entry kept
// for w until it is destroyed.
FW_WIDGETS_EXPORT TControlEvents& controlEvents(QWidget* w);
FW_WIDGETS_EXPORT void setOnEnter(QWidget* w, TNotifyEvent handler);
FW_WIDGETS_EXPORT void setOnExit(QWidget* w, TNotifyEvent handler);

// The widget that has (or, in a form that is not active, last had) the focus in the
// form of w; nullptr when none.
FW_WIDGETS_EXPORT QWidget* focusedControl(QWidget* inWindowOf);

// Moves the focus to `to` as the user would: runs the exit handlers of what loses the
// focus (innermost first), then gives `to` the focus and runs the enter handlers of
// what gains it (outermost first). Returns false when an exit handler refused (the
// focus is back in that control) or `to` cannot take the focus.
FW_WIDGETS_EXPORT bool moveFocus(QWidget* to);

// Gives `to` the focus without running any exit or enter handler, as a form's own code
// does when nothing is being left (a dialog placing its first field, an undo command).
// In a form that is not active, `to` is the control that gets the focus when it is.
FW_WIDGETS_EXPORT void setFocusQuietly(QWidget* to);

// Moves the focus to the next (or previous) control of the window in tab order, through
// moveFocus. Returns whether it moved.
FW_WIDGETS_EXPORT bool focusNextControl(QWidget* from, bool forward = true);

// True while exit or enter handlers of any form are running.
FW_WIDGETS_EXPORT bool focusHandlersRunning();

// Key preview: keys typed anywhere inside form reach `preview` first. Setting key to 0
// consumes it. Used by the routine dialogs (Esc, Enter, F1, Ctrl+D).
using KeyPreview = std::function<void(int& key, Qt::KeyboardModifiers shift)>;
FW_WIDGETS_EXPORT void setKeyPreview(QWidget* form, KeyPreview preview); // empty to remove

// Installs the watcher (done by every T control and form; harmless when repeated).
FW_WIDGETS_EXPORT void ensureFocusWatcher();

} // namespace fw
