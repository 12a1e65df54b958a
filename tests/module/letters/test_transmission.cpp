// Transmission of the marked invoices' letters and the refresh that follows every change.
#include <QSqlQuery>

#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "tests/module/letters/LettersFixture.h"

namespace {

const char* kDeveSelecao = "Nota fiscal deve ser informada para transmissão da carta de correção eletrônica.";

QString condicaoDeUso()
{
    return QStringLiteral(
        "A Carta de Correção é disciplinada pelo § 1º-A do art. 7º do Convênio S/N, de 15 de dezembro de 1970 e "
        "pode ser utilizada para regularização de erro ocorrido na emissão de documento fiscal, desde que o erro não "
        "esteja relacionado com: I - as variáveis que determinam o valor do imposto tais como: base de cálculo, "
        "alíquota, diferença de preço, quantidade, valor da operação ou da prestação; II - a correção de dados "
        "cadastrais que implique mudança do remetente ou do destinatário; III - a data de emissão ou de saída."
        "\r\n\r\nConfirma a Condição de Uso da Carta de Correção?");
}

QVariant pair(const char* outcome, const QString& text) { return QVariantList{QString::fromLatin1(outcome), text}; }

} // namespace

class Transmission : public LettersTest {
protected:
    void SetUp() override
    {
        LettersTest::SetUp();
        listAll();
        total = f->cdsNotaFiscal->recordCount();
    }

    // Marks the first pending invoice, as a double click on its row does.
    void markOne()
    {
        ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("1"); }));
        marked = nf("NRLANCTONF");
        ASSERT_TRUE(run([this] { f->dbgPadraoDblClick(f->dbgPadrao); })) << ui.report().toStdString();
        ASSERT_EQ(nf("IDCHECK"), QStringLiteral("S"));
        ASSERT_EQ(inCount, 1);
        ui.clear();
    }
    int fetches() const { return int(calls().filter(QStringLiteral("GetNotaFiscal")).size()); }
    int transmissions() const { return int(calls().filter(QStringLiteral("TransmiteCCe")).size()); }
    void expectFilterOff()
    {
        EXPECT_FALSE(f->cdsNotaFiscal->filtered());
        EXPECT_EQ(f->cdsNotaFiscal->recordCount(), total);
        EXPECT_FALSE(f->cdsNotaFiscal->controlsDisabled());
        EXPECT_FALSE(ui.busyShown());
    }

    int total = 0;
    QString marked;
};

TEST_F(Transmission, NothingMarkedSendsNothingAndAsksNothing)
{
    f->mnuFormularioClick(f);
    ui.expectMessage(QString::fromUtf8(kDeveSelecao), fw::mbOK);
    EXPECT_FALSE(run([this] { f->sbtTransmiteClick(f->sbtTransmite); }));
    EXPECT_EQ(transmissions(), 0);
    EXPECT_EQ(f->pgcPadrao->ActivePage(), f->tshFolhaDados);
    EXPECT_EQ(f->focusWidget(), f->dbgPadrao);
    expectFilterOff();
}

TEST_F(Transmission, NoToTheConditionOfUseSendsNothingAndKeepsTheMarks)
{
    markOne();
    ui.expectMessage(condicaoDeUso(), fw::mbNo);
    EXPECT_FALSE(run([this] { f->sbtTransmiteClick(f->sbtTransmite); }));
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages().at(0).kind, fw::MsgKind::Confirmation);
    EXPECT_EQ(ui.messages().at(0).buttons, fw::mbYes | fw::mbNo);
    EXPECT_EQ(transmissions(), 0);
    EXPECT_EQ(inCount, 1);
    expectFilterOff();
}

