// The e-mail of accepted letters against a real SMTP server started here on loopback
// (STARTTLS, AUTH, one refused recipient), and into the outbox without one: what the
// message holds, and that a letter counts as sent only once its message was taken.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

#include "server/mail/MailService.h"
#include "server/mail/SmtpTransport.h"
#include "server/methods/Methods.h"
#include "server/rpc/MethodRegistry.h"
#include "server/store/Store.h"

namespace {

const QString kUser = QStringLiteral("cce");
const QString kPassword = QStringLiteral("s3nha,secreta");
const QString kFrom = QStringLiteral("nfe@bandeirantes.com.br");
const QString kRefused = QStringLiteral("recusado@exemplo.com.br");

QString sourceDir() { return qEnvironmentVariable("CCE_SOURCE_DIR") + QStringLiteral("/tests/server/mail"); }

// Runs a helper program to its end (bounded); its standard output.
QByteArray runTool(const QString& program, const QStringList& args, bool* ok = nullptr)
{
    QProcess p;
    p.start(program, args);
    const bool finished = p.waitForFinished(60000);
    if (!finished)
        p.kill(), p.waitForFinished(5000);
    if (ok)
        *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return p.readAllStandardOutput();
}

// Python's own reading of a message (check_eml.py).
QJsonObject parsed(const QByteArray& eml, const QString& dir)
{
    const QString path = dir + QStringLiteral("/parse-me.eml");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(eml) != eml.size())
        return {};
    f.close();
    bool ok = false;
    const QByteArray out =
        runTool(QStringLiteral("/usr/bin/python3"), {sourceDir() + QStringLiteral("/check_eml.py"), path}, &ok);
    EXPECT_TRUE(ok) << "check_eml.py could not read the message";
    return QJsonDocument::fromJson(out).object();
}

QJsonObject attachment(const QJsonObject& message, const QString& name)
{
    for (const QJsonValue& a : message.value(QStringLiteral("attachments")).toArray())
        if (a.toObject().value(QStringLiteral("name")).toString() == name)
            return a.toObject();
    return {};
}

QByteArray attachmentBytes(const QJsonObject& a)
{
    return QByteArray::fromHex(a.value(QStringLiteral("hex")).toString().toLatin1());
}

// The SMTP server of the tests (smtp_server.py): started on a free port, ended when its
// input closes.
class SmtpServer {
public:
    bool start(const QString& dir, bool implicitTls = false, int delayMs = 0)
    {
        m_spool = dir + QStringLiteral("/spool");
        QDir().mkpath(m_spool);
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments({sourceDir() + QStringLiteral("/smtp_server.py"), QStringLiteral("--cert"),
                                dir + QStringLiteral("/server.pem"), QStringLiteral("--key"),
                                dir + QStringLiteral("/server.key"), QStringLiteral("--user"), kUser,
                                QStringLiteral("--password"), kPassword, QStringLiteral("--spool"), m_spool,
                                QStringLiteral("--refuse"), kRefused});
        if (implicitTls)
            m_process.setArguments(m_process.arguments() << QStringLiteral("--implicit-tls"));
        if (delayMs > 0)
            m_process.setArguments(m_process.arguments() << QStringLiteral("--delay-ms") << QString::number(delayMs));
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(15000))
            line += m_process.readAllStandardOutput();
        if (!line.startsWith("listening on 127.0.0.1:")) {
            m_error = m_process.readAllStandardError();
            return false;
        }
        port = line.trimmed().mid(line.lastIndexOf(':') + 1).toInt();
        return port > 0;
    }
    ~SmtpServer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // What it took: the messages and their envelopes, in order.
    QList<QByteArray> messages() const
    {
        QList<QByteArray> out;
        for (const QString& name : QDir(m_spool).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
            QFile f(QDir(m_spool).filePath(name));
            out << (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
        }
        return out;
    }
    QList<QJsonObject> envelopes() const
    {
        QList<QJsonObject> out;
        for (const QString& name : QDir(m_spool).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            QFile f(QDir(m_spool).filePath(name));
            out << (f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject());
        }
        return out;
    }
    QByteArray error() const { return m_error; }

    int port = 0;

private:
    QProcess m_process;
    QString m_spool;
    QByteArray m_error;
};

struct Key {
    QString filial, lancto, seq, chave;
};

