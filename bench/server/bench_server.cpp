// GetNotaFiscal on a large company database against the database's own command-line tool
// printing the same rows, in the same run: sqlite3 in its list mode (its default) and as
// JSON, or psql unaligned (-A -t).
//
//   bench_server [--invoices N] [--letters M] [--runs R] [--keep FILE | --reuse FILE]
//   bench_server --database postgresql://USER@HOST:PORT/DBNAME [--invoices N] [--letters M] [--runs R]
//
// A PostgreSQL database is filled with the demo data when it holds no company yet, and
// used as it is otherwise (under scripts/with-postgres: --database "$CCE_PG_URL").
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QProcess>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"
#include "db/DemoData.h"
#include "server/methods/Methods.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/Store.h"

namespace {

int option(const QStringList& args, const char* name, int fallback)
{
    const int at = args.indexOf(QString::fromLatin1(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1].toInt() : fallback;
}

QString textOption(const QStringList& args, const char* name)
{
    const int at = args.indexOf(QString::fromLatin1(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
}

// The statements GetNotaFiscal runs for a whole company, with the company inline, as any
// client would write them.
const char* kSql =
    "SELECT N.CDFILIEMIT, N.NRINSJURNF, N.NMRAZSOCCLIE, N.NRNOTAFISCALELE, N.DTSAIDA, N.DTEMISSAO, N.CDSERIE, "
    "N.VRNOTAFISC, L.IDEMAILCCE, L.IDEMAILCCETRANS, N.IDTPAMBNFE, L.IDTRANSMCCE, N.CDFILIAL, N.NRLANCTONF, "
    "N.CDEMPRESA, N.CDINSCESTA, N.CDINSCMUNI, N.NRLICENCAUSO, N.CDCLIENTE, N.CDFILIRECE, N.CDFORNECED, "
    "N.IDTIPOEMISNFE, N.CDTIPOOPER, N.IDENTRSAIDOP, L.NRSEQCCE, N.IDORIGDESTNF, N.IDTPIJURNF, L.CDSTATUSCCE, "
    "N.NRACESSONFE, N.NRINSJURTRAN, N.DTHRPROTOCOLNFE FROM NOTAFISCAL N "
    "LEFT JOIN CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
    "AND L.NRSEQCCE = (SELECT MAX(X.NRSEQCCE) FROM CARTACORRECAO X WHERE X.CDFILIAL = N.CDFILIAL "
    "AND X.NRLANCTONF = N.NRLANCTONF) WHERE N.CDEMPRESA = '01' AND N.CDMODELONF = '55'; "
    "SELECT L.CDFILIAL, L.NRLANCTONF, L.NRSEQCCE, L.DSCORRECAONFE, L.CDSTATUSCCE, L.DSOBSSTATUSCCE, "
    "L.DTHRPROTOCOLCCE, L.NRPROTOCOLCCE, L.IDEMAILCCE, L.IDEMAILCCETRANS FROM NOTAFISCAL N "
    "CROSS JOIN CARTACORRECAO L WHERE L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF "
    "AND N.CDEMPRESA = '01' AND N.CDMODELONF = '55';";

// CPU seconds of this process and of its waited-for children: on a shared machine wall
// time mostly measures the neighbours.
double selfCpu()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}
double childrenCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    fw::settleLocalTimeZone(); // as the server does
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int invoices = option(args, "--invoices", 100000);
    const int letters = option(args, "--letters", 150000);
    const int runs = std::max(1, option(args, "--runs", 3));
    const int keepAt = args.indexOf(QStringLiteral("--keep"));
    const int reuseAt = args.indexOf(QStringLiteral("--reuse"));
    const bool reuse = reuseAt >= 0 && reuseAt + 1 < args.size();

    const QString database = textOption(args, "--database");
    const bool pg = database.startsWith(QLatin1String("postgres"));

    QTemporaryDir dir;
    const QString file = reuse                                     ? args[reuseAt + 1]
                         : keepAt >= 0 && keepAt + 1 < args.size() ? args[keepAt + 1]
                                                                   : dir.filePath(QStringLiteral("bench.db"));
    if (!reuse && !pg)
        QFile::remove(file);
    QString error;
    auto store = srv::Store::open(pg ? database : QStringLiteral("sqlite:") + file, &error);
    if (!store || !store->migrate(&error)) {
        std::fprintf(stderr, "bench_server: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer t;
    t.start();
    bool fill = !reuse;
    if (pg) {
        QSqlQuery q(store->connection());
        fill = q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) && q.next() && q.value(0).toInt() == 0;
    }
    if (fill) {
        QSqlDatabase db = store->connection();
        db::DemoOptions o;
        o.invoices = invoices;
        o.letters = letters;
        db::DemoSummary s;
        if (!db::fillDemo(db, o, &error, &s)) {
            std::fprintf(stderr, "bench_server: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("database: %d invoices, %d letters, %d batches in %.2f s (%s)\n", s.invoices, s.letters, s.batches,
                    t.elapsed() / 1000.0, qPrintable(pg ? QStringLiteral("postgresql") : file));
        QSqlQuery q(db);
        if (!pg)
            q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        q.exec(QStringLiteral("ANALYZE"));
    }

    srv::MethodRegistry registry;
    srv::registerMethods(registry, *store);
    const srv::Method* m = registry.find(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"));
    QVariantList params;
    for (int i = 0; i < 13; ++i)
        params << QStringLiteral("T");
    params[3] = QStringLiteral("01");
    params[12] = QString();
    params << false << QVariant() << QVariant();

    qint64 best = -1;
    double bestCpu = -1;
    qsizetype bytes = 0;
    int rows = 0, letterRows = 0;
    for (int r = 0; r < runs; ++r) {
        t.restart();
        const double cpu0 = selfCpu();
        const QVariant result = m->fn(params);
        // The method may write its JSON itself; the server then sends that text as it is.
        const bool raw = result.metaType().id() == qMetaTypeId<fw::json::RawJson>();
        const QByteArray body = raw ? result.value<fw::json::RawJson>().text
                                    : QJsonDocument(fw::json::encode(result).toArray()).toJson(QJsonDocument::Compact);
        const qint64 ms = t.elapsed();
        const double cpu = selfCpu() - cpu0;
        if (best < 0 || ms < best)
            best = ms;
        if (bestCpu < 0 || cpu < bestCpu)
            bestCpu = cpu;
        bytes = body.size();
        if (r + 1 == runs) {
            // Counted once, outside the timing, from the text as a client reads it.
            const QVariantList l = fw::json::decode(QJsonDocument::fromJson(body).array(), nullptr).toList();
            rows = l.value(0).value<fw::DataPacket>().rows.size();
            letterRows = l.value(1).value<fw::DataPacket>().rows.size();
        }
    }
    std::printf("GetNotaFiscal (company 01, all criteria T) encoded as JSON: %d invoices, %d letters, %lld bytes, "
                "best of %d: %lld ms wall, %.3f s CPU\n",
                rows, letterRows, static_cast<long long>(bytes), runs, static_cast<long long>(best), bestCpu);
    {
        // The figure counts only if the fast road still gives the plain statements' answer.
        using srv::methods::RowReader;
        const auto text = [&](RowReader reader) {
            return srv::methods::getNotaFiscal(*store, params, reader).value<fw::json::RawJson>().text;
        };
        const QByteArray plain = text(pg ? RowReader::QueryOnly : RowReader::TwoStatements);
        std::printf("same answer as the two plain statements%s, byte for byte: %s\n", pg ? " through Qt's driver" : "",
                    !plain.isEmpty() && text(RowReader::Fastest) == plain ? "yes" : "NO");
    }

    const QString program = QStandardPaths::findExecutable(pg ? QStringLiteral("psql") : QStringLiteral("sqlite3"));
    if (program.isEmpty()) {
        std::printf("%s command-line tool not found: nothing to compare with\n", pg ? "psql" : "sqlite3");
        return 0;
    }
    struct Tool {
        qint64 ms = -1;
        double cpu = -1;
        qsizetype bytes = 0;
    };
    // Best of runs of the tool printing both statements' rows in one mode.
    auto tool = [&](const QStringList& mode, Tool* out) {
        QStringList arguments = mode;
        if (pg) {
            for (const QString& sql : QString::fromLatin1(kSql).split(QLatin1Char(';'), Qt::SkipEmptyParts))
                if (!sql.trimmed().isEmpty())
                    arguments << QStringLiteral("-c") << sql.trimmed();
            arguments << database;
        } else {
            arguments << file << QString::fromLatin1(kSql);
        }
        for (int r = 0; r < runs; ++r) {
            QProcess p;
            t.restart();
            const double cpu0 = childrenCpu();
            p.start(program, arguments);
            p.waitForFinished(-1);
            const QByteArray text = p.readAllStandardOutput();
            const qint64 ms = t.elapsed();
            const double cpu = childrenCpu() - cpu0;
            if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
                std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
                return false;
            }
            if (out->cpu < 0 || cpu < out->cpu)
                out->cpu = cpu;
            if (out->ms < 0 || ms < out->ms)
                out->ms = ms;
            out->bytes = text.size();
        }
        return true;
    };
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    if (pg) {
        Tool unaligned;
        if (!tool({QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t")}, &unaligned))
            return 1;
        std::printf("psql -A -t, same rows: %lld bytes, best of %d: %lld ms wall, %.3f s CPU\n",
                    static_cast<long long>(unaligned.bytes), runs, static_cast<long long>(unaligned.ms), unaligned.cpu);
        std::printf("ratio GetNotaFiscal / psql -A -t: %.2f wall (aim: at or under 0.5), %.2f CPU\n",
                    ratio(double(best), double(unaligned.ms)), ratio(bestCpu, unaligned.cpu));
        return 0;
    }
    Tool list, json;
    if (!tool({}, &list) || !tool({QStringLiteral("-json")}, &json))
        return 1;
    std::printf("sqlite3 list mode, same rows: %lld bytes, best of %d: %lld ms wall, %.3f s CPU\n",
                static_cast<long long>(list.bytes), runs, static_cast<long long>(list.ms), list.cpu);
    std::printf("sqlite3 -json, same rows: %lld bytes, best of %d: %lld ms wall, %.3f s CPU\n",
                static_cast<long long>(json.bytes), runs, static_cast<long long>(json.ms), json.cpu);
    std::printf("ratio GetNotaFiscal / sqlite3 -json: %.2f wall, %.2f CPU\n", ratio(double(best), double(json.ms)),
                ratio(bestCpu, json.cpu));
    std::printf("ratio GetNotaFiscal / sqlite3 list mode: %.2f wall, %.2f CPU (aim: at or under 0.5)\n",
                ratio(double(best), double(list.ms)), ratio(bestCpu, list.cpu));
    return 0;
}
