// The letters of an invoice on the "Correção" page, against the server's own methods:
// defaults, text limits, save, edit and delete through SetCCe, refusals, the delete guard,
// the enabling table and the navigation.
#include <QSqlDatabase>
#include <QSqlQuery>

#include "core/values/Value.h"
#include "tests/module/letters/LettersFixture.h"

namespace {

const QString kT15 = QStringLiteral("Endereço é Sala"); // 15 characters, 17 bytes

QString textOf(int length)
{
    QString s;
    while (s.size() < length)
        s += QStringLiteral("Correção ");
    s.truncate(length);
    if (s.endsWith(QLatin1Char(' ')))
        s[s.size() - 1] = QLatin1Char('x');
    return s;
}

} // namespace

class LettersPage : public LettersTest {
protected:
    void SetUp() override
    {
        LettersTest::SetUp();
        listAll();
        ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("0") && authorised(); }))
            << "the demo has no authorised invoice without letters";
        f->mnuFormularioClick(f);
        ASSERT_EQ(f->pgcPadrao->ActivePage(), f->tshFormulario);
    }

    int lettersInDatabase() const
    {
        return scalar(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                      {branch, entry})
            .toInt();
    }
    void noteInvoice()
    {
        branch = nf("CDFILIAL");
        entry = nf("NRLANCTONF");
    }

    QString branch, entry;
};

TEST_F(LettersPage, ANewLetterTakesTheInvoicesKeysTheNextSequenceAndThePendingDefaults)
{
    ASSERT_TRUE(f->mnuIncluir->isEnabled());
    ASSERT_TRUE(run([this] { f->sbtIncluirClick(f->sbtIncluir); }));
    EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Insert);
    EXPECT_EQ(cce("CDFILIAL"), nf("CDFILIAL"));
    EXPECT_EQ(cce("NRLANCTONF"), nf("NRLANCTONF"));
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("01"));
    EXPECT_EQ(cce("DSOBSSTATUSCCE"), QStringLiteral("Carta de Correção Pendente no Sistema"));
    EXPECT_EQ(cce("IDEMAILCCE"), QStringLiteral("P"));
    EXPECT_EQ(cce("IDEMAILCCETRANS"),
              nf("NRINSJURTRAN").trimmed().isEmpty() ? QStringLiteral("N") : QStringLiteral("P"));
    EXPECT_EQ(f->focusWidget(), f->dbmCorrecao);
    // While writing, only save and cancel, and no way off the page.
    EXPECT_TRUE(f->mnuGravar->isEnabled());
    EXPECT_TRUE(f->mnuCancelar->isEnabled());
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
    EXPECT_FALSE(f->mnuFiltro->isEnabled());
    EXPECT_FALSE(f->mnuTransmite->isEnabled());
    EXPECT_FALSE(f->sbtArquivoXml->isEnabled());
    EXPECT_FALSE(f->mnuFolhaDados->isEnabled());
    EXPECT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));
    EXPECT_TRUE(calls().filter(QStringLiteral("SetCCe")).isEmpty());
}

TEST_F(LettersPage, TheTextIsCheckedInCharactersBetweenItsBlanksBeforeAnythingIsSent)
{
    struct Case {
        QString text;
        const char* key; // nullptr: passes
    };
    const QString tooShort = QStringLiteral("   ") + textOf(14) + QStringLiteral("   ");
    const Case cases[] = {
        {QString(), "Descrição da correção deve ser informada."},
        {QStringLiteral("      "), "Descrição da correção deve ser informada."},
        {tooShort, "Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."},
        {textOf(1001), "Descrição da correção deve ter no mínimo 15 e no máximo 1000 caracteres."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.left(20).toStdString());
        ASSERT_TRUE(run([this] { f->sbtIncluirClick(f->sbtIncluir); }));
        f->dbmCorrecao->setPlainText(c.text);
        f->dbgPadrao->setFocus();
        ui.expectMessage(QString::fromUtf8(c.key), fw::mbOK);
        EXPECT_FALSE(run([this] { f->sbtGravarClick(f->sbtGravar); }));
        EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Insert) << "the post went on";
        EXPECT_EQ(f->focusWidget(), f->dbmCorrecao);
        ASSERT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));
    }
    EXPECT_TRUE(calls().filter(QStringLiteral("SetCCe")).isEmpty());
}