class Mail : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        ASSERT_TRUE(s_dir->isValid());
        QString error;
        auto store = srv::Store::open(QStringLiteral("sqlite:") + s_dir->filePath(QStringLiteral("demo.db")), &error);
        ASSERT_TRUE(store) << error.toStdString();
        ASSERT_TRUE(store->migrate(&error));
        ASSERT_TRUE(store->fillDemo(0, &error)) << error.toStdString();

        // A throwaway authority and the SMTP server's certificate for 127.0.0.1.
        const QString d = s_dir->path();
        QFile ext(d + QStringLiteral("/ext.cnf"));
        ASSERT_TRUE(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        ext.close();
        const QString openssl = QStringLiteral("openssl");
        const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
        bool ok = false;
        runTool(openssl,
                QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                    QStringList{QStringLiteral("-keyout"), d + QStringLiteral("/ca.key"), QStringLiteral("-out"),
                                d + QStringLiteral("/ca.pem"), QStringLiteral("-subj"), QStringLiteral("/CN=Teste CA"),
                                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-addext"),
                                QStringLiteral("basicConstraints=critical,CA:TRUE"), QStringLiteral("-addext"),
                                QStringLiteral("keyUsage=keyCertSign,cRLSign")},
                &ok);
        ASSERT_TRUE(ok) << "openssl could not make the test authority";
        runTool(openssl,
                QStringList{QStringLiteral("req")} + ec +
                    QStringList{QStringLiteral("-keyout"), d + QStringLiteral("/server.key"), QStringLiteral("-out"),
                                d + QStringLiteral("/server.csr"), QStringLiteral("-subj"),
                                QStringLiteral("/CN=127.0.0.1")},
                &ok);
        ASSERT_TRUE(ok);
        runTool(openssl,
                {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                 d + QStringLiteral("/server.csr"), QStringLiteral("-CA"), d + QStringLiteral("/ca.pem"),
                 QStringLiteral("-CAkey"), d + QStringLiteral("/ca.key"), QStringLiteral("-CAcreateserial"),
                 QStringLiteral("-out"), d + QStringLiteral("/server.pem"), QStringLiteral("-days"),
                 QStringLiteral("2"), QStringLiteral("-extfile"), d + QStringLiteral("/ext.cnf")},
                &ok);
        ASSERT_TRUE(ok);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const QString file = m_dir.filePath(QStringLiteral("company.db"));
        ASSERT_TRUE(QFile::copy(s_dir->filePath(QStringLiteral("demo.db")), file));
        QString error;
        store = srv::Store::open(QStringLiteral("sqlite:") + file, &error);
        ASSERT_TRUE(store) << error.toStdString();
        for (const char* f : {"server.pem", "server.key"})
            ASSERT_TRUE(QFile::copy(s_dir->filePath(QLatin1String(f)), m_dir.filePath(QLatin1String(f))));
    }

    srv::mail::MailConfig smtpConfig(int port) const
    {
        srv::mail::MailConfig c;
        c.host = QStringLiteral("127.0.0.1");
        c.port = port;
        c.security = srv::mail::MailConfig::Security::StartTls;
        c.user = kUser;
        c.password = kPassword;
        c.from = kFrom;
        c.trustStore = s_dir->filePath(QStringLiteral("ca.pem"));
        c.timeoutMs = 15000;
        return c;
    }

    // The methods as the server registers them, with this mail configuration behind them.
    void useMail(const srv::mail::MailConfig& config)
    {
        QString error;
        ASSERT_TRUE(config.check(&error)) << error.toStdString();
        mailer = srv::mail::MailService::fromConfig(*store, config);
        registry = std::make_unique<srv::MethodRegistry>();
        srv::registerMethods(*registry, srv::Services{store.get(), nullptr, mailer.get()});
    }

    QString sendEmail(const Key& k, bool carrier)
    {
        return registry->find(srv::kServerTransmissao, QStringLiteral("SendEmailCCe"))
            ->fn({k.filial, k.lancto, k.seq, carrier})
            .toString();
    }

    QString sendPending(const QList<Key>& keys)
    {
        fw::DataPacket p;
        p.fields = {{QStringLiteral("IDCHECK"), fw::FieldType::String, 1, false, false},
                    {QStringLiteral("CDFILIAL"), fw::FieldType::String, 4, false, false},
                    {QStringLiteral("NRLANCTONF"), fw::FieldType::String, 10, false, false}};
        for (const Key& k : keys)
            p.rows << fw::Row{QStringLiteral("N"), k.filial, k.lancto};
        return registry->find(srv::kServerTransmissao, QStringLiteral("SendEmailCCeTodos"))
            ->fn({QVariant::fromValue(p)})
            .toString();
    }

    void exec(const QString& sql, const QVariantList& binds)
    {
        QSqlQuery q(store->connection());
        ASSERT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
        for (int i = 0; i < binds.size(); ++i)
            q.bindValue(i, binds.at(i));
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }

    // Invoices whose latest letter is accepted and whose recipient e-mail is pending; with
    // several accepted letters when asked, so that the PDF must pick the right one.
    QList<Key> acceptedPending(int n, bool severalLetters = false)
    {
        QSqlQuery q(store->connection());
        EXPECT_TRUE(q.exec(QStringLiteral(
            "SELECT N.CDFILIAL, N.NRLANCTONF, L.NRSEQCCE, N.NRACESSONFE FROM NOTAFISCAL N JOIN CARTACORRECAO L "
            "ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE L.CDSTATUSCCE IN ('135', '136') "
            "AND L.IDEMAILCCE = 'P' AND L.NRSEQCCE = (SELECT MAX(NRSEQCCE) FROM CARTACORRECAO C "
            "WHERE C.CDFILIAL = N.CDFILIAL AND C.NRLANCTONF = N.NRLANCTONF) ORDER BY L.NRSEQCCE DESC, N.CDFILIAL, "
            "N.NRLANCTONF")));
        QList<Key> out;
        while (q.next() && out.size() < n) {
            const Key k{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()};
            if (!severalLetters || k.seq.toInt() >= 2)
                out << k;
        }
        EXPECT_EQ(out.size(), n) << "the demo has too few accepted letters with pending e-mail";
        return out;
    }

    // The letter gets its stored procEventoNFe and the invoice a customer of the test's own.
    QByteArray prepare(const Key& k, const QString& email)
    {
        const QByteArray proc =
            QStringLiteral("<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">"
                           "<evento><chNFe>%1</chNFe><nSeqEvento>%2</nSeqEvento><xCorrecao>Correção "
                           "ação</xCorrecao></evento><retEvento/></procEventoNFe>\n")
                .arg(k.chave)
                .arg(k.seq.toInt())
                .toUtf8();
        exec(QStringLiteral("UPDATE CARTACORRECAO SET DSXMLPROCEVENTO = ? WHERE CDFILIAL = ? AND NRLANCTONF = ? "
                            "AND NRSEQCCE = ?"),
             {QString::fromUtf8(proc), k.filial, k.lancto, k.seq});
        const QString code = QStringLiteral("T%1%2").arg(k.filial, k.lancto);
        exec(QStringLiteral("INSERT INTO CLIENTE (CDCLIENTE, IDTPIJURCLIE, NRINSJURCLIE, NMRAZSOCCLIE, NMFANTCLIE, "
                            "DSEMAILCLIE) VALUES (?, 'J', '11222333000181', 'Mercado São João Ltda', 'São João', ?)"),
             {code, email.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(email)});
        exec(QStringLiteral("UPDATE NOTAFISCAL SET IDORIGDESTNF = 'C', CDCLIENTE = ?, CDFORNECED = NULL WHERE "
                            "CDFILIAL = ? AND NRLANCTONF = ?"),
             {code, k.filial, k.lancto});
        return proc;
    }

    // IDEMAILCCE and IDEMAILCCETRANS of the letter, "P/N" say.
    QString flags(const Key& k)
    {
        QSqlQuery q(store->connection());
        q.prepare(QStringLiteral("SELECT IDEMAILCCE, IDEMAILCCETRANS FROM CARTACORRECAO WHERE CDFILIAL = ? AND "
                                 "NRLANCTONF = ? AND NRSEQCCE = ?"));
        q.addBindValue(k.filial);
        q.addBindValue(k.lancto);
        q.addBindValue(k.seq);
        EXPECT_TRUE(q.exec());
        return q.next() ? q.value(0).toString() + QLatin1Char('/') + q.value(1).toString() : QString();
    }

    // Every letter as stored, to show that nothing changed.
    QStringList letters()
    {
        QSqlQuery q(store->connection());
        EXPECT_TRUE(q.exec(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, NRSEQCCE, IDEMAILCCE, IDEMAILCCETRANS, "
                                          "NRVERSAOREG, CDSTATUSCCE FROM CARTACORRECAO ORDER BY 1, 2, 3")));
        QStringList out;
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < 7; ++i)
                row << q.value(i).toString();
            out << row.join(QLatin1Char('|'));
        }
        return out;
    }

    static int closedPort()
    {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        const int port = s.serverPort();
        s.close();
        return port;
    }

    QTemporaryDir m_dir;
    static inline QTemporaryDir* s_dir = nullptr;
    std::unique_ptr<srv::Store> store;
    std::unique_ptr<srv::mail::MailService> mailer;
    std::unique_ptr<srv::MethodRegistry> registry;
};

} // namespace