TEST_F(Transmission, SuccessShowsTheServersTextThenReadsTheListAgainWithoutMarks)
{
    markOne();
    // The user stands on another row than the first: the list comes back there.
    f->cdsNotaFiscal->last();
    const QString standing = nf("NRLANCTONF");
    ASSERT_NE(f->cdsNotaFiscal->recNo(), 1);
    answerWith(QStringLiteral("TransmiteCCe"),
               [](const QVariantList&) { return pair("S", QStringLiteral("NF 000000123: 135 - Evento registrado")); });
    ui.expectMessage(condicaoDeUso(), fw::mbYes);
    ui.expectMessage(QStringLiteral("NF 000000123: 135 - Evento registrado"), fw::mbOK);
    const int before = fetches();
    ASSERT_TRUE(run([this] { f->sbtTransmiteClick(f->sbtTransmite); })) << ui.report().toStdString();
    EXPECT_EQ(ui.messages().last().kind, fw::MsgKind::Information);
    // Busy with the transmitting text over the screen.
    ASSERT_FALSE(ui.busyEvents().isEmpty());
    EXPECT_EQ(ui.busyEvents().first().kind, 6);
    EXPECT_EQ(ui.busyEvents().first().text, QStringLiteral("Transmitindo Carta de Correção Eletrônica..."));

    // Every row travels with its mark, whatever the filter showed; the condition goes unaccented.
    const QVariantList args = lastArgs(QStringLiteral("TransmiteCCe"));
    ASSERT_EQ(args.size(), 3);
    const fw::DataPacket notas = args.at(0).value<fw::DataPacket>();
    EXPECT_EQ(notas.rows.size(), total);
    const int check = notas.fieldIndex(QStringLiteral("IDCHECK"));
    const int key = notas.fieldIndex(QStringLiteral("NRLANCTONF"));
    QStringList markedRows;
    for (const fw::Row& r : notas.rows)
        if (r.value(check).toString() == QLatin1String("S"))
            markedRows << r.value(key).toString();
    EXPECT_EQ(markedRows, QStringList{marked});
    EXPECT_EQ(args.at(1).toString(), QStringLiteral("01"));
    EXPECT_TRUE(args.at(2).toString().startsWith(QStringLiteral("A Carta de Correcao e disciplinada pelo paragrafo")));
    EXPECT_FALSE(args.at(2).toString().contains(QStringLiteral("Confirma")));

    EXPECT_EQ(fetches(), before + 1);
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    expectFilterOff();
    EXPECT_EQ(nf("NRLANCTONF"), standing);
}