TEST_F(LettersPage, ALetterIsSavedEditedDeletedAndWrittenAgainThroughTheServer)
{
    noteInvoice();
    // Exactly 15 characters with accents.
    ASSERT_TRUE(writeLetter(kT15)) << ui.report().toStdString();
    EXPECT_EQ(calls().filter(QStringLiteral("SetCCe")).size(), 1);
    EXPECT_EQ(lastArgs(QStringLiteral("SetCCe")).value(1).toString(), branch);
    EXPECT_EQ(lastArgs(QStringLiteral("SetCCe")).value(2).toString(), entry);
    // The refresh brings the server's view back, on the same invoice.
    EXPECT_EQ(nf("CDFILIAL"), branch);
    EXPECT_EQ(nf("NRLANCTONF"), entry);
    EXPECT_EQ(nf("NRSEQCCE"), QStringLiteral("01"));
    EXPECT_EQ(nf("IDSTATUSCCE"), QStringLiteral("1"));
    EXPECT_EQ(f->cdsCCe->recordCount(), 1);
    EXPECT_EQ(cce("DSCORRECAONFE"), kT15);
    EXPECT_EQ(f->cdsCCe->changeCount(), 0);
    EXPECT_EQ(lettersInDatabase(), 1);
    EXPECT_EQ(f->lblMaxCCe->text(), QStringLiteral("/ 01"));
    EXPECT_FALSE(f->mnuIncluir->isEnabled()) << "a pending letter allows no second one";
    ASSERT_TRUE(f->mnuAlterar->isEnabled());
    EXPECT_FALSE(f->dbmCorrecao->isReadOnly());

    // Edit: exactly 1000 characters.
    const QString longText = textOf(1000);
    ASSERT_TRUE(run([this] { f->sbtAlterarClick(f->sbtAlterar); }));
    f->dbmCorrecao->setPlainText(longText);
    ASSERT_TRUE(run([this] { f->sbtGravarClick(f->sbtGravar); })) << ui.report().toStdString();
    EXPECT_EQ(cce("DSCORRECAONFE"), longText);
    EXPECT_EQ(scalar(QStringLiteral("SELECT DSCORRECAONFE FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                     {branch, entry})
                  .toString(),
              longText);

    // Delete, after the base's confirmation.
    ui.expectMessage(QStringLiteral("Confirma a exclusão do registro?"), fw::mbYes);
    ASSERT_TRUE(run([this] { f->sbtExcluirClick(f->sbtExcluir); })) << ui.report().toStdString();
    EXPECT_EQ(lettersInDatabase(), 0);
    EXPECT_EQ(nf("NRLANCTONF"), entry);
    EXPECT_EQ(nf("NRSEQCCE"), QStringLiteral("00"));
    EXPECT_TRUE(f->cdsCCe->isEmpty());

    // And written again.
    ASSERT_TRUE(writeLetter(QStringLiteral("Transportadora: Expresso Araçá Ltda.")));
    EXPECT_EQ(lettersInDatabase(), 1);
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("01"));
    EXPECT_EQ(calls().filter(QStringLiteral("SetCCe")).size(), 4);
}

TEST_F(LettersPage, ARefusedSaveStaysInEditingWithTheTypedTextToCorrectOrCancel)
{
    noteInvoice();
    // The server's own refusal: a character the authority does not take.
    const QString refused = QStringLiteral("Valor unitário: 5€ por peça");
    ui.expectMessage(QString(), fw::mbOK);
    EXPECT_FALSE(writeLetter(refused));
    EXPECT_TRUE(ui.messages().last().text.contains(QStringLiteral("U+20AC"))) << ui.report().toStdString();
    EXPECT_FALSE(ui.busyShown());
    EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Insert);
    EXPECT_EQ(f->dbmCorrecao->toPlainText(), refused) << "the typed letter was dropped";
    EXPECT_EQ(f->cdsCCe->changeCount(), 0) << "the refused row would travel with the next save";
    EXPECT_TRUE(f->mnuGravar->isEnabled());
    EXPECT_TRUE(f->mnuCancelar->isEnabled());
    EXPECT_EQ(f->focusWidget(), f->dbmCorrecao);
    EXPECT_EQ(calls().filter(QStringLiteral("GetNotaFiscal")).size(), 1) << "a refused save must not refresh";

    // Corrected and saved: one letter, the corrected one.
    f->dbmCorrecao->setPlainText(QStringLiteral("Valor unitário: 5 reais por peça"));
    ASSERT_TRUE(run([this] { f->sbtGravarClick(f->sbtGravar); })) << ui.report().toStdString();
    EXPECT_EQ(lastArgs(QStringLiteral("SetCCe")).value(0).value<fw::DeltaPacket>().changes.size(), 1);
    EXPECT_EQ(lettersInDatabase(), 1);
    EXPECT_EQ(cce("DSCORRECAONFE"), QStringLiteral("Valor unitário: 5 reais por peça"));

    // A refused change of that letter: the edit stays open with its text; cancelled, the
    // stored letter is back and nothing is pending.
    ASSERT_TRUE(run([this] { f->sbtAlterarClick(f->sbtAlterar); }));
    f->dbmCorrecao->setPlainText(refused);
    ui.expectMessage(QString(), fw::mbOK);
    EXPECT_FALSE(run([this] { f->sbtGravarClick(f->sbtGravar); }));
    EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Edit);
    EXPECT_EQ(f->dbmCorrecao->toPlainText(), refused);
    ASSERT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));
    EXPECT_EQ(f->cdsCCe->changeCount(), 0);
    EXPECT_EQ(cce("DSCORRECAONFE"), QStringLiteral("Valor unitário: 5 reais por peça"));
}

