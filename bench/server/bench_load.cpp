// Many users at once against a cce-server started here on loopback: whole-company lists,
// narrow lists and letter saves mixed, for a fixed time. Prints per method the requests
// done, the errors, the refusals, p50 and p99, and the server's memory before, at its peak
// and after.
//
//   bench_load [--clients N] [--seconds T] [--invoices I] [--workers W] [--quick-workers Q]
//              [--mix W:N:S] [--one-address] [--tls] [--standby]
//              [--database URL]... [--server PATH] [--baseline PATH]
//
// --tls: the server speaks TLS (an RSA certificate of a test authority) and every client
// shakes hands on each of its connections, verifying it and resuming its last session, as
// the screen does.
// --standby: on PostgreSQL the load runs once more with the lists read from the streaming
// standby CCE_PG_STANDBY_URL names (scripts/with-postgres --standby), each client sending
// back the commit position of its last save as the screen does.
// --one-address: every client from 127.0.0.1, as an office behind one NAT address (else each
// from an address of its own). --baseline: the same load against that program first, then
// against --server, in one run on each database (for what a change costs).
//
// Without --database the company database is a new SQLite file and, when CCE_PG_URL names
// a PostgreSQL server (scripts/with-postgres), a new database on it too: the same load on
// each in turn, in one run, and the whole-company lists' medians compared. On a PostgreSQL
// server the run fills a new database of its own, dropped afterwards.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "db/DemoData.h"
#include "server/methods/PacketFields.h"
#include "server/store/Store.h"
#include "tests/support/ProcessMemory.h"
#include "tests/support/TestPki.h"

