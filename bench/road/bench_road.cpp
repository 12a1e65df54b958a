// The road a user waits for: from confirming the filter of a whole company to the grid
// showing it, with the real screen and the real server over loopback HTTP, on the
// 100 000-invoice demo. Prints the whole and its parts: the server's own time (from its
// log), when the first and the last byte of the answer arrived, the time the screen spent
// decoding the answer while it arrived, what came after the last byte (the last piece,
// loading the data sets, showing the grid), and the most memory the screen took on the
// way, against the answer's bytes. Then the same road over TLS (a second server on the
// same database, an RSA certificate as most servers hold, the screen verifying it), runs
// taken in turn with the plain ones, and its ratio to the plain road.
//
//   bench_road [--invoices N] [--runs R] [--keep FILE | --reuse FILE] [--database postgresql://...]
//
// With --database the list comes from that PostgreSQL database, filled with the demo
// data when it holds no company yet (under scripts/with-postgres: --database "$CCE_PG_URL").
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <malloc.h>

#include "core/errors/Dispatch.h"
#include "core/net/HttpTransport.h"
#include "core/values/Value.h"
#include "db/DemoData.h"
#include "server/store/Store.h"
#include "tests/support/ModuleTestSupport.h"
#include "tests/support/ProcessMemory.h"
#include "tests/support/TestPki.h"

namespace {

QString textOption(const QStringList& args, const char* name, const QString& fallback = QString())
{
    const int at = int(args.indexOf(QString::fromLatin1(name)));
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

// HTTP as the screen uses it, timing when the answer's pieces arrive and how long the
// screen takes with each.
class TimedTransport : public fw::RpcTransport {
public:
    QString probe(const fw::RpcRequest& r) override { return m_http.probe(r); }
    fw::RpcReply post(const fw::RpcRequest& r) override
    {
        QElapsedTimer t;
        t.start();
        firstMs = lastMs = -1;
        decodeMs = 0;
        bytes = 0;
        fw::RpcRequest timed = r;
        // The server of the road being timed, and how it is reached.
        timed.port = port;
        timed.tls = tls;
        if (r.onBody)
            timed.onBody = [&](QByteArrayView piece) {
                const double at = double(t.nsecsElapsed()) / 1e6;
                if (firstMs < 0)
                    firstMs = at;
                lastMs = at;
                bytes += piece.size();
                QElapsedTimer d;
                d.start();
                r.onBody(piece);
                decodeMs += double(d.nsecsElapsed()) / 1e6;
            };
        fw::RpcReply reply = m_http.post(timed);
        bytes += reply.body.size();
        return reply;
    }
    double firstMs = 0, lastMs = 0, decodeMs = 0;
    qint64 bytes = 0;
    int port = 0;
    fw::TlsPolicy tls;

private:
    fw::HttpTransport m_http;
};

bool prepareDatabase(const QString& url, bool fill, int invoices, QString* error)
{
    auto store = srv::Store::open(url, error);
    if (!store || !store->migrate(error))
        return false;
    QSqlDatabase db = store->connection();
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) && q.next() && q.value(0).toInt() > 0)
        fill = false; // a database already filled is used as it is
    if (fill) {
        db::DemoOptions o;
        o.invoices = invoices;
        o.letters = invoices * 3 / 2;
        if (!db::fillDemo(db, o, error))
            return false;
        if (url.startsWith(QLatin1String("sqlite:")))
            q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    q.exec(QStringLiteral("ANALYZE"));
    return true;
}

// Starts cce-server on url (with the configuration file, when given); its port, 0 when it did not start.
int startServer(QProcess& server, const QString& url, const QString& config)
{
    QStringList args{QStringLiteral("--database"), url, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
    if (!config.isEmpty())
        args << QStringLiteral("--config") << config;
    server.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("cce-server")), args);
    int port = 0;
    for (int i = 0; i < 300 && port == 0 && server.state() != QProcess::NotRunning; ++i) {
        server.waitForReadyRead(100);
        const QString line = QString::fromUtf8(server.readLine()).trimmed();
        if (line.startsWith(QLatin1String("listening on ")))
            port = line.section(QLatin1Char(':'), -1).toInt();
    }
    if (port == 0)
        std::fprintf(stderr, "bench_road: cce-server did not start: %s\n", server.readAllStandardError().constData());
    return port;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    fw::settleLocalTimeZone(); // as erp-host does
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int invoices = textOption(args, "--invoices", QStringLiteral("100000")).toInt();
    const int runs = textOption(args, "--runs", QStringLiteral("3")).toInt();
    const QString reuse = textOption(args, "--reuse"), keep = textOption(args, "--keep");
    const QString pg = textOption(args, "--database");
    QTemporaryDir dir;
    const QString file = !reuse.isEmpty() ? reuse : !keep.isEmpty() ? keep : dir.filePath(QStringLiteral("road.db"));
    if (pg.isEmpty() && reuse.isEmpty())
        QFile::remove(file);
    const QString url = pg.isEmpty() ? QStringLiteral("sqlite:") + file : pg;
    QString error;
    if (!prepareDatabase(url, reuse.isEmpty(), invoices, &error)) {
        std::fprintf(stderr, "bench_road: %s\n", qPrintable(error));
        return 1;
    }

