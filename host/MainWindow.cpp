#include "host/MainWindow.h"

#include <QAction>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>

#include "core/errors/Dispatch.h"
#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/ui/UiServices.h"
#include "core/values/Value.h"
#include "host/ModuleLoader.h"

namespace host {

MainWindow::MainWindow(ModuleLoader* cceModule, QWidget* parent)
    : QMainWindow(parent), m_mdi(new QMdiArea(this)), m_cceModule(cceModule)
{
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("ERP - Documentos Fiscais"));
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(m_mdi);

    QMenu* fiscal = menuBar()->addMenu(QStringLiteral("&Fiscal"));
    fiscal->setObjectName(QStringLiteral("mnuFiscal"));
    QAction* cce = fiscal->addAction(QStringLiteral("&Carta de Correção Eletrônica"));
    cce->setObjectName(QStringLiteral("mnuCartaCorrecao"));
    connect(cce, &QAction::triggered, this, [this] { openCCe(); });
    QMenu* window = menuBar()->addMenu(QStringLiteral("&Janela"));
    window->addAction(QStringLiteral("&Cascata"), m_mdi, &QMdiArea::cascadeSubWindows);
    window->addAction(QStringLiteral("&Lado a lado"), m_mdi, &QMdiArea::tileSubWindows);
    fiscal->addSeparator();
    fiscal->addAction(QStringLiteral("&Sair"), this, &QWidget::close);

    m_company = new QLabel(this);
    m_branch = new QLabel(this);
    m_date = new QLabel(this);
    m_company->setObjectName(QStringLiteral("lblStatusEmpresa"));
    m_branch->setObjectName(QStringLiteral("lblStatusFilial"));
    m_date->setObjectName(QStringLiteral("lblStatusData"));
    statusBar()->addWidget(m_company, 1);
    statusBar()->addWidget(m_branch);
    statusBar()->addWidget(m_date);
    refreshStatus();
    resize(1280, 800);
}

void MainWindow::refreshStatus()
{
    QString name;
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("company"), false);
    if (db.isOpen()) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT NMRAZSOCEMPR FROM EMPRESA WHERE CDEMPRESA = ?"));
        q.addBindValue(EmprProc());
        if (q.exec() && q.next())
            name = q.value(0).toString();
    }
    m_company->setText(
        QStringLiteral("Empresa: %1%2").arg(EmprProc(), name.isEmpty() ? QString() : QStringLiteral(" - ") + name));
    m_branch->setText(QStringLiteral("Filial: %1").arg(FiliProc()));
    m_date->setText(QStringLiteral("Data: %1").arg(DataProc().toString(QStringLiteral("dd/MM/yyyy"))));
}

void MainWindow::showMdiChild(QWidget* form)
{
    QMdiSubWindow* sub = nullptr;
    for (QMdiSubWindow* w : m_mdi->subWindowList())
        if (w->widget() == form)
            sub = w;
    if (!sub) {
        sub = m_mdi->addSubWindow(form);
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
        sub->resize(1240, 700);
    }
    sub->setWindowState(sub->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    form->show();
    sub->show();
    m_mdi->setActiveSubWindow(sub);
    sub->raise();
}

bool MainWindow::openCCe()
{
    return fw::dispatch([this] {
        QString error;
        if (!m_cceModule->load(&error))
            throw fw::Error(error);
        IniProcFn iniProc = m_cceModule->iniProc(&error);
        if (!iniProc)
            throw fw::Error(error);
        // The preset goes with the first call; later calls pass Null, which keeps a pending one.
        const QVariant param = m_preset.isValid() ? m_preset : fw::nullValue();
        m_preset = QVariant();
        iniProc(param);
    });
}

} // namespace host