TEST_F(Mail, TheLetterLeavesOverStartTlsWithAuthCarryingItsXmlAndPdfAndOnlyThenCountsAsSent)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    useMail(smtpConfig(smtp.port));
    const Key k = acceptedPending(1, true).value(0);
    const QByteArray proc = prepare(k, QStringLiteral("compras@saojoao.com.br"));
    const QString carrierBefore = flags(k).section(QLatin1Char('/'), 1);

    EXPECT_EQ(sendEmail(k, false).toStdString(), "");

    ASSERT_EQ(smtp.messages().size(), 1);
    const QJsonObject env = smtp.envelopes().value(0);
    EXPECT_EQ(env.value(QStringLiteral("mail_from")).toString(), kFrom);
    EXPECT_EQ(env.value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{QStringLiteral("compras@saojoao.com.br")});
    EXPECT_TRUE(env.value(QStringLiteral("tls")).toBool());
    EXPECT_TRUE(env.value(QStringLiteral("authenticated")).toBool());

    const QJsonObject m = parsed(smtp.messages().value(0), m_dir.path());
    EXPECT_EQ(m.value(QStringLiteral("defects")).toArray(), QJsonArray());
    EXPECT_EQ(m.value(QStringLiteral("content_type")).toString(), QStringLiteral("multipart/mixed"));
    QSqlQuery q(store->connection());
    q.prepare(QStringLiteral("SELECT N.NRNOTAFISCALELE, L.NRPROTOCOLCCE, L.DSCORRECAONFE FROM NOTAFISCAL N JOIN "
                             "CARTACORRECAO L ON L.CDFILIAL = N.CDFILIAL AND L.NRLANCTONF = N.NRLANCTONF WHERE "
                             "L.CDFILIAL = ? AND L.NRLANCTONF = ? AND L.NRSEQCCE = ?"));
    q.addBindValue(k.filial);
    q.addBindValue(k.lancto);
    q.addBindValue(k.seq);
    ASSERT_TRUE(q.exec() && q.next());
    const QString numero = q.value(0).toString(), protocolo = q.value(1).toString();
    const QString subject = m.value(QStringLiteral("subject")).toString();
    EXPECT_TRUE(subject.contains(QStringLiteral("Carta de Correção Eletrônica nº %1").arg(k.seq)))
        << subject.toStdString();
    EXPECT_TRUE(subject.contains(QStringLiteral("NF-e nº %1").arg(numero))) << subject.toStdString();
    const QString body =
        m.value(QStringLiteral("body")).toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QString grouped;
    for (int i = 0; i < 44; i += 4)
        grouped += (i ? QStringLiteral(" ") : QString()) + k.chave.mid(i, 4);
    EXPECT_TRUE(body.contains(grouped)) << body.toStdString();
    for (const QString& part : q.value(2).toString().split(QLatin1Char(';'), Qt::SkipEmptyParts))
        EXPECT_TRUE(body.contains(QLatin1Char('\n') + part.trimmed() + QLatin1Char('\n'))) << body.toStdString();

    const QString stem = QStringLiteral("%1-%2-procEventoNFe").arg(k.chave).arg(k.seq.toInt());
    const QJsonObject xml = attachment(m, stem + QStringLiteral(".xml"));
    const QJsonObject pdf = attachment(m, stem + QStringLiteral(".pdf"));
    EXPECT_EQ(m.value(QStringLiteral("attachments")).toArray().size(), 2);
    EXPECT_EQ(attachmentBytes(xml), proc);
    EXPECT_EQ(pdf.value(QStringLiteral("type")).toString(), QStringLiteral("application/pdf"));
    // The PDF is this letter alone, though the invoice has older accepted ones.
    const QByteArray pdfBytes = attachmentBytes(pdf);
    ASSERT_TRUE(pdfBytes.startsWith("%PDF"));
    QFile pf(m_dir.filePath(QStringLiteral("carta.pdf")));
    ASSERT_TRUE(pf.open(QIODevice::WriteOnly));
    pf.write(pdfBytes);
    pf.close();
    const QString pdfText =
        QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {pf.fileName(), QStringLiteral("-")}));
    EXPECT_TRUE(pdfText.contains(protocolo)) << pdfText.toStdString();
    EXPECT_TRUE(pdfText.contains(grouped)) << pdfText.toStdString();
    EXPECT_EQ(pdfText.count(QStringLiteral("CARTA DE CORREÇÃO ELETRÔNICA")), 1) << pdfText.toStdString();

    EXPECT_EQ(flags(k), QStringLiteral("E/") + carrierBefore);
}

