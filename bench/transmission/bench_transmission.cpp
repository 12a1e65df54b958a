// The cost of one CC-e event on its way to the authority: building, signing and
// validating 20 events as one batch carries them, then the batch's round trip over HTTPS
// to the stand-in on loopback (SOAP, TLS, the stand-in's own checks), per event, best of
// five rounds. The same key also sits on a SoftHSM2 token (A3, scripts/softhsm-token): each
// event is signed there too, interleaved with the A1 signature, and the two costs compared.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <thread>

#include "nfe/AccessKey.h"
#include "nfe/EventXml.h"
#include "nfe/Schema.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "sefaz-sim/Registry.h"
#include "sefaz-sim/Rules.h"
#include "sefaz-sim/SimServer.h"
#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/Pkcs11Token.h"
#include "server/fiscal/Soap.h"
#include "tests/nfe/CondUso.h"
#include "tests/nfe/TestCertificate.h"

using cce_test::kCondUso;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString cnpj = QStringLiteral("12345678000195");
    QString error;
    const QByteArray p12 = cce_test::makePkcs12(cnpj, QStringLiteral("x"));
    auto cert = nfe::Certificate::fromPkcs12(p12, QStringLiteral("x"), &error);
    auto schema = nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &error);
    if (!cert || !schema) {
        std::fprintf(stderr, "bench_transmission: %s\n", qPrintable(error));
        return 1;
    }

    // The stand-in in this process, with a throw-away server certificate for 127.0.0.1.
    QTemporaryDir dir;
    // The same key on a token.
    const QString pfx = dir.filePath(QStringLiteral("a1.pfx")), pin = dir.filePath(QStringLiteral("pin"));
    QFile pfxFile(pfx);
    QFile pinFile(pin);
    if (!pfxFile.open(QIODevice::WriteOnly) || pfxFile.write(p12) != p12.size() ||
        !pinFile.open(QIODevice::WriteOnly) || pinFile.write("246810\n") != 7) {
        std::fprintf(stderr, "bench_transmission: %s could not be written\n", qPrintable(dir.path()));
        return 1;
    }
    pfxFile.close();
    pinFile.close();
    pinFile.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcess tokenTool;
    tokenTool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tokenTool.start(QStringLiteral(CCE_SOURCE_DIR "/scripts/softhsm-token"),
                    {dir.filePath(QStringLiteral("token")), QStringLiteral("Bench"), pin, pfx, QStringLiteral("x")});
    if (!tokenTool.waitForFinished(120000) || tokenTool.exitCode() != 0) {
        std::fprintf(stderr, "bench_transmission: scripts/softhsm-token failed\n");
        return 1;
    }
    qputenv("SOFTHSM2_CONF", QFile::encodeName(dir.filePath(QStringLiteral("token/softhsm2.conf"))));
    const auto token = srv::fiscal::Pkcs11Token::shared(
        {QStringLiteral("/usr/lib/softhsm/libsofthsm2.so"), QStringLiteral("Bench"), pin});
    const auto onToken = token->withKey(cert->der(), &error);
    if (!onToken) {
        std::fprintf(stderr, "bench_transmission: %s\n", qPrintable(error));
        return 1;
    }
    const QString pem = dir.filePath(QStringLiteral("sim.pem")), key = dir.filePath(QStringLiteral("sim.key"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), pem});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        std::fprintf(stderr, "bench_transmission: openssl could not make the stand-in's certificate\n");
        return 1;
    }
    sim::Registry registry(dir.filePath(QStringLiteral("registry.db")));
    if (!registry.open(&error)) {
        std::fprintf(stderr, "bench_transmission: %s\n", qPrintable(error));
        return 1;
    }
    sim::Rules rules(registry, 2);
    sim::SimServer server(rules, sim::ServerOptions{pem, key, QString()});
    if (!rules.ready(&error) || !server.bind(QStringLiteral("127.0.0.1"), 0, &error)) {
        std::fprintf(stderr, "bench_transmission: %s\n", qPrintable(error));
        return 1;
    }
    std::thread serving([&server] { server.serve(); });
    const QString url = QStringLiteral("https://127.0.0.1:%1/ws/NFeRecepcaoEvento4").arg(server.port());
    srv::fiscal::CurlAuthority authority(pem, 20000);
    const srv::fiscal::LoadedCertificate client{cert, p12, QStringLiteral("x"), nullptr};

    const nfe::State& sp = *nfe::stateByUf(QStringLiteral("SP"));
    const int kEvents = 20;
    double best[5] = {1e18, 1e18, 1e18, 1e18, 1e18};
    int accepted = 0;
    for (int round = 0; round < 5; ++round) {
        qint64 ns[5] = {0, 0, 0, 0, 0};
        QList<QByteArray> batch;
        for (int i = 1; i <= kEvents; ++i) {
            QElapsedTimer t;
            t.start();
            nfe::CceEvent e;
            e.cOrgao = 35;
            e.cnpj = cnpj;
            e.chNFe = nfe::buildAccessKey(35, QDate(2026, 11, 3), cnpj, 55, 1, round * 100 + i, 1, 10000000 + i);
            e.dhEvento = nfe::eventTime(QDateTime::currentDateTimeUtc(), sp);
            e.nSeqEvento = 1;
            e.xCorrecao = QStringLiteral("Correção do endereço do destinatário: Rua das Acácias, %1").arg(i);
            e.xCondUso = kCondUso;
            const QByteArray unsignedEvent = nfe::buildEvento(e);
            ns[0] += t.nsecsElapsed();
            t.restart();
            const QByteArray signedEvent = nfe::signEvento(unsignedEvent, *cert, &error);
            ns[1] += t.nsecsElapsed();
            t.restart();
            const QByteArray onTokenEvent = nfe::signEvento(unsignedEvent, *onToken->certificate, &error);
            ns[4] += t.nsecsElapsed();
            if (onTokenEvent != signedEvent) {
                std::fprintf(stderr, "bench_transmission: the token signed other bytes: %s\n", qPrintable(error));
                server.stop();
                serving.join();
                return 1;
            }
            t.restart();
            schema->validate(nfe::buildEnvEvento(1, {signedEvent}), &error);
            ns[2] += t.nsecsElapsed();
            batch << signedEvent;
        }
        QElapsedTimer t;
        t.start();
        const srv::fiscal::AuthorityReply reply = authority.call(
            url, srv::fiscal::kRecepcaoEvento,
            srv::fiscal::envelope(srv::fiscal::kRecepcaoEvento, nfe::buildEnvEvento(round + 1, batch)), client);
        ns[3] += t.nsecsElapsed();
        const srv::fiscal::BatchAnswer answer = srv::fiscal::readBatchAnswer(reply.body);
        if (!answer.readable || answer.events.size() != kEvents) {
            std::fprintf(stderr, "bench_transmission: the stand-in did not answer the batch: %s\n",
                         qPrintable(reply.error));
            server.stop();
            serving.join();
            return 1;
        }
        for (const srv::fiscal::EventAnswer& a : answer.events) {
            accepted += a.cStat == QLatin1String("136") ? 1 : 0;
            if (a.cStat != QLatin1String("136"))
                std::fprintf(stderr, "bench_transmission: %s - %s\n", qPrintable(a.cStat), qPrintable(a.xMotivo));
        }
        for (int k = 0; k < 5; ++k)
            best[k] = std::min(best[k], double(ns[k]) / kEvents / 1e6);
    }
    server.stop();
    serving.join();
    const double local = best[0] + best[1] + best[2];
    std::printf("%-52s %10.3f ms\n", "build, per event", best[0]);
    std::printf("%-52s %10.3f ms\n", "sign (RSA-SHA1, C14N) with the A1 file, per event", best[1]);
    std::printf("%-52s %10.3f ms\n", "sign on the SoftHSM2 token (A3), per event", best[4]);
    std::printf("%-52s %10.3f\n", "token signing / A1 signing", best[4] / best[1]);
    std::printf("%-52s %10.3f ms\n", "schema validation, per event", best[2]);
    std::printf("%-52s %10.3f ms\n", "build + sign + validate, per event", local);
    std::printf("%-52s %10.3f\n", "ratio to the 12 ms of public libraries", local / 12.0);
    std::printf("%-52s %10.3f ms\n", "round trip to the stand-in (batch of 20), per event", best[3]);
    std::printf("%-52s %10d of %d\n", "events registered by the stand-in", accepted, 5 * kEvents);
    return 0;
}