TEST_F(Transmission, EachOutcomeIsShownAsTheServerSaysAndOnlyTheFirstTwoRefresh)
{
    struct Case {
        QVariant answer;
        QString shown;
        bool completes;
        bool refreshes;
    };
    const Case cases[] = {
        {QStringLiteral("Certificado vencido."), QStringLiteral("Certificado vencido."), true, true},
        {pair("N", QStringLiteral("CCE_DEVE_SELECAO")), QString::fromUtf8(kDeveSelecao), false, false},
        {pair("N", QStringLiteral("Lote recusado.")), QStringLiteral("Lote recusado."), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        if (inCount == 0)
            markOne();
        ui.clear();
        const QVariant answer = c.answer;
        answerWith(QStringLiteral("TransmiteCCe"), [answer](const QVariantList&) { return answer; });
        ui.expectMessage(condicaoDeUso(), fw::mbYes);
        ui.expectMessage(c.shown, fw::mbOK);
        const int before = fetches();
        EXPECT_EQ(run([this] { f->sbtTransmiteClick(f->sbtTransmite); }), c.completes);
        EXPECT_EQ(ui.messages().last().kind, fw::MsgKind::Error);
        EXPECT_EQ(fetches(), before + (c.refreshes ? 1 : 0));
        EXPECT_EQ(inCount, c.refreshes ? 0 : 1);
        expectFilterOff();
    }
}

TEST_F(Transmission, TheRealServersAnswerIsShownAndTheListComesBack)
{
    markOne();
    ui.expectMessage(condicaoDeUso(), fw::mbYes);
    ui.expectMessage(QString(), fw::mbOK);
    const int before = fetches();
    run([this] { f->sbtTransmiteClick(f->sbtTransmite); });
    EXPECT_EQ(transmissions(), 1);
    EXPECT_EQ(fetches(), before + 1);
    expectFilterOff();
}

// The refresh repeats the last retrieval from the filter's record and the dialog's two branch edits.
class Refresh : public Transmission {
protected:
    QVariantList refresh()
    {
        EXPECT_TRUE(run([this] { f->sbtVerificarClick(f); })) << ui.report().toStdString();
        return lastArgs(QStringLiteral("GetNotaFiscal"));
    }
    static QString branchWhere(const char* condition)
    {
        return scalar(QStringLiteral("SELECT MIN(CDFILIAL) FROM FILIAL WHERE CDEMPRESA = '01' AND ") +
                      QString::fromLatin1(condition))
            .toString();
    }
    TfrmFiltroTransmissao* dlg() const { return frmFiltroTransmissao; }
};

TEST_F(Refresh, TheBranchesComeFromTheDialogWithItsCentralisingLookup)
{
    QVariantList a = refresh();
    ASSERT_EQ(a.size(), 16);
    EXPECT_EQ(a.at(0).toString(), QStringLiteral("T"));
    EXPECT_EQ(a.at(1).toString(), QStringLiteral("T"));
    EXPECT_EQ(a.at(3).toString(), QStringLiteral("01"));
    EXPECT_EQ(a.at(10).toString(), QString()) << "the date-range switch is left empty";
    EXPECT_EQ(a.at(11).toString(), QStringLiteral("S"));

    const QString centralising = branchWhere("(CDFILIFISC IS NULL OR CDFILIFISC = '')");
    const QString centralised = branchWhere("CDFILIFISC IS NOT NULL AND CDFILIFISC <> ''");
    ASSERT_FALSE(centralising.isEmpty());
    ASSERT_FALSE(centralised.isEmpty());

    // A branch with no centralising one of its own issues for all: it is the origin.
    dlg()->medCdFilial->setText(centralising);
    dlg()->medCdFiliOrig->setText(QString());
    a = refresh();
    EXPECT_EQ(a.at(0).toString(), QStringLiteral("T"));
    EXPECT_EQ(a.at(1).toString(), centralising);

    dlg()->medCdFilial->setText(centralised);
    a = refresh();
    EXPECT_EQ(a.at(0).toString(), centralised);
    EXPECT_EQ(a.at(1).toString(), QStringLiteral("T"));

    // A typed origin is taken as it is, and the lookup is not needed.
    dlg()->medCdFiliOrig->setText(centralising);
    a = refresh();
    EXPECT_EQ(a.at(0).toString(), centralised);
    EXPECT_EQ(a.at(1).toString(), centralising);

    // Both given while the lookup still holds a branch without centralising one: that
    // branch is no restriction, as on the filter's confirmation.
    dlg()->medCdFilial->setText(centralising);
    dlg()->medCdFiliOrig->setText(QString());
    refresh();
    dlg()->medCdFiliOrig->setText(centralised);
    a = refresh();
    EXPECT_EQ(a.at(0).toString(), QStringLiteral("T"));
    EXPECT_EQ(a.at(1).toString(), centralised);
}

TEST_F(Refresh, RepeatsTheConfirmationsCriteriaButTheDateSwitch)
{
    ui.expectModal([](QWidget* form) {
        auto* d = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(d, nullptr);
        d->cbbDestRem->setItemIndex(2);
        d->nbkCliente->setPageIndex(2);
        d->medFilial->setText(QStringLiteral("0002"));
        d->cbbIdOperacao->setItemIndex(1);
        d->chbEmisContFS->setChecked(false);
        d->depSaidIni->SetDate(QDate::currentDate().addYears(-2));
        ASSERT_TRUE(fw::dispatch([d] { d->sbtConfirmaClick(d->sbtConfirma); }));
    });
    ASSERT_TRUE(run([this] { f->sbtFiltroClick(f->sbtFiltro); })) << ui.report().toStdString();
    QVariantList confirmed = lastArgs(QStringLiteral("GetNotaFiscal"));
    QVariantList refreshed = refresh();
    ASSERT_EQ(confirmed.size(), 16);
    EXPECT_EQ(confirmed.at(10).toString(), QStringLiteral("N"));
    EXPECT_EQ(refreshed.at(10).toString(), QString());
    confirmed.removeAt(10);
    refreshed.removeAt(10);
    EXPECT_EQ(confirmed, refreshed);
}

TEST_F(Refresh, EachKindOfCounterpartNarrowsByItsOwnRegistration)
{
    TRecordFilter& rec = dlg()->RecordFilter;
    rec.InscCliente = QStringLiteral("12345678000190");
    rec.InscFornecedor = QStringLiteral("98765432000110");
    rec.CdFilialDest = QStringLiteral("0002");
    rec.CdInscEsta = QStringLiteral("IE9");
    rec.TodosTipoOper = false;
    rec.CodTipoOper = QStringLiteral("S01;S05");
    rec.IdOperacao = 1;
    const struct {
        int destRem;
        const char *a8, *a9, *a10;
    } cases[] = {
        {0, "T", "C", "12345678000190"}, {1, "T", "F", "98765432000110"}, {2, "0002", "L", "T"}, {3, "T", "T", "T"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destRem);
        rec.DestRem = c.destRem;
        const QVariantList a = refresh();
        EXPECT_EQ(a.at(2).toString(), QStringLiteral("S01;S05"));
        EXPECT_EQ(a.at(4).toString(), QStringLiteral("IE9"));
        EXPECT_EQ(a.at(5).toString(), QStringLiteral("T"));
        EXPECT_EQ(a.at(7).toString(), QString::fromLatin1(c.a8));
        EXPECT_EQ(a.at(8).toString(), QString::fromLatin1(c.a9));
        EXPECT_EQ(a.at(9).toString(), QString::fromLatin1(c.a10));
        EXPECT_EQ(a.at(11).toString(), QStringLiteral("E"));
    }
}

TEST_F(Refresh, TheMarksAreGoneEvenWhenTheRetrievalReportsAnError)
{
    markOne();
    stAmbiente = QStringLiteral("2");
    answerWith(QStringLiteral("GetNotaFiscal"),
               [](const QVariantList&) { return QStringLiteral("Banco indisponível."); });
    ui.expectMessage(QStringLiteral("Banco indisponível."), fw::mbOK);
    run([this] { f->sbtVerificarClick(f); });
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stAmbiente.isEmpty());
    EXPECT_EQ(f->cdsNotaFiscal->recordCount(), total) << "the list stays as it was";
}

