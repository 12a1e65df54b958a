// Two cce-server processes on one database, with clients on both, as behind a load
// balancer: what one saves the other lists, and the rules between concurrent writers
// hold across them. On SQLite (one file) and on the PostgreSQL of scripts/with-postgres.
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <thread>

#include "core/values/JsonCodec.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

QString serverBinary()
{
    const QString dir = qEnvironmentVariable("CCE_BIN_DIR");
    const QString path = QDir(dir).filePath("cce-server");
    return !dir.isEmpty() && QFileInfo(path).isExecutable() ? path : QString();
}

// One server process on the test's database, reached over loopback HTTP.
class ServerProcess {
public:
    ~ServerProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    bool start(const QString& binary, const QString& ini, const QString& database, QString* why)
    {
        m_process.start(binary, {"--config", ini, "--database", database, "--listen", "127.0.0.1:0"});
        QDeadlineTimer deadline(60000);
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
                *why = QString::fromUtf8(m_process.readAllStandardError());
                return false;
            }
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QRegularExpressionMatch m = QRegularExpression(R"(^listening on 127\.0\.0\.1:(\d+)$)").match(line);
        m_port = m.hasMatch() ? m.captured(1).toInt() : 0;
        *why = line;
        return m_port > 0;
    }

    // The method's result, decoded; an invalid variant on any fault.
    QVariant call(const QString& server, const QString& method, const QVariantList& params,
                  const std::string& token = "full") const
    {
        QJsonArray args;
        for (const QVariant& p : params)
            args.append(fw::json::encode(p));
        const QJsonObject request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", args}};
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(60, 0);
        const auto res =
            client.Post(("/rpc/" + server).toStdString(), {{"Authorization", "Bearer " + token}},
                        QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString(), "application/json");
        if (!res || res->status != 200)
            return QVariant();
        const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
        if (!reply.contains("result"))
            return QVariant();
        QString error;
        return fw::json::decode(reply.value("result"), &error);
    }

    bool stop()
    {
        m_process.terminate(); // SIGTERM
        return m_process.waitForFinished(30000) && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    int m_port = 0;
};

class ServerCluster : public MethodsTest {
protected:
    void SetUp() override
    {
        m_binary = serverBinary();
        if (m_binary.isEmpty())
            GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR); build the cce-server target to run this test";
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_url = QLatin1String(GetParam()) == QLatin1String("postgresql")
                    ? qEnvironmentVariable("CCE_PG_URL")
                    : QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("company.db"));
        for (int i = 1; i <= kInvoices; ++i) {
            Invoice n;
            n.lancto = lancto(i);
            n.numero = QStringLiteral("%1").arg(i, 9, 10, QLatin1Char('0'));
            n.acesso = QStringLiteral("3526111122233300018155001%1").arg(i, 19, 10, QLatin1Char('0'));
            addInvoice(n);
        }
        const QString ini = m_dir.filePath(QStringLiteral("cce-server.ini"));
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[server]\nworkers=2\ntokens=full\n[access.outra]\ntoken=only02\ncompanies=02\n");
        f.close();
        QString why;
        ASSERT_TRUE(a.start(m_binary, ini, m_url, &why)) << why.toStdString();
        ASSERT_TRUE(b.start(m_binary, ini, m_url, &why)) << why.toStdString();
    }

    static QString lancto(int i) { return QStringLiteral("%1").arg(i, 10, 10, QLatin1Char('0')); }

    static fw::DeltaPacket insertion(const QString& lancto, const QString& text)
    {
        fw::DeltaPacket d = delta();
        Letter l = pending(QStringLiteral("01"));
        l.texto = text;
        d.changes = {ins(letterRow(QStringLiteral("0002"), lancto, l))};
        return d;
    }

    QVariant save(const ServerProcess& s, const fw::DeltaPacket& d, const QString& lancto,
                  const std::string& token = "full")
    {
        return s.call(srv::kServerTransmissao, QStringLiteral("SetCCe"),
                      {QVariant::fromValue(d), QStringLiteral("0002"), lancto}, token);
    }

    static constexpr int kInvoices = 21;
    QString m_binary;
    QString m_url;
    ServerProcess a;
    ServerProcess b;
};

