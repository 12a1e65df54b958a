// Two cce-server processes on one database, with clients on both, as behind a load
// balancer: what one saves the other lists, and the rules between concurrent writers
// hold across them. On SQLite (one file) and on the PostgreSQL of scripts/with-postgres.
#include <QFile>
#include <atomic>
#include <thread>

#include "tests/server/methods/MethodsFixture.h"
#include "tests/support/LoopbackRpc.h"
#include "tests/support/ServerProcess.h"

using namespace cce_test;

namespace {

class ServerCluster : public MethodsTest {
protected:
    void SetUp() override
    {
        m_binary = builtProgram("cce-server");
        if (m_binary.isEmpty())
            GTEST_SKIP() << "cce-server is not built (CCE_BIN_DIR); build the cce-server target to run this test";
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        addNumberedInvoices(kInvoices);
        const QString ini = m_dir.filePath(QStringLiteral("cce-server.ini"));
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[server]\nworkers=2\ntokens=full\n[access.outra]\ntoken=only02\ncompanies=02\n");
        f.close();
        QString why;
        const QStringList args{"--config", ini, "--database", databaseUrl(), "--listen", "127.0.0.1:0"};
        ASSERT_TRUE(a.start(m_binary, args, m_dir.filePath("a.log"), &why)) << why.toStdString();
        ASSERT_TRUE(b.start(m_binary, args, m_dir.filePath("b.log"), &why)) << why.toStdString();
    }

    static QString lancto(int i) { return numberedLancto(i); }

    // The method's result, decoded; an invalid variant on any fault.
    static QVariant call(const ServerProcess& s, const QString& server, const QString& method,
                         const QVariantList& params, const std::string& token = "full")
    {
        return rpcCall(s.port(), server, method, params, token).result();
    }

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
        return call(s, srv::kServerTransmissao, QStringLiteral("SetCCe"),
                    {QVariant::fromValue(d), QStringLiteral("0002"), lancto}, token);
    }

    static constexpr int kInvoices = 21;
    QString m_binary;
    ServerProcess a;
    ServerProcess b;
};

TEST_P(ServerCluster, WhatOneServerSavesTheOtherListsAndConcurrentWritersStayExclusive)
{
    const QString first = lancto(1);
    ASSERT_EQ(save(a, insertion(first, QStringLiteral("Correção salva pelo primeiro servidor.")), first).toString(),
              QString());
    QVariantList listed = call(b, srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"), criteria()).toList();
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
        listed = call(*s, srv::kServerTransmissao, QStringLiteral("GetNotaFiscal"), criteria()).toList();
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
