// Edits, mask edits, date edits and the event rules of the standard controls.
#include <QSignalSpy>
#include <QTest>

#include "core/errors/Errors.h"
#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/Edits.h"
#include "widgets/controls/StdCtrls.h"

using namespace fw;

namespace {
class Edits : public wt::UiTest {};
} // namespace

TEST_F(Edits, BranchMaskUpperCasesAndKeepsFourCharacters)
{
    TMaskEdit e(nullptr, QStringLiteral("medCdFilial"));
    e.setEditMask(QStringLiteral(">aaaa;0; "));
    e.setText(QStringLiteral("ab1"));
    EXPECT_EQ(e.Text(), QStringLiteral("AB1"));
    EXPECT_EQ(e.text(), QStringLiteral("AB1"));

    e.setText(QString());
    e.setCursorPosition(0);
    QTest::keyClicks(&e, QStringLiteral("x9y8z"));
    EXPECT_EQ(e.Text(), QStringLiteral("X9Y8"));
}

TEST_F(Edits, TwoDigitMaskStoresWithoutTrailingBlanks)
{
    TMaskEdit e;
    e.setEditMask(QStringLiteral("99;0; "));
    e.setText(QStringLiteral("5"));
    EXPECT_EQ(e.Text(), QStringLiteral("5"));
    EXPECT_EQ(e.EditText(), QStringLiteral("5 "));
    e.setText(QString());
    EXPECT_EQ(e.Text(), QString());
    e.setCursorPosition(0);
    QTest::keyClicks(&e, QStringLiteral("1a23"));
    EXPECT_EQ(e.Text(), QStringLiteral("12"));
}

TEST_F(Edits, CnpjAndCpfMasksShowLiteralsButStoreDigits)
{
    TMaskEdit e;
    e.setEditMask(QStringLiteral("99.999.999/9999-99;0;_"));
    e.setText(QStringLiteral("12345678000195"));
    EXPECT_EQ(e.EditText(), QStringLiteral("12.345.678/0001-95"));
    EXPECT_EQ(e.Text(), QStringLiteral("12345678000195"));

    e.setText(QStringLiteral("123"));
    EXPECT_EQ(e.EditText(), QStringLiteral("12.3__.___/____-__"));
    EXPECT_EQ(e.Text(), QStringLiteral("123"));

    e.setEditMask(QStringLiteral("999.999.999-99;0;_"));
    e.setText(QStringLiteral("12345678909"));
    EXPECT_EQ(e.EditText(), QStringLiteral("123.456.789-09"));
    EXPECT_EQ(e.Text(), QStringLiteral("12345678909"));

    // A mask that keeps its literals stores them.
    e.setEditMask(QStringLiteral("99/99;1;_"));
    e.setText(QStringLiteral("12/34"));
    EXPECT_EQ(e.Text(), QStringLiteral("12/34"));
}

TEST_F(Edits, ChangingTheMaskKeepsTheStoredTextAndRaisesNoChange)
{
    TMaskEdit e;
    e.setMaxLength(20);
    int changes = 0;
    e.OnChange = [&](QObject*) { ++changes; };
    e.setText(QStringLiteral("12345678000195"));
    EXPECT_EQ(changes, 1);
    e.setEditMask(QStringLiteral("99.999.999/9999-99;0;_"));
    EXPECT_EQ(e.EditText(), QStringLiteral("12.345.678/0001-95"));
    e.setEditMask(QString()); // back to the bare number, as on entering the edit
    EXPECT_EQ(e.Text(), QStringLiteral("12345678000195"));
    EXPECT_EQ(e.EditText(), QStringLiteral("12345678000195"));
    EXPECT_EQ(changes, 0 + 1);
    // Without a mask the maximum length holds again for typing; a text the code assigns
    // shows whole ("Todos" in a four-character edit).
    e.setText(QString());
    e.setCursorPosition(0);
    QTest::keyClicks(&e, QStringLiteral("123456789012345678901234"));
    EXPECT_EQ(e.Text().size(), 20);
    e.setText(QStringLiteral("123456789012345678901234"));
    EXPECT_EQ(e.Text().size(), 24);
    TMaskEdit todos;
    todos.setMaxLength(4);
    todos.setText(QStringLiteral("Todos"));
    EXPECT_EQ(todos.Text(), QStringLiteral("Todos"));
}