TEST_F(Mail, TheCarrierGetsItsOwnMessageAndItsOwnFlag)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    useMail(smtpConfig(smtp.port));
    const QList<Key> keys = acceptedPending(2);
    const Key withCarrier = keys.value(0), without = keys.value(1);
    prepare(withCarrier, QStringLiteral("compras@saojoao.com.br"));
    prepare(without, QStringLiteral("compras@saojoao.com.br"));
    exec(QStringLiteral("INSERT INTO TRANSPORTADORA (NRINSJURTRAN, IDTPIJURTRAN, NMRAZSOCTRAN, DSEMAILTRAN) "
                        "VALUES ('99888777000166', 'J', 'Rodovia Cargas Ltda', 'cte@rodovia.com.br')"),
         {});
    exec(QStringLiteral("UPDATE NOTAFISCAL SET NRINSJURTRAN = '99888777000166' WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
         {withCarrier.filial, withCarrier.lancto});
    exec(QStringLiteral("UPDATE NOTAFISCAL SET NRINSJURTRAN = NULL WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
         {without.filial, without.lancto});
    exec(QStringLiteral("UPDATE CARTACORRECAO SET IDEMAILCCETRANS = 'P' WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
         {withCarrier.filial, withCarrier.lancto});

    EXPECT_EQ(sendEmail(withCarrier, true).toStdString(), "");
    ASSERT_EQ(smtp.envelopes().size(), 1);
    EXPECT_EQ(smtp.envelopes().value(0).value(QStringLiteral("rcpt_tos")).toArray(),
              QJsonArray{QStringLiteral("cte@rodovia.com.br")});
    EXPECT_EQ(flags(withCarrier), QStringLiteral("P/E"));

    const QStringList before = letters();
    const QString r = sendEmail(without, true);
    EXPECT_TRUE(r.contains(QStringLiteral("não tem transportadora"))) << r.toStdString();
    EXPECT_EQ(smtp.envelopes().size(), 1);
    EXPECT_EQ(letters(), before);
}

TEST_F(Mail, PendingEmailsReportARefusedRecipientAndAMissingAddressAtTheFixedPositions)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    useMail(smtpConfig(smtp.port));
    QList<Key> keys = acceptedPending(3);
    std::sort(keys.begin(), keys.end(),
              [](const Key& a, const Key& b) { return a.filial + a.lancto < b.filial + b.lancto; });
    const Key good = keys.value(0), refused = keys.value(1), noAddress = keys.value(2);
    prepare(good, QStringLiteral("compras@saojoao.com.br"));
    prepare(refused, kRefused);
    prepare(noAddress, QString());

    const QString answer = sendPending({noAddress, good, refused});
    const QStringList lines = answer.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << answer.toStdString();
    const Key expected[] = {refused, noAddress};
    for (int i = 0; i < 2; ++i) {
        const QString& line = lines.at(i);
        EXPECT_EQ(line.left(44), QStringLiteral("Falha no envio do e-mail da CC-e. NF Filial "));
        EXPECT_EQ(line.mid(44, 4), expected[i].filial) << line.toStdString();
        EXPECT_EQ(line.mid(48, 3), QStringLiteral(" / "));
        EXPECT_EQ(line.mid(51, 10), expected[i].lancto) << line.toStdString();
        EXPECT_EQ(line.mid(61, 2), QStringLiteral(": "));
    }
    EXPECT_TRUE(lines.at(0).contains(QStringLiteral("recusou o destinatário"))) << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(0).contains(QStringLiteral("550"))) << lines.at(0).toStdString();
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("não tem e-mail cadastrado"))) << lines.at(1).toStdString();

    ASSERT_EQ(smtp.envelopes().size(), 1);
    EXPECT_EQ(smtp.envelopes().value(0).value(QStringLiteral("rcpt_tos")).toArray(),
              QJsonArray{QStringLiteral("compras@saojoao.com.br")});
    EXPECT_TRUE(flags(good).startsWith(QLatin1Char('E')));
    EXPECT_TRUE(flags(refused).startsWith(QLatin1Char('P')));
    EXPECT_TRUE(flags(noAddress).startsWith(QLatin1Char('P')));

    // Sent ones are no longer pending: a second call sends nothing new.
    sendPending({good});
    EXPECT_EQ(smtp.envelopes().size(), 1);
}

