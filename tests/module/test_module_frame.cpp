// The module's frame: loading and entry, the single screen, the preset, the unit table.
#include <QAction>
#include <QApplication>
#include <QLibrary>
#include <QPointer>
#include <algorithm>

#include "core/values/Value.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "module/Cli_dfs59300.h"
#include "module/Pkg_dfs59000.h"
#include "tests/module/ModuleFixture.h"

using namespace cce_test;

namespace {

QString libraryPath() { return QString::fromLocal8Bit(qgetenv("CCE_BIN_DIR")) + QStringLiteral("/libPKG_DFS59000.so"); }

QVariant presetNotToApply(const QString& tag)
{
    QVariantList preset;
    preset << false;
    for (int i = 1; i < 32; ++i)
        preset << QVariant();
    preset[28] = tag;
    return preset;
}

class FrameTest : public ModuleFixture {};

} // namespace

TEST_F(FrameTest, HostFindsIniProcByPlainNameAndOpensOneScreen)
{
    QLibrary lib(libraryPath());
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    using IniProcFn = void (*)(const QVariant&);
    auto iniProc = reinterpret_cast<IniProcFn>(lib.resolve("IniProc"));
    ASSERT_NE(iniProc, nullptr);

    ASSERT_FALSE(boStCriado);
    iniProc(fw::nullValue());
    ASSERT_TRUE(boStCriado);
    QPointer<TfrmTransmissaoCCe> first = frmTransmissaoCCe;
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Carta de Correção Eletrônica"));
    EXPECT_EQ(first->CodTela(), QStringLiteral("DFS59000"));
    // The host's company is in the code, its name beside it, the code has the focus.
    EXPECT_EQ(first->medCdEmpresa->text(), QStringLiteral("01"));
    EXPECT_EQ(first->edtNmEmpresa->text(), QStringLiteral("Comércio Um Ltda"));
    EXPECT_EQ(first->focusWidget(), first->medCdEmpresa);
    EXPECT_EQ(first->pgcPadrao->ActivePage(), first->tshFolhaDados);
    // Both connections were opened with the host's server.
    EXPECT_TRUE(first->netTransmissao->isConnected());
    EXPECT_TRUE(first->netDocFiscSaid->isConnected());
    EXPECT_EQ(first->netTransmissao->host(), QStringLiteral("servidor.local"));
    EXPECT_EQ(first->netDocFiscSaid->port(), 8123);
    EXPECT_EQ(first->netTransmissao->serverName(), QStringLiteral("Dfs59000.rdmTransmissaoCCe"));
    EXPECT_EQ(first->netDocFiscSaid->serverName(), QStringLiteral("DFS00000.rdmDocFiscSaida"));

    // A minimised screen comes back normal and no second one is made.
    first->showMinimized();
    iniProc(fw::nullValue());
    EXPECT_EQ(frmTransmissaoCCe, first.data());
    EXPECT_FALSE(first->windowState() & Qt::WindowMinimized);
    const QWidgetList tops = QApplication::topLevelWidgets();
    EXPECT_EQ(std::count_if(tops.begin(), tops.end(),
                            [](QWidget* w) { return qobject_cast<TfrmTransmissaoCCe*>(w) != nullptr; }),
              1);
    // Hour-glass then default, for each call.
    EXPECT_EQ(m_ui.cursors(), (QList<int>{-11, 0, -11, 0}));
    expectNoSurprises();
}

TEST_F(FrameTest, OnlyNullKeepsAPendingPreset)
{
    openScreen(presetNotToApply(QStringLiteral("A")));
    ASSERT_TRUE(oleParam.isValid());
    EXPECT_EQ(oleParam.toList().value(28).toString(), QStringLiteral("A"));

    IniProc(fw::nullValue());
    EXPECT_EQ(oleParam.toList().value(28).toString(), QStringLiteral("A"));

    CriaTransmissaoCCe(presetNotToApply(QStringLiteral("B")));
    EXPECT_EQ(oleParam.toList().value(28).toString(), QStringLiteral("B"));

    IniProc(QVariant());
    EXPECT_FALSE(oleParam.isValid());
    EXPECT_FALSE(fw::isNull(oleParam));
    expectNoSurprises();
}

