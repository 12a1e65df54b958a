// The CC-e screen's invoice grid at the sizes a large branch network reaches: the real
// screen with 100 000 invoices and 150 000 letters in its data sets, moving between
// invoices and marking them for transmission. Prints milliseconds.
//
//   build-<dir>/bin/bench_grid [invoices] [letters] [--shot FILE]
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>

#include "core/errors/Dispatch.h"
#include "core/values/Value.h"
#include "tests/support/ModuleTestSupport.h"

namespace {

QString pad(qint64 n, int width) { return QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0')); }

constexpr int kBranches = 25;
QString branchOf(int i) { return pad(i % kBranches + 1, 4); }
QString entryOf(int i) { return pad(i / kBranches + 1, 10); }

// Registrations: IE1 to IE3 share state, environment and certificate; IE4 is of another state.
QString inscOf(int i) { return QStringLiteral("IE%1").arg(i % 7 == 3 ? 4 : i % 3 + 1); }

fw::DataPacket invoices(const TfrmTransmissaoCCe& f, int count)
{
    fw::DataPacket p;
    p.fields = f.cdsNotaFiscal->fieldDefs();
    auto at = [&p](const char* name) { return p.fieldIndex(QString::fromLatin1(name)); };
    const int check = at("IDCHECK"), filial = at("CDFILIAL"), lancto = at("NRLANCTONF"), nota = at("NRNOTAFISCALELE"),
              status = at("IDSTATUSCCE"), insc = at("CDINSCESTA"), emis = at("IDTIPOEMISNFE"), seq = at("NRSEQCCE"),
              nome = at("NMRAZSOCCLIE"), inscJur = at("NRINSJURNF"), tpJur = at("IDTPIJURNF"),
              emitente = at("CDFILIEMIT"), valor = at("VRNOTAFISC"), email = at("IDEMAILCCE"), amb = at("IDTPAMBNFE");
    p.rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        fw::Row r(p.fields.size());
        r[check] = QStringLiteral("N");
        r[filial] = branchOf(i);
        r[lancto] = entryOf(i);
        r[nota] = pad(count - i, 9);
        r[status] = QString::number(i % 4);
        r[insc] = inscOf(i);
        r[emis] = i % 11 == 0 ? QStringLiteral("6") : QStringLiteral("1");
        r[seq] = i % 4 == 0 ? QStringLiteral("00") : QStringLiteral("01");
        r[nome] = QStringLiteral("Cliente %1").arg(i % 997);
        r[inscJur] = QStringLiteral("11222333000181");
        r[tpJur] = QStringLiteral("J");
        r[emitente] = branchOf(i);
        r[valor] = 100.0 + i;
        r[email] = QStringLiteral("P");
        r[amb] = QStringLiteral("2");
        p.rows.append(r);
    }
    return p;
}

fw::DataPacket letters(const TfrmTransmissaoCCe& f, int invoiceCount, int count)
{
    fw::DataPacket p;
    p.fields = f.cdsCCe->fieldDefs();
    auto at = [&p](const char* name) { return p.fieldIndex(QString::fromLatin1(name)); };
    const int filial = at("CDFILIAL"), lancto = at("NRLANCTONF"), seq = at("NRSEQCCE"), text = at("DSCORRECAONFE");
    p.rows.reserve(count);
    for (int k = 0; k < count; ++k) {
        const int i = k % invoiceCount;
        fw::Row r(p.fields.size());
        r[filial] = branchOf(i);
        r[lancto] = entryOf(i);
        r[seq] = pad(k / invoiceCount + 1, 2);
        r[text] = QStringLiteral("Correção do campo %1 da nota.").arg(k);
        p.rows.append(r);
    }
    return p;
}

double ms(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    int invoiceCount = 100000, letterCount = 150000;
    QString shot;
    for (int i = 1, n = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--shot") && i + 1 < args.size())
            shot = args[++i];
        else if (n++ == 0)
            invoiceCount = args[i].toInt();
        else
            letterCount = args[i].toInt();
    }

    QSqlDatabase db;
    QString error;
    if (cce_test::openCompany(&db, QStringLiteral(":memory:"), &error)) {
        cce_test::CompanyBuilder seed(db);
        seed.state("SP", "São Paulo", "35")
            .state("RJ", "Rio de Janeiro", "33")
            .company("01", "Empresa Um")
            .registration("IE1", "CERT1", "2", "SP")
            .registration("IE2", "CERT1", "2", "SP")
            .registration("IE3", "CERT1", "2", "SP")
            .registration("IE4", "CERT4", "2", "RJ");
        error = seed.error();
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "database: %s\n", qPrintable(error));
        return 1;
    }