// The whole road against the server's own methods: a letter written, saved, marked and
// handed to the transmission, whose answer the screen shows before it reads the list again.
TEST_F(Transmission, ALetterWrittenAndSavedIsMarkedAndTransmitted)
{
    ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("0") && authorised(); }));
    const QString branch = nf("CDFILIAL"), entry = nf("NRLANCTONF");
    f->mnuFormularioClick(f);
    ASSERT_TRUE(writeLetter(QStringLiteral("Peso líquido: 1.250,00 kg; peso bruto: 1.300,00 kg.")))
        << ui.report().toStdString();
    ASSERT_EQ(nf("NRLANCTONF"), entry);
    ASSERT_EQ(nf("IDSTATUSCCE"), QStringLiteral("1"));
    f->mnuFolhaDadosClick(f);
    ASSERT_TRUE(run([this] { f->dbgPadraoDblClick(f->dbgPadrao); })) << ui.report().toStdString();
    ASSERT_EQ(inCount, 1);

    ui.clear();
    ui.expectMessage(condicaoDeUso(), fw::mbYes);
    ui.expectMessage(QString(), fw::mbOK); // what the server answers, shown as it says
    const int before = fetches();
    run([this] { f->sbtTransmiteClick(f->sbtTransmite); });
    EXPECT_EQ(transmissions(), 1);
    const fw::DataPacket notas = lastArgs(QStringLiteral("TransmiteCCe")).value(0).value<fw::DataPacket>();
    const int check = notas.fieldIndex(QStringLiteral("IDCHECK")), key = notas.fieldIndex(QStringLiteral("NRLANCTONF"));
    int marks = 0;
    for (const fw::Row& r : notas.rows)
        if (r.value(check).toString() == QLatin1String("S")) {
            ++marks;
            EXPECT_EQ(r.value(key).toString(), entry);
        }
    EXPECT_EQ(marks, 1);
    ASSERT_EQ(ui.messages().size(), 2);
    EXPECT_FALSE(ui.messages().at(1).text.isEmpty());
    EXPECT_EQ(fetches(), before + 1);
    EXPECT_EQ(inCount, 0);
    expectFilterOff();
    // Nothing was accepted without the authority: the letter is still pending on the server.
    EXPECT_EQ(scalar(QStringLiteral("SELECT CDSTATUSCCE FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                     {branch, entry})
                  .toString(),
              QString());
}