namespace {

QString option(const QStringList& args, const char* name, const QString& fallback)
{
    const int at = args.indexOf(QString::fromLatin1(name));
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

// Set with --tls: the clients' side, trusting the test authority.
SSL_CTX* g_tls = nullptr;

// One request on its own connection from a loopback address of the client's own (the
// server bounds the connections of one address). Returns the status, -1 on no answer.
// session: over TLS, the client's last session, resumed and replaced, as the screen does.
// position: the commit position the client's writes reached, sent and replaced by the answer's.
int post(const char* fromAddress, int port, const QByteArray& path, const QByteArray& body, QByteArray* reply,
         SSL_SESSION** session = nullptr, QByteArray* position = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // As the screen's sockets: a request written after the handshake's last flight goes at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, fromAddress, &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(quint16(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    int status = -1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) == 0) {
        const QByteArray carried =
            position && !position->isEmpty() ? "X-CCE-Commit-Position: " + *position + "\r\n" : QByteArray();
        const QByteArray request = (body.isEmpty() ? "GET " : "POST ") + path +
                                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" + carried +
                                   "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        SSL* ssl = nullptr;
        if (g_tls) {
            ssl = SSL_new(g_tls);
            SSL_set_fd(ssl, fd);
            SSL_set1_host(ssl, "localhost");
            if (session && *session)
                SSL_set_session(ssl, *session);
            if (SSL_connect(ssl) != 1) {
                SSL_free(ssl);
                ::close(fd);
                return -1;
            }
        }
        qsizetype sent = 0;
        while (sent < request.size()) {
            const qsizetype left = request.size() - sent;
            const ssize_t n = ssl ? SSL_write(ssl, request.constData() + sent, int(left))
                                  : ::send(fd, request.constData() + sent, size_t(left), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        QByteArray in;
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t n = ssl ? SSL_read(ssl, buffer, int(sizeof(buffer))) : ::recv(fd, buffer, sizeof(buffer), 0);
            if (n <= 0)
                break;
            in.append(buffer, n);
        }
        if (ssl && session) {
            SSL_SESSION_free(*session);
            *session = SSL_get1_session(ssl);
        }
        SSL_free(ssl);
        const qsizetype end = in.indexOf("\r\n\r\n");
        if (in.startsWith("HTTP/1.1 ") && end > 0) {
            status = in.mid(9, 3).toInt();
            *reply = in.mid(end + 4);
            static const QRegularExpression header(QStringLiteral("\r\nX-CCE-Commit-Position: *([^\r]+)"),
                                                   QRegularExpression::CaseInsensitiveOption);
            const QRegularExpressionMatch m = header.match(QString::fromLatin1(in.left(end)));
            if (position && m.hasMatch())
                *position = m.captured(1).toLatin1();
        }
    }
    ::close(fd);
    return status;
}

QByteArray request(const char* method, const QVariantList& params)
{
    QJsonArray args;
    for (const QVariant& p : params)
        args.append(fw::json::encode(p));
    return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", args}})
        .toJson(QJsonDocument::Compact);
}

QVariantList criteria(const QString& counterpart)
{
    QVariantList p;
    for (int i = 0; i < 13; ++i)
        p << QStringLiteral("T");
    p[3] = QStringLiteral("01");
    p[9] = counterpart.isEmpty() ? QStringLiteral("T") : counterpart;
    p[12] = QString();
    p << false << QVariant() << QVariant();
    return p;
}

struct Figures {
    std::vector<double> ms;
    int errors = 0;
    int refused = 0; // 503 or no answer: the server turned the client away
};

double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

// An invoice a client writes its letters on: inserted, then deleted, again and again.
struct Target {
    QString filial, lancto;
    bool carrier = false;
};

// The load, the same on each database.
struct Load {
    int clients = 0, seconds = 0, invoices = 0;
    int wWhole = 1, wNarrow = 2, wSave = 3;
    bool oneAddress = false; // every client from 127.0.0.1, as an office behind one NAT address
    QString workers, quickWorkers, ini;
    QString standbyUrl; // PostgreSQL's lists once more from this standby ("" not)
    QStringList programs; // the baseline first when there is one, then the server
};

// What a run tells of a database, for the comparison.
struct Outcome {
    bool ok = false;
    double wholeP50 = 0, saveP99 = 0;
};

// A PostgreSQL database of the run's own beside the one url names ("" when none can be
// made), so a database given is left as it was; the name is the run's, never a value given.
QString freshDatabase(const QString& url, QString* created)
{
    QString error;
    auto store = srv::Store::open(url, &error);
    if (!store)
        return QString();
    const QString name = QStringLiteral("cce_bench_load_%1").arg(QCoreApplication::applicationPid());
    if (!QSqlQuery(store->connection()).exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
        return QString();
    *created = name;
    QUrl u(url);
    u.setPath(QLatin1Char('/') + name);
    return u.toString();
}

void dropDatabase(const QString& url, const QString& name)
{
    QString error;
    auto store = srv::Store::open(url, &error);
    if (store)
        QSqlQuery(store->connection()).exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
}

Outcome runServer(const QString& program, const QString& url, const Load& load, const std::vector<Target>& targets,
                  const std::vector<QString>& counterparts, const QString& readUrl = QString());

// Fills the database, then runs the load against each program, each on invoices of its own.
Outcome runOn(const QString& url, const Load& load)
{
    const int clients = load.clients;
    const int programs = int(load.programs.size());
    // The standby's run is one more phase, on invoices of its own.
    const bool standby = !load.standbyUrl.isEmpty() && url.startsWith(QLatin1String("postgres"));
    const int phases = programs + (standby ? 1 : 0);
    Outcome outcome;
    QString error;
    auto store = srv::Store::open(url, &error);
    if (!store || !store->migrate(&error)) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(error));
        return outcome;
    }
    QSqlDatabase db = store->connection();
    {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT COUNT(*) FROM EMPRESA")) && q.next() && q.value(0).toInt() > 0) {
            std::fprintf(stderr, "bench_load: the database already holds companies; give an empty one\n");
            return outcome;
        }
    }
    db::DemoOptions o;
    o.invoices = load.invoices;
    db::DemoSummary s;
    QElapsedTimer t;
    t.start();
    if (!db::fillDemo(db, o, &error, &s)) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(error));
        return outcome;
    }
    std::printf("database %s: %d invoices, %d letters (%.1f s)\n", qPrintable(url.section(QLatin1Char(':'), 0, 0)),
                s.invoices, s.letters, t.elapsed() / 1000.0);

    // Each client's own invoice for its saves: authorised, of company 01, without letters.
    std::vector<Target> targets;
    std::vector<QString> counterparts;
    {
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT N.CDFILIAL, N.NRLANCTONF, N.NRINSJURTRAN FROM NOTAFISCAL N WHERE N.CDEMPRESA = "
                              "'01' AND N.CDMODELONF = '55' AND N.IDSITUACAONFE = 'A' AND NOT EXISTS (SELECT 1 FROM "
                              "CARTACORRECAO L WHERE L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF) "
                              "ORDER BY N.NRLANCTONF"));
        while (q.next() && int(targets.size()) < clients * phases)
            targets.push_back({q.value(0).toString(), q.value(1).toString(), !q.value(2).toString().isEmpty()});
        q.exec(QStringLiteral("SELECT DISTINCT NRINSJURNF FROM NOTAFISCAL WHERE CDEMPRESA = '01' AND NRINSJURNF IS "
                              "NOT NULL ORDER BY NRINSJURNF"));
        while (q.next())
            counterparts.push_back(q.value(0).toString());
        q.exec(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL WHERE CDEMPRESA = '01'"));
        if (q.next())
            std::printf("company 01: %d invoices; %d counterparts for narrow lists\n", q.value(0).toInt(),
                        int(counterparts.size()));
    }
    if (int(targets.size()) < clients * phases || counterparts.empty()) {
        std::fprintf(stderr, "bench_load: not enough invoices without letters for %d clients\n", clients * phases);
        return outcome;
    }
    db = QSqlDatabase();
    store.reset();

    for (int phase = 0; phase < phases; ++phase) {
        const bool onStandby = phase == programs;
        const QString& program = load.programs[std::min(phase, programs - 1)];
        QString readUrl;
        if (onStandby) {
            QUrl u(load.standbyUrl);
            u.setPath(QUrl(url).path());
            readUrl = u.toString();
            std::printf("\n-- lists from the standby %s:%d\n", qPrintable(u.host()), u.port());
        } else if (programs > 1) {
            std::printf("\n-- %s\n", qPrintable(program));
        }
        const std::vector<Target> own(targets.begin() + phase * clients, targets.begin() + (phase + 1) * clients);
        const Outcome ran = runServer(program, url, load, own, counterparts, readUrl);
        if (!onStandby || !ran.ok)
            outcome = ran;
        if (!outcome.ok)
            break;
    }
    return outcome;
}