TEST_F(Mail, AnSmtpServerThatIsDownOrRefusesTheLoginLeavesEveryLetterUnsent)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    const QList<Key> keys = acceptedPending(2);
    for (const Key& k : keys)
        prepare(k, QStringLiteral("compras@saojoao.com.br"));
    const QStringList before = letters();

    useMail(smtpConfig(closedPort()));
    const QString answer = sendPending(keys);
    const QStringList lines = answer.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2) << answer.toStdString();
    for (const QString& line : lines)
        EXPECT_TRUE(line.contains(QStringLiteral("indisponível"))) << line.toStdString();
    const QString one = sendEmail(keys.value(0), false);
    EXPECT_TRUE(one.startsWith(QStringLiteral("Servidor de e-mail indisponível"))) << one.toStdString();
    // What went wrong in Portuguese first; libcurl's own words only after, for the logs.
    EXPECT_TRUE(one.contains(QStringLiteral("o servidor recusou a conexão ou não está no ar ("))) << one.toStdString();
    EXPECT_EQ(letters(), before);

    srv::mail::MailConfig wrong = smtpConfig(smtp.port);
    wrong.password = QStringLiteral("errada");
    useMail(wrong);
    const QString login = sendEmail(keys.value(0), false);
    EXPECT_TRUE(login.contains(QStringLiteral("usuário e a senha"))) << login.toStdString();
    // A server whose certificate is not trusted is never given the message either.
    srv::mail::MailConfig untrusted = smtpConfig(smtp.port);
    untrusted.trustStore = QStringLiteral("/etc/ssl/certs/ca-certificates.crt"); // no test authority there
    useMail(untrusted);
    const QString trust = sendEmail(keys.value(0), false);
    EXPECT_TRUE(trust.contains(QStringLiteral("não confiável"))) << trust.toStdString();
    EXPECT_EQ(smtp.messages().size(), 0);
    EXPECT_EQ(letters(), before);
}

