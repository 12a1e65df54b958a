#pragma once
// A recording stand-in for the UI services: messages are recorded and answered with the
// scripted button; anything else the code under test should not do here fails the test.
#include <QList>
#include <gtest/gtest.h>

#include "core/ui/UiServices.h"

struct ShownMessage {
    fw::MsgKind kind;
    QString text;
    int buttons;
    int helpContext;
};

class FakeUi : public fw::UiServices {
public:
    FakeUi() { m_previous = fw::installUiServices(this); }
    ~FakeUi() override { fw::installUiServices(m_previous); }

    QList<ShownMessage> messages;
    int answer = fw::mbOK;

    int showMessage(fw::MsgKind kind, const QString& text, int buttons, int helpContext) override
    {
        messages.append({kind, text, buttons, helpContext});
        return answer;
    }
    bool execModal(QObject*) override { return unexpected("execModal"), false; }
    int pickList(const QString&, fw::DataSet*, const QStringList&) override { return unexpected("pickList"), 0; }
    QList<int> pickMany(const QString&, fw::DataSet*, const QStringList&, const QList<int>&) override
    {
        return unexpected("pickMany"), QList<int>();
    }
    bool search(fw::DataSet*, QObject*) override { return unexpected("search"), false; }
    void showBusy(QObject*, int, const QString&) override { unexpected("showBusy"); }
    void hideBusy() override {}
    bool busyShown() const override { return false; }
    bool openFile(const QString&, const QString&) override { return unexpected("openFile"), false; }
    bool showReport(const QString&, const QString&) override { return unexpected("showReport"), false; }
    void setCursor(int) override {}

private:
    static void unexpected(const char* what) { ADD_FAILURE() << "unexpected UI call: " << what; }
    fw::UiServices* m_previous = nullptr;
};