TEST_F(Edits, ChangeRunsOnlyWhenTheTextReallyChanges)
{
    TMaskEdit e;
    e.setEditMask(QStringLiteral("99;0; "));
    QStringList seen;
    e.OnChange = [&](QObject* s) { seen << static_cast<TMaskEdit*>(s)->Text(); };

    e.setText(QStringLiteral("01"));
    e.setText(QStringLiteral("01")); // same text: nothing
    e.setText(QStringLiteral("01 ")); // same stored text: nothing
    EXPECT_EQ(seen, QStringList{QStringLiteral("01")});

    e.setFocus();
    e.setCursorPosition(0);
    e.setSelection(0, 2);
    QTest::keyClicks(&e, QStringLiteral("7"));
    EXPECT_EQ(seen.last(), QStringLiteral("7"));

    // Suspended handler: no call, and the next real change is still detected.
    auto saved = e.OnChange;
    e.OnChange = nullptr;
    e.setText(QStringLiteral("33"));
    e.OnChange = saved;
    const int before = int(seen.size());
    e.setText(QStringLiteral("33"));
    EXPECT_EQ(seen.size(), before);
    e.setText(QString());
    EXPECT_EQ(seen.last(), QString());
}

TEST_F(Edits, AnExceptionOfAChangeSetByCodeReachesTheCaller)
{
    TEdit e;
    e.OnChange = [](QObject*) { throw fw::Abort(); };
    EXPECT_THROW(e.setText(QStringLiteral("x")), fw::Abort);
    // Typed: the dispatcher ends it quietly, the text stays.
    EXPECT_NO_THROW(QTest::keyClicks(&e, QStringLiteral("y")));
    EXPECT_EQ(e.Text(), QStringLiteral("xy"));
}

TEST_F(Edits, UpperCaseEditConvertsTypedAndAssignedText)
{
    TEdit e(nullptr, QStringLiteral("edtCdSerie"));
    e.setCharCase(TEditCharCase::Upper);
    e.setMaxLength(5);
    e.setText(QStringLiteral("ab"));
    QTest::keyClicks(&e, QStringLiteral("cdefg"));
    EXPECT_EQ(e.Text(), QStringLiteral("ABCDE"));
}

TEST_F(Edits, DateEditReadsWritesAndRefusesInvalidDates)
{
    TDateEditPlus d(nullptr, QStringLiteral("depSaidIni"));
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_TRUE(d.GetDate().isNull());
    EXPECT_EQ(d.Text(), QString());
    EXPECT_NO_THROW(d.CheckValidDate()); // empty is allowed

    d.SetDate(QDate(2026, 3, 15));
    EXPECT_EQ(d.EditText(), QStringLiteral("15/03/2026"));
    EXPECT_EQ(d.GetDate(), QDate(2026, 3, 15));
    EXPECT_NO_THROW(d.CheckValidDate());

    d.SetDate(QDate());
    EXPECT_TRUE(d.IsEmpty());

    ui.expectMessage(QStringLiteral("Data inválida."), mbOK);
    d.setText(QStringLiteral("31/02/2026"));
    EXPECT_TRUE(d.GetDate().isNull());
    EXPECT_THROW(d.CheckValidDate(), fw::Abort);
    EXPECT_EQ(ui.messages().last().kind, MsgKind::Error);

    ui.expectMessage(QStringLiteral("Data inválida."), mbOK);
    d.setText(QStringLiteral("12/03/26"));
    EXPECT_THROW(d.CheckValidDate(), fw::Abort);
}

