// The host's helper functions: error reporting and aborts, server results, codes,
// registration numbers and their masks.
#include <gtest/gtest.h>

#include "core/errors/Errors.h"
#include "core/host/Documents.h"
#include "core/host/EditMask.h"
#include "core/host/HostFunctions.h"
#include "core/ui/RecordingUiServices.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"

namespace {
const QString kCnpjMask = QStringLiteral("99.999.999/9999-99;0;_");
const QString kCpfMask = QStringLiteral("999.999.999-99;0;_");
} // namespace

TEST(MensErro, ShowsTheErrorOnceAndAbortsOnlyWhenAsked)
{
    fw::RecordingUiServices ui;
    fw::RecordingUiServices::Install installed(ui);
    EXPECT_THROW(MensErro(QStringLiteral("Empresa não cadastrada."), true), fw::Abort);
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages()[0].kind, fw::MsgKind::Error);
    EXPECT_EQ(ui.messages()[0].text, QStringLiteral("Empresa não cadastrada."));
    EXPECT_EQ(ui.messages()[0].buttons, fw::mbOK);

    EXPECT_NO_THROW(MensErro(QStringLiteral("Falha no envio."), false));
    ASSERT_EQ(ui.messages().size(), 2);
    EXPECT_EQ(ui.messages()[1].text, QStringLiteral("Falha no envio."));
}

TEST(CheckResultServ, AStringIsAnErrorTextAnythingElseIsThePayload)
{
    fw::RecordingUiServices ui;
    fw::RecordingUiServices::Install installed(ui);
    fw::DataPacket p;
    p.fields = {{QStringLiteral("CDFILIAL"), fw::FieldType::String, 4, false, false}};
    p.rows.append(fw::Row{QStringLiteral("0001")});
    const QVariant packet = QVariant::fromValue(p);

    EXPECT_FALSE(IsResultError(packet));
    EXPECT_TRUE(CheckResultServ(packet, true, 0).value<fw::DataPacket>() == p);
    const QVariantList array{packet, packet};
    EXPECT_EQ(CheckResultServ(array, true, 0).toList().size(), 2);
    // Null is no error text: it passes to the caller as it is.
    EXPECT_TRUE(fw::isNull(CheckResultServ(fw::nullValue(), true, 0)));
    EXPECT_TRUE(ui.messages().isEmpty());

    const QVariant error(QStringLiteral("Filial sem parâmetros."));
    EXPECT_TRUE(IsResultError(error));
    EXPECT_THROW(CheckResultServ(error, true, 0), fw::Abort);
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages()[0].text, QStringLiteral("Filial sem parâmetros."));
    EXPECT_EQ(ui.messages()[0].kind, fw::MsgKind::Error);

    // Without abort the text is shown and no payload comes back.
    EXPECT_TRUE(fw::isEmpty(CheckResultServ(error, false, 0)));
    EXPECT_EQ(ui.messages().size(), 2);

    // An empty error text is still an error, and says something.
    EXPECT_THROW(CheckResultServ(QVariant(QString()), true, 0), fw::Abort);
    ASSERT_EQ(ui.messages().size(), 3);
    EXPECT_FALSE(ui.messages()[2].text.trimmed().isEmpty());
}

TEST(HostFunctions, EmptyStringAndAjusta)
{
    EXPECT_TRUE(EmptyString(QString()));
    EXPECT_TRUE(EmptyString(QStringLiteral("   ")));
    EXPECT_TRUE(EmptyString(QStringLiteral(" \t")));
    EXPECT_FALSE(EmptyString(QStringLiteral(" 0 ")));

    EXPECT_EQ(Ajusta(QStringLiteral("1"), 2), QStringLiteral("01"));
    EXPECT_EQ(Ajusta(QStringLiteral(" 7 "), 4), QStringLiteral("0007"));
    EXPECT_EQ(Ajusta(QStringLiteral("0001"), 4), QStringLiteral("0001"));
    EXPECT_EQ(Ajusta(QStringLiteral("9"), 2), QStringLiteral("09"));
    EXPECT_EQ(Ajusta(QString::number(9 + 1), 2), QStringLiteral("10"));
    EXPECT_EQ(Ajusta(QStringLiteral("  "), 2), QString());
    EXPECT_EQ(Ajusta(QStringLiteral("a1"), 4), QStringLiteral("A1  "));
    // Never cut: "123" cut to two would name another code.
    EXPECT_EQ(Ajusta(QStringLiteral("123"), 2), QStringLiteral("123"));
}

