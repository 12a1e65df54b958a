// A1 files as they are found in use, made by the openssl command line: the old algorithms
// (RC2-40 and 3DES, "-legacy") read and used, the chain the file holds presented in the
// handshake to an authority that trusts only the root, the authority trusted from a folder of
// DER certificates as the ICP-Brasil chains are published, and clear refusals.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "nfe/EventXml.h"
#include "nfe/Signer.h"
#include "server/fiscal/AuthorityClient.h"
#include "server/fiscal/CertificateStore.h"
#include "server/fiscal/Soap.h"

namespace {

const QString kCnpj = QStringLiteral("11222333000181");

class Certificates : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        // A root, an intermediate below it, the holder below that; the stand-in's own below the root.
        ASSERT_TRUE(ca("root", QString(), QStringLiteral("/CN=Raiz de Teste")));
        ASSERT_TRUE(ca("inter", QStringLiteral("root"), QStringLiteral("/CN=AC Intermediaria de Teste")));
        ASSERT_TRUE(
            leaf("holder", QStringLiteral("inter"), QStringLiteral("/CN=EMPRESA DE TESTE:") + kCnpj, QString()));
        ASSERT_TRUE(leaf("server", QStringLiteral("root"), QStringLiteral("/CN=127.0.0.1"),
                         QStringLiteral("subjectAltName=IP:127.0.0.1")));
        ASSERT_TRUE(openssl({QStringLiteral("pkcs12"), QStringLiteral("-export"), QStringLiteral("-legacy"),
                             QStringLiteral("-in"), path("holder.pem"), QStringLiteral("-inkey"), path("holder.key"),
                             QStringLiteral("-certfile"), path("inter.pem"), QStringLiteral("-passout"),
                             QStringLiteral("pass:demo"), QStringLiteral("-out"), path("a1/legacy.pfx")}));
        ASSERT_TRUE(
            openssl({QStringLiteral("pkcs12"), QStringLiteral("-export"), QStringLiteral("-in"), path("holder.pem"),
                     QStringLiteral("-inkey"), path("holder.key"), QStringLiteral("-passout"),
                     QStringLiteral("pass:demo"), QStringLiteral("-out"), path("a1/bare.pfx")}));
        // The authority's trust, published as DER files in a folder.
        QDir().mkpath(path("trust"));
        ASSERT_TRUE(
            openssl({QStringLiteral("x509"), QStringLiteral("-in"), path("root.pem"), QStringLiteral("-outform"),
                     QStringLiteral("DER"), QStringLiteral("-out"), path("trust/raiz.crt")}));
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    static QString path(const char* name) { return s_dir->filePath(QLatin1String(name)); }
    static bool openssl(const QStringList& args)
    {
        QDir().mkpath(path("a1"));
        QProcess p;
        p.start(QStringLiteral("openssl"), args);
        const bool ok = p.waitForFinished(60000) && p.exitCode() == 0;
        EXPECT_TRUE(ok) << args.join(QLatin1Char(' ')).toStdString() << ": " << p.readAllStandardError().toStdString();
        return ok;
    }
    static bool ca(const char* name, const QString& issuer, const QString& subject)
    {
        const QString n = QLatin1String(name);
        QFile ext(s_dir->filePath(n + QStringLiteral(".ext")));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n");
        ext.close();
        if (issuer.isEmpty())
            return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                            QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                            QStringLiteral("30"), QStringLiteral("-subj"), subject, QStringLiteral("-addext"),
                            QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-keyout"),
                            s_dir->filePath(n + QStringLiteral(".key")), QStringLiteral("-out"),
                            s_dir->filePath(n + QStringLiteral(".pem"))});
        return issue(n, issuer, subject, ext.fileName());
    }
    static bool leaf(const char* name, const QString& issuer, const QString& subject, const QString& extension)
    {
        const QString n = QLatin1String(name);
        QFile ext(s_dir->filePath(n + QStringLiteral(".ext")));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write(("basicConstraints=CA:FALSE\n" + extension + '\n').toUtf8());
        ext.close();
        return issue(n, issuer, subject, ext.fileName());
    }
    static bool issue(const QString& n, const QString& issuer, const QString& subject, const QString& ext)
    {
        static int serial = 100;
        const QString csr = s_dir->filePath(n + QStringLiteral(".csr"));
        return openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                        QStringLiteral("-nodes"), QStringLiteral("-subj"), subject, QStringLiteral("-keyout"),
                        s_dir->filePath(n + QStringLiteral(".key")), QStringLiteral("-out"), csr}) &&
               openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), csr,
                        QStringLiteral("-CA"), s_dir->filePath(issuer + QStringLiteral(".pem")),
                        QStringLiteral("-CAkey"), s_dir->filePath(issuer + QStringLiteral(".key")),
                        QStringLiteral("-set_serial"), QString::number(++serial), QStringLiteral("-days"),
                        QStringLiteral("30"), QStringLiteral("-extfile"), ext, QStringLiteral("-out"),
                        s_dir->filePath(n + QStringLiteral(".pem"))});
    }

    static inline QTemporaryDir* s_dir = nullptr;
};

} // namespace

