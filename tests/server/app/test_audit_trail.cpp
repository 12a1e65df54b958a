// The audit trail: every change to a letter leaves a row naming who made it (the caller
// the transport saw), written in the change's own transaction; transmissions and e-mails
// leave theirs; and the trail reads back as CSV.
#include <QSqlQuery>
#include <QTemporaryFile>
#include <unistd.h>

#include "server/app/AuditReport.h"
#include "server/app/CallerAudit.h"
#include "server/rpc/Caller.h"
#include "server/store/AuditTrail.h"
#include "server/store/BatchStore.h"
#include "server/store/MailStore.h"
#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

const QString F = QStringLiteral("0002");
const QString L1 = QStringLiteral("0000000001");

class AuditTrailTest : public MethodsTest {
protected:
    void SetUp() override
    {
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        srv::auditEveryCall(registry);
        Invoice n;
        n.lancto = L1;
        addInvoice(n);
    }

    QString save(const fw::DeltaChange& change)
    {
        const srv::Caller caller{QStringLiteral("ab12cd-7"),
                                 QStringLiteral("10.0.0.9"),
                                 QStringLiteral("filial-sp"),
                                 QStringLiteral("maria"),
                                 QStringLiteral("CN=estacao-sp,O=Empresa"),
                                 QByteArray()};
        const srv::CallerGuard calling(caller);
        fw::DeltaPacket d = delta();
        d.changes << change;
        return setCCe(d, F, L1);
    }
    static fw::Row letter(const QString& text)
    {
        Letter l = pending(QStringLiteral("01"));
        l.texto = text;
        return letterRow(F, L1, l);
    }

    // "action|seq|outcome|user|token|address|request|company|certificate" of every row, oldest first.
    QStringList trail()
    {
        QStringList out;
        for (const srv::AuditRow& r : srv::AuditTrail(*store).rows(QStringLiteral("01"), QDate()))
            out << QStringList{r.action,        r.seq,           r.outcome, r.actor.user,       r.actor.token,
                               r.actor.address, r.actor.request, r.company, r.actor.certificate}
                       .join(QLatin1Char('|'));
        return out;
    }
};

TEST_P(AuditTrailTest, EachSavedChangeNamesItsCallerAndNothingIsRecordedOfWhatWasRefused)
{
    const QString first = QStringLiteral("Correção do endereço de entrega, primeira versão.");
    ASSERT_EQ(save(ins(letter(first))), QString());
    const QString second = QStringLiteral("Correção do endereço de entrega, segunda versão.");
    ASSERT_EQ(save(mod(letter(first), letter(second))), QString());
    // Refused (the letter is no longer as loaded): nothing changed, nothing recorded.
    EXPECT_NE(save(mod(letter(first), letter(QStringLiteral("Texto de quem chegou atrasado à carta.")))), QString());
    ASSERT_EQ(save(del(letter(second))), QString());

    const QString who = QStringLiteral("maria|filial-sp|10.0.0.9|ab12cd-7|01|CN=estacao-sp,O=Empresa");
    EXPECT_EQ(trail(), (QStringList{"gravacao|01|ok|" + who, "alteracao|01|ok|" + who, "exclusao|01|ok|" + who}));
}

TEST_P(AuditTrailTest, AChangeWhoseRecordCannotBeWrittenIsNotStored)
{
    QSqlQuery q(db());
    ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE AUDITORIA RENAME TO AUDITORIA_FORA")));
    EXPECT_ANY_THROW(save(ins(letter(QStringLiteral("Correção que não pode ficar sem registro.")))));
    EXPECT_TRUE(stored(F, L1).isEmpty()) << "the letter was stored without its record in the audit trail";
    ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE AUDITORIA_FORA RENAME TO AUDITORIA")));
}

TEST_P(AuditTrailTest, TransmissionsAndEmailsLeaveTheirRowsAndTheTrailReadsAsCsv)
{
    addLetter(F, L1, pending(QStringLiteral("01")));
    srv::BatchStore batches(*store);
    const srv::AuditActorGuard actor(srv::AuditActor{QStringLiteral("jo,ão"), QStringLiteral("server#1"),
                                                     QStringLiteral("127.0.0.1"), QStringLiteral("r-1"), QString()});
    QList<srv::LetterToSend> claimed;
    srv::BuiltBatch built;
    const QList<srv::LetterToSend> letters = batches.latestLetters(QStringLiteral("01"), {{F, L1}});
    ASSERT_EQ(letters.size(), 1);
    const qint64 batch = batches.claim(
        QStringLiteral("01"), letters,
        [](qint64, const QList<srv::LetterToSend>& mine) {
            return srv::BuiltBatch{"<envEvento/>", QList<QByteArray>(mine.size(), "<evento/>"), QString()};
        },
        &claimed, &built);
    ASSERT_GT(batch, 0);
    srv::LetterOutcome accepted;
    accepted.cdFilial = F;
    accepted.nrLanctoNF = L1;
    accepted.seq = QStringLiteral("01");
    accepted.kind = srv::LetterOutcome::Kind::Accepted;
    accepted.cStat = QStringLiteral("135");
    accepted.xMotivo = QStringLiteral("Evento registrado e vinculado a NF-e");
    accepted.nProt = QStringLiteral("135260000000001");
    accepted.procEvento = "<procEventoNFe/>";
    batches.record(batch, QStringLiteral("P"), QStringLiteral("128"), QStringLiteral("Lote processado"), "<ret/>",
                   {accepted});
    srv::MailStore mail(*store);
    ASSERT_TRUE(mail.markSent(F, L1, QStringLiteral("01"), false));
    mail.recordFailure(F, L1, QStringLiteral("01"), true, QStringLiteral("a transportadora não tem e-mail."));

    const QString who = QStringLiteral("jo,ão|server#1|127.0.0.1|r-1|01|");
    EXPECT_EQ(trail(), (QStringList{QStringLiteral("transmissao|01|enviada no lote %1|").arg(batch) + who,
                                    "resultado|01|aceita: 135 - Evento registrado e vinculado a NF-e|" + who,
                                    "email|01|enviado ao destinatário|" + who,
                                    "email|01|não enviado à transportadora: a transportadora não tem e-mail.|" + who}));

    QTemporaryFile csv;
    ASSERT_TRUE(csv.open());
    std::FILE* out = fdopen(dup(csv.handle()), "w");
    EXPECT_EQ(srv::writeAuditCsv(*store, QStringLiteral("01"), QDate::currentDate(), F + QLatin1Char('/') + L1, out),
              4);
    std::fclose(out);
    csv.seek(0);
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], "quando,usuario,token,endereco,acao,nota,sequencia,resultado,requisicao,certificado");
    EXPECT_TRUE(lines[2].endsWith(",\"jo,ão\",server#1,127.0.0.1,resultado,0002/0000000001,01,aceita: 135 - Evento "
                                  "registrado e vinculado a NF-e,r-1,"))
        << lines[2].toStdString();
    std::FILE* none = std::fopen("/dev/null", "w");
    EXPECT_EQ(srv::writeAuditCsv(*store, QStringLiteral("02"), QDate(), QString(), none), 0)
        << "another company's trail is its own";
    std::fclose(none);
    EXPECT_EQ(srv::csvField(QStringLiteral("=HYPERLINK(\"x\")")), QStringLiteral("\"'=HYPERLINK(\"\"x\"\")\""));
}

INSTANTIATE_TEST_SUITE_P(Engines, AuditTrailTest, ::testing::Values("sqlite", "postgresql"));

} // namespace