TEST_F(Mail, WithoutSmtpTheMessageIsWrittenWholeIntoTheOutboxAndReadsAsMail)
{
    srv::mail::MailConfig c;
    c.outbox = m_dir.filePath(QStringLiteral("outbox"));
    useMail(c);
    const Key k = acceptedPending(1).value(0);
    const QByteArray proc = prepare(k, QStringLiteral("compras@saojoao.com.br"));
    // A name that must be encoded and would split an address list if it were not.
    const QString company = QStringLiteral("Comercio \"Sao Joao\", Ltda. (Matriz)");
    exec(QStringLiteral("UPDATE EMPRESA SET NMRAZSOCEMPR = ? WHERE CDEMPRESA = (SELECT CDEMPRESA FROM NOTAFISCAL "
                        "WHERE CDFILIAL = ? AND NRLANCTONF = ?)"),
         {company, k.filial, k.lancto});

    EXPECT_EQ(sendEmail(k, false).toStdString(), "");
    const QStringList files = QDir(c.outbox).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(files.size(), 1) << files.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(files.value(0).endsWith(QStringLiteral("-destinatario.eml"))) << files.value(0).toStdString();
    QFile f(QDir(c.outbox).filePath(files.value(0)));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray eml = f.readAll();
    EXPECT_FALSE(eml.contains("\r\n..")) << "dot-stuffing left in the file";
    const QJsonObject m = parsed(eml, m_dir.path());
    EXPECT_EQ(m.value(QStringLiteral("defects")).toArray(), QJsonArray());
    EXPECT_EQ(m.value(QStringLiteral("mime_version")).toString(), QStringLiteral("1.0"));
    EXPECT_EQ(m.value(QStringLiteral("to")).toString(), QStringLiteral("compras@saojoao.com.br"));
    EXPECT_EQ(m.value(QStringLiteral("from_name")).toString(), company);
    EXPECT_EQ(m.value(QStringLiteral("from_addr")).toString(), QStringLiteral("cce@localhost"));
    EXPECT_TRUE(m.value(QStringLiteral("subject")).toString().endsWith(company));
    EXPECT_TRUE(
        m.value(QStringLiteral("subject")).toString().startsWith(QStringLiteral("Carta de Correção Eletrônica")));
    EXPECT_TRUE(m.value(QStringLiteral("body")).toString().contains(QStringLiteral("Chave de acesso: ")));
    const QString stem = QStringLiteral("%1-%2-procEventoNFe").arg(k.chave).arg(k.seq.toInt());
    EXPECT_EQ(attachmentBytes(attachment(m, stem + QStringLiteral(".xml"))), proc);
    EXPECT_TRUE(attachmentBytes(attachment(m, stem + QStringLiteral(".pdf"))).startsWith("%PDF"));
    EXPECT_TRUE(flags(k).startsWith(QLatin1Char('E')));
}

