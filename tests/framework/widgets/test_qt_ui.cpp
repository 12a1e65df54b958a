// The Qt UI services, driven as Qt's own dialog tests do: once the modal is the active
// modal widget.
#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/StdCtrls.h"
#include "widgets/services/QtUiServices.h"

using namespace fw;

namespace {

// Runs drive(modal) as soon as a modal widget is active; gives up after five seconds.
void whenModal(std::function<void(QWidget*)> drive)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, drive] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (modal)
            drive(modal);
    });
    timer->start();
}

class QtUi : public ::testing::Test {
protected:
    void TearDown() override
    {
        // No window of these services may survive its call.
        for (QWidget* w : QApplication::topLevelWidgets())
            EXPECT_FALSE(w->isVisible() &&
                         (qobject_cast<QDialog*>(w) || w->objectName() == QLatin1String("frmAguarde")))
                << w->metaObject()->className();
    }
    QtUiServices services;
};

QAbstractButton* buttonWithText(QWidget* box, const QString& text)
{
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

TEST_F(QtUi, MessageBoxHasPortugueseButtonsAndReportsThePressedOne)
{
    QStringList texts;
    whenModal([&](QWidget* box) {
        for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
            texts << b->text();
        if (QAbstractButton* no = buttonWithText(box, QStringLiteral("Não")))
            no->click();
    });
    EXPECT_EQ(services.showMessage(MsgKind::Confirmation, QStringLiteral("Confirma?"), mbYes | mbNo), mbNo);
    EXPECT_TRUE(texts.contains(QStringLiteral("Sim")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Não")));

    whenModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_EQ(services.showMessage(MsgKind::Warning, QStringLiteral("Continua?"), mbOK | mbCancel), mbCancel);
}

TEST_F(QtUi, PickListSearchesAsTheUserTypesAndPicksWithEnter)
{
    QObject owner;
    DataSet* ds = wt::makeDataSet(&owner, 6);
    whenModal([](QWidget* dlg) {
        auto* view = dlg->findChild<QTableView*>(QStringLiteral("dbgPesquisa"));
        view->setCurrentIndex(view->model()->index(0, 1)); // the name column
        QTest::keyClicks(view, QStringLiteral("ep")); // "Epsilon", not "Eta"
        QTest::keyClick(view, Qt::Key_Return);
    });
    EXPECT_EQ(services.pickList(QStringLiteral("Cliente"), ds, {QStringLiteral("CODE"), QStringLiteral("NAME")}), 5);
    EXPECT_EQ(ds->recNo(), 5);

    whenModal([](QWidget* dlg) {
        QTest::keyClick(dlg->findChild<QTableView*>(QStringLiteral("dbgPesquisa")), Qt::Key_Escape);
    });
    EXPECT_EQ(services.pickList(QStringLiteral("Cliente"), ds, {}), 0);
    EXPECT_EQ(ds->recNo(), 5);
}

TEST_F(QtUi, MultiplePickKeepsThePreselectionAndToggles)
{
    QObject owner;
    DataSet* ds = wt::makeDataSet(&owner, 6);
    whenModal([](QWidget* dlg) {
        auto* view = dlg->findChild<QTableView*>(QStringLiteral("dbgPesquisa"));
        view->setCurrentIndex(view->model()->index(1, 0));
        QTest::keyClick(view, Qt::Key_Space); // unchecks row 2
        view->setCurrentIndex(view->model()->index(3, 0));
        QTest::keyClick(view, Qt::Key_Space); // checks row 4
        QTest::keyClick(view, Qt::Key_Return);
    });
    EXPECT_EQ(services.pickMany(QStringLiteral("Lista"), ds, {}, {2, 6}), (QList<int>{4, 6}));
}

TEST_F(QtUi, SearchDialogLocatesIgnoringCase)
{
    QObject owner;
    DataSet* ds = wt::makeDataSet(&owner, 6);
    whenModal([](QWidget* dlg) {
        auto* field = dlg->findChild<QComboBox*>(QStringLiteral("cbbCampo"));
        field->setCurrentIndex(field->findData(QStringLiteral("NAME")));
        dlg->findChild<QLineEdit*>(QStringLiteral("edtValor"))->setText(QStringLiteral("DEL"));
        static_cast<QDialog*>(dlg)->accept();
    });
    EXPECT_TRUE(services.search(ds, nullptr));
    EXPECT_EQ(ds->fieldByName(QStringLiteral("NAME"))->asString(), QStringLiteral("Delta"));
}

TEST_F(QtUi, BusyWindowShowsOverTheOwnerAndHidesOnce)
{
    QWidget form;
    form.resize(400, 300);
    form.show();
    services.showBusy(&form, 1, QStringLiteral("Transmitindo..."));
    EXPECT_TRUE(services.busyShown());
    EXPECT_EQ(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor,
              Qt::WaitCursor);
    services.showBusy(&form, 1, QStringLiteral("Ainda..."));
    services.hideBusy();
    services.hideBusy();
    EXPECT_FALSE(services.busyShown());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    services.setCursor(-11);
    services.setCursor(-11);
    services.setCursor(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QtUi, AModalFormIsWorkedWithTheNormalCursorAndTheHourGlassComesBackAfter)
{
    services.setCursor(-11);
    QDialog dialog;
    Qt::CursorShape during = Qt::WaitCursor;
    whenModal([&during](QWidget* modal) {
        during = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
        static_cast<QDialog*>(modal)->reject();
    });
    EXPECT_FALSE(services.execModal(&dialog));
    EXPECT_EQ(during, Qt::ArrowCursor);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.setCursor(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QtUi, QtsOwnDialogsSpeakPortugueseAndCommandsHavePictures)
{
    ASSERT_TRUE(installHostLook(qApp)) << "Qt's Portuguese translation is not installed (qt6-translations-l10n)";
    EXPECT_NE(QCoreApplication::translate("QPrintPreviewDialog", "Zoom in"), QStringLiteral("Zoom in"));
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));

    TSpeedButton save(nullptr, QStringLiteral("sbtGravar"), QStringLiteral("Gravar"));
    save.setText(QStringLiteral("Gravar"));
    save.setGlyph(QStringLiteral("document-save"));
    EXPECT_FALSE(save.icon().isNull()) << "no icon theme (tango-icon-theme)";
    EXPECT_EQ(save.toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_EQ(save.toolTip(), QStringLiteral("Gravar"));
    TSpeedButton odd(nullptr, QStringLiteral("sbtOutro"), QStringLiteral("Outro"));
    odd.setText(QStringLiteral("Outro"));
    odd.setToolButtonStyle(Qt::ToolButtonTextOnly);
    odd.setGlyph(QStringLiteral("no-such-icon-anywhere"));
    EXPECT_EQ(odd.toolButtonStyle(), Qt::ToolButtonTextOnly) << "a button without a picture keeps its text";
}
