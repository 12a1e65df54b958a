// The scripted UI services: what tests and automation rely on to drive screens.
#include <QDialog>
#include <QLineEdit>
#include <stdexcept>

#include "core/errors/Dispatch.h"
#include "core/host/HostFunctions.h"
#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/forms/TfrmRotiGeral.h"
#include "widgets/services/HostUi.h"

using namespace fw;

namespace {

class Dialog : public TfrmRotiGeral {
public:
    using TfrmRotiGeral::TfrmRotiGeral;
    int shows = 0, closes = 0;
    void FormShow(QObject* s) override
    {
        TfrmRotiGeral::FormShow(s);
        ++shows;
    }
    void FormClose(QObject* s, TCloseAction& a) override
    {
        TfrmRotiGeral::FormClose(s, a);
        ++closes;
    }
    void sbtConfirmaClick(QObject*) override { setModalResult(QDialog::Accepted); }
};

} // namespace

TEST(ScriptedUi, MessagesAreRecordedInOrderAndAnsweredFromTheQueue)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    ui.expectMessage(QStringLiteral("Confirma?"), mbYes);
    ui.expectMessage(QString(), mbNo); // any text

    EXPECT_EQ(fw::ui().showMessage(MsgKind::Confirmation, QStringLiteral("Confirma?"), mbYes | mbNo), mbYes);
    EXPECT_EQ(fw::ui().showMessage(MsgKind::Warning, QStringLiteral("Outra"), mbYes | mbNo), mbNo);
    ASSERT_EQ(ui.messages().size(), 2);
    EXPECT_EQ(ui.messages()[0].kind, MsgKind::Confirmation);
    EXPECT_EQ(ui.messages()[0].buttons, mbYes | mbNo);
    EXPECT_EQ(ui.messageTexts(), (QStringList{QStringLiteral("Confirma?"), QStringLiteral("Outra")}));
    EXPECT_TRUE(ui.unexpected().isEmpty());
    EXPECT_EQ(ui.pendingExpectations(), 0);
}

TEST(ScriptedUi, AMessageNobodyExpectedIsCaughtAndAnsweredSafely)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    ui.expectMessage(QStringLiteral("Esperada"), mbOK);

    // Not the head of the queue: unexpected, and the expectation stays pending.
    EXPECT_EQ(fw::ui().showMessage(MsgKind::Confirmation, QStringLiteral("Apaga tudo?"), mbYes | mbNo), mbNo);
    EXPECT_EQ(fw::ui().showMessage(MsgKind::Error, QStringLiteral("Falhou"), mbOK | mbCancel), mbOK);
    EXPECT_EQ(fw::ui().showMessage(MsgKind::Warning, QStringLiteral("Pare"), mbRetry | mbCancel), mbCancel);
    ASSERT_EQ(ui.unexpected().size(), 3);
    EXPECT_EQ(ui.unexpected()[0].text, QStringLiteral("Apaga tudo?"));
    EXPECT_TRUE(ui.hasUnexpected());
    EXPECT_EQ(ui.pendingExpectations(), 1);
    EXPECT_TRUE(ui.report().contains(QStringLiteral("NOT EXPECTED")));
}

TEST(ScriptedUi, MensErroShowsTheErrorAndAbortsOnlyWhenAsked)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    ui.expectMessage(QStringLiteral("Empresa não cadastrada."), mbOK);
    ui.expectMessage(QStringLiteral("Só aviso."), mbOK);
    EXPECT_THROW(MensErro(QStringLiteral("Empresa não cadastrada."), true), fw::Abort);
    EXPECT_NO_THROW(MensErro(QStringLiteral("Só aviso."), false));
    EXPECT_EQ(ui.messages()[0].kind, MsgKind::Error);
    EXPECT_FALSE(ui.hasUnexpected());
}

TEST(ScriptedUi, InstallRestoresThePreviousServices)
{
    ScriptedUiServices outer, inner;
    ScriptedUiServices::Install a(outer);
    {
        ScriptedUiServices::Install b(inner);
        EXPECT_EQ(&fw::ui(), &inner);
    }
    EXPECT_EQ(&fw::ui(), &outer);
}

