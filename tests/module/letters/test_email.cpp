// E-mail of accepted letters from the screen: the current invoice's to its recipient or
// carrier, and every pending recipient e-mail at once, with the server's answers scripted.
#include "core/values/Packet.h"
#include "tests/module/letters/LettersFixture.h"
#include "widgets/controls/StdCtrls.h"

namespace {

const char* kSucesso = "O e-mail foi enviado com sucesso.";
const char* kSemPendente = "Não há e-mails pendentes para serem enviados.";

// The all-pending answer's line for one invoice, laid out as the server writes it.
QString failureLine(const QString& cdFilial, const QString& nrLanctoNF, const QString& reason)
{
    return QStringLiteral("Falha no envio do e-mail da CC-e. NF Filial ") + cdFilial + QStringLiteral(" / ") +
           nrLanctoNF + QStringLiteral(": ") + reason;
}

} // namespace

class Email : public LettersTest {
protected:
    void SetUp() override
    {
        LettersTest::SetUp();
        listAll();
        ui.clear();
    }
    int count(const char* method) const { return int(calls().filter(QString::fromLatin1(method)).size()); }
    bool accepted() const
    {
        return nf("CDSTATUSCCE") == QLatin1String("135") || nf("CDSTATUSCCE") == QLatin1String("136");
    }
    // Sets a field of every listed invoice that passes pred, in memory only.
    void setWhere(const std::function<bool()>& pred, const char* field, const char* value)
    {
        for (f->cdsNotaFiscal->first(); !f->cdsNotaFiscal->eof(); f->cdsNotaFiscal->next())
            if (pred()) {
                f->cdsNotaFiscal->edit();
                f->cdsNotaFiscal->fieldByName(QString::fromLatin1(field))->setValue(QString::fromLatin1(value));
                f->cdsNotaFiscal->post();
            }
        f->cdsNotaFiscal->first();
    }
    QString firstKey()
    {
        f->cdsNotaFiscal->first();
        return nf("NRLANCTONF");
    }
};

TEST_F(Email, TheButtonOpensItsMenuJustBelowItself)
{
    QPoint shownAt;
    fw::TPopupMenu::setPopupHook([&shownAt](fw::TPopupMenu*, const QPoint& p) { shownAt = p; });
    ASSERT_TRUE(f->sbtEnviaEmail->isEnabled());
    const int before = f->pmnEmail->popupCount();
    ASSERT_TRUE(run([this] { f->sbtEnviaEmailClick(f->sbtEnviaEmail); }));
    fw::TPopupMenu::setPopupHook(nullptr);
    EXPECT_EQ(f->pmnEmail->popupCount(), before + 1);
    const QPoint corner = f->sbtEnviaEmail->mapToGlobal(QPoint(0, 0));
    EXPECT_EQ(shownAt, corner + QPoint(0, f->sbtEnviaEmail->height()));

    // A disabled button opens nothing.
    f->sbtEnviaEmail->setEnabled(false);
    ASSERT_TRUE(run([this] { f->sbtEnviaEmailClick(f->sbtEnviaEmail); }));
    EXPECT_EQ(f->pmnEmail->popupCount(), before + 1);
}

