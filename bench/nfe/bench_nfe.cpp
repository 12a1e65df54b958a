// The cost of one CC-e event before it travels: building, signing and validating 20
// events as one batch would carry them, per event, best of five rounds.
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <cstdio>

#include "nfe/AccessKey.h"
#include "nfe/EventXml.h"
#include "nfe/Schema.h"
#include "nfe/Signer.h"
#include "nfe/States.h"
#include "tests/nfe/TestCertificate.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString cnpj = QStringLiteral("12345678000195");
    QString error;
    auto cert =
        nfe::Certificate::fromPkcs12(cce_test::makePkcs12(cnpj, QStringLiteral("x")), QStringLiteral("x"), &error);
    auto schema = nfe::Schema::load(QStringLiteral("envCCe_v1.00.xsd"), &error);
    if (!cert || !schema) {
        std::fprintf(stderr, "bench_nfe: %s\n", qPrintable(error));
        return 1;
    }
    const nfe::State& sp = *nfe::stateByUf(QStringLiteral("SP"));
    const int kEvents = 20;
    double best[3] = {1e18, 1e18, 1e18};
    for (int round = 0; round < 5; ++round) {
        qint64 ns[3] = {0, 0, 0};
        for (int i = 1; i <= kEvents; ++i) {
            QElapsedTimer t;
            t.start();
            nfe::CceEvent e;
            e.cOrgao = 35;
            e.cnpj = cnpj;
            e.chNFe = nfe::buildAccessKey(35, QDate(2026, 11, 3), cnpj, 55, 1, i, 1, 10000000 + i);
            e.dhEvento = nfe::eventTime(QDateTime::currentDateTimeUtc(), sp);
            e.nSeqEvento = 1;
            e.xCorrecao = QStringLiteral("Correção do endereço do destinatário: Rua das Acácias, %1").arg(i);
            e.xCondUso = QStringLiteral("x");
            const QByteArray unsignedEvent = nfe::buildEvento(e);
            ns[0] += t.nsecsElapsed();
            t.restart();
            const QByteArray signedEvent = nfe::signEvento(unsignedEvent, *cert, &error);
            ns[1] += t.nsecsElapsed();
            t.restart();
            schema->validate(nfe::buildEnvEvento(1, {signedEvent}), &error);
            ns[2] += t.nsecsElapsed();
        }
        for (int k = 0; k < 3; ++k)
            best[k] = std::min(best[k], double(ns[k]) / kEvents / 1e6);
    }
    std::printf("%-44s %10.3f ms\n", "build, per event", best[0]);
    std::printf("%-44s %10.3f ms\n", "sign (RSA-SHA1, C14N), per event", best[1]);
    std::printf("%-44s %10.3f ms\n", "schema validation, per event", best[2]);
    std::printf("%-44s %10.3f ms\n", "build + sign + validate, per event", best[0] + best[1] + best[2]);
    std::printf("%-44s %10.3f\n", "ratio to the 12 ms of public libraries", (best[0] + best[1] + best[2]) / 12.0);
    return 0;
}