TEST_F(LettersPage, ALetterRefusedOnOneInvoiceNeverTravelsWithAnotherInvoicesSave)
{
    noteInvoice();
    answerWith(QStringLiteral("SetCCe"), [](const QVariantList&) { return QStringLiteral("NF_NACEITA"); });
    ui.expectMessage(QStringLiteral("Operação Bloqueada! Nota fiscal não aceita pela sefaz."), fw::mbOK);
    EXPECT_FALSE(writeLetter(kT15));
    ASSERT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));

    // On another invoice, with the server's own answer again.
    answerWith(QStringLiteral("SetCCe"), nullptr);
    f->mnuFolhaDadosClick(f);
    ASSERT_TRUE(
        goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("0") && authorised() && nf("NRLANCTONF") != entry; }));
    noteInvoice();
    f->mnuFormularioClick(f);
    ASSERT_TRUE(writeLetter(QStringLiteral("Transportadora: Expresso Araçá Ltda."))) << ui.report().toStdString();
    const fw::DeltaPacket sent = lastArgs(QStringLiteral("SetCCe")).value(0).value<fw::DeltaPacket>();
    ASSERT_EQ(sent.changes.size(), 1);
    EXPECT_EQ(lettersInDatabase(), 1);
}

TEST_F(LettersPage, AnotherRefusalIsReportedAsTheServerWroteItAndAnAnswerThatIsNoTextIsNoSuccess)
{
    noteInvoice();
    answerWith(QStringLiteral("SetCCe"), [](const QVariantList&) { return QStringLiteral("Nota fiscal cancelada."); });
    ui.expectMessage(QStringLiteral("Nota fiscal cancelada."), fw::mbOK);
    EXPECT_FALSE(writeLetter(kT15));
    EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Insert);

    // A server that answers something else than a text has not said "stored".
    answerWith(QStringLiteral("SetCCe"), [](const QVariantList&) { return QVariant(true); });
    ui.expectMessage(QString(), fw::mbOK);
    f->dbmCorrecao->setPlainText(kT15 + QStringLiteral(" sul"));
    EXPECT_FALSE(run([this] { f->sbtGravarClick(f->sbtGravar); }));
    EXPECT_EQ(f->cdsCCe->state(), fw::DataSetState::Insert);
    ASSERT_FALSE(ui.messages().isEmpty());
    EXPECT_TRUE(ui.messages().last().text.contains(QStringLiteral("Resposta inesperada")));
    EXPECT_EQ(lettersInDatabase(), 0);
    ASSERT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));
}

