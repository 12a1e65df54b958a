// Keyed message lists.
#include <gtest/gtest.h>

#include "core/messages/TMessages.h"
#include "core/ui/RecordingUiServices.h"

namespace {
TMessages* screenMessages(QObject* owner)
{
    auto* m = new TMessages(owner);
    m->setObjectName(QStringLiteral("msgPadrao"));
    m->setLines(
        {QStringLiteral("EMP_N_CAD|Empresa não cadastrada."), QStringLiteral("Filial_cad|Filial não cadastrada."),
         QStringLiteral("PERMITE_CCE|Operação Bloqueada! A nota só pode ser corrigida 30 minutos depois da "
                        "autorização de uso.\r\n\r\nData/Hora da Autorização de Uso: %s\r\nData/Hora para o "
                        "Correção: após as %s do dia %s"),
         QStringLiteral("PIPE|a|b"), QStringLiteral("sem barra"), QStringLiteral("EMP_N_CAD|segunda definição")});
    return m;
}
} // namespace

TEST(TMessages, KeysMatchInAnyCaseAndTextsStayAsGiven)
{
    QObject owner;
    TMessages* m = screenMessages(&owner);
    EXPECT_EQ(owner.findChild<TMessages*>(QStringLiteral("msgPadrao")), m);

    EXPECT_EQ(m->Msg(QStringLiteral("EMP_N_CAD")), QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(m->Msg(QStringLiteral("emp_n_cad")), QStringLiteral("Empresa não cadastrada."));
    // The dialog asks for "Filial_Cad" where its list says "Filial_cad".
    EXPECT_EQ(m->Msg(QStringLiteral("Filial_Cad")), QStringLiteral("Filial não cadastrada."));

    const QString permite = m->Msg(QStringLiteral("PERMITE_CCE"));
    EXPECT_EQ(permite.count(QStringLiteral("%s")), 3);
    EXPECT_EQ(permite.count(QStringLiteral("\r\n")), 3);
    EXPECT_TRUE(permite.startsWith(QStringLiteral("Operação Bloqueada!")));

    EXPECT_EQ(m->Msg(QStringLiteral("PIPE")), QStringLiteral("a|b"));
    EXPECT_EQ(m->Msg(QStringLiteral("NAO_EXISTE")), QString());
    EXPECT_EQ(m->Msg(QStringLiteral("sem barra")), QString());
    EXPECT_EQ(m->lines().size(), 6);

    m->addLine(QStringLiteral("NOVA|Nova mensagem"));
    EXPECT_EQ(m->Msg(QStringLiteral("nova")), QStringLiteral("Nova mensagem"));
    m->setLines({QStringLiteral("OUTRA|x")});
    EXPECT_EQ(m->Msg(QStringLiteral("EMP_N_CAD")), QString());
    EXPECT_EQ(m->Msg(QStringLiteral("outra")), QStringLiteral("x"));
}

TEST(TMessages, ShowMsgShowsTheKeysTextAndReturnsTheButton)
{
    fw::RecordingUiServices ui;
    fw::RecordingUiServices::Install installed(ui);
    ui.expectMessage(QString(), fw::mbYes);
    QObject owner;
    TMessages* m = screenMessages(&owner);
    const int button =
        m->ShowMsg(QStringLiteral("emp_n_cad"), fw::MsgKind::Confirmation, fw::mbYes | fw::mbNo, 10915100);
    EXPECT_EQ(button, fw::mbYes);
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages()[0].kind, fw::MsgKind::Confirmation);
    EXPECT_EQ(ui.messages()[0].text, QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(ui.messages()[0].buttons, fw::mbYes | fw::mbNo);
    EXPECT_EQ(ui.messages()[0].helpContext, 10915100);
}