TEST_F(Edits, ComboRadioAndCheckBoxFollowTheHostsHandlerRules)
{
    QWidget w;
    TComboBox cbb(&w, QStringLiteral("cbbIdOperacao"));
    cbb.setItems({QStringLiteral("Saída"), QStringLiteral("Entrada")});
    int comboChanges = 0;
    cbb.OnChange = [&](QObject*) { ++comboChanges; };
    cbb.setItemIndex(1);
    EXPECT_EQ(cbb.ItemIndex(), 1);
    EXPECT_EQ(comboChanges, 0); // by code: no handler
    emit cbb.activated(0); // what a user's choice raises
    EXPECT_EQ(comboChanges, 1);

    TRadioButton todos(&w, QStringLiteral("rdgTodosTipoOper"), QStringLiteral("Todos"));
    TRadioButton lista(&w, QStringLiteral("rdgListaTipoOper"), QStringLiteral("Lista"));
    QStringList clicks;
    todos.OnClick = [&](QObject*) { clicks << QStringLiteral("todos"); };
    lista.OnClick = [&](QObject*) { clicks << QStringLiteral("lista"); };
    todos.setChecked(true);
    lista.setChecked(true); // unchecks todos, which hears no click
    EXPECT_FALSE(todos.Checked());
    lista.setChecked(true); // already checked: nothing
    lista.setChecked(false); // allowed even as the checked one of the group
    EXPECT_FALSE(lista.Checked());
    EXPECT_EQ(clicks, (QStringList{QStringLiteral("todos"), QStringLiteral("lista")}));
    lista.click(); // the user
    EXPECT_EQ(clicks.last(), QStringLiteral("lista"));
    EXPECT_EQ(clicks.size(), 3);

    TCheckBox chb(&w, QStringLiteral("chbEmisNormal"), QStringLiteral("Normal"));
    int checks = 0;
    chb.OnClick = [&](QObject*) { ++checks; };
    chb.setChecked(true);
    chb.setChecked(true);
    chb.setChecked(false);
    EXPECT_EQ(checks, 2);
}

TEST_F(Edits, NotebookPagesByNameAndIndex)
{
    TNotebook nbk(nullptr, QStringLiteral("nbkCliente"));
    for (const char* p : {"Cliente", "Fornecedor", "Filial", "Todos"})
        nbk.addPage(QString::fromLatin1(p));
    nbk.setPageIndex(3);
    EXPECT_EQ(nbk.ActivePage(), QStringLiteral("Todos"));
    nbk.setActivePage(QStringLiteral("Fornecedor"));
    EXPECT_EQ(nbk.PageIndex(), 1);
    nbk.setPageIndex(7); // out of range: ignored
    EXPECT_EQ(nbk.PageIndex(), 1);
}

// A user who clicks into an empty masked edit, or tabs into it, types from its start: the
// cursor never waits past the blanks, where nothing can be typed.
TEST_F(Edits, TypingIntoAnEmptyMaskedEditStartsAtItsFirstFreePosition)
{
    QWidget window;
    auto* before = new TEdit(&window, QStringLiteral("edtAntes"));
    auto* branch = new TMaskEdit(&window, QStringLiteral("medCdFilial"));
    auto* cnpj = new TMaskEdit(&window, QStringLiteral("medCnpj"));
    branch->setEditMask(QStringLiteral(">aaaa;0; "));
    cnpj->setEditMask(QStringLiteral("99.999.999/9999-99;0;_"));
    before->setGeometry(0, 0, 100, 24);
    branch->setGeometry(0, 30, 200, 24);
    cnpj->setGeometry(0, 60, 300, 24);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // Clicked far to the right of the blanks.
    QTest::mouseClick(branch, Qt::LeftButton, {}, QPoint(190, 12));
    EXPECT_EQ(branch->cursorPosition(), 0);
    QTest::keyClicks(branch, QStringLiteral("1"));
    EXPECT_EQ(branch->Text(), QStringLiteral("1"));

    // Reached with the keyboard.
    before->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_TRUE(branch->hasFocus());
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_TRUE(cnpj->hasFocus());
    EXPECT_EQ(cnpj->cursorPosition(), 0);
    QTest::keyClicks(cnpj, QStringLiteral("12345678000195"));
    EXPECT_EQ(cnpj->Text(), QStringLiteral("12345678000195"));

    // A filled edit keeps the platform's own behaviour on a click: the cursor where clicked.
    QTest::mouseClick(cnpj, Qt::LeftButton, {}, QPoint(5, 12));
    EXPECT_LE(cnpj->cursorPosition(), 1);
}