TEST_F(Mail, AnOutboxThatCannotBeWrittenLeavesTheLetterPending)
{
    QFile blocker(m_dir.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    srv::mail::MailConfig c;
    c.outbox = blocker.fileName() + QStringLiteral("/outbox");
    useMail(c);
    const Key k = acceptedPending(1).value(0);
    prepare(k, QStringLiteral("compras@saojoao.com.br"));
    const QStringList before = letters();
    const QString r = sendEmail(k, false);
    EXPECT_TRUE(r.contains(QStringLiteral("pasta de saída"))) << r.toStdString();
    EXPECT_EQ(letters(), before);
}

TEST_F(Mail, ALetterThatCannotGoSaysWhyAndChangesNothing)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    useMail(smtpConfig(smtp.port));
    const QList<Key> keys = acceptedPending(2);
    // The demo's accepted letters keep no procEventoNFe.
    const Key noXml = keys.value(0);
    // An address that would end the header and add a recipient of its own.
    const Key injected = keys.value(1);
    prepare(injected, QStringLiteral("compras@saojoao.com.br\r\nBcc: espiao@fora.com"));
    QSqlQuery q(store->connection());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT CDFILIAL, NRLANCTONF, NRSEQCCE FROM CARTACORRECAO WHERE "
                                      "IDTRANSMCCE = 'N' ORDER BY 1, 2")) &&
                q.next());
    const Key pendingLetter{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), QString()};
    const QStringList before = letters();

    const QString a = sendEmail(noXml, false);
    EXPECT_TRUE(a.contains(QStringLiteral("procEventoNFe"))) << a.toStdString();
    const QString b = sendEmail(injected, false);
    EXPECT_TRUE(b.contains(QStringLiteral("não é um endereço válido"))) << b.toStdString();
    const QString c = sendEmail(pendingLetter, false);
    EXPECT_TRUE(c.contains(QStringLiteral("não foi aceita"))) << c.toStdString();
    const QString d = sendEmail(Key{noXml.filial, noXml.lancto, QStringLiteral("20"), QString()}, false);
    const QString e = sendEmail(Key{noXml.filial, noXml.lancto, QStringLiteral("2x"), QString()}, false);
    EXPECT_FALSE(d.isEmpty());
    EXPECT_TRUE(e.contains(QStringLiteral("inválida"))) << e.toStdString();
    EXPECT_EQ(smtp.messages().size(), 0);
    EXPECT_EQ(letters(), before);
}

TEST_F(Mail, TwoCallsForThePendingEmailsAtOnceSendEachMessageOnce)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path())) << smtp.error().toStdString();
    useMail(smtpConfig(smtp.port));
    const QList<Key> keys = acceptedPending(3);
    for (const Key& k : keys)
        prepare(k, QStringLiteral("compras@saojoao.com.br"));
    // As the server's workers do: each call on a thread of its own, with its own connection.
    QString answers[2];
    std::thread first([&] { answers[0] = sendPending(keys); });
    std::thread second([&] { answers[1] = sendPending(keys); });
    first.join();
    second.join();
    EXPECT_EQ(answers[0].toStdString(), "");
    EXPECT_EQ(answers[1].toStdString(), "");
    EXPECT_EQ(smtp.envelopes().size(), keys.size());
    for (const Key& k : keys)
        EXPECT_TRUE(flags(k).startsWith(QLatin1Char('E')));
}

TEST_F(Mail, ALongRunOfPendingEmailsStartsNoNewMessageOnceItsTimeIsUpAndSaysWhichAreLeft)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path(), false, 1200)) << smtp.error().toStdString();
    srv::mail::MailConfig c = smtpConfig(smtp.port);
    c.batchTimeMs = 1000;
    useMail(c);
    QList<Key> keys = acceptedPending(3);
    std::sort(keys.begin(), keys.end(),
              [](const Key& a, const Key& b) { return a.filial + a.lancto < b.filial + b.lancto; });
    for (const Key& k : keys)
        prepare(k, QStringLiteral("compras@saojoao.com.br"));

    // The server takes longer than the whole allowance over the first message: the others
    // are never started, however fast the machine is.
    const QStringList lines = sendPending(keys).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(lines.at(i).mid(44, 4), keys.at(i + 1).filial);
        EXPECT_EQ(lines.at(i).mid(51, 10), keys.at(i + 1).lancto);
        EXPECT_TRUE(lines.at(i).contains(QStringLiteral("tempo"))) << lines.at(i).toStdString();
        EXPECT_TRUE(flags(keys.at(i + 1)).startsWith(QLatin1Char('P')));
    }
    EXPECT_EQ(smtp.envelopes().size(), 1);
    EXPECT_TRUE(flags(keys.at(0)).startsWith(QLatin1Char('E')));
}

TEST_F(Mail, ImplicitTlsCarriesTheMessageToo)
{
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start(m_dir.path(), true)) << smtp.error().toStdString();
    srv::mail::MailConfig c = smtpConfig(smtp.port);
    c.security = srv::mail::MailConfig::Security::Tls;
    useMail(c);
    const Key k = acceptedPending(1).value(0);
    prepare(k, QStringLiteral("compras@saojoao.com.br"));
    EXPECT_EQ(sendEmail(k, false).toStdString(), "");
    ASSERT_EQ(smtp.envelopes().size(), 1);
    EXPECT_TRUE(smtp.envelopes().value(0).value(QStringLiteral("tls")).toBool());
    EXPECT_TRUE(flags(k).startsWith(QLatin1Char('E')));
}