    // The same database behind a server in clear and one over TLS.
    const cce_test::TestPki pki(dir.filePath(QStringLiteral("pki")), cce_test::TestPki::Keys::Rsa2048);
    QFile ini(dir.filePath(QStringLiteral("tls.ini")));
    if (!pki.ok() || !ini.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "bench_road: could not make the TLS certificates\n");
        return 1;
    }
    ini.write("[server]\ntls_certificate=" + pki.serverPem.toUtf8() + "\ntls_key=" + pki.serverKey.toUtf8() + "\n");
    ini.close();
    QProcess server, tlsServer;
    const int port = startServer(server, url, QString()), tlsPort = startServer(tlsServer, url, ini.fileName());
    if (port == 0 || tlsPort == 0)
        return 1;

    auto timed = std::make_shared<TimedTransport>();
    fw::setDefaultTransportFactory([timed](const TNetConnection&) { return timed; });
    cce_test::InstalledUi installed;
    fw::HostContext context = cce_test::companyContext();
    context.serverPort = port;
    fw::setHostContext(context);
    CriaTransmissaoCCe(fw::nullValue());
    TfrmTransmissaoCCe* f = frmTransmissaoCCe;
    f->resize(1400, 700);
    f->show();
    app.processEvents();

    // The server's log line of the last GetNotaFiscal: "... GetNotaFiscal N ms ok".
    const QRegularExpression logged(QStringLiteral("GetNotaFiscal (\\d+) ms"));
    QByteArray serverLog;
    auto serverMs = [&](QProcess& serving) {
        serverLog.clear();
        for (int i = 0; i < 50; ++i) {
            serverLog += serving.readAllStandardError();
            QRegularExpressionMatchIterator it = logged.globalMatch(QString::fromUtf8(serverLog));
            QString last;
            while (it.hasNext())
                last = it.next().captured(1);
            if (!last.isEmpty()) {
                serverLog.clear();
                return last.toDouble();
            }
            serving.waitForReadyRead(20);
        }
        return -1.0;
    };

    struct Parts {
        double total = 1e18, server = 0, first = 0, last = 0, decode = 0;
    } best, bestTls;
    double peakMiB = 0;
    int rows = 0;
    qint64 bytes = 0;
    fw::TlsPolicy verified;
    verified.mode = fw::TlsPolicy::Mode::On;
    verified.caFile = pki.caPem;
    // In turn, plain then TLS, so that both meet the machine as it is.
    for (int r = 0; r < 2 * runs; ++r) {
        const bool overTls = r % 2 == 1;
        timed->port = overTls ? tlsPort : port;
        timed->tls = overTls ? verified : fw::TlsPolicy();
        QProcess& answering = overTls ? tlsServer : server;
        // Each run from an empty screen: the memory counted is the road's alone.
        f->cdsNotaFiscal->close();
        f->cdsCCe->close();
        app.processEvents();
        malloc_trim(0);
        cce_test::resetPeak();
        const qint64 before = cce_test::statusKiB("VmRSS:");
        QElapsedTimer t;
        t.start();
        const bool ok = fw::dispatch([f] {
            const QString T = QStringLiteral("T");
            f->GetNotafiscal(T, T, T, QStringLiteral("01"), T, T, T, T, T, T, T, QStringLiteral("S"), QString(),
                             QDateTime(), QDateTime());
        });
        app.processEvents(); // the grid shows the list
        const double total = double(t.nsecsElapsed()) / 1e6;
        if (!overTls)
            peakMiB = qMax(peakMiB, double(cce_test::statusKiB("VmHWM:") - before) / 1024.0);
        if (!ok || !f->cdsNotaFiscal->active()) {
            std::fprintf(stderr, "bench_road: the list did not load: %s\n",
                         qPrintable(installed.ui.messageTexts().join(QStringLiteral(" | "))));
            return 1;
        }
        const double srvMs = serverMs(answering);
        Parts& kept = overTls ? bestTls : best;
        if (total < kept.total)
            kept = Parts{total, srvMs, timed->firstMs, timed->lastMs, timed->decodeMs};
        rows = f->cdsNotaFiscal->recordCount();
        bytes = timed->bytes;
    }
    const double answerMiB = double(bytes) / (1024.0 * 1024.0);
    std::printf("%s, company 01 of %d invoices: %d rows in the grid, %.1f MB answer, best of %d\n",
                pg.isEmpty() ? "SQLite" : "PostgreSQL", invoices, rows, double(bytes) / 1e6, runs);
    std::printf("%-48s %9.0f ms\n", "confirm to grid, whole road", best.total);
    std::printf("%-48s %9.0f ms\n", "  server (its own log, to its last byte)", best.server);
    std::printf("%-48s %9.0f ms\n", "  first byte of the answer arrived at", best.first);
    std::printf("%-48s %9.0f ms\n", "  last byte of the answer arrived at", best.last);
    std::printf("%-48s %9.0f ms\n", "  decoding while it arrived (screen's time)", best.decode);
    std::printf("%-48s %9.0f ms\n", "  after the last byte (load and show)", best.total - best.last);
    std::printf("%-48s %9.2f (aim: at or under 1)\n", "ratio to the 0.7 s aim", best.total / 700.0);
    std::printf("%-48s %9.1f MiB, %.2f of the answer's %.1f MiB (aim: at or under 2)\n",
                "screen's peak memory on the road", peakMiB, answerMiB > 0 ? peakMiB / answerMiB : 0.0, answerMiB);
    std::printf("%-48s %9.0f ms\n", "over TLS (RSA 2048, verified), whole road", bestTls.total);
    std::printf("%-48s %9.0f ms\n", "  server (its own log, to its last byte)", bestTls.server);
    std::printf("%-48s %9.0f ms\n", "  first byte of the answer arrived at", bestTls.first);
    std::printf("%-48s %9.0f ms\n", "  last byte of the answer arrived at", bestTls.last);
    std::printf("%-48s %9.2f (aim: at or under 1.15)\n", "ratio of the road over TLS to the plain road",
                bestTls.total / best.total);
    cce_test::deleteScreens();
    for (QProcess* p : {&server, &tlsServer}) {
        p->terminate();
        p->waitForFinished(10000);
    }
    return 0;
}
