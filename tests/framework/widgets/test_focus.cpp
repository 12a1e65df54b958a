// Enter and exit events: the guard that keeps the user in a field.
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "core/host/HostFunctions.h"
#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/ControlEvents.h"
#include "widgets/controls/Edits.h"
#include "widgets/controls/StdCtrls.h"

using namespace fw;

namespace {

struct Screen {
    QWidget window;
    TPanel* panEmpresa;
    TMaskEdit* medCdEmpresa;
    TEdit* edtNome;
    TEdit* edtFora;
    Screen()
    {
        window.setObjectName(QStringLiteral("frmFoco"));
        auto* lay = new QVBoxLayout(&window);
        panEmpresa = new TPanel(&window, QStringLiteral("panEmpresa"));
        auto* inner = new QVBoxLayout(panEmpresa);
        medCdEmpresa = new TMaskEdit(panEmpresa, QStringLiteral("medCdEmpresa"));
        edtNome = new TEdit(panEmpresa, QStringLiteral("edtNome"));
        inner->addWidget(medCdEmpresa);
        inner->addWidget(edtNome);
        edtFora = new TEdit(&window, QStringLiteral("edtFora"));
        lay->addWidget(panEmpresa);
        lay->addWidget(edtFora);
    }
};

class Focus : public wt::UiTest {};

} // namespace

TEST_F(Focus, AnExitThatRefusesKeepsTheFocusInTheControl)
{
    Screen s;
    s.window.show();
    QStringList log;
    s.medCdEmpresa->OnExit = [&](QObject*) {
        log << QStringLiteral("exit");
        if (s.medCdEmpresa->Text().isEmpty())
            MensErro(QStringLiteral("Empresa deve ser informada."), true);
    };
    s.edtFora->OnEnter = [&](QObject*) { log << QStringLiteral("enter fora"); };

    ASSERT_TRUE(moveFocus(s.medCdEmpresa));
    ui.expectMessage(QStringLiteral("Empresa deve ser informada."), mbOK);
    EXPECT_FALSE(moveFocus(s.edtFora));
    EXPECT_EQ(focusedControl(&s.window), s.medCdEmpresa);
    EXPECT_EQ(log, QStringList{QStringLiteral("exit")});

    s.medCdEmpresa->setText(QStringLiteral("01"));
    EXPECT_TRUE(moveFocus(s.edtFora));
    EXPECT_EQ(focusedControl(&s.window), s.edtFora);
    EXPECT_EQ(log, (QStringList{QStringLiteral("exit"), QStringLiteral("exit"), QStringLiteral("enter fora")}));
}

TEST_F(Focus, AContainerIsLeftOnlyWhenTheFocusGoesOutsideIt)
{
    Screen s;
    s.window.show();
    int enters = 0, exits = 0;
    s.panEmpresa->OnEnter = [&](QObject* sender) {
        EXPECT_EQ(sender, s.panEmpresa);
        ++enters;
    };
    s.panEmpresa->OnExit = [&](QObject*) { ++exits; };

    ASSERT_TRUE(moveFocus(s.edtFora));
    EXPECT_TRUE(moveFocus(s.medCdEmpresa));
    EXPECT_EQ(enters, 1);
    EXPECT_TRUE(moveFocus(s.edtNome)); // inside the panel: no exit, no enter
    EXPECT_EQ(enters, 1);
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(moveFocus(s.edtFora));
    EXPECT_EQ(exits, 1);

    // A plain widget gets handlers too.
    int plainExits = 0;
    auto* plain = new QLineEdit(&s.window);
    s.window.layout()->addWidget(plain);
    plain->show();
    setOnExit(plain, [&](QObject*) { ++plainExits; });
    EXPECT_TRUE(moveFocus(plain));
    EXPECT_TRUE(moveFocus(s.edtFora));
    EXPECT_EQ(plainExits, 1);
}

TEST_F(Focus, AContainerExitThatRefusesKeepsTheUserInside)
{
    Screen s;
    s.window.show();
    s.panEmpresa->OnExit = [](QObject*) { throw fw::Abort(); };
    ASSERT_TRUE(moveFocus(s.edtNome));
    EXPECT_FALSE(moveFocus(s.edtFora));
    EXPECT_EQ(focusedControl(&s.window), s.edtNome);
}

TEST_F(Focus, HandlersThatMoveTheFocusOrShowMessagesStartNoFurtherExits)
{
    Screen s;
    s.window.show();
    int exits = 0, nomeExits = 0;
    s.medCdEmpresa->OnExit = [&](QObject*) {
        ++exits;
        // A guard puts the focus somewhere itself and shows a message.
        moveFocus(s.edtNome);
        fw::ui().showMessage(MsgKind::Error, QStringLiteral("Erro"), mbOK);
        throw fw::Abort();
    };
    s.edtNome->OnExit = [&](QObject*) { ++nomeExits; };
    ui.expectMessage(QStringLiteral("Erro"), mbOK);
    ASSERT_TRUE(moveFocus(s.medCdEmpresa));
    EXPECT_FALSE(moveFocus(s.edtFora));
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(nomeExits, 0);
    EXPECT_EQ(focusedControl(&s.window), s.medCdEmpresa);
}

TEST_F(Focus, RealFocusChangesRunTheSameHandlers)
{
    Screen s;
    wt::showActive(&s.window);
    if (!s.window.isActiveWindow())
        GTEST_SKIP() << "the platform gives no active window";
    int exits = 0;
    s.medCdEmpresa->OnExit = [&](QObject*) {
        ++exits;
        throw fw::Abort();
    };
    s.medCdEmpresa->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), s.medCdEmpresa);
    s.edtFora->setFocus(); // as a click would
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(QApplication::focusWidget(), s.medCdEmpresa);

    // The window losing and regaining the activation is no exit and no enter.
    int enters = 0;
    s.medCdEmpresa->OnEnter = [&](QObject*) { ++enters; };
    QWidget other;
    wt::showActive(&other);
    wt::showActive(&s.window);
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(enters, 0);
}

TEST_F(Focus, EnterMovesToTheNextControlThroughTheExitHandlers)
{
    Screen s;
    s.window.show();
    int exits = 0;
    s.medCdEmpresa->OnExit = [&](QObject*) { ++exits; };
    ASSERT_TRUE(moveFocus(s.medCdEmpresa));
    EXPECT_TRUE(focusNextControl(s.medCdEmpresa));
    EXPECT_EQ(focusedControl(&s.window), s.edtNome);
    EXPECT_EQ(exits, 1);
}
