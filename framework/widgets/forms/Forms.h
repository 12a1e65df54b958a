#pragma once
// What the base forms share: the close action and the creation through the
// application (the host's CreateForm).
#include <QWidget>

#include "core/errors/Dispatch.h"
#include "widgets/forms/FormHost.h"

namespace fw {

// What becomes of a form when it closes (FormClose may change it).
enum class TCloseAction { caNone, caHide, caFree, caMinimize };

// Constructs T owned by owner (by default the host's main window, see FormHost.h) and
// runs its creation handler (FormCreate) through fw::dispatch, as the application's
// CreateForm does: an error in FormCreate is shown and absorbed, the form exists all
// the same. T is TfrmPadrao, TfrmRotiGeral or a class derived from them.
template <class T>
T* createForm(QWidget* owner = formOwner())
{
    T* form = new T(owner);
    form->DoCreate();
    return form;
}

} // namespace fw
