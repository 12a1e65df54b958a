#include <QThread>
#include <atomic>

#include "tests/server/methods/MethodsFixture.h"

using namespace cce_test;

namespace {

const QString F = QStringLiteral("0002");
const QString L1 = QStringLiteral("0000000001");

class SetCCe : public MethodsTest {
protected:
    void SetUp() override
    {
        MethodsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        Invoice n;
        n.lancto = L1;
        addInvoice(n);
    }

    // A new letter as the screen builds it.
    static fw::Row fresh(const QString& seq, const QString& text, const QString& lancto = L1)
    {
        Letter l = pending(seq);
        l.texto = text;
        return letterRow(F, lancto, l);
    }
    QString insert(const QString& seq, const QString& text)
    {
        fw::DeltaPacket d = delta();
        d.changes << ins(fresh(seq, text));
        return setCCe(d, F, L1);
    }
    // The letter as GetNotaFiscal lists it now.
    fw::Row loaded(const QString& seq)
    {
        const fw::DataPacket cce = fetch(criteria()).second;
        for (const fw::Row& r : cce.rows)
            if (r[1].toString() == L1 && r[2].toString() == seq)
                return r;
        ADD_FAILURE() << "letter " << seq.toStdString() << " not listed";
        return {};
    }
    static fw::Row withText(fw::Row r, const QString& text)
    {
        if (r.size() > 3)
            r[3] = text;
        return r;
    }
    QString modify(const fw::Row& old, const QString& text)
    {
        fw::DeltaPacket d = delta();
        d.changes << mod(old, withText(old, text));
        return setCCe(d, F, L1);
    }
    QString remove(const fw::Row& old)
    {
        fw::DeltaPacket d = delta();
        d.changes << del(old);
        return setCCe(d, F, L1);
    }
};

const QString kText = QStringLiteral("Correção do peso bruto para 1.250 kg.");

} // namespace