TEST(HostFunctions, AjustaInscricaoAndPictPess)
{
    QString r = QStringLiteral(" 12.345.678/0001-95 ");
    Ajusta_Inscricao(r);
    EXPECT_EQ(r, QStringLiteral("12345678000195"));
    r = QStringLiteral("isento");
    Ajusta_Inscricao(r);
    EXPECT_EQ(r, QStringLiteral("ISENTO"));

    EXPECT_EQ(PictPess(QStringLiteral("J")), kCnpjMask);
    EXPECT_EQ(PictPess(QStringLiteral("f")), kCpfMask);
    EXPECT_EQ(PictPess(QStringLiteral("E")), QString());
    EXPECT_EQ(PictPess(QString()), QString());
}

TEST(FormatMaskText, LaysRegistrationNumbersIntoTheirMasks)
{
    EXPECT_EQ(FormatMaskText(kCnpjMask, QStringLiteral("11222333000181")), QStringLiteral("11.222.333/0001-81"));
    EXPECT_EQ(FormatMaskText(kCpfMask, QStringLiteral("52998224725")), QStringLiteral("529.982.247-25"));
    EXPECT_EQ(FormatMaskText(PictPess(QStringLiteral("J")), QStringLiteral("12ABC34501DE35")),
              QStringLiteral("12.ABC.345/01DE-35"));
    // Missing characters show as the blank; extra ones are never cut off.
    EXPECT_EQ(FormatMaskText(kCpfMask, QStringLiteral("5299")), QStringLiteral("529.9__.___-__"));
    EXPECT_EQ(FormatMaskText(kCpfMask, QStringLiteral("11222333000181")), QStringLiteral("11222333000181"));
    EXPECT_EQ(FormatMaskText(QString(), QStringLiteral("abc")), QStringLiteral("abc"));
}

TEST(FormatMaskText, HonoursCaseBlanksEscapesAndStoredLiterals)
{
    EXPECT_EQ(FormatMaskText(QStringLiteral(">aaaa;0; "), QStringLiteral("ab1")), QStringLiteral("AB1 "));
    EXPECT_EQ(FormatMaskText(QStringLiteral("99;0; "), QStringLiteral("1")), QStringLiteral("1 "));
    EXPECT_EQ(FormatMaskText(QStringLiteral(">L<llll;0;_"), QStringLiteral("mARIA")), QStringLiteral("Maria"));
    EXPECT_EQ(FormatMaskText(QStringLiteral("\\(99\\) 0000-0000;0;_"), QStringLiteral("1133334444")),
              QStringLiteral("(11) 3333-4444"));
    // A mask literal that is also a mask character, escaped.
    EXPECT_EQ(FormatMaskText(QStringLiteral("\\999-0;0;_"), QStringLiteral("123")), QStringLiteral("912-3"));
    // Stored with its literals ("1"): the value already holds them.
    EXPECT_EQ(FormatMaskText(QStringLiteral("99/99/0000;1;_"), QStringLiteral("07/12/2026")),
              QStringLiteral("07/12/2026"));
    EXPECT_EQ(FormatMaskText(QStringLiteral("99/99/0000;1;_"), QStringLiteral("07122026")),
              QStringLiteral("07/12/2026"));
}

