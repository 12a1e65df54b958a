// What a request costs in memory while it is read: a few times its own size at most,
// whatever it holds. Measured as the growth of the process's peak resident memory while
// the dispatcher reads bodies of some megabytes built to inflate a document parser.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include "core/values/JsonCodec.h"
#include "server/methods/Methods.h"
#include "server/methods/PacketFields.h"
#include "server/rpc/RpcDispatcher.h"
#include "tests/support/ProcessMemory.h"

namespace {

constexpr qint64 kMiB = 1024 * 1024;
using cce_test::resetPeak;
using cce_test::statusKiB;

class RequestMemoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Under the sanitizer, whose own bookkeeping makes resident memory meaningless, or
        // where a process cannot reset its peak, the requests are still read and answered.
#if !defined(__SANITIZE_ADDRESS__)
        m_measured = resetPeak() && statusKiB("VmHWM:") >= 0;
#endif
        // The store is never reached: these calls end before any method touches it.
        srv::registerMethods(registry, srv::Services{});
    }

    // The growth of the peak while the body is read and answered, in bytes; 0 when not measured.
    qint64 peakGrowth(const QString& server, const QByteArray& body, srv::RpcReply* reply)
    {
        const srv::RpcDispatcher dispatcher(registry);
        if (!m_measured) {
            *reply = dispatcher.handle(server, body);
            return 0;
        }
        EXPECT_TRUE(resetPeak());
        const qint64 before = statusKiB("VmRSS:");
        *reply = dispatcher.handle(server, body);
        return (statusKiB("VmHWM:") - before) * 1024;
    }
    bool m_measured = false;

    static QByteArray envelope(const char* method, const QByteArray& params)
    {
        return QByteArray(R"({"jsonrpc":"2.0","id":1,"method":")") + method + R"(","params":)" + params + '}';
    }

    srv::MethodRegistry registry;
};

TEST_F(RequestMemoryTest, NestedEmptyArraysCostNothingBeforeTheKindCheckRefusesThem)
{
    // Megabytes of empty arrays where GetNotaFiscal wants its first text.
    const qsizetype arrays = 8 * kMiB / 3;
    QByteArray wide;
    wide.reserve(arrays * 3 + 16);
    wide += "[["; // the arguments, then the first
    for (qsizetype i = 0; i < arrays; ++i)
        wide += i ? ",[]" : "[]";
    wide += R"(],"T","T","01","T","T","T","T","T","T","T","T","",false,null,null])";
    const QByteArray body = envelope("GetNotaFiscal", wide);

    srv::RpcReply reply;
    const qint64 growth = peakGrowth(srv::kServerTransmissao, body, &reply);
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidParams) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains("argumento 1 (A1)")) << reply.body.left(300).toStdString();
    EXPECT_LT(growth, body.size()) << "a body of " << body.size() << " bytes grew the peak by " << growth;

    QByteArray deep(200000, '[');
    deep += QByteArray(200000, ']');
    reply = srv::RpcDispatcher(registry).handle(srv::kServerTransmissao, envelope("GetNotaFiscal", deep));
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidRequest) << reply.body.left(300).toStdString();
}

TEST_F(RequestMemoryTest, LargePacketsCostAboutTheirSize)
{
    // The invoices packet as the screen sends it to TransmiteCCe, some megabytes of it.
    fw::DataPacket one;
    one.fields = srv::fields::notaFiscal();
    fw::Row row;
    for (const fw::FieldDef& f : one.fields)
        row << (f.type == fw::FieldType::Float      ? QVariant(1234.56)
                : f.type == fw::FieldType::DateTime ? QVariant(QDateTime(QDate(2026, 11, 9), QTime(17, 6)))
                                                    : QVariant(QString(qMax(1, qMin(f.size, 14)), QLatin1Char('7'))));
    one.rows = {row};
    const QByteArray sample = QJsonDocument(fw::json::encodePacket(one).toObject()).toJson(QJsonDocument::Compact);
    const qsizetype rowsAt = sample.indexOf("\"rows\":[") + 8;
    const QByteArray rowText = sample.mid(rowsAt, sample.lastIndexOf(']', sample.size() - 4) - rowsAt + 1);
    ASSERT_TRUE(rowText.startsWith('[') && rowText.endsWith(']')) << rowText.toStdString();
    const int rows = int(6 * kMiB / rowText.size());
    QByteArray packet = sample.left(rowsAt);
    packet.reserve(qsizetype(rows) * (rowText.size() + 1) + sample.size());
    for (int i = 0; i < rows; ++i) {
        if (i)
            packet += ',';
        packet += rowText;
    }
    packet += sample.mid(rowsAt + rowText.size());

    // TransmiteCCe reads only the marks and keys; a server without the authority then says so.
    srv::RpcReply reply;
    QByteArray body = envelope("TransmiteCCe", '[' + packet + R"(,"01",""])");
    qint64 growth = peakGrowth(srv::kServerTransmissao, body, &reply);
    EXPECT_EQ(reply.faultCode, 0) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains("não está configurada")) << reply.body.left(300).toStdString();
    EXPECT_LT(growth, 2 * body.size()) << "a body of " << body.size() << " bytes grew the peak by " << growth;

    // The same packet where no argument is due: refused without building it.
    body = envelope("GetParamDFS", R"(["0001",)" + packet + ']');
    growth = peakGrowth(srv::kServerDocFiscSaida, body, &reply);
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidParams);
    EXPECT_TRUE(reply.body.contains("o argumento 2 sobra")) << reply.body.left(300).toStdString();
    EXPECT_LT(growth, body.size() / 2) << "a body of " << body.size() << " bytes grew the peak by " << growth;

    // A row that does not match the field list is refused as it is read.
    QByteArray broken = packet;
    broken.insert(rowsAt + rowText.size() - 1, ",\"extra\"");
    reply = srv::RpcDispatcher(registry).handle(srv::kServerTransmissao,
                                                envelope("TransmiteCCe", '[' + broken + R"(,"01",""])"));
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidParams);
    EXPECT_TRUE(reply.body.contains("um valor para cada campo")) << reply.body.left(300).toStdString();
}