TEST_P(SetCCe, TextLengthIsCountedInCharactersAfterTrimming)
{
    const QString tooShort = QStringLiteral("Ação é válida."); // 14 characters, more bytes
    const QString fifteen = QStringLiteral("Ação é válida!!"); // 15
    ASSERT_EQ(tooShort.size(), 14);
    ASSERT_EQ(fifteen.size(), 15);
    EXPECT_EQ(insert(QStringLiteral("01"), QStringLiteral("   ") + tooShort + QStringLiteral("  ")),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
    EXPECT_EQ(insert(QStringLiteral("01"), QStringLiteral("  \t ")),
              QStringLiteral("Descrição da correção deve ser informada."));
    EXPECT_TRUE(stored(F, L1).isEmpty());
    EXPECT_EQ(insert(QStringLiteral("01"), QStringLiteral("  ") + fifteen + QStringLiteral("   ")), QString());
    EXPECT_EQ(stored(F, L1), QStringList{QStringLiteral("01:") + fifteen + QStringLiteral(":N")});

    // The next letter needs the first accepted; then 1000 accented characters pass and 1001 do not.
    exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', CDSTATUSCCE = '135'"));
    EXPECT_EQ(insert(QStringLiteral("02"), QString(1001, QChar(0xE7))),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
    EXPECT_EQ(insert(QStringLiteral("02"), QString(10 * 1024 * 1024, QLatin1Char('x'))),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
    EXPECT_EQ(insert(QStringLiteral("02"), QStringLiteral(" ") + QString(1000, QChar(0xE7)) + QStringLiteral(" ")),
              QString());
    EXPECT_EQ(stored(F, L1).size(), 2);
    EXPECT_EQ(row(QStringLiteral("SELECT DSCORRECAONFE FROM CARTACORRECAO WHERE NRSEQCCE = '02'")).value(0).toString(),
              QString(1000, QChar(0xE7)));

    // A line break is one character, the ";" the event carries in its place.
    exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', CDSTATUSCCE = '135'"));
    const QString lines = QString(500, QLatin1Char('a')) + QStringLiteral("\r\n") + QString(499, QLatin1Char('b'));
    EXPECT_EQ(insert(QStringLiteral("03"), lines + QLatin1Char('b')),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
    EXPECT_EQ(insert(QStringLiteral("03"), lines), QString());
}

TEST_P(SetCCe, RefusesCharactersTheEventCannotCarry)
{
    for (const QString& bad :
         {QStringLiteral("Correção com emoji 😀 no texto."), QStringLiteral("Correção com controle \x01 no texto."),
          QStringLiteral("Valor unitário de 10 € por caixa.")}) {
        const QString answer = insert(QStringLiteral("01"), bad);
        EXPECT_TRUE(answer.startsWith(QStringLiteral("Descrição da correção contém"))) << answer.toStdString();
    }
    EXPECT_TRUE(insert(QStringLiteral("01"), QStringLiteral("Correção com emoji 😀 no texto."))
                    .contains(QStringLiteral("U+1F600")));
    EXPECT_TRUE(stored(F, L1).isEmpty());
    // Typographic dashes and quotes have plain forms the event carries: stored as typed.
    EXPECT_EQ(insert(QStringLiteral("01"), QStringLiteral("Correção com travessão – e “aspas”.")), QString());
    EXPECT_EQ(stored(F, L1).size(), 1);
    exec(QStringLiteral("DELETE FROM CARTACORRECAO"));
    // Line breaks typed in the memo are kept, each as the memo writes it.
    EXPECT_EQ(insert(QStringLiteral("01"), QStringLiteral("Primeira linha da correção,\r\nsegunda linha.")), QString());
    EXPECT_EQ(stored(F, L1), QStringList{QStringLiteral("01:Primeira linha da correção,\nsegunda linha.:N")});
}

TEST_P(SetCCe, NewLetterTakesTheNextSequenceUpToTwenty)
{
    EXPECT_TRUE(insert(QStringLiteral("02"), kText)
                    .startsWith(QStringLiteral("A nova carta de correção deve ter a sequência 01;")));
    EXPECT_EQ(insert(QStringLiteral("01"), kText), QString());
    // The first is pending: no second letter beside it.
    EXPECT_TRUE(
        insert(QStringLiteral("02"), kText).startsWith(QStringLiteral("Operação Bloqueada! A carta de correção 01")));
    EXPECT_EQ(stored(F, L1).size(), 1);

    exec(QStringLiteral("DELETE FROM CARTACORRECAO"));
    for (int s = 1; s <= 19; ++s)
        addLetter(F, L1, accepted(QStringLiteral("%1").arg(s, 2, 10, QLatin1Char('0'))));
    EXPECT_TRUE(insert(QStringLiteral("19"), kText).contains(QStringLiteral("sequência 20")));
    EXPECT_EQ(insert(QStringLiteral("20"), kText), QString());
    exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', CDSTATUSCCE = '136' WHERE NRSEQCCE = '20'"));
    EXPECT_EQ(insert(QStringLiteral("21"), kText),
              QStringLiteral("Operação Bloqueada! A nota fiscal já possui 20 cartas de correção, o máximo permitido."));
    EXPECT_EQ(stored(F, L1).size(), 20);
}

TEST_P(SetCCe, NewLetterGetsServerDefaults)
{
    Invoice carrier;
    carrier.lancto = QStringLiteral("0000000002");
    carrier.transp = QStringLiteral("11444777000161");
    addInvoice(carrier);
    fw::Row r = fresh(QStringLiteral("01"), kText, carrier.lancto);
    r[9] = QStringLiteral("N"); // whatever the client says, the invoice has a carrier
    fw::DeltaPacket d = delta();
    d.changes << ins(r);
    EXPECT_EQ(setCCe(d, F, carrier.lancto), QString());
    EXPECT_EQ(insert(QStringLiteral("01"), kText), QString());
    const QVariantList withCarrier =
        row(QStringLiteral("SELECT IDEMAILCCE, IDEMAILCCETRANS, DSOBSSTATUSCCE, CDSTATUSCCE FROM "
                           "CARTACORRECAO WHERE NRLANCTONF = ?"),
            {carrier.lancto});
    EXPECT_EQ(withCarrier.value(0).toString(), QStringLiteral("P"));
    EXPECT_EQ(withCarrier.value(1).toString(), QStringLiteral("P"));
    EXPECT_EQ(withCarrier.value(2).toString(), QStringLiteral("Carta de Correção Pendente no Sistema"));
    EXPECT_TRUE(withCarrier.value(3).isNull());
    EXPECT_EQ(
        row(QStringLiteral("SELECT IDEMAILCCETRANS FROM CARTACORRECAO WHERE NRLANCTONF = ?"), {L1}).value(0).toString(),
        QStringLiteral("N"));

    // A client cannot file a letter as accepted.
    exec(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', CDSTATUSCCE = '135'"));
    fw::Row forged = fresh(QStringLiteral("02"), kText);
    forged[4] = QStringLiteral("135");
    fw::DeltaPacket f = delta();
    f.changes << ins(forged);
    EXPECT_TRUE(setCCe(f, F, L1).startsWith(QStringLiteral("Somente a descrição da correção")));
    EXPECT_EQ(stored(F, L1).size(), 1);
}

TEST_P(SetCCe, OnlyTheLatestOpenLetterChanges)
{
    addLetter(F, L1, accepted(QStringLiteral("01")));
    addLetter(F, L1, rejected(QStringLiteral("02")));
    const fw::Row first = loaded(QStringLiteral("01"));
    const fw::Row second = loaded(QStringLiteral("02"));

    EXPECT_EQ(
        modify(first, kText),
        QStringLiteral(
            "Operação Bloqueada! Somente a última carta de correção da nota fiscal pode ser alterada ou excluída."));
    EXPECT_EQ(
        remove(first),
        QStringLiteral(
            "Operação Bloqueada! Somente a última carta de correção da nota fiscal pode ser alterada ou excluída."));

    // A rejected latest letter takes a new text and is pending again.
    EXPECT_EQ(modify(second, kText), QString());
    EXPECT_EQ(stored(F, L1).last(), QStringLiteral("02:") + kText + QStringLiteral(":N"));
    const fw::DataPacket nf = fetch(criteria()).first;
    EXPECT_EQ(nf.rows[0][nf.fieldIndex(QStringLiteral("IDSTATUSCCE"))].toString(), QStringLiteral("1"));
    EXPECT_EQ(nf.rows[0][nf.fieldIndex(QStringLiteral("CDSTATUSCCE"))].toString(), QString());

    // Pending: may be deleted; then 01, accepted, is the latest and stays.
    EXPECT_EQ(remove(loaded(QStringLiteral("02"))), QString());
    EXPECT_EQ(
        modify(loaded(QStringLiteral("01")), kText),
        QStringLiteral("Operação Bloqueada! Carta de correção eletrônica aceita pela Secretaria da Fazenda (SEFAZ)."));
    EXPECT_EQ(
        remove(loaded(QStringLiteral("01"))),
        QStringLiteral("Operação Bloqueada! Carta de correção eletrônica aceita pela Secretaria da Fazenda (SEFAZ)."));
    EXPECT_EQ(stored(F, L1).size(), 1);

    // A letter whose transmission awaits the authority's answer is left alone.
    Letter doubt = pending(QStringLiteral("02"));
    doubt.transm = QStringLiteral("D");
    addLetter(F, L1, doubt);
    EXPECT_TRUE(remove(loaded(QStringLiteral("02"))).contains(QStringLiteral("aguarda a confirmação da SEFAZ")));
    EXPECT_EQ(stored(F, L1).size(), 2);

    // Only the text may change.
    exec(QStringLiteral("DELETE FROM CARTACORRECAO WHERE NRSEQCCE = '02'"));
    addLetter(F, L1, pending(QStringLiteral("02")));
    fw::Row before = loaded(QStringLiteral("02"));
    fw::Row after = withText(before, kText);
    after[8] = QStringLiteral("E");
    fw::DeltaPacket d = delta();
    d.changes << mod(before, after);
    EXPECT_TRUE(setCCe(d, F, L1).startsWith(QStringLiteral("Somente a descrição da correção")));
    fw::Row renumbered = withText(before, kText);
    renumbered[2] = QStringLiteral("03");
    d.changes = {mod(before, renumbered)};
    EXPECT_EQ(setCCe(d, F, L1), QStringLiteral("A chave da carta de correção não pode ser alterada."));
}

TEST_P(SetCCe, InvoiceNotAuthorisedAnswersNfNaceita)
{
    for (const char* situation : {"N", "C"}) {
        Invoice n;
        n.lancto = QStringLiteral("00000000%1").arg(QLatin1String(situation) == QLatin1String("N") ? 10 : 11);
        n.situacao = QString::fromLatin1(situation);
        addInvoice(n);
        fw::DeltaPacket d = delta();
        d.changes << ins(fresh(QStringLiteral("01"), kText, n.lancto));
        EXPECT_EQ(setCCe(d, F, n.lancto), QStringLiteral("NF_NACEITA")) << situation;
        EXPECT_TRUE(stored(F, n.lancto).isEmpty());
    }
    fw::DeltaPacket d = delta();
    d.changes << ins(fresh(QStringLiteral("01"), kText, QStringLiteral("0000000099")));
    EXPECT_TRUE(setCCe(d, F, QStringLiteral("0000000099")).startsWith(QStringLiteral("Nota fiscal não encontrada")));
}

TEST_P(SetCCe, ChangesMadeMeanwhileAreNotOverwritten)
{
    addLetter(F, L1, pending(QStringLiteral("01")));
    // Two users load the same letter; the first saves, the second is refused.
    const fw::Row userA = loaded(QStringLiteral("01"));
    const fw::Row userB = loaded(QStringLiteral("01"));
    EXPECT_EQ(modify(userA, QStringLiteral("Texto gravado pelo primeiro usuário.")), QString());
    EXPECT_EQ(modify(userB, QStringLiteral("Texto gravado pelo segundo usuário.")),
              QStringLiteral("A carta de correção 01 foi alterada por outro usuário depois de carregada. Atualize a "
                             "lista e tente novamente."));
    EXPECT_EQ(remove(userB), QStringLiteral("A carta de correção 01 foi alterada por outro usuário depois de "
                                            "carregada. Atualize a lista e tente novamente."));
    EXPECT_EQ(stored(F, L1), QStringList{QStringLiteral("01:Texto gravado pelo primeiro usuário.:N")});

    // Deleted meanwhile.
    const fw::Row current = loaded(QStringLiteral("01"));
    EXPECT_EQ(remove(current), QString());
    EXPECT_TRUE(modify(current, kText).startsWith(QStringLiteral("A carta de correção 01 não existe mais")));
    EXPECT_TRUE(stored(F, L1).isEmpty());
}

TEST_P(SetCCe, DeltaMustNameTheGivenInvoiceAndTheLetterFields)
{
    Invoice other;
    other.lancto = QStringLiteral("0000000002");
    addInvoice(other);
    fw::DeltaPacket d = delta();
    d.changes << ins(fresh(QStringLiteral("01"), kText, other.lancto));
    EXPECT_EQ(setCCe(d, F, L1),
              QStringLiteral("As alterações recebidas referem-se a outra nota fiscal que não a informada."));
    EXPECT_TRUE(stored(F, other.lancto).isEmpty());
    EXPECT_TRUE(stored(F, L1).isEmpty());

    fw::DeltaPacket wrong = delta();
    wrong.fields.removeLast();
    fw::Row r = fresh(QStringLiteral("01"), kText);
    r.removeLast();
    wrong.changes << ins(r);
    EXPECT_EQ(setCCe(wrong, F, L1),
              QStringLiteral("As alterações recebidas não correspondem aos campos da carta de correção."));
    fw::DeltaPacket typed = delta();
    typed.fields[3].type = fw::FieldType::Integer;
    typed.changes << ins(fresh(QStringLiteral("01"), kText));
    EXPECT_EQ(setCCe(typed, F, L1),
              QStringLiteral("As alterações recebidas não correspondem aos campos da carta de correção."));
    EXPECT_EQ(setCCe(d, QString(), L1), QStringLiteral("Nota fiscal deve ser informada."));
    EXPECT_TRUE(stored(F, L1).isEmpty());
}

TEST_P(SetCCe, AllChangesOrNone)
{
    addLetter(F, L1, pending(QStringLiteral("01")));
    const fw::Row first = loaded(QStringLiteral("01"));
    // Deleting 01 is fine on its own; the insert after it has a bad text.
    fw::DeltaPacket d = delta();
    d.changes << del(first) << ins(fresh(QStringLiteral("01"), QStringLiteral("curto")));
    EXPECT_EQ(setCCe(d, F, L1),
              QStringLiteral("Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."));
    EXPECT_EQ(stored(F, L1).size(), 1);
    EXPECT_EQ(row(QStringLiteral("SELECT DSCORRECAONFE FROM CARTACORRECAO")).value(0).toString(), first[3].toString());

    // The same two changes with a good text replace the letter.
    d.changes[1] = ins(fresh(QStringLiteral("01"), kText));
    EXPECT_EQ(setCCe(d, F, L1), QString());
    EXPECT_EQ(stored(F, L1), QStringList{QStringLiteral("01:") + kText + QStringLiteral(":N")});
}

TEST_P(SetCCe, SqlTextIsStoredAsTyped)
{
    const QString text = QStringLiteral("Correção'); DELETE FROM CARTACORRECAO; -- \"x\" % _ \\");
    EXPECT_EQ(insert(QStringLiteral("01"), text), QString());
    EXPECT_EQ(stored(F, L1), QStringList{QStringLiteral("01:") + text + QStringLiteral(":N")});
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM NOTAFISCAL")), 1);
}

TEST_P(SetCCe, ConcurrentWritersOfTheSameInvoiceDoNotBothWin)
{
    // Several workers insert letter 01 of the same invoice at once: exactly one succeeds,
    // the others are told why, none fails. Repeated on fresh invoices to make overlaps likely.
    constexpr int kWorkers = 6;
    constexpr int kRounds = 12;
    const srv::Method* m = registry.find(srv::kServerTransmissao, QStringLiteral("SetCCe"));
    ASSERT_NE(m, nullptr);
    for (int round = 0; round < kRounds; ++round) {
        Invoice n;
        n.lancto = QStringLiteral("%1").arg(100 + round, 10, 10, QLatin1Char('0'));
        addInvoice(n);
        std::atomic<int> ok{0}, refused{0}, faults{0};
        std::atomic<int> ready{0};
        QList<QThread*> threads;
        for (int i = 0; i < kWorkers; ++i) {
            threads << QThread::create([&, i] {
                fw::DeltaPacket d = delta();
                d.changes << ins(fresh(QStringLiteral("01"), kText + QString::number(i), n.lancto));
                ++ready;
                while (ready.load() < kWorkers)
                    QThread::yieldCurrentThread();
                try {
                    const QString r = m->fn({QVariant::fromValue(d), F, n.lancto}).toString();
                    (r.isEmpty() ? ok : refused)++;
                } catch (const std::exception&) {
                    ++faults;
                }
            });
        }
        for (QThread* t : threads)
            t->start();
        for (QThread* t : threads) {
            EXPECT_TRUE(t->wait(60000));
            delete t;
        }
        EXPECT_EQ(faults.load(), 0) << "round " << round;
        EXPECT_EQ(ok.load(), 1) << "round " << round;
        EXPECT_EQ(refused.load(), kWorkers - 1) << "round " << round;
        EXPECT_EQ(stored(F, n.lancto).size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, SetCCe, ::testing::Values("sqlite", "postgresql"));
