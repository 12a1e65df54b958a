// The module as the host sees it: a library found by file name, not linked in.
#include <QApplication>
#include <QLibrary>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include "core/host/Context.h"
#include "core/values/Value.h"
#include "db/Schema.h"
#include "widgets/services/ScriptedUiServices.h"

namespace {

QString libraryPath() { return QString::fromLocal8Bit(qgetenv("CCE_BIN_DIR")) + QStringLiteral("/libPKG_DFS59000.so"); }

template <class T>
T* symbol(QLibrary& lib, const char* name)
{
    return reinterpret_cast<T*>(lib.resolve(name));
}

} // namespace

TEST(ModuleLoad, LoadingStartsTheUnitsAndIniProcOpensOneScreen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("company"));
        db.setDatabaseName(dir.filePath(QStringLiteral("c.db")));
        ASSERT_TRUE(db.open());
        QString error;
        ASSERT_TRUE(db::migrate(db, &error)) << error.toStdString();
        ASSERT_TRUE(
            QSqlQuery(db).exec(QStringLiteral("INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('01', 'Um')")));
    }
    fw::HostContext ctx;
    ctx.company = QStringLiteral("01");
    ctx.branch = QStringLiteral("0001");
    ctx.serverHost = QStringLiteral("127.0.0.1");
    ctx.serverPort = 1; // nothing listens: the connections stay closed until a call
    fw::setHostContext(ctx);
    fw::ScriptedUiServices ui;
    fw::ScriptedUiServices::Install installed(ui);

    QLibrary lib(libraryPath());
    ASSERT_TRUE(lib.load()) << lib.errorString().toStdString();
    auto counter = reinterpret_cast<int (*)(const char*)>(lib.resolve("Pkg_dfs59000_UnitCounter"));
    auto trace = reinterpret_cast<const char* (*)()>(lib.resolve("Pkg_dfs59000_UnitTrace"));
    auto iniProc = reinterpret_cast<void (*)(const QVariant&)>(lib.resolve("IniProc"));
    ASSERT_TRUE(counter && trace && iniProc);
    EXPECT_STREQ(trace(), "init Cli_dfs59100;init Cli_dfs59300;init Cli_dfs59000");
    EXPECT_EQ(counter("Cli_dfs59000"), 1);

    bool* boStCriado = symbol<bool>(lib, "boStCriado");
    QWidget** frm = symbol<QWidget*>(lib, "frmTransmissaoCCe");
    QVariant* oleParam = symbol<QVariant>(lib, "oleParam");
    ASSERT_TRUE(boStCriado && frm && oleParam);
    EXPECT_FALSE(*boStCriado);

    const QVariantList preset{false, QVariant()};
    iniProc(preset);
    ASSERT_TRUE(*boStCriado);
    QWidget* screen = *frm;
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->objectName(), QStringLiteral("frmTransmissaoCCe"));
    EXPECT_EQ(oleParam->toList(), preset);
    iniProc(fw::nullValue());
    EXPECT_EQ(*frm, screen);
    EXPECT_EQ(oleParam->toList(), preset);
    EXPECT_FALSE(ui.hasUnexpected()) << ui.report().toStdString();

    screen->close();
    EXPECT_FALSE(*boStCriado);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QSqlDatabase::removeDatabase(QStringLiteral("company"));
}
