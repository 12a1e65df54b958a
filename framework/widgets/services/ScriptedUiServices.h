#pragma once
// The scripted user interface, for tests and automation: the recording core (messages,
// picks, searches, busy indicator, files, prints, cursor; see core/ui/RecordingUiServices.h)
// plus modal forms, which it never shows modally.
//
//   fw::ScriptedUiServices ui;
//   fw::ScriptedUiServices::Install installed(ui);      // restores the previous on exit
//   ui.expectMessage("Empresa não cadastrada.", fw::mbOK);
//   ui.expectModal([](QWidget* form) {                  // the filter dialog's showing
//       auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
//       dlg->findChild<fw::TMaskEdit*>("medCdFilial")->setText("0001");
//       dlg->sbtConfirmaClick();                        // normally closes it
//   });
//   ui.expectPick(3);                                   // the next pick list takes row 3
//   ... drive the screen ...
//   EXPECT_TRUE(ui.unexpected().isEmpty()) << ui.report();
//
// Modal forms: execModal takes the next queued script, shows the form non-modally
// (FormShow runs), activates it, runs the script, hides the form if still visible, gives
// the activation back to the window that had it (FormActivate of the screen runs as on
// the return from a real modal) and returns whether the QDialog result is Accepted. With
// no script queued the showing is recorded as unexpected and returns false without showing.
// Previews and prints lay the document out on an in-memory PDF, so the record says how
// many pages it has ("preview|title|pages").
#include <QWidget>
#include <deque>
#include <functional>

#include "core/ui/RecordingUiServices.h"
#include "widgets/WidgetsExport.h"

namespace fw {

class FW_WIDGETS_EXPORT ScriptedUiServices : public RecordingUiServices {
public:
    using ModalScript = std::function<void(QWidget* form)>;

    ScriptedUiServices();
    ~ScriptedUiServices() override;

    void expectModal(ModalScript script);

    int pendingExpectations() const override;
    void clear() override;
    bool execModal(QObject* form) override;
    // Lays the document out on an in-memory PDF and records its pages; no dialog shows.
    bool printPreview(const QString& title, const PageRenderer& render) override;
    bool printDocument(const QString& title, const PageRenderer& render) override;

private:
    std::deque<ModalScript> m_modalScripts;
    int m_modalDepth = 0;
};

} // namespace fw