TEST(ScriptedUi, ModalScriptDrivesTheFormAndReportsItsResult)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    auto* dlg = createForm<Dialog>(nullptr);
    dlg->setObjectName(QStringLiteral("frmTeste"));
    auto* edit = new QLineEdit(dlg->grbDadosRel);
    edit->setObjectName(QStringLiteral("edtValor"));

    bool sawVisible = false;
    ui.expectModal([&](QWidget* form) {
        sawVisible = form->isVisible();
        form->findChild<QLineEdit*>(QStringLiteral("edtValor"))->setText(QStringLiteral("x"));
        QMetaObject::invokeMethod(form, "sbtConfirmaClick"); // by name, as automation does
    });
    EXPECT_TRUE(fw::ui().execModal(dlg));
    EXPECT_TRUE(sawVisible);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->shows, 1);
    EXPECT_EQ(dlg->closes, 1);
    EXPECT_EQ(edit->text(), QStringLiteral("x"));

    // A script that leaves the form open: hidden afterwards, not accepted.
    ui.expectModal([](QWidget*) {});
    EXPECT_FALSE(fw::ui().execModal(dlg));
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->shows, 2);
    EXPECT_EQ(ui.modalForms(), (QStringList{QStringLiteral("frmTeste"), QStringLiteral("frmTeste")}));

    // A script that throws: recorded, the form hidden, the call returns.
    ui.expectModal([](QWidget*) { throw std::runtime_error("boom"); });
    EXPECT_FALSE(fw::ui().execModal(dlg));
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(ui.scriptErrors(), QStringList{QStringLiteral("boom")});
    EXPECT_FALSE(ui.hasUnexpected());

    // No script: never shown, reported.
    EXPECT_FALSE(fw::ui().execModal(dlg));
    EXPECT_EQ(dlg->shows, 3);
    EXPECT_TRUE(ui.hasUnexpected());
    delete dlg;
}

TEST(ScriptedUi, PickAnswersPositionTheDataSet)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    QObject owner;
    DataSet* ds = wt::makeDataSet(&owner);

    ui.expectPick(3);
    ui.expectPick([](DataSet* d) {
        d->locate(QStringLiteral("NAME"), QStringLiteral("Delta"));
        return d->recNo();
    });
    ui.expectPick(0);
    ui.expectPick(99); // beyond the rows: taken as a cancel

    EXPECT_EQ(fw::ui().pickList(QStringLiteral("Lista"), ds, {QStringLiteral("CODE")}), 3);
    EXPECT_EQ(ds->recNo(), 3);
    EXPECT_EQ(fw::ui().pickList(QStringLiteral("Lista"), ds, {}), 4);
    EXPECT_EQ(ds->fieldByName(QStringLiteral("NAME"))->asString(), QStringLiteral("Delta"));
    EXPECT_EQ(fw::ui().pickList(QStringLiteral("Lista"), ds, {}), 0);
    EXPECT_EQ(fw::ui().pickList(QStringLiteral("Lista"), ds, {}), 0);
    EXPECT_EQ(ds->recNo(), 4);
    ASSERT_EQ(ui.picks().size(), 4);
    EXPECT_EQ(ui.picks()[0].dataSet, QStringLiteral("cdsTeste"));
    EXPECT_EQ(ui.picks()[0].fields, QStringList{QStringLiteral("CODE")});

    // Nothing queued: cancelled and reported.
    EXPECT_EQ(fw::ui().pickList(QStringLiteral("Lista"), ds, {}), 0);
    EXPECT_TRUE(ui.hasUnexpected());
}

TEST(ScriptedUi, BusyIndicatorFilesAndCursorAreRecorded)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    QWidget form;
    form.setObjectName(QStringLiteral("frmTela"));

    ActiveShowAvi(&form, 6, QStringLiteral("Transmitindo..."));
    EXPECT_TRUE(ui.busyShown());
    DeactiveShowAvi();
    DeactiveShowAvi(); // twice: harmless
    EXPECT_FALSE(ui.busyShown());
    EXPECT_EQ(ui.busyShowCount(), 1);
    ASSERT_GE(ui.busyEvents().size(), 2);
    EXPECT_EQ(ui.busyEvents()[0].owner, QStringLiteral("frmTela"));
    EXPECT_EQ(ui.busyEvents()[0].kind, 6);
    EXPECT_EQ(ui.busyEvents()[0].text, QStringLiteral("Transmitindo..."));
    EXPECT_FALSE(ui.busyEvents()[1].show);

    fw::ui().openFile(QStringLiteral("notepad.exe"), QStringLiteral("123.txt"));
    fw::ui().showReport(QStringLiteral("CC-e"), QStringLiteral("/tmp/cce.pdf"));
    fw::ui().setCursor(-11);
    fw::ui().setCursor(0);
    EXPECT_EQ(ui.openedFiles(), QStringList{QStringLiteral("notepad.exe|123.txt")});
    EXPECT_EQ(ui.reports(), QStringList{QStringLiteral("CC-e|/tmp/cce.pdf")});
    EXPECT_EQ(ui.cursors(), (QList<int>{-11, 0}));
    EXPECT_FALSE(ui.hasUnexpected());
}

TEST(ScriptedUi, DispatchReportsAFailureOnceAndSwallowsTheSilentAbort)
{
    ScriptedUiServices ui;
    ScriptedUiServices::Install installed(ui);
    ui.expectMessage(QStringLiteral("Falha do servidor"), mbOK);
    EXPECT_FALSE(fw::dispatch([] { throw fw::Error(QStringLiteral("Falha do servidor")); }));
    EXPECT_FALSE(fw::dispatch([] { throw fw::Abort(); }));
    EXPECT_EQ(ui.messages().size(), 1);
    EXPECT_FALSE(ui.hasUnexpected());
}