TEST_F(LettersPage, ARefusedDeleteBringsTheLetterBack)
{
    noteInvoice();
    ASSERT_TRUE(writeLetter(kT15)) << ui.report().toStdString();
    ASSERT_TRUE(f->mnuExcluir->isEnabled());
    answerWith(QStringLiteral("SetCCe"), [](const QVariantList&) { return QStringLiteral("NF_NACEITA"); });
    ui.expectMessage(QStringLiteral("Confirma a exclusão do registro?"), fw::mbYes);
    ui.expectMessage(QStringLiteral("Operação Bloqueada! Nota fiscal não aceita pela sefaz."), fw::mbOK);
    EXPECT_FALSE(run([this] { f->sbtExcluirClick(f->sbtExcluir); }));
    EXPECT_EQ(f->cdsCCe->recordCount(), 1);
    EXPECT_EQ(cce("DSCORRECAONFE"), kT15);
    EXPECT_EQ(f->cdsCCe->changeCount(), 0);
    EXPECT_EQ(lettersInDatabase(), 1);
}

TEST_F(LettersPage, TheNewestLayoutsProtocolAndCodeAndTheRegistrationTimeShowWhole)
{
    noteInvoice();
    ASSERT_TRUE(writeLetter(kT15)) << ui.report().toStdString();
    auto answered = [this](const char* set) {
        scalar(QStringLiteral("UPDATE CARTACORRECAO SET IDTRANSMCCE = 'R', %1 WHERE CDFILIAL = ? AND NRLANCTONF = ?")
                   .arg(QLatin1String(set)),
               {branch, entry});
        EXPECT_TRUE(run([this] { f->sbtVerificarClick(f); }));
        EXPECT_TRUE(f->cdsNotaFiscal->locate(QStringLiteral("CDFILIAL;NRLANCTONF"), {branch, entry}));
    };
    // Accepted with a protocol of 17 digits, registered at 03:01 on the issuer's clock.
    answered("CDSTATUSCCE = '135', NRPROTOCOLCCE = '13526000000000017', DTHRPROTOCOLCCE = '2026-12-09T03:01:00'");
    EXPECT_EQ(f->dbeProtRegi->text(), QStringLiteral("13526000000000017"));
    EXPECT_EQ(f->dbeDtHrRegi->text(), QStringLiteral("09/12/2026 03:01:00"));
    // Refused with a code of 4 digits.
    answered("CDSTATUSCCE = '1234', NRPROTOCOLCCE = NULL, DTHRPROTOCOLCCE = NULL");
    EXPECT_EQ(nf("CDSTATUSCCE"), QStringLiteral("1234"));
    EXPECT_EQ(nf("IDSTATUSCCE"), QStringLiteral("3"));
    EXPECT_EQ(cce("CDSTATUSCCE"), QStringLiteral("1234"));
}

TEST_F(LettersPage, NoPendingChangeMeansNoCall)
{
    f->cdsCCeAfterPost(f->cdsCCe);
    f->cdsCCeAfterDelete(f->cdsCCe);
    EXPECT_TRUE(calls().filter(QStringLiteral("SetCCe")).isEmpty());
    EXPECT_EQ(calls().filter(QStringLiteral("GetNotaFiscal")).size(), 1);
}