TEST_F(FrameTest, ClosingLetsTheNextCallBuildAFreshScreen)
{
    TfrmTransmissaoCCe* screen = openScreen();
    QPointer<TfrmTransmissaoCCe> old = screen;
    inCount = 3;
    stSGinscEsta = QStringLiteral("SP");
    stAmbiente = QStringLiteral("2");
    stCertificado = QStringLiteral("ABC");

    boFiltrado = true;
    ASSERT_TRUE(screen->Close());
    EXPECT_FALSE(boStCriado);
    ASSERT_TRUE(old); // freed after the close, not during it
    EXPECT_FALSE(old->netTransmissao->isConnected());
    EXPECT_FALSE(old->netDocFiscSaid->isConnected());
    flushDeletes();
    EXPECT_FALSE(old);

    TfrmTransmissaoCCe* fresh = openScreen();
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(boStCriado);
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    EXPECT_TRUE(stAmbiente.isEmpty());
    EXPECT_TRUE(stCertificado.isEmpty());
    EXPECT_FALSE(boFiltrado);
    expectNoSurprises();
}

TEST_F(FrameTest, UnregisteredHostCompanyIsReportedAndTheScreenStillOpens)
{
    m_context.company = QStringLiteral("77");
    fw::setHostContext(m_context);
    // Once at creation, once when shown.
    m_ui.expectMessage(QStringLiteral("Empresa não cadastrada."), fw::mbOK);
    m_ui.expectMessage(QStringLiteral("Empresa não cadastrada."), fw::mbOK);
    TfrmTransmissaoCCe* screen = openScreen();
    ASSERT_TRUE(boStCriado);
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->edtNmEmpresa->text().isEmpty());
    EXPECT_EQ(screen->focusWidget(), screen->medCdEmpresa);
    EXPECT_EQ(m_ui.pendingExpectations(), 0);
    expectNoSurprises();
}

TEST_F(FrameTest, UnitsStartAndEndInOrderOnlyAtTheOuterCall)
{
    // The library was loaded with this program.
    const QString loaded = QString::fromLatin1(Pkg_dfs59000_UnitTrace());
    EXPECT_TRUE(loaded.startsWith(QStringLiteral("init Cli_dfs59100;init Cli_dfs59300;init Cli_dfs59000")))
        << loaded.toStdString();
    for (const char* unit : {"Cli_dfs59100", "Cli_dfs59300", "Cli_dfs59000"})
        EXPECT_EQ(Pkg_dfs59000_UnitCounter(unit), 1) << unit;
    EXPECT_EQ(Pkg_dfs59000_UnitCounter("Cli_nada"), -1);

    Pkg_dfs59000_ClearUnitTrace();
    boStCriado = true; // the nested start must not touch it
    Pkg_dfs59000_Initialize();
    EXPECT_TRUE(boStCriado);
    EXPECT_EQ(Pkg_dfs59000_UnitCounter("Cli_dfs59000"), 2);
    EXPECT_STREQ(Pkg_dfs59000_UnitTrace(), "");

    oleParam = presetNotToApply(QStringLiteral("X"));
    stSGinscEsta = QStringLiteral("SP");
    stAmbiente = QStringLiteral("1");
    stCertificado = QStringLiteral("123");
    stCdFilial = QStringLiteral("0001");
    stNrLanctoNF = QStringLiteral("0000000001");
    stCodTipoOper = QStringLiteral("S01");
    Pkg_dfs59000_Finalize(); // inner end: nothing released
    EXPECT_TRUE(oleParam.isValid());
    EXPECT_EQ(stCdFilial, QStringLiteral("0001"));
    EXPECT_STREQ(Pkg_dfs59000_UnitTrace(), "");

    Pkg_dfs59000_Finalize(); // outer end, as on unloading
    EXPECT_STREQ(Pkg_dfs59000_UnitTrace(), "final Cli_dfs59000;final Cli_dfs59300;final Cli_dfs59100");
    EXPECT_FALSE(oleParam.isValid());
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    EXPECT_TRUE(stAmbiente.isEmpty());
    EXPECT_TRUE(stCertificado.isEmpty());
    EXPECT_TRUE(stCdFilial.isEmpty());
    EXPECT_TRUE(stNrLanctoNF.isEmpty());
    EXPECT_TRUE(stCodTipoOper.isEmpty());
    for (const char* unit : {"Cli_dfs59100", "Cli_dfs59300", "Cli_dfs59000"})
        EXPECT_EQ(Pkg_dfs59000_UnitCounter(unit), 0) << unit;
    // An end without a start does nothing.
    Pkg_dfs59000_Finalize();
    EXPECT_EQ(Pkg_dfs59000_UnitCounter("Cli_dfs59000"), 0);

    Pkg_dfs59000_ClearUnitTrace();
    boIdCriado = true;
    Pkg_dfs59000_Initialize(); // as loaded again
    EXPECT_STREQ(Pkg_dfs59000_UnitTrace(), "init Cli_dfs59100;init Cli_dfs59300;init Cli_dfs59000");
    EXPECT_FALSE(boStCriado);
    EXPECT_FALSE(boIdCriado);
}