TEST_F(Certificates, ALegacyFileIsReadWithItsChainAndSignsAndWhatCannotBeReadIsRefusedSayingWhy)
{
    srv::fiscal::CertificateStore store(path("a1"), QStringLiteral("demo"));
    QString error;
    const auto legacy = store.forIssuer(QStringLiteral("legacy"), kCnpj, &error);
    ASSERT_TRUE(legacy) << error.toStdString();
    EXPECT_TRUE(legacy->certificate->legacyFile());
    EXPECT_EQ(legacy->certificate->cnpj(), kCnpj);
    ASSERT_EQ(legacy->certificate->chain().size(), 1);
    // Its key signs as a modern file's does.
    nfe::CceEvent e;
    e.cOrgao = 35;
    e.cnpj = kCnpj;
    e.chNFe = QString(44, QLatin1Char('1'));
    e.dhEvento = QStringLiteral("2026-12-08T10:00:00-03:00");
    e.xCorrecao = QStringLiteral("Correção do endereço de entrega");
    e.xCondUso = QStringLiteral("condição");
    EXPECT_TRUE(nfe::verifyEvento(nfe::signEvento(nfe::buildEvento(e), *legacy->certificate, &error)).valid)
        << error.toStdString();

    srv::fiscal::CertificateStore wrong(path("a1"), QStringLiteral("outra"));
    EXPECT_FALSE(wrong.forIssuer(QStringLiteral("legacy"), kCnpj, &error));
    EXPECT_EQ(error, QStringLiteral("O certificado digital legacy não pôde ser lido: senha incorreta."));
    QFile junk(path("a1/junk.pfx"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("-----BEGIN CERTIFICATE-----\nnot a PKCS#12 file\n");
    junk.close();
    EXPECT_FALSE(store.forIssuer(QStringLiteral("junk"), kCnpj, &error));
    EXPECT_TRUE(
        error.startsWith(QStringLiteral("O certificado digital junk não pôde ser lido: formato não reconhecido")))
        << error.toStdString();
}

TEST_F(Certificates, TheChainTheFileHoldsIsPresentedToAnAuthorityThatTrustsOnlyTheRoot)
{
    QTemporaryDir registry;
    QProcess sim;
    sim.setProcessChannelMode(QProcess::SeparateChannels);
    sim.start(QDir(qEnvironmentVariable("CCE_BIN_DIR")).filePath(QStringLiteral("sefaz-sim")),
              {QStringLiteral("--registry"), QStringLiteral("sqlite:") + registry.filePath(QStringLiteral("r.db")),
               QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--cert"), path("server.pem"),
               QStringLiteral("--key"), path("server.key"), QStringLiteral("--client-ca"), path("root.pem")});
    QDeadlineTimer deadline(30000);
    while (!sim.canReadLine() && sim.state() != QProcess::NotRunning && !deadline.hasExpired())
        sim.waitForReadyRead(200);
    const int port = QString::fromUtf8(sim.readLine()).trimmed().section(QLatin1Char(':'), -1).toInt();
    ASSERT_GT(port, 0) << sim.readAllStandardError().toStdString();
    const QString url = QStringLiteral("https://127.0.0.1:%1/ws/NFeConsultaProtocolo4").arg(port);

    srv::fiscal::CertificateStore store(path("a1"), QStringLiteral("demo"));
    QString error;
    auto ask = [&](const QString& trust, const char* file) {
        srv::fiscal::CurlAuthority authority(trust, 10000);
        return authority.call(
            url, srv::fiscal::kConsultaProtocolo,
            srv::fiscal::envelope(srv::fiscal::kConsultaProtocolo,
                                  srv::fiscal::consSitNFe(QStringLiteral("2"), QString(44, QLatin1Char('1')))),
            *store.forIssuer(QLatin1String(file), kCnpj, &error));
    };
    const srv::fiscal::AuthorityReply withChain = ask(path("trust"), "legacy");
    EXPECT_EQ(withChain.httpStatus, 200) << withChain.error.toStdString();
    EXPECT_TRUE(srv::fiscal::readProtocolAnswer(withChain.body).readable) << withChain.body.toStdString();
    // The same holder without its intermediate is not recognised.
    EXPECT_EQ(ask(path("trust"), "bare").httpStatus, 403);
    // Verification is never off: an authority the trust store does not name is not called.
    EXPECT_EQ(ask(path("a1"), "legacy").outcome, srv::fiscal::AuthorityReply::Outcome::NotSent);
    sim.terminate();
    sim.waitForFinished(10000);
}