TEST_F(Email, TheCurrentInvoicesLetterGoesToItsRecipientOrCarrierAndTheListIsReadTwice)
{
    struct Case {
        const char* status;
        bool carrier;
        QString answer, shown;
    };
    const Case cases[] = {
        {"136", false, QString(), QString::fromUtf8(kSucesso)},
        {"135", true, QStringLiteral("Transportadora sem e-mail cadastrado.\r\nConfira o cadastro.\r\n"),
         QStringLiteral("Transportadora sem e-mail cadastrado.\nConfira o cadastro.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ASSERT_TRUE(goTo([&] {
            return nf("CDSTATUSCCE") == QLatin1String(c.status) && (!c.carrier || !nf("NRINSJURTRAN").isEmpty());
        })) << "no such invoice in the demo";
        EXPECT_TRUE(f->mnuEmailSelec->isEnabled());
        EXPECT_EQ(f->mnuEmailTransp->isEnabled(), !nf("NRINSJURTRAN").isEmpty());
        const QVariantList expected{nf("CDFILIAL"), nf("NRLANCTONF"), nf("NRSEQCCE"), c.carrier};
        ui.clear();
        const int fetches = count("GetNotaFiscal");
        const QString answer = c.answer;
        answerWith(QStringLiteral("SendEmailCCe"), [answer](const QVariantList&) { return answer; });
        ui.expectMessage(c.shown, fw::mbOK);
        ASSERT_TRUE(run([&] {
            if (c.carrier)
                f->mnuEmailTranspClick(f->mnuEmailTransp);
            else
                f->mnuEmailSelecClick(f->mnuEmailSelec);
        })) << ui.report().toStdString();
        EXPECT_EQ(lastArgs(QStringLiteral("SendEmailCCe")), expected);
        ASSERT_EQ(ui.messages().size(), 1);
        EXPECT_EQ(ui.messages().at(0).kind, fw::MsgKind::Information);
        EXPECT_EQ(ui.messages().at(0).buttons, fw::mbOK);
        EXPECT_EQ(count("GetNotaFiscal"), fetches + 2);
        // Busy over the filter dialog while the server works, and gone after.
        ASSERT_GE(ui.busyEvents().size(), 2);
        EXPECT_TRUE(ui.busyEvents().at(0).show);
        EXPECT_EQ(ui.busyEvents().at(0).owner, QStringLiteral("frmFiltroTransmissao"));
        EXPECT_EQ(ui.busyEvents().at(0).kind, 6);
        EXPECT_FALSE(ui.busyShown());
        // Both refreshes stay on the invoice: the next command acts on it, not on the first.
        EXPECT_EQ(nf("NRLANCTONF"), expected.at(1).toString());
        EXPECT_EQ(nf("CDFILIAL"), expected.at(0).toString());
    }
}

TEST_F(Email, AnAnswerThatIsNoTextIsNeverTakenForSent)
{
    ASSERT_TRUE(goTo([this] { return accepted(); }));
    answerWith(QStringLiteral("SendEmailCCe"), [](const QVariantList&) { return QVariant(QVariantList{1, 2}); });
    ui.expectMessage(QStringLiteral("Resposta inesperada do servidor de aplicação ao envio do e-mail: confira a "
                                    "situação dos e-mails na lista atualizada."),
                     fw::mbOK);
    EXPECT_FALSE(run([this] { f->mnuEmailSelecClick(f->mnuEmailSelec); }));
    EXPECT_EQ(ui.messages().size(), 1);
    EXPECT_FALSE(ui.busyShown());
}

