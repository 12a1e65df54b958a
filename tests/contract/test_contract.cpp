// The screen and the server agree by test, not by care: every data set the screen fills
// from the server has the fields of the packet the server sends, and every call the screen
// makes has the argument count and kinds the server's method registry declares.
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <gtest/gtest.h>

#include "core/host/Context.h"
#include "core/net/InProcessTransport.h"
#include "core/values/Value.h"
#include "module/Cli_dfs59000.h"
#include "server/methods/Methods.h"
#include "server/methods/PacketFields.h"
#include "server/store/Store.h"
#include "tests/support/ModuleTestSupport.h"

namespace {

std::string describe(const fw::FieldDefs& defs)
{
    QStringList out;
    for (const fw::FieldDef& d : defs)
        out << QStringLiteral("%1 %2(%3)%4%5")
                   .arg(d.name, fw::fieldTypeName(d.type))
                   .arg(d.size)
                   .arg(d.fixed ? QStringLiteral(" fixed") : QString(),
                        d.required ? QStringLiteral(" required") : QString());
    return out.join(QStringLiteral(", ")).toStdString();
}

bool kindMatches(srv::ArgKind kind, bool nullable, const QVariant& v)
{
    if (fw::isNull(v))
        return nullable;
    switch (kind) {
    case srv::ArgKind::String: return v.metaType().id() == QMetaType::QString;
    case srv::ArgKind::Boolean: return v.metaType().id() == QMetaType::Bool;
    case srv::ArgKind::DateTime: return v.metaType().id() == QMetaType::QDateTime;
    case srv::ArgKind::DataPacket:
        return v.canConvert<fw::DataPacket>() && v.metaType() == QMetaType::fromType<fw::DataPacket>();
    case srv::ArgKind::DeltaPacket:
        return v.canConvert<fw::DeltaPacket>() && v.metaType() == QMetaType::fromType<fw::DeltaPacket>();
    case srv::ArgKind::Any: return true;
    }
    return false;
}

class Contract : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        QSqlDatabase db;
        QString error;
        ASSERT_TRUE(cce_test::openCompany(&db, QStringLiteral(":memory:"), &error)) << error.toStdString();
        s_store = srv::Store::open(QStringLiteral("sqlite::memory:"), &error).release();
        ASSERT_TRUE(s_store) << error.toStdString();
        s_registry = new srv::MethodRegistry;
        srv::registerMethods(*s_registry, *s_store);
        s_previous = fw::setDefaultTransportFactory(fw::InProcessTransport::factory(
            fw::InProcessTransport::Handler([](const QString& server, const QJsonObject& request) {
                s_requests.append({server, request});
                return cce_test::answer(request, QString());
            })));
        fw::setHostContext(cce_test::companyContext());
        s_ui = new cce_test::InstalledUi;
        CriaTransmissaoCCe(fw::nullValue());
    }
    static void TearDownTestSuite()
    {
        cce_test::deleteScreens();
        boStCriado = false;
        fw::setDefaultTransportFactory(s_previous);
        delete s_ui;
        delete s_registry;
        delete s_store;
        QSqlDatabase::removeDatabase(cce_test::kCompanyConnection);
    }

    struct Request {
        QString server;
        QJsonObject body;
    };
    static inline QList<Request> s_requests;
    static inline srv::Store* s_store = nullptr;
    static inline srv::MethodRegistry* s_registry = nullptr;
    static inline fw::TransportFactory s_previous;
    static inline cce_test::InstalledUi* s_ui = nullptr;
};

TEST_F(Contract, EveryDataSetTheServerFillsHasThePacketsFields)
{
    TfrmTransmissaoCCe* f = frmTransmissaoCCe;
    ASSERT_NE(f, nullptr);
    const std::pair<fw::DataSet*, const fw::FieldDefs*> pairs[] = {
        {f->cdsNotaFiscal, &srv::fields::notaFiscal()},
        {f->cdsCCe, &srv::fields::cartaCorrecao()},
        {f->cdsParamDFS, &srv::fields::paramDfs()},
        {f->cdsValdXMLSchema, &srv::fields::valdXmlSchema()},
    };
    for (const auto& [dataSet, packet] : pairs) {
        SCOPED_TRACE(dataSet->objectName().toStdString());
        EXPECT_EQ(describe(dataSet->fieldDefs()), describe(*packet));
    }
}

TEST_F(Contract, EveryCallHasTheArgumentsTheServerDeclares)
{
    TfrmTransmissaoCCe* f = frmTransmissaoCCe;
    ASSERT_NE(f, nullptr);
    s_requests.clear();
    const QString T = QStringLiteral("T");
    f->cdsCCe->open();
    f->cdsCCe->append();
    f->cdsCCeCDFILIAL->setAsString(QStringLiteral("0001"));
    f->cdsCCe->cancel();
    AppServer::GetNotaFiscal(*f->netTransmissao, T, T, T, QStringLiteral("01"), T, T, T, T, T, T, QString(),
                             QStringLiteral("S"), QString(), false, QDateTime(), QDateTime());
    AppServer::GetNotaFiscal(*f->netTransmissao, T, T, T, QStringLiteral("01"), T, T, T, T, T, T, QStringLiteral("N"),
                             QStringLiteral("S"), QString(), true, QDateTime::currentDateTime(),
                             QDateTime::currentDateTime());
    AppServer::SetCCe(*f->netTransmissao, f->cdsCCe->delta(), QStringLiteral("0001"), QStringLiteral("0000000001"));
    AppServer::TransmiteCCe(*f->netTransmissao, f->cdsNotaFiscal->data(), QStringLiteral("01"), QStringLiteral("x"));
    AppServer::SendEmailCCe(*f->netTransmissao, QStringLiteral("0001"), QStringLiteral("0000000001"),
                            QStringLiteral("01"), false);
    AppServer::SendEmailCCeTodos(*f->netTransmissao, f->cdsNotaFiscal->data());
    AppServer::getXmlEnvLote(*f->netTransmissao, QStringLiteral("0001"), QStringLiteral("0000000001"));
    AppServer::GetParamDFS(*f->netDocFiscSaid, QStringLiteral("0001"));
    ASSERT_EQ(s_requests.size(), 8);

    for (const Request& r : s_requests) {
        const QString name = r.body.value(QStringLiteral("method")).toString();
        SCOPED_TRACE((r.server + QLatin1Char('/') + name).toStdString());
        const srv::Method* m = s_registry->find(r.server, name);
        ASSERT_NE(m, nullptr) << "the server has no such method";
        const QVariantList args = cce_test::decodeParams(r.body);
        ASSERT_EQ(args.size(), m->args.size());
        for (int i = 0; i < args.size(); ++i)
            EXPECT_TRUE(kindMatches(m->args.at(i).kind, m->args.at(i).nullable, args.at(i)))
                << "argument " << i + 1 << " (" << m->args.at(i).name.toStdString() << ") is "
                << args.at(i).metaType().name();
    }
}

} // namespace