TEST_F(RequestMemoryTest, ALetterSaveWithTooManyChangesCostsLittle)
{
    // Megabytes of letter changes: SetCCe takes at most sixty at once.
    fw::DeltaPacket one{srv::fields::cartaCorrecao(), {}};
    one.changes = {fw::DeltaChange{fw::DeltaChange::Op::Insert,
                                   {},
                                   {QStringLiteral("0002"), QStringLiteral("0000000001"), QStringLiteral("01"),
                                    QStringLiteral("Correção do endereço de entrega."), QVariant(), QString(),
                                    QVariant(), QVariant(), QStringLiteral("P"), QStringLiteral("N")}}};
    const QByteArray sample = QJsonDocument(fw::json::encodeDelta(one).toObject()).toJson(QJsonDocument::Compact);
    const qsizetype at = sample.indexOf("\"changes\":[") + 11;
    const qsizetype end = sample.indexOf("}]", at) + 1;
    const QByteArray change = sample.mid(at, end - at);
    QByteArray delta = sample.left(at);
    const int changes = int(6 * kMiB / change.size());
    delta.reserve(qsizetype(changes) * (change.size() + 1) + sample.size());
    for (int i = 0; i < changes; ++i) {
        if (i)
            delta += ',';
        delta += change;
    }
    delta += sample.mid(end);
    const QByteArray body = envelope("SetCCe", '[' + delta + R"(,"0002","0000000001"])");

    // No store is open here: the refusal must come before any statement.
    srv::MethodRegistry own;
    own.add(srv::kServerTransmissao, QStringLiteral("SetCCe"), registry.find(srv::kServerTransmissao, "SetCCe")->args,
            [](const QVariantList& p) { return QVariant(qlonglong(p[0].value<fw::DeltaPacket>().changes.size())); });
    std::swap(registry, own);
    srv::RpcReply reply;
    const qint64 growth = peakGrowth(srv::kServerTransmissao, body, &reply);
    EXPECT_EQ(reply.faultCode, 0) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains(R"("result":61)"))
        << "one change more than allowed reaches the method: " << reply.body.left(300).toStdString();
    EXPECT_LT(growth, body.size()) << "a body of " << body.size() << " bytes grew the peak by " << growth;
}

} // namespace

TEST_F(RequestMemoryTest, AnOverlongTextArgumentIsRefusedBeforeItIsBuilt)
{
    auto call = [&](const QByteArray& first, srv::RpcReply* reply) {
        const QByteArray body = envelope("getXmlEnvLote", QByteArray("[\"") + first + R"(","000001"])");
        return peakGrowth(srv::kServerTransmissao, body, reply);
    };
    // Megabytes of escapes, each six bytes of text for one character.
    QByteArray escaped;
    for (int i = 0; i < 1000000; ++i)
        escaped += "\\u00e7";
    srv::RpcReply reply;
    const qint64 growth = call(escaped, &reply);
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidParams) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains("argumento 1 (CDFILIAL)")) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains("excede 65536 caracteres")) << reply.body.left(300).toStdString();
    EXPECT_LT(growth, qint64(escaped.size())) << "a text of " << escaped.size() << " bytes grew the peak by " << growth;

    // Within six bytes a character, the characters themselves are counted.
    call(QByteArray(srv::kMaxStringArgument + 1, '1'), &reply);
    EXPECT_TRUE(reply.body.contains("excede 65536 caracteres")) << reply.body.left(300).toStdString();
    // At the bound the text is taken: the next argument is the one refused (the store is
    // never reached).
    const QByteArray atBound =
        envelope("getXmlEnvLote", QByteArray("[\"") + QByteArray(srv::kMaxStringArgument, '1') + "\",7]");
    reply = srv::RpcDispatcher(registry).handle(srv::kServerTransmissao, atBound);
    EXPECT_EQ(reply.faultCode, srv::fault::InvalidParams) << reply.body.left(300).toStdString();
    EXPECT_TRUE(reply.body.contains("argumento 2 (NRLANCTONF)")) << reply.body.left(300).toStdString();
}