Outcome runServer(const QString& program, const QString& url, const Load& load, const std::vector<Target>& targets,
                  const std::vector<QString>& counterparts, const QString& readUrl)
{
    const int clients = load.clients, seconds = load.seconds;
    const int wWhole = load.wWhole, wNarrow = load.wNarrow, wSave = load.wSave;
    Outcome outcome;
    QString ini = load.ini;
    if (!readUrl.isEmpty()) {
        ini = load.ini + QStringLiteral(".standby");
        QFile::remove(ini);
        QFile::copy(load.ini, ini);
        QFile f(ini);
        f.open(QIODevice::Append);
        f.write("[database]\nread_url=" + readUrl.toUtf8() + "\n");
    }
    QProcess proc;
    proc.setStandardErrorFile(QProcess::nullDevice()); // one log line per request
    proc.start(program, {"--config", ini, "--database", url, "--listen", "127.0.0.1:0"});
    if (!proc.waitForReadyRead(60000)) {
        std::fprintf(stderr, "bench_load: %s did not start\n", qPrintable(program));
        return outcome;
    }
    const QString line = QString::fromUtf8(proc.readLine()).trimmed();
    const int port =
        QRegularExpression(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)")).match(line).captured(1).toInt();
    if (port <= 0) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(line));
        return outcome;
    }
    const qint64 pid = proc.processId();
    const QByteArray path = "/rpc/Dfs59000.rdmTransmissaoCCe";
    {
        // One list first, so the idle figure counts what the first call loads once.
        QByteArray reply;
        post("127.0.0.1", port, path, request("GetNotaFiscal", criteria(counterparts.front())), &reply);
    }
    const qint64 rssBefore = cce_test::statusKiB("VmRSS:", pid);
    const qint64 anonBefore = cce_test::statusKiB("RssAnon:", pid);

    std::mutex mutex;
    std::map<std::string, Figures> figures;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    const fw::FieldDefs letterFields = srv::fields::cartaCorrecao();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            const QByteArray from = load.oneAddress ? QByteArray("127.0.0.1") : "127.0.1." + QByteArray::number(c + 1);
            std::mt19937 rng(quint32(1000 + c));
            std::uniform_int_distribution<int> pick(0, wWhole + wNarrow + wSave - 1);
            const Target& target = targets[size_t(c)];
            const fw::Row letter{
                target.filial,        target.lancto,
                QStringLiteral("01"), QStringLiteral("Correção da carga %1: endereço do destinatário.").arg(c),
                QVariant(),           QStringLiteral("Carta de Correção Pendente no Sistema"),
                QVariant(),           QVariant(),
                QStringLiteral("P"),  target.carrier ? QStringLiteral("P") : QStringLiteral("N")};
            bool stored = false;
            SSL_SESSION* session = nullptr;
            QByteArray position;
            while (!stop) {
                const int p = pick(rng);
                const char* name;
                QByteArray body;
                if (p < wWhole) {
                    name = "GetNotaFiscal (whole company)";
                    body = request("GetNotaFiscal", criteria(QString()));
                } else if (p < wWhole + wNarrow) {
                    name = "GetNotaFiscal (one counterpart)";
                    body = request("GetNotaFiscal", criteria(counterparts[rng() % counterparts.size()]));
                } else {
                    name = stored ? "SetCCe (delete)" : "SetCCe (insert)";
                    fw::DeltaPacket d{letterFields, {}};
                    d.changes = {stored ? fw::DeltaChange{fw::DeltaChange::Op::Delete, letter, {}}
                                        : fw::DeltaChange{fw::DeltaChange::Op::Insert, {}, letter}};
                    body = request("SetCCe", {QVariant::fromValue(d), target.filial, target.lancto});
                }
                QElapsedTimer timer;
                timer.start();
                QByteArray reply;
                const int status = post(from.constData(), port, path, body, &reply, &session, &position);
                const double ms = double(timer.nsecsElapsed()) / 1e6;
                const QJsonObject answer = QJsonDocument::fromJson(reply).object();
                bool ok = status == 200 && answer.contains("result");
                if (ok && name[0] == 'S') {
                    ok = answer.value("result").toString().isEmpty();
                    if (ok)
                        stored = !stored;
                }
                std::lock_guard<std::mutex> lock(mutex);
                Figures& fig = figures[name];
                fig.ms.push_back(ms);
                if (status == 503 || status < 0)
                    ++fig.refused;
                else if (!ok)
                    ++fig.errors;
            }
            SSL_SESSION_free(session);
        });
    }
    qint64 peak = rssBefore;
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < qint64(seconds) * 1000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        peak = std::max(peak, cce_test::statusKiB("VmRSS:", pid));
    }
    stop = true;
    for (std::thread& th : threads)
        th.join();
    const double elapsed = run.elapsed() / 1000.0;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const qint64 rssAfter = cce_test::statusKiB("VmRSS:", pid);
    const qint64 anonAfter = cce_test::statusKiB("RssAnon:", pid);
    const qint64 fileAfter = cce_test::statusKiB("RssFile:", pid);

    std::printf("%d clients from %s for %.1f s, %s workers and %s for quick calls, mix whole:narrow:save %d:%d:%d\n",
                clients, load.oneAddress ? "one address" : "an address each", elapsed, qPrintable(load.workers),
                qPrintable(load.quickWorkers), wWhole, wNarrow, wSave);
    std::printf("%-34s %8s %7s %8s %10s %10s\n", "method", "done", "errors", "refused", "p50 ms", "p99 ms");
    std::vector<double> saves;
    for (const auto& [name, fig] : figures) {
        std::printf("%-34s %8d %7d %8d %10.1f %10.1f\n", name.c_str(), int(fig.ms.size()), fig.errors, fig.refused,
                    percentile(fig.ms, 0.5), percentile(fig.ms, 0.99));
        if (name.rfind("SetCCe", 0) == 0)
            saves.insert(saves.end(), fig.ms.begin(), fig.ms.end());
    }
    outcome.wholeP50 = percentile(figures["GetNotaFiscal (whole company)"].ms, 0.5);
    outcome.saveP99 = percentile(saves, 0.99);
    outcome.ok = true;
    std::printf("server memory: %.1f MiB before, %.1f MiB at the peak, %.1f MiB after\n", rssBefore / 1024.0,
                peak / 1024.0, rssAfter / 1024.0);
    // The database's pages (SQLite maps its file and caches pages per connection) are
    // apart from the memory the calls take.
    std::printf("  of which anonymous: %.1f MiB before, %.1f MiB after; mapped files after: %.1f MiB\n",
                anonBefore / 1024.0, anonAfter / 1024.0, fileAfter / 1024.0);
    std::printf("saves, insert and delete together: p99 %.1f ms\n", outcome.saveP99);
    if (!readUrl.isEmpty()) {
        // Where the lists were read, by the server's own count.
        QByteArray text;
        post("127.0.0.1", port, "/metrics", QByteArray(), &text);
        for (const QByteArray& l : text.split('\n'))
            if (l.startsWith("cce_read_replica_"))
                std::printf("  %s\n", l.constData());
    }
    proc.terminate();
    proc.waitForFinished(60000);
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    Load load;
    load.clients = option(args, "--clients", "50").toInt();
    load.seconds = option(args, "--seconds", "20").toInt();
    load.invoices = option(args, "--invoices", "20000").toInt();
    load.workers = option(args, "--workers", "4");
    load.quickWorkers = option(args, "--quick-workers", "1");
    const QStringList mix = option(args, "--mix", "1:2:3").split(QLatin1Char(':'));
    load.wWhole = mix.value(0).toInt();
    load.wNarrow = mix.value(1).toInt();
    load.wSave = mix.value(2).toInt();
    load.oneAddress = args.contains(QStringLiteral("--one-address"));
    if (args.contains(QStringLiteral("--standby"))) {
        load.standbyUrl = qEnvironmentVariable("CCE_PG_STANDBY_URL");
        if (load.standbyUrl.isEmpty()) {
            std::fprintf(stderr, "bench_load: --standby needs CCE_PG_STANDBY_URL (scripts/with-postgres --standby)\n");
            return 1;
        }
    }
    const QString baseline = option(args, "--baseline", QString());
    if (!baseline.isEmpty())
        load.programs << baseline;
    load.programs << option(args, "--server", QDir(QCoreApplication::applicationDirPath()).filePath("cce-server"));
    QTemporaryDir dir;
    load.ini = dir.filePath("bench.ini");
    QFile f(load.ini);
    f.open(QIODevice::WriteOnly);
    f.write("[server]\nworkers=" + load.workers.toUtf8() + "\nquick_workers=" + load.quickWorkers.toUtf8() + "\n");
    if (args.contains(QStringLiteral("--tls"))) {
        const cce_test::TestPki pki(dir.filePath("pki"), cce_test::TestPki::Keys::Rsa2048);
        if (!pki.ok()) {
            std::fprintf(stderr, "bench_load: could not make the TLS certificates\n");
            return 1;
        }
        f.write("tls_certificate=" + pki.serverPem.toUtf8() + "\ntls_key=" + pki.serverKey.toUtf8() + "\n");
        g_tls = SSL_CTX_new(TLS_client_method());
        SSL_CTX_load_verify_locations(g_tls, QFile::encodeName(pki.caPem).constData(), nullptr);
        SSL_CTX_set_verify(g_tls, SSL_VERIFY_PEER, nullptr);
        std::printf("over TLS: every request on a connection of its own, its handshake verified\n");
    }
    f.close();

    QStringList urls;
    for (int i = 0; i + 1 < args.size(); ++i)
        if (args[i] == QLatin1String("--database"))
            urls << args[i + 1];
    if (urls.isEmpty()) {
        urls << QStringLiteral("sqlite:") + dir.filePath("load.db");
        if (!qEnvironmentVariableIsEmpty("CCE_PG_URL"))
            urls << qEnvironmentVariable("CCE_PG_URL");
    }
    std::map<QString, Outcome> byEngine;
    for (const QString& given : urls) {
        const bool pg = given.startsWith(QLatin1String("postgres"));
        QString created;
        const QString url = pg ? freshDatabase(given, &created) : given;
        if (url.isEmpty()) {
            std::fprintf(stderr, "bench_load: no database of its own on %s\n", qPrintable(given));
            return 1;
        }
        std::printf("\n== %s\n", pg ? "PostgreSQL" : "SQLite");
        const Outcome outcome = runOn(url, load);
        if (!created.isEmpty())
            dropDatabase(given, created);
        if (!outcome.ok)
            return 1;
        byEngine[pg ? QStringLiteral("postgresql") : QStringLiteral("sqlite")] = outcome;
    }
    if (byEngine.count(QStringLiteral("sqlite")) && byEngine.count(QStringLiteral("postgresql"))) {
        const Outcome& lite = byEngine[QStringLiteral("sqlite")];
        const Outcome& pg = byEngine[QStringLiteral("postgresql")];
        std::printf("\nratio PostgreSQL / SQLite, whole-company list p50: %.2f (aim: at or under 1)\n",
                    lite.wholeP50 > 0 ? pg.wholeP50 / lite.wholeP50 : 0.0);
        std::printf("PostgreSQL saves p99: %.1f ms (aim: under 100)\n", pg.saveP99);
    }
    return 0;
}
