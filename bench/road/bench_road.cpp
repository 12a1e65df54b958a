// The road a user waits for: from confirming the filter of a whole company to the grid
// showing it, with the real screen and the real server over loopback HTTP, on the
// 100 000-invoice demo. Prints the whole and its parts: the server's own time (from its
// log), the transfer, the decoding of the answer and the loading of the data sets.
//
//   bench_road [--invoices N] [--runs R] [--keep FILE | --reuse FILE]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#include "core/errors/Dispatch.h"
#include "core/net/HttpTransport.h"
#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/JsonTextDecoder.h"
#include "core/values/Value.h"
#include "db/DemoData.h"
#include "tests/support/ModuleTestSupport.h"

namespace {

int option(const QStringList& args, const char* name, int fallback)
{
    const int at = int(args.indexOf(QString::fromLatin1(name)));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

// HTTP as the screen uses it, timed, keeping the last answer for the decoding's figure.
class TimedTransport : public fw::RpcTransport {
public:
    QString probe(const fw::RpcRequest& r) override { return m_http.probe(r); }
    fw::RpcReply post(const fw::RpcRequest& r) override
    {
        QElapsedTimer t;
        t.start();
        fw::RpcReply reply = m_http.post(r);
        lastMs = double(t.nsecsElapsed()) / 1e6;
        lastBody = reply.body;
        return reply;
    }
    double lastMs = 0;
    QByteArray lastBody;

private:
    fw::HttpTransport m_http;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    fw::settleLocalTimeZone(); // as erp-host does
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int invoices = option(args, "--invoices", 100000), runs = option(args, "--runs", 3);
    const int reuseAt = int(args.indexOf(QStringLiteral("--reuse"))),
              keepAt = int(args.indexOf(QStringLiteral("--keep")));
    QTemporaryDir dir;
    const bool reuse = reuseAt >= 0 && reuseAt + 1 < args.size();
    const QString file = reuse                                     ? args[reuseAt + 1]
                         : keepAt >= 0 && keepAt + 1 < args.size() ? args[keepAt + 1]
                                                                   : dir.filePath(QStringLiteral("road.db"));
    QString error;
    QSqlDatabase db;
    if (!reuse)
        QFile::remove(file);
    if (!cce_test::openCompany(&db, file, &error)) {
        std::fprintf(stderr, "bench_road: %s\n", qPrintable(error));
        return 1;
    }
    if (!reuse) {
        db::DemoOptions o;
        o.invoices = invoices;
        o.letters = invoices * 3 / 2;
        if (!db::fillDemo(db, o, &error)) {
            std::fprintf(stderr, "bench_road: %s\n", qPrintable(error));
            return 1;
        }
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        QSqlQuery(db).exec(QStringLiteral("ANALYZE"));
    }

    QProcess server;
    server.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("cce-server")),
                 {QStringLiteral("--database"), QStringLiteral("sqlite:") + file, QStringLiteral("--listen"),
                  QStringLiteral("127.0.0.1:0")});
    int port = 0;
    for (int i = 0; i < 300 && port == 0 && server.state() != QProcess::NotRunning; ++i) {
        server.waitForReadyRead(100);
        const QString line = QString::fromUtf8(server.readLine()).trimmed();
        if (line.startsWith(QLatin1String("listening on ")))
            port = line.section(QLatin1Char(':'), -1).toInt();
    }
    if (port == 0) {
        std::fprintf(stderr, "bench_road: cce-server did not start: %s\n", server.readAllStandardError().constData());
        return 1;
    }

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
    auto serverMs = [&] {
        for (int i = 0; i < 50; ++i) {
            serverLog += server.readAllStandardError();
            QRegularExpressionMatchIterator it = logged.globalMatch(QString::fromUtf8(serverLog));
            QString last;
            while (it.hasNext())
                last = it.next().captured(1);
            if (!last.isEmpty()) {
                serverLog.clear();
                return last.toDouble();
            }
            server.waitForReadyRead(20);
        }
        return -1.0;
    };

    double best[5] = {1e18, 0, 0, 0, 0};
    int rows = 0;
    qsizetype bytes = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const bool ok = fw::dispatch([f] {
            const QString T = QStringLiteral("T");
            f->GetNotafiscal(T, T, T, QStringLiteral("01"), T, T, T, T, T, T, T, QStringLiteral("S"), QString(),
                             QDateTime(), QDateTime());
        });
        app.processEvents(); // the grid shows the list
        const double total = double(t.nsecsElapsed()) / 1e6;
        if (!ok || !f->cdsNotaFiscal->active()) {
            std::fprintf(stderr, "bench_road: the list did not load: %s\n",
                         qPrintable(installed.ui.messageTexts().join(QStringLiteral(" | "))));
            return 1;
        }
        const double srvMs = serverMs();
        QElapsedTimer d;
        d.start();
        // As the connection reads it: checked whole, then decoded in place.
        const QByteArray& body = timed->lastBody;
        fw::json::validate(body, 64);
        qsizetype resultAt = -1;
        fw::json::Reader(body).forEachMember([&](const QString& key, qsizetype at) {
            if (key == QLatin1String("result"))
                resultAt = at;
        });
        QString decodeError;
        const QVariant decoded = fw::json::decodeText(body, resultAt, &decodeError);
        const double decodeMs = double(d.nsecsElapsed()) / 1e6;
        Q_UNUSED(decoded);
        if (total < best[0]) {
            best[0] = total;
            best[1] = srvMs;
            best[2] = timed->lastMs - srvMs;
            best[3] = decodeMs;
            best[4] = total - timed->lastMs - decodeMs;
        }
        rows = f->cdsNotaFiscal->recordCount();
        bytes = timed->lastBody.size();
    }
    std::printf("company 01 of %d invoices: %d rows in the grid, %.1f MB answer, best of %d\n", invoices, rows,
                double(bytes) / 1e6, runs);
    std::printf("%-40s %9.0f ms\n", "confirm to grid, whole road", best[0]);
    std::printf("%-40s %9.0f ms\n", "  server (its own log)", best[1]);
    std::printf("%-40s %9.0f ms\n", "  transfer (HTTP round trip less server)", best[2]);
    std::printf("%-40s %9.0f ms\n", "  decode (JSON to values, measured again)", best[3]);
    std::printf("%-40s %9.0f ms\n", "  load and show (the rest)", best[4]);
    std::printf("%-40s %9.2f\n", "ratio to the 1.5 s aim", best[0] / 1500.0);
    cce_test::deleteScreens();
    server.terminate();
    server.waitForFinished(10000);
    return 0;
}