TEST_F(Email, ALetterNotAcceptedIsNotSent)
{
    ASSERT_TRUE(goTo([this] { return !accepted(); }));
    EXPECT_FALSE(f->mnuEmailSelec->isEnabled());
    ASSERT_TRUE(run([this] { f->mnuEmailSelecClick(f->mnuEmailSelec); }));
    EXPECT_EQ(count("SendEmailCCe"), 0);
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(Email, AllPendingSendsTheWholeListAndAnEmptyAnswerShowsNothing)
{
    const int total = f->cdsNotaFiscal->recordCount();
    ASSERT_TRUE(goTo([this] { return accepted() && nf("IDEMAILCCE") == QLatin1String("P"); }))
        << "the demo has no pending recipient e-mail";
    answerWith(QStringLiteral("SendEmailCCeTodos"), [](const QVariantList&) { return QString(); });
    const int fetches = count("GetNotaFiscal");
    ASSERT_TRUE(run([this] { f->mnuEmailTodasClick(f->mnuEmailTodas); })) << ui.report().toStdString();
    const QVariantList args = lastArgs(QStringLiteral("SendEmailCCeTodos"));
    ASSERT_EQ(args.size(), 1);
    // Every row travels, whatever the copy's filter let through.
    EXPECT_EQ(args.at(0).value<fw::DataPacket>().rows.size(), total);
    EXPECT_TRUE(ui.messages().isEmpty());
    EXPECT_EQ(count("GetNotaFiscal"), fetches + 1);
    ASSERT_FALSE(ui.busyEvents().isEmpty());
    EXPECT_EQ(ui.busyEvents().at(0).owner, QStringLiteral("frmTransmissaoCCe"));
    EXPECT_FALSE(ui.busyShown());
    EXPECT_FALSE(f->cdsNotaFiscal->filtered());
}

TEST_F(Email, AllPendingStandsOnTheInvoiceTheAnswerNamesAndShowsAnyAnswer)
{
    // An invoice that is not the one the list shows first.
    f->cdsNotaFiscal->last();
    const QString filial = nf("CDFILIAL"), lancto = nf("NRLANCTONF");
    ASSERT_NE(lancto, firstKey());
    const QString named = failureLine(filial, lancto, QStringLiteral("destinatário sem e-mail."));
    ASSERT_EQ(named.indexOf(filial), 44);
    ASSERT_EQ(named.indexOf(lancto), 51);

    struct Case {
        QString answer, shown, standsOn;
    };
    const Case cases[] = {
        {named + QStringLiteral("\r\n") +
             failureLine(QStringLiteral("0001"), QStringLiteral("0000000000"), QStringLiteral("outra.")),
         named + QLatin1Char('\n') +
             failureLine(QStringLiteral("0001"), QStringLiteral("0000000000"), QStringLiteral("outra.")),
         lancto},
        // Shorter than the positions, or naming no listed invoice: shown, the grid on the
        // invoice the user stood on.
        {QStringLiteral("Servidor de e-mail indisponível."), QStringLiteral("Servidor de e-mail indisponível."),
         lancto},
        {failureLine(QStringLiteral("0001"), QStringLiteral("00000"), QString()),
         failureLine(QStringLiteral("0001"), QStringLiteral("00000"), QString()), lancto},
        {failureLine(QStringLiteral("9999"), QStringLiteral("9999999999"), QStringLiteral("x")),
         failureLine(QStringLiteral("9999"), QStringLiteral("9999999999"), QStringLiteral("x")), lancto},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        ui.clear();
        const QString answer = c.answer;
        answerWith(QStringLiteral("SendEmailCCeTodos"), [answer](const QVariantList&) { return answer; });
        ui.expectMessage(c.shown, fw::mbOK);
        ASSERT_TRUE(run([this] { f->mnuEmailTodasClick(f->mnuEmailTodas); })) << ui.report().toStdString();
        ASSERT_EQ(ui.messages().size(), 1);
        EXPECT_EQ(ui.messages().at(0).kind, fw::MsgKind::Information);
        EXPECT_EQ(nf("NRLANCTONF"), c.standsOn);
    }
}

TEST_F(Email, NothingPendingForRecipientsSendsNothingEvenWithCarrierEmailsPending)
{
    for (bool carrierPending : {true, false}) {
        SCOPED_TRACE(carrierPending ? "carrier e-mails pending" : "nothing pending");
        listAll();
        setWhere([] { return true; }, "IDEMAILCCE", "E");
        if (carrierPending)
            setWhere([this] { return accepted() && !nf("NRINSJURTRAN").isEmpty(); }, "IDEMAILCCETRANS", "P");
        f->mnuFormularioClick(f);
        ASSERT_EQ(f->pgcPadrao->ActivePage(), f->tshFormulario);
        ui.clear();
        ui.expectMessage(QString::fromUtf8(kSemPendente), fw::mbOK);
        EXPECT_FALSE(run([this] { f->mnuEmailTodasClick(f->mnuEmailTodas); }));
        EXPECT_EQ(ui.messages().size(), 1);
        EXPECT_EQ(ui.messages().at(0).kind, fw::MsgKind::Error);
        EXPECT_EQ(count("SendEmailCCeTodos"), 0);
        EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFolhaDados);
        EXPECT_EQ(f->focusWidget(), f->dbgPadrao);
        EXPECT_TRUE(ui.busyEvents().isEmpty());
    }
    // No list at all: the item is enabled all the same, and says so.
    f->cdsNotaFiscal->close();
    ui.clear();
    ui.expectMessage(QString::fromUtf8(kSemPendente), fw::mbOK);
    EXPECT_FALSE(run([this] { f->mnuEmailTodasClick(f->mnuEmailTodas); }));
    EXPECT_EQ(count("SendEmailCCeTodos"), 0);
}

TEST_F(Email, AServerFailureClosesTheBusyIndicator)
{
    ASSERT_TRUE(goTo([this] { return accepted(); }));
    answerWith(QStringLiteral("SendEmailCCeTodos"), [](const QVariantList&) -> QVariant {
        throw fw::ConnectionError(QStringLiteral("Sem conexão com o servidor de aplicação."));
    });
    ui.expectMessage(QString(), fw::mbOK);
    const int fetches = count("GetNotaFiscal");
    EXPECT_FALSE(run([this] { f->mnuEmailTodasClick(f->mnuEmailTodas); }));
    EXPECT_FALSE(ui.busyShown());
    EXPECT_EQ(count("GetNotaFiscal"), fetches);
}
