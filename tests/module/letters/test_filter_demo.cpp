// The filter dialog confirmed on the demo database as cce-server --init --demo makes it,
// for every branch of the company: its parameters, registrations and series, and the
// date-times its queries read, exactly as the demo stores them.
#include <QSqlQuery>

#include "tests/module/letters/LettersFixture.h"
#include "widgets/controls/ControlEvents.h"

TEST_F(LettersTest, TheFilterConfirmsWithEachDemoBranchOfTheCompany)
{
    QSqlQuery q(QSqlDatabase::database(QStringLiteral("company")));
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT CDFILIAL FROM FILIAL WHERE CDEMPRESA = '01' ORDER BY CDFILIAL")));
    QStringList branches;
    while (q.next())
        branches << q.value(0).toString();
    ASSERT_GE(branches.size(), 3);
    int listed = 0;
    for (const QString& branch : branches) {
        SCOPED_TRACE(branch.toStdString());
        ui.clear();
        bool confirmed = false;
        ui.expectModal([&](QWidget* form) {
            auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
            ASSERT_NE(dlg, nullptr);
            dlg->show();
            ASSERT_TRUE(fw::moveFocus(dlg->medCdFilial));
            // As typed: the code without its zeros; leaving the field completes it.
            dlg->medCdFilial->setText(QString::number(branch.toInt()));
            ASSERT_TRUE(fw::moveFocus(dlg->medCdFiliOrig)) << ui.report().toStdString();
            EXPECT_EQ(dlg->medCdFilial->text(), branch);
            dlg->depSaidIni->SetDate(QDate::currentDate().addYears(-2));
            dlg->depSaidFim->SetDate(QDate::currentDate().addDays(1));
            confirmed = run([dlg] { dlg->sbtConfirmaClick(dlg->sbtConfirma); });
        });
        ASSERT_TRUE(run([this] { f->sbtFiltroClick(f->sbtFiltro); }));
        // Strict branches refuse without registrations; what they never do is fail on a value.
        for (const QString& m : ui.messageTexts())
            EXPECT_FALSE(m.contains(QStringLiteral("inválido para o campo"))) << m.toStdString();
        if (confirmed) {
            ++listed;
            EXPECT_TRUE(f->cdsNotaFiscal->active());
        }
        // Whatever was asked and answered, nothing went unanswered.
        ui.clear();
        delete frmFiltroTransmissao;
        frmFiltroTransmissao = nullptr;
    }
    EXPECT_GE(listed, 1) << "no demo branch confirmed";
}
