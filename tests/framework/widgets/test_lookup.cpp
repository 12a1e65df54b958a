// The lookup button, the list pick and the search.
#include <QVBoxLayout>

#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/controls/Edits.h"
#include "widgets/controls/TBtnPesquisa.h"
#include "widgets/services/HostUi.h"

using namespace fw;

namespace {

class Lookup : public wt::UiTest {
protected:
    void SetUp() override
    {
        window.setObjectName(QStringLiteral("frmLookup"));
        auto* lay = new QVBoxLayout(&window);
        medCliente = new TMaskEdit(&window, QStringLiteral("medCliente"));
        edtOutro = new TEdit(&window, QStringLiteral("edtOutro"));
        btp = new TBtnPesquisa(&window, QStringLiteral("btpCliente"));
        lay->addWidget(medCliente);
        lay->addWidget(edtOutro);
        lay->addWidget(btp);
        ds = wt::makeDataSet(&window);
        dts = new TDataSource(&window);
        dts->setDataSet(ds);
        btp->Title = QStringLiteral("Cliente");
        btp->EmptyError = QStringLiteral("Não há cliente cadastrado.");
        btp->setDataSource(dts);
        btp->setAssociate(medCliente);
        window.show();
    }
    QWidget window;
    TMaskEdit* medCliente;
    TEdit* edtOutro;
    TBtnPesquisa* btp;
    DataSet* ds;
    TDataSource* dts;
};

} // namespace

TEST_F(Lookup, PickRunsTheAfterEventOnThePickedRowAndFocusesTheAssociate)
{
    QStringList order;
    btp->OnBeforePesq = [&](QObject* sender, bool&) {
        EXPECT_EQ(sender, btp);
        order << QStringLiteral("before");
    };
    btp->OnAfterPesq = [&](QObject*) {
        order << QStringLiteral("after");
        medCliente->setText(ds->fieldByName(QStringLiteral("CODE"))->asString());
    };
    ui.expectPick(3);
    moveFocus(edtOutro);
    btp->click(); // the user's click, through the dispatcher
    EXPECT_EQ(order, (QStringList{QStringLiteral("before"), QStringLiteral("after")}));
    EXPECT_EQ(ds->recNo(), 3);
    EXPECT_EQ(medCliente->Text(), QStringLiteral("C003"));
    EXPECT_EQ(focusedControl(&window), medCliente);
    ASSERT_EQ(ui.picks().size(), 1);
    EXPECT_EQ(ui.picks()[0].title, QStringLiteral("Cliente"));
    // Visible fields only: KIND is hidden.
    EXPECT_EQ(ui.picks()[0].fields, (QStringList{QStringLiteral("CODE"), QStringLiteral("NAME")}));
}

TEST_F(Lookup, EmptyListShowsTheButtonsTextAndStops)
{
    bool after = false;
    btp->OnAfterPesq = [&](QObject*) { after = true; };
    btp->OnBeforePesq = [&](QObject*, bool&) { ds->close(); }; // the query found nothing
    ui.expectMessage(QStringLiteral("Não há cliente cadastrado."), mbOK);
    EXPECT_THROW(btp->Pesquisa(), fw::Abort);
    EXPECT_FALSE(after);
    EXPECT_TRUE(ui.picks().isEmpty());

    // Through a click the abort ends quietly.
    ui.expectMessage(QStringLiteral("Não há cliente cadastrado."), mbOK);
    EXPECT_NO_THROW(btp->click());
    EXPECT_EQ(ui.messages().size(), 2);
}

TEST_F(Lookup, CancelledPickOrBeforeEventCancelRunNoAfterEvent)
{
    int after = 0;
    btp->OnAfterPesq = [&](QObject*) { ++after; };
    ui.expectPick(0);
    ds->setRecNo(2);
    moveFocus(edtOutro);
    EXPECT_FALSE(btp->Pesquisa());
    EXPECT_EQ(after, 0);
    EXPECT_EQ(ds->recNo(), 2);
    EXPECT_EQ(focusedControl(&window), medCliente);

    btp->OnBeforePesq = [](QObject*, bool& cancel) { cancel = true; };
    EXPECT_FALSE(btp->Pesquisa());
    EXPECT_TRUE(ui.picks().size() == 1);
}

TEST_F(Lookup, AClickHandlerOfTheScreenReplacesTheLookup)
{
    int clicks = 0;
    btp->OnClick = [&](QObject*) { ++clicks; };
    btp->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(ui.picks().isEmpty());
}

TEST_F(Lookup, PesquisaListaSinglePickGivesTheKey)
{
    QString selection = QStringLiteral("D004");
    ui.expectPick([](DataSet* d) {
        EXPECT_EQ(d->recNo(), 4); // starts on the row already chosen
        return 2;
    });
    EXPECT_TRUE(PesquisaLista(dts, QStringLiteral("CODE"), QStringLiteral("Tipo de Operação"), true, selection));
    EXPECT_EQ(selection, QStringLiteral("B002"));
    EXPECT_EQ(ds->recNo(), 2);

    ui.expectPick(0);
    EXPECT_FALSE(PesquisaLista(dts, QStringLiteral("CODE"), QString(), true, selection));
    EXPECT_EQ(selection, QStringLiteral("B002"));
}

TEST_F(Lookup, PesquisaListaMultiplePickPreselectsAndJoinsKeys)
{
    QString selection = QStringLiteral("E005;B002;X999");
    QList<int> seen;
    ui.expectPickMany([&](DataSet*, const QList<int>& pre) {
        seen = pre;
        return QList<int>{4, 1, 4};
    });
    EXPECT_TRUE(PesquisaLista(dts, QStringLiteral("CODE"), QStringLiteral("Lista"), false, selection));
    EXPECT_EQ(seen, (QList<int>{2, 5}));
    EXPECT_EQ(selection, QStringLiteral("A001;D004"));
    EXPECT_EQ(ds->recNo(), 1);

    ui.expectPickMany(QList<int>{});
    EXPECT_FALSE(PesquisaLista(dts, QStringLiteral("CODE"), QStringLiteral("Lista"), false, selection));
    EXPECT_EQ(selection, QStringLiteral("A001;D004"));

    // A closed list asks nothing.
    ds->close();
    EXPECT_FALSE(PesquisaLista(dts, QStringLiteral("CODE"), QStringLiteral("Lista"), false, selection));
}

TEST_F(Lookup, ProcuraPositionsTheFoundRow)
{
    ui.expectSearch(QStringLiteral("NAME"), QStringLiteral("gam"));
    EXPECT_TRUE(Procura(ds));
    EXPECT_EQ(ds->fieldByName(QStringLiteral("NAME"))->asString(), QStringLiteral("Gama"));
    ui.expectSearch(QStringLiteral("NAME"), QStringLiteral("ômega"));
    EXPECT_FALSE(Procura(ds));
    ds->close();
    EXPECT_FALSE(Procura(ds));
    EXPECT_FALSE(Procura(nullptr));
}