    // No server: only the filter dialog's parameters are answered in process.
    cce_test::installServer([](const QString&, const QJsonArray& params, const QJsonObject&) -> QVariant {
        return QVariant::fromValue(cce_test::paramDfsPacket(params.at(0).toString(), QStringLiteral("S")));
    });
    cce_test::InstalledUi installed;
    fw::ScriptedUiServices& ui = installed.ui;
    fw::setHostContext(cce_test::companyContext());

    CriaTransmissaoCCe(fw::nullValue());
    TfrmTransmissaoCCe* f = frmTransmissaoCCe;
    CreateFiltroTransmissao();
    f->resize(1400, 700);
    // The user has left the company panel, as after a confirmed filter.
    app.processEvents();
    boFiltrado = true;
    f->dbgPadrao->setFocus();
    app.processEvents();
    const fw::DataPacket inv = invoices(*f, invoiceCount);
    const fw::DataPacket cce = letters(*f, invoiceCount, letterCount);

    QElapsedTimer t;
    t.start();
    f->cdsNotaFiscal->setData(inv);
    f->cdsCCe->setData(cce);
    const double load = ms(t);
    app.processEvents();

    const int moves = 10000;
    QRandomGenerator rng(7);
    t.restart();
    for (int i = 0; i < moves; ++i)
        f->cdsNotaFiscal->setRecNo(1 + int(rng.bounded(invoiceCount)));
    const double move = ms(t) / moves;

    // An eligible invoice far down the list.
    f->cdsNotaFiscal->setRecNo(invoiceCount - 1000);
    while (f->cdsNotaFiscalIDSTATUSCCE->asString() != QLatin1String("1") ||
           f->cdsNotaFiscalCDINSCESTA->asString() != QLatin1String("IE1"))
        f->cdsNotaFiscal->next();
    t.restart();
    fw::dispatch([f] { f->dbgPadraoDblClick(f->dbgPadrao); });
    const double markOne = ms(t);
    const int afterOne = inCount;
    t.restart();
    fw::dispatch([f] { f->dbgPadraoDblClick(f->dbgPadrao); });
    const double unmarkOne = ms(t);

    const int column = f->dbgPadrao->columnOf(QStringLiteral("IDCHECK"));
    t.restart();
    fw::dispatch([f, column] { f->dbgPadraoTitleClick(f->dbgPadrao, column); });
    const double markAll = ms(t);
    const int afterAll = inCount;
    app.processEvents();
    if (!shot.isEmpty())
        f->grab().save(shot);
    t.restart();
    fw::dispatch([f, column] { f->dbgPadraoTitleClick(f->dbgPadrao, column); });
    const double unmarkAll = ms(t);

    std::printf("invoices %d, letters %d\n", invoiceCount, letterCount);
    std::printf("load                     %10.2f ms\n", load);
    std::printf("move to another invoice  %10.3f ms (average of %d)\n", move, moves);
    std::printf("mark one                 %10.2f ms (marked %d)\n", markOne, afterOne);
    std::printf("unmark one               %10.2f ms (marked %d)\n", unmarkOne, inCount == 0 ? 0 : inCount);
    std::printf("mark all                 %10.2f ms (marked %d)\n", markAll, afterAll);
    std::printf("unmark all               %10.2f ms (marked %d)\n", unmarkAll, inCount);
    if (!ui.messages().isEmpty())
        std::printf("messages: %s\n", qPrintable(ui.messageTexts().join(QStringLiteral(" | "))));

    cce_test::deleteScreens();
    return 0;
}