TEST(MailConfig, TheMailSectionIsReadAsWrittenAndAPasswordIsNeverSentInClear)
{
    QTemporaryDir dir;
    auto write = [&](const QByteArray& text) {
        QFile f(dir.filePath(QStringLiteral("cce-server.ini")));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        return f.fileName();
    };
    QFile pw(dir.filePath(QStringLiteral("senha.txt")));
    ASSERT_TRUE(pw.open(QIODevice::WriteOnly));
    pw.write("a,b;c\n");
    pw.close();

    srv::mail::MailConfig c;
    QString error;
    ASSERT_TRUE(c.loadFile(write("[mail]\nhost=smtp.exemplo.com.br\nsecurity=tls\nuser=cce\npassword_file=senha.txt\n"
                                 "from=nfe@exemplo.com.br\noutbox=saida\n"),
                           &error))
        << error.toStdString();
    EXPECT_EQ(c.url(), QStringLiteral("smtps://smtp.exemplo.com.br:465"));
    EXPECT_EQ(c.password, QStringLiteral("a,b;c"));
    EXPECT_EQ(c.outbox, QDir(dir.path()).filePath(QStringLiteral("saida")));

    srv::mail::MailConfig plain;
    ASSERT_TRUE(plain.loadFile(write("[mail]\nhost=127.0.0.1\nsecurity=starttls\nport=2525\npassword=x,y\n"
                                     "from=nfe@exemplo.com.br\n"),
                               &error))
        << error.toStdString();
    EXPECT_EQ(plain.url(), QStringLiteral("smtp://127.0.0.1:2525"));
    EXPECT_EQ(plain.password, QStringLiteral("x,y"));

    for (const QByteArray& bad :
         {QByteArray("[mail]\nhost=smtp.exemplo.com.br\nsecurity=none\nuser=cce\nfrom=a@b.com\n"),
          QByteArray("[mail]\nsecurity=ssl\n"),
          QByteArray("[mail]\nbatch_time_ms=90000\n"), // with 30 s a message, past 120 s
          QByteArray("[mail]\nhost=smtp.exemplo.com.br\n"),
          QByteArray("[mail]\nfrom=nfe@exemplo.com.br>\\r\\nRCPT TO:<x@y.z\n")}) {
        srv::mail::MailConfig b;
        EXPECT_FALSE(b.loadFile(write(bad), &error)) << bad.toStdString();
    }
}

namespace {

class ScriptedMailer : public srv::Mailer {
public:
    QString sendLetter(const QString&, const QString&, const QString&, bool) override { return {}; }
    QList<Failure> sendPending(const QList<QPair<QString, QString>>& invoices) override
    {
        asked = invoices;
        return failures;
    }
    QList<QPair<QString, QString>> asked;
    QList<Failure> failures;
};

} // namespace

TEST(MailMethods, LinesKeepTheirPositionsForShortCodesAndEachInvoiceIsAskedOnce)
{
    ScriptedMailer mailer;
    mailer.failures = {{QStringLiteral("01"), QStringLiteral("123"), QStringLiteral("motivo\ncom quebra")}};
    srv::MethodRegistry registry;
    srv::registerMethods(registry, srv::Services{nullptr, nullptr, &mailer});
    fw::DataPacket p;
    p.fields = {{QStringLiteral("CDFILIAL"), fw::FieldType::String, 4, false, false},
                {QStringLiteral("NRLANCTONF"), fw::FieldType::String, 10, false, false}};
    p.rows = {fw::Row{QStringLiteral("01"), QStringLiteral("123")},
              fw::Row{QStringLiteral("01"), QStringLiteral("123")},
              fw::Row{QStringLiteral("0002"), QStringLiteral("0000000009")}};
    const QString r = registry.find(srv::kServerTransmissao, QStringLiteral("SendEmailCCeTodos"))
                          ->fn({QVariant::fromValue(p)})
                          .toString();
    EXPECT_EQ(r, QStringLiteral("Falha no envio do e-mail da CC-e. NF Filial 01   / 123       : motivo com quebra"));
    EXPECT_EQ(mailer.asked.size(), 2);

    srv::MethodRegistry none;
    srv::registerMethods(none, srv::Services{nullptr, nullptr, nullptr});
    const QString n = none.find(srv::kServerTransmissao, QStringLiteral("SendEmailCCe"))
                          ->fn({QStringLiteral("0001"), QStringLiteral("0000000001"), QStringLiteral("01"), false})
                          .toString();
    EXPECT_TRUE(n.contains(QStringLiteral("não está configurado"))) << n.toStdString();
}