TEST(EditMask, TranslatesToQtInputMasks)
{
    const fw::EditMask cnpj = fw::parseEditMask(kCnpjMask);
    EXPECT_FALSE(cnpj.saveLiterals);
    EXPECT_EQ(cnpj.blank, QLatin1Char('_'));
    EXPECT_EQ(cnpj.inputCount(), 14);
    // Optional digits are Qt's "0", required ones its "9".
    EXPECT_EQ(fw::toQtInputMask(cnpj), QStringLiteral("00.000.000/0000-00;_"));
    EXPECT_EQ(fw::toQtInputMask(fw::parseEditMask(QStringLiteral(">aaaa;0; "))), QStringLiteral(">nnnn; "));
    EXPECT_EQ(fw::toQtInputMask(fw::parseEditMask(QStringLiteral("00;0;_"))), QStringLiteral("99;_"));
    EXPECT_EQ(fw::toQtInputMask(fw::parseEditMask(QStringLiteral("LA;1;*"))), QStringLiteral("AN;*"));
    EXPECT_TRUE(fw::toQtInputMask(fw::parseEditMask(QString())).isEmpty());
    EXPECT_EQ(fw::stripMaskLiterals(cnpj, QStringLiteral("11.222.333/0001-81")), QStringLiteral("11222333000181"));
    EXPECT_EQ(fw::stripMaskLiterals(cnpj, QStringLiteral("11.222.___/____-__")), QStringLiteral("11222"));
}

TEST(HostFunctions, PriDiaMesAndExistParam)
{
    EXPECT_EQ(PriDiaMes(QDate(2024, 2, 29)), QDate(2024, 2, 1));
    EXPECT_EQ(PriDiaMes(QDate(2026, 12, 1)), QDate(2026, 12, 1));
    EXPECT_FALSE(PriDiaMes(QDate()).isValid());

    const QStringList params{QStringLiteral("P_CDEMPRESA=01"), QStringLiteral(" p_tcdempresa "), QStringLiteral("X=")};
    EXPECT_TRUE(ExistParam(params, QStringLiteral("P_CDEMPRESA")));
    EXPECT_TRUE(ExistParam(params, QStringLiteral("P_TCDEMPRESA")));
    EXPECT_TRUE(ExistParam(params, QStringLiteral("x")));
    EXPECT_FALSE(ExistParam(params, QStringLiteral("P_CDEMP")));
    EXPECT_FALSE(ExistParam(params, QStringLiteral("01")));
    EXPECT_FALSE(ExistParam(params, QString()));
}

TEST(Documents, CheckDigitsOfCnpjAndCpf)
{
    EXPECT_TRUE(fw::validCnpj(QStringLiteral("11.222.333/0001-81")));
    EXPECT_TRUE(fw::validCnpj(QStringLiteral("11222333000181")));
    EXPECT_FALSE(fw::validCnpj(QStringLiteral("11222333000182")));
    EXPECT_FALSE(fw::validCnpj(QStringLiteral("1122233300018")));
    EXPECT_FALSE(fw::validCnpj(QStringLiteral("00000000000000")));
    // Alphanumeric CNPJ: letters weigh their code minus 48.
    EXPECT_TRUE(fw::validCnpj(QStringLiteral("12.ABC.345/01DE-35")));
    EXPECT_FALSE(fw::validCnpj(QStringLiteral("12ABC34501DE53")));
    EXPECT_FALSE(fw::validCnpj(QStringLiteral("12ABC34501DEAB")));
    EXPECT_EQ(fw::cnpjCheckDigits(QStringLiteral("112223330001")), QStringLiteral("81"));
    EXPECT_EQ(fw::cnpjCheckDigits(QStringLiteral("11222333000")), QString());

    EXPECT_TRUE(fw::validCpf(QStringLiteral("529.982.247-25")));
    EXPECT_FALSE(fw::validCpf(QStringLiteral("529.982.247-52")));
    EXPECT_FALSE(fw::validCpf(QStringLiteral("11111111111")));
    EXPECT_FALSE(fw::validCpf(QStringLiteral("5299822472A")));
    EXPECT_EQ(fw::cpfCheckDigits(QStringLiteral("529982247")), QStringLiteral("25"));
}