// The invoice's latest sequence and status as the server would report them, set on the row.
class SequenceRule : public LettersPage {
protected:
    void setLatest(const QString& seq, const QString& status, const QString& code)
    {
        f->cdsNotaFiscal->edit();
        f->cdsNotaFiscalNRSEQCCE->setAsString(seq);
        f->cdsNotaFiscalIDSTATUSCCE->setAsString(status);
        f->cdsNotaFiscalCDSTATUSCCE->setAsString(code);
        f->cdsNotaFiscal->post();
        f->dtsPadraoStateChange(f->dtsPadrao);
    }
};

TEST_F(SequenceRule, TheNextSequenceIsTheLatestPlusOneUpToTwenty)
{
    const std::pair<const char*, const char*> cases[] = {{"00", "01"}, {"09", "10"}, {"19", "20"}};
    for (const auto& [latest, next] : cases) {
        SCOPED_TRACE(latest);
        setLatest(QString::fromLatin1(latest),
                  QString::fromLatin1(latest) == QLatin1String("00") ? QStringLiteral("0") : QStringLiteral("2"),
                  QStringLiteral("135"));
        ASSERT_TRUE(f->mnuIncluir->isEnabled());
        ASSERT_TRUE(run([this] { f->sbtIncluirClick(f->sbtIncluir); }));
        EXPECT_EQ(cce("NRSEQCCE"), QString::fromLatin1(next));
        ASSERT_TRUE(run([this] { f->sbtCancelarClick(f->sbtCancelar); }));
    }
    setLatest(QStringLiteral("20"), QStringLiteral("2"), QStringLiteral("135"));
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
    EXPECT_FALSE(f->sbtIncluir->isEnabled());
    // Pending or rejected latest letters allow no new one either.
    setLatest(QStringLiteral("03"), QStringLiteral("1"), QString());
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
    setLatest(QStringLiteral("03"), QStringLiteral("3"), QStringLiteral("573"));
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
}

TEST_F(SequenceRule, AMarkedInvoiceAnywhereStopsWritingAndAnAcceptedLetterIsNeverDeleted)
{
    setLatest(QStringLiteral("00"), QStringLiteral("0"), QString());
    inCount = 1;
    f->dtsPadraoStateChange(f->dtsPadrao);
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
    inCount = 0;
    f->dtsPadraoStateChange(f->dtsPadrao);
    EXPECT_TRUE(f->mnuIncluir->isEnabled());

    // The guard refuses even when a delete is attempted by code.
    ASSERT_TRUE(writeLetter(kT15));
    setLatest(QStringLiteral("01"), QStringLiteral("2"), QStringLiteral("135"));
    ui.expectMessage(QStringLiteral("Operação Bloqueada! Carta de correção eletrônica aceita pela Secretaria da "
                                    "Fazenda (SEFAZ)."),
                     fw::mbOK);
    EXPECT_FALSE(run([this] { f->cdsCCe->deleteRecord(); }));
    EXPECT_EQ(f->cdsCCe->recordCount(), 1);
    EXPECT_EQ(calls().filter(QStringLiteral("SetCCe")).size(), 1);
}