TEST_P(ServerCluster, WhatOneServerSavesTheOtherListsAndConcurrentWritersStayExclusive)
{
    const QString first = lancto(1);
    ASSERT_EQ(save(a, insertion(first, QStringLiteral("Correção salva pelo primeiro servidor.")), first).toString(),
              QString());
    QVariantList listed = b.call(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"), criteria()).toList();
    ASSERT_EQ(listed.size(), 2);
    const fw::DataPacket invoices = listed[0].value<fw::DataPacket>();
    const fw::DataPacket letters = listed[1].value<fw::DataPacket>();
    EXPECT_EQ(invoices.rows.size(), kInvoices);
    ASSERT_EQ(letters.rows.size(), 1);
    EXPECT_EQ(letters.rows[0].value(letters.fieldIndex(QStringLiteral("DSCORRECAONFE"))).toString(),
              QStringLiteral("Correção salva pelo primeiro servidor."));

    // The same first letter of each other invoice, saved through both servers at once:
    // exactly one of each pair is stored.
    for (int i = 2; i <= kInvoices; ++i) {
        const QString l = lancto(i);
        QString viaA, viaB;
        std::atomic<int> ready{0};
        auto racer = [&](const ServerProcess& s, const char* who, QString* out) {
            ++ready;
            while (ready < 2) {}
            *out = save(s, insertion(l, QStringLiteral("Correção gravada pelo servidor %1.").arg(who)), l).toString();
        };
        std::thread ta(racer, std::cref(a), "A", &viaA);
        std::thread tb(racer, std::cref(b), "B", &viaB);
        ta.join();
        tb.join();
        EXPECT_TRUE(viaA.isEmpty() != viaB.isEmpty())
            << "invoice " << i << ": A said \"" << viaA.toStdString() << "\", B said \"" << viaB.toStdString() << '"';
        const QStringList kept = stored(QStringLiteral("0002"), l);
        ASSERT_EQ(kept.size(), 1) << "invoice " << i;
        EXPECT_TRUE(kept[0].contains(viaA.isEmpty() ? QStringLiteral("servidor A") : QStringLiteral("servidor B")))
            << kept[0].toStdString();
    }

    // Two users change the same loaded letter through different servers: one wins.
    fw::Row loaded = letterRow(QStringLiteral("0002"), first, pending(QStringLiteral("01")));
    loaded[3] = QStringLiteral("Correção salva pelo primeiro servidor.");
    QString viaA, viaB;
    auto change = [&](const ServerProcess& s, const char* who, QString* out) {
        fw::DeltaPacket d = delta();
        fw::Row now = loaded;
        now[3] = QStringLiteral("Texto novo da correção, escrito via %1.").arg(who);
        d.changes = {mod(loaded, now)};
        *out = save(s, d, first).toString();
    };
    std::thread ta(change, std::cref(a), "A", &viaA);
    std::thread tb(change, std::cref(b), "B", &viaB);
    ta.join();
    tb.join();
    EXPECT_TRUE(viaA.isEmpty() != viaB.isEmpty()) << viaA.toStdString() << " / " << viaB.toStdString();

    // Every letter saved through either is listed by both.
    for (const ServerProcess* s : {&a, &b}) {
        listed = s->call(srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"), criteria()).toList();
        ASSERT_EQ(listed.size(), 2);
        EXPECT_EQ(listed[1].value<fw::DataPacket>().rows.size(), kInvoices);
    }

    // The configuration's limited token holds on both.
    for (const ServerProcess* s : {&a, &b})
        EXPECT_EQ(save(*s, insertion(lancto(2), QStringLiteral("Correção de quem não pode.")), lancto(2), "only02")
                      .toString(),
                  QStringLiteral("Acesso não autorizado à empresa 01."));
    EXPECT_EQ(stored(QStringLiteral("0002"), lancto(2)).size(), 1);

    EXPECT_TRUE(a.stop());
    EXPECT_TRUE(b.stop());
}

INSTANTIATE_TEST_SUITE_P(Engines, ServerCluster, ::testing::Values("sqlite", "postgresql"));

} // namespace