// Three letters on one invoice, the latest pending: the navigation runs newest first and only
// the latest may change.
TEST_F(SequenceRule, TheNavigationWalksTheLettersNewestFirstAndOnlyTheLatestMayChange)
{
    noteInvoice();
    ASSERT_TRUE(writeLetter(kT15)) << ui.report().toStdString();
    // Accept the first two on the server's side, as a transmission would, and write the next.
    for (const char* seq : {"01", "02"}) {
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("company")));
        ASSERT_TRUE(q.prepare(
            QStringLiteral("UPDATE CARTACORRECAO SET CDSTATUSCCE = '135', IDTRANSMCCE = 'R' WHERE CDFILIAL = ? AND "
                           "NRLANCTONF = ? AND NRSEQCCE = ?")));
        q.addBindValue(branch);
        q.addBindValue(entry);
        q.addBindValue(QString::fromLatin1(seq));
        ASSERT_TRUE(q.exec());
        ASSERT_TRUE(run([this] { f->sbtVerificarClick(f); }));
        ASSERT_TRUE(f->cdsNotaFiscal->locate(QStringLiteral("CDFILIAL;NRLANCTONF"), {branch, entry}));
        ASSERT_EQ(nf("IDSTATUSCCE"), QStringLiteral("2")) << "the server did not report the letter accepted";
        ASSERT_TRUE(writeLetter(QStringLiteral("Carta seguinte número ") + QString::fromLatin1(seq)))
            << ui.report().toStdString();
    }
    ASSERT_EQ(f->cdsCCe->recordCount(), 3);
    EXPECT_EQ(f->lblMaxCCe->text(), QStringLiteral("/ 03"));
    EXPECT_FALSE(f->lblMaxCCe->isVisible());

    ASSERT_TRUE(run([this] { f->sbtUltimaCCeClick(f); }));
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("03"));
    EXPECT_TRUE(f->mnuAlterar->isEnabled());
    EXPECT_FALSE(f->sbtUltimaCCe->isEnabled());
    EXPECT_FALSE(f->sbtProximaCCe->isEnabled());
    EXPECT_TRUE(f->sbtAnteriorCCe->isEnabled());

    ASSERT_TRUE(run([this] { f->sbtAnteriorCCeClick(f); }));
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("02"));
    EXPECT_FALSE(f->mnuAlterar->isEnabled());
    EXPECT_FALSE(f->mnuExcluir->isEnabled());
    EXPECT_TRUE(f->dbmCorrecao->isReadOnly());

    ASSERT_TRUE(run([this] { f->sbtPrimeiraCCeClick(f); }));
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("01"));
    EXPECT_FALSE(f->sbtAnteriorCCe->isEnabled());
    EXPECT_FALSE(f->sbtPrimeiraCCe->isEnabled());
    EXPECT_TRUE(f->sbtProximaCCe->isEnabled());

    ASSERT_TRUE(run([this] { f->sbtProximaCCeClick(f); }));
    EXPECT_EQ(cce("NRSEQCCE"), QStringLiteral("02"));
}

// The enabling of the "Correção" page's commands, case by case.
TEST_F(SequenceRule, TheCommandsFollowTheLatestLettersStatusSequenceAndTheMarks)
{
    struct Case {
        const char *st, *seq;
        int marks;
        bool insert;
    };
    const Case cases[] = {
        {"0", "00", 0, true},  {"2", "05", 0, true},  {"2", "19", 0, true},  {"2", "20", 0, false},
        {"1", "01", 0, false}, {"3", "04", 0, false}, {"0", "00", 1, false}, {"2", "xx", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.st) + "/" + c.seq + "/" + std::to_string(c.marks));
        inCount = c.marks;
        setLatest(QString::fromLatin1(c.seq), QString::fromLatin1(c.st), QString());
        EXPECT_EQ(f->mnuIncluir->isEnabled(), c.insert);
        EXPECT_EQ(f->sbtIncluir->isEnabled(), c.insert);
        // No letters here: nothing to change, nothing to walk.
        EXPECT_FALSE(f->mnuAlterar->isEnabled());
        EXPECT_FALSE(f->mnuExcluir->isEnabled());
        EXPECT_FALSE(f->sbtUltimaCCe->isEnabled());
        EXPECT_FALSE(f->sbtPrimeiraCCe->isEnabled());
        EXPECT_TRUE(f->mnuFiltro->isEnabled());
        EXPECT_TRUE(f->mnuVerificar->isEnabled());
    }
    inCount = 0;

    // On the invoices' page no letter command at all.
    f->mnuFolhaDadosClick(f);
    setLatest(QStringLiteral("00"), QStringLiteral("0"), QString());
    EXPECT_FALSE(f->mnuIncluir->isEnabled());
    EXPECT_FALSE(f->mnuGravar->isEnabled());
    EXPECT_TRUE(f->mnuTransmite->isEnabled());
    EXPECT_TRUE(f->mnuFormulario->isEnabled());
}
