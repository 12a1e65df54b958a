// The server connection against a loopback HTTP server and an in-process server.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTimer>
#include <condition_variable>
#include <gtest/gtest.h>
#include <httplib.h>
#include <mutex>
#include <thread>

#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/net/InProcessTransport.h"
#include "core/net/TNetConnection.h"
#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"

namespace {

const QString kServer = QStringLiteral("Dfs59000.rdmTransmissaoCCe");

struct Seen {
    std::string path, contentType, authorization, acceptEncoding, user, body;
    bool hasAuthorization = false;
};

// A loopback HTTP server on a free port; each test says how it answers.
class LoopbackServer {
public:
    using Reply = std::function<void(const httplib::Request&, httplib::Response&)>;

    LoopbackServer()
    {
        m_server.Post(R"(/rpc/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            Reply reply;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                Seen s;
                s.path = req.path;
                s.contentType = req.get_header_value("Content-Type");
                s.hasAuthorization = req.has_header("Authorization");
                s.authorization = req.get_header_value("Authorization");
                s.user = req.get_header_value("X-CCE-User");
                s.acceptEncoding = req.get_header_value("Accept-Encoding");
                s.body = req.body;
                m_seen.push_back(s);
                reply = m_reply;
            }
            reply(req, res);
        });
        port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~LoopbackServer()
    {
        release();
        m_server.stop();
        m_thread.join();
    }

    void setReply(Reply r)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = std::move(r);
    }
    std::vector<Seen> seen()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

    // Lets a reply wait, on the server's thread, until the test releases it (with a deadline).
    bool waitForRelease(int ms)
    {
        std::unique_lock<std::mutex> lock(m_gateMutex);
        return m_gate.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_released; });
    }
    void release()
    {
        {
            std::lock_guard<std::mutex> lock(m_gateMutex);
            m_released = true;
        }
        m_gate.notify_all();
    }

    int port = 0;

private:
    httplib::Server m_server;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
    Reply m_reply = [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"jsonrpc":"2.0","id":1,"result":""})", "application/json");
    };
    std::mutex m_gateMutex;
    std::condition_variable m_gate;
    bool m_released = false;
};

// Answers every request with result, echoing its id.
LoopbackServer::Reply answer(const QJsonValue& result)
{
    return [result](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject in = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        const QJsonObject out{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), in.value(QStringLiteral("id"))},
                              {QStringLiteral("result"), result}};
        res.set_content(QJsonDocument(out).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    };
}

QString callError(TNetConnection& c, const QString& method, const QVariantList& args = {})
{
    try {
        c.Call(method, args);
    } catch (const fw::ConnectionError& e) {
        return e.message();
    }
    ADD_FAILURE() << "no ConnectionError from " << method.toStdString();
    return QString();
}

int freePort()
{
    QTcpServer s;
    EXPECT_TRUE(s.listen(QHostAddress::LocalHost, 0));
    return s.serverPort();
}

class NetConnection : public ::testing::Test {
protected:
    void SetUp() override { saved = fw::hostContext(); }
    void TearDown() override
    {
        fw::setHostContext(saved);
        fw::setDefaultTransportFactory({});
    }
    // As the screen sets it up: host and port given by the before-connect handler.
    void setUp(TNetConnection& c, int port, const QString& token = QString())
    {
        fw::hostContext().serverToken = token;
        c.setServerName(kServer);
        c.setThrowException(false);
        c.OnBeforeConnect = [port](QObject* sender) {
            auto* net = qobject_cast<TNetConnection*>(sender);
            net->setHost(QStringLiteral("127.0.0.1"));
            net->setPort(port);
        };
    }
    fw::HostContext saved;
};

} // namespace

TEST_F(NetConnection, SendsOneJsonRpcRequestPerCallExactlyAsTheProtocolSays)
{
    LoopbackServer server;
    ASSERT_GT(server.port, 0);
    fw::DataPacket p;
    p.fields = {{QStringLiteral("CDFILIAL"), fw::FieldType::String, 4, false, false},
                {QStringLiteral("DTHR"), fw::FieldType::DateTime, 0, false, false}};
    p.rows.append(fw::Row{QStringLiteral("0001"), QDateTime(QDate(2026, 12, 7), QTime(14, 5, 0))});
    server.setReply(answer(QJsonArray{fw::json::encodePacket(p), QStringLiteral("x")}));

    TNetConnection net;
    setUp(net, server.port, QStringLiteral("tok-123"));
    fw::hostContext().user = QStringLiteral("joão.silva");
    int beforeConnect = 0;
    auto setHost = net.OnBeforeConnect;
    net.OnBeforeConnect = [&](QObject* s) {
        ++beforeConnect;
        setHost(s);
    };
    net.Open();
    EXPECT_TRUE(net.isConnected());
    EXPECT_EQ(beforeConnect, 1);

    const QVariant result =
        net.Call(QStringLiteral("GetNotaFiscal"),
                 {QStringLiteral("Filial ção"), true, fw::nullValue(), QDateTime(QDate(2026, 12, 1), QTime(0, 0, 0))});
    const QVariantList list = result.toList();
    ASSERT_EQ(list.size(), 2);
    ASSERT_EQ(list[0].metaType().id(), qMetaTypeId<fw::DataPacket>());
    EXPECT_TRUE(list[0].value<fw::DataPacket>() == p);
    EXPECT_EQ(list[1].toString(), QStringLiteral("x"));

    net.Call(QStringLiteral("SetCCe"), {});
    const std::vector<Seen> seen = server.seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].path, "/rpc/Dfs59000.rdmTransmissaoCCe");
    EXPECT_EQ(seen[0].contentType, "application/json");
    EXPECT_EQ(seen[0].authorization, "Bearer tok-123");
    // The host's user goes with every call, for the server's audit trail (percent-encoded
    // on the wire; the test server decodes it).
    EXPECT_EQ(seen[0].user, "jo\xc3\xa3o.silva");
    EXPECT_EQ(seen[1].user, "jo\xc3\xa3o.silva");
    // On the same machine compressing a list costs more than sending it.
    EXPECT_EQ(seen[0].acceptEncoding, "identity");
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(seen[0].body)).object();
    EXPECT_EQ(body.value(QStringLiteral("jsonrpc")).toString(), QStringLiteral("2.0"));
    EXPECT_EQ(body.value(QStringLiteral("method")).toString(), QStringLiteral("GetNotaFiscal"));
    EXPECT_EQ(QJsonDocument(body.value(QStringLiteral("params")).toArray()).toJson(QJsonDocument::Compact),
              QByteArray(R"(["Filial ção",true,null,{"$datetime":"2026-12-01T00:00:00"}])"));
    const qint64 firstId = body.value(QStringLiteral("id")).toInteger();
    const QJsonObject second = QJsonDocument::fromJson(QByteArray::fromStdString(seen[1].body)).object();
    EXPECT_GT(second.value(QStringLiteral("id")).toInteger(), firstId);
    EXPECT_EQ(second.value(QStringLiteral("params")).toArray().size(), 0);
    EXPECT_EQ(second.value(QStringLiteral("method")).toString(), QStringLiteral("SetCCe"));

    // Without a token there is no Authorization header at all.
    TNetConnection open;
    setUp(open, server.port);
    EXPECT_EQ(open.Call(QStringLiteral("SendEmailCCe"), {}).toString(), QString());
    EXPECT_FALSE(server.seen().back().hasAuthorization);
}

TEST_F(NetConnection, ProtocolFaultsRaiseNamingTheServer)
{
    LoopbackServer server;
    TNetConnection net;
    setUp(net, server.port, QStringLiteral("errado"));
    const QString where = QStringLiteral("127.0.0.1:%1").arg(server.port);

    server.setReply([](const httplib::Request&, httplib::Response& res) {
        res.status = 401;
        res.set_content(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32001,"message":"unauthorized"}})",
                        "application/json");
    });
    QString m = callError(net, QStringLiteral("GetNotaFiscal"));
    EXPECT_TRUE(m.contains(QStringLiteral("Acesso negado"))) << m.toStdString();
    EXPECT_TRUE(m.contains(kServer));
    EXPECT_TRUE(m.contains(where));

    server.setReply([](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject in = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
        res.set_content(QJsonDocument(QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                                  {QStringLiteral("id"), in.value(QStringLiteral("id"))},
                                                  {QStringLiteral("error"),
                                                   QJsonObject{{QStringLiteral("code"), -32602},
                                                               {QStringLiteral("message"),
                                                                QStringLiteral("argumento A14 deve ser lógico")}}}})
                            .toJson()
                            .toStdString(),
                        "application/json");
    });
    m = callError(net, QStringLiteral("GetNotaFiscal"));
    EXPECT_TRUE(m.contains(QStringLiteral("argumento A14 deve ser lógico"))) << m.toStdString();
    EXPECT_TRUE(m.contains(QStringLiteral("-32602")));
    EXPECT_TRUE(m.contains(QStringLiteral("GetNotaFiscal")));
    EXPECT_TRUE(m.contains(kServer));

    server.setReply([](const httplib::Request&, httplib::Response& res) {
        res.status = 413;
        res.set_content("too large", "text/plain");
    });
    m = callError(net, QStringLiteral("TransmiteCCe"));
    EXPECT_TRUE(m.contains(QStringLiteral("excede o tamanho"))) << m.toStdString();
    EXPECT_TRUE(m.contains(where));

    server.setReply([](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("<html>oops</html>", "text/html");
    });
    m = callError(net, QStringLiteral("SetCCe"));
    EXPECT_TRUE(m.contains(QStringLiteral("HTTP 500"))) << m.toStdString();

    server.setReply(
        [](const httplib::Request&, httplib::Response& res) { res.set_content("{not json", "application/json"); });
    m = callError(net, QStringLiteral("SetCCe"));
    EXPECT_TRUE(m.contains(QStringLiteral("Resposta inválida"))) << m.toStdString();
    EXPECT_TRUE(m.contains(kServer));

    // A reply to some other request is not this call's answer.
    server.setReply([](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"jsonrpc":"2.0","id":999999,"result":""})", "application/json");
    });
    m = callError(net, QStringLiteral("SetCCe"));
    EXPECT_TRUE(m.contains(QStringLiteral("identificador"))) << m.toStdString();

    server.setReply(answer(QJsonObject{{QStringLiteral("$datetime"), QStringLiteral("ontem")}}));
    m = callError(net, QStringLiteral("SetCCe"));
    EXPECT_TRUE(m.contains(QStringLiteral("Resposta inválida"))) << m.toStdString();

    // An application error text is an answer, not a fault.
    server.setReply(answer(QStringLiteral("NF_NACEITA")));
    EXPECT_EQ(net.Call(QStringLiteral("SetCCe"), {}).toString(), QStringLiteral("NF_NACEITA"));
}

TEST_F(NetConnection, UnreachableServerShowsUpAtTheFirstCallWhenExceptionsAreOff)
{
    const int port = freePort();
    TNetConnection net;
    setUp(net, port);
    int beforeConnect = 0;
    auto setHost = net.OnBeforeConnect;
    net.OnBeforeConnect = [&](QObject* s) {
        ++beforeConnect;
        setHost(s);
    };
    EXPECT_NO_THROW(net.Open());
    EXPECT_FALSE(net.isConnected());
    EXPECT_FALSE(net.lastConnectError().isEmpty());
    EXPECT_EQ(beforeConnect, 1);

    const QString m = callError(net, QStringLiteral("GetNotaFiscal"));
    EXPECT_TRUE(m.startsWith(QStringLiteral("Não foi possível conectar"))) << m.toStdString();
    EXPECT_TRUE(m.contains(kServer));
    EXPECT_TRUE(m.contains(QStringLiteral("127.0.0.1:%1").arg(port)));
    EXPECT_EQ(beforeConnect, 2);

    TNetConnection strict;
    setUp(strict, port);
    strict.setThrowException(true);
    EXPECT_THROW(strict.Open(), fw::ConnectionError);
    EXPECT_THROW(strict.setConnected(true), fw::ConnectionError);
    EXPECT_FALSE(strict.isConnected());

    // Nothing configured: refused with a reason, not sent to port 0.
    TNetConnection unset;
    unset.setServerName(kServer);
    unset.setThrowException(false);
    unset.setPort(0);
    const QString u = callError(unset, QStringLiteral("GetParamDFS"));
    EXPECT_TRUE(u.contains(QStringLiteral("porta"))) << u.toStdString();
}

TEST_F(NetConnection, ASlowServerTimesOutAndTheScreenKeepsRunningMeanwhile)
{
    LoopbackServer server;
    TNetConnection net;
    setUp(net, server.port);
    net.Open();

    // The reply waits for a timer of the client's thread: it only comes when the event
    // loop keeps running during the call.
    bool timerRan = false;
    QString reentrant;
    server.setReply([&server](const httplib::Request& req, httplib::Response& res) {
        const bool released = server.waitForRelease(10000);
        answer(released ? QStringLiteral("ok") : QStringLiteral("not released"))(req, res);
    });
    QTimer::singleShot(0, [&]() {
        timerRan = true;
        EXPECT_TRUE(net.callInProgress());
        reentrant = callError(net, QStringLiteral("SetCCe"));
        server.release();
    });
    EXPECT_EQ(net.Call(QStringLiteral("TransmiteCCe"), {}).toString(), QStringLiteral("ok"));
    EXPECT_TRUE(timerRan);
    EXPECT_TRUE(reentrant.contains(QStringLiteral("chamada anterior"))) << reentrant.toStdString();
    EXPECT_FALSE(net.callInProgress());
    EXPECT_EQ(server.seen().size(), 1u);

    // A reply that never comes within the timeout.
    LoopbackServer slow;
    slow.setReply([&slow](const httplib::Request& req, httplib::Response& res) {
        slow.waitForRelease(10000);
        answer(QStringLiteral("late"))(req, res);
    });
    TNetConnection patient;
    setUp(patient, slow.port);
    patient.setTimeoutMs(300);
    const QString m = callError(patient, QStringLiteral("GetNotaFiscal"));
    EXPECT_TRUE(m.contains(QStringLiteral("não respondeu"))) << m.toStdString();
    EXPECT_TRUE(m.contains(kServer));
    slow.release();
    EXPECT_FALSE(patient.callInProgress());
}

TEST_F(NetConnection, InProcessServerThroughTheDefaultFactory)
{
    QStringList servers;
    QList<QJsonObject> requests;
    fw::setDefaultTransportFactory(fw::InProcessTransport::factory(
        fw::InProcessTransport::Handler([&](const QString& serverName, const QJsonObject& request) {
            servers << serverName;
            requests << request;
            if (request.value(QStringLiteral("method")).toString() == QLatin1String("Falha"))
                return QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                   {QStringLiteral("id"), request.value(QStringLiteral("id"))},
                                   {QStringLiteral("error"),
                                    QJsonObject{{QStringLiteral("code"), -32601},
                                                {QStringLiteral("message"), QStringLiteral("método desconhecido")}}}};
            return QJsonObject{
                {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                {QStringLiteral("id"), request.value(QStringLiteral("id"))},
                {QStringLiteral("result"), QJsonArray{QStringLiteral("S"), QStringLiteral("Processado")}}};
        })));

    TNetConnection net;
    net.setServerName(QStringLiteral("DFS00000.rdmDocFiscSaida"));
    net.setThrowException(false);
    net.Open();
    EXPECT_TRUE(net.isConnected());

    fw::DeltaPacket d;
    d.fields = {{QStringLiteral("NRSEQCCE"), fw::FieldType::String, 2, false, false}};
    d.changes.append({fw::DeltaChange::Op::Insert, fw::Row{}, fw::Row{QStringLiteral("01")}});
    const QVariantList r =
        net.Call(QStringLiteral("TransmiteCCe"), {QVariant::fromValue(d), QStringLiteral("01")}).toList();
    ASSERT_EQ(r.size(), 2);
    EXPECT_EQ(r[0].toString(), QStringLiteral("S"));
    ASSERT_EQ(servers, QStringList{QStringLiteral("DFS00000.rdmDocFiscSaida")});
    const QJsonArray params = requests[0].value(QStringLiteral("params")).toArray();
    ASSERT_EQ(params.size(), 2);
    EXPECT_EQ(
        QJsonDocument(params[0].toObject()).toJson(QJsonDocument::Compact),
        QByteArray(
            R"({"$delta":{"changes":[{"op":"insert","row":["01"]}],"fields":[{"name":"NRSEQCCE","size":2,"type":"string"}]}})"));
    EXPECT_EQ(requests[0].value(QStringLiteral("jsonrpc")).toString(), QStringLiteral("2.0"));

    const QString m = callError(net, QStringLiteral("Falha"));
    EXPECT_TRUE(m.contains(QStringLiteral("método desconhecido"))) << m.toStdString();
    EXPECT_TRUE(m.contains(QStringLiteral("DFS00000.rdmDocFiscSaida")));
}

TEST_F(NetConnection, InProcessRawServerSeesTheTokenAndCanRefuseIt)
{
    fw::hostContext().serverToken = QStringLiteral("do-host");
    QString token;
    auto transport =
        std::make_shared<fw::InProcessTransport>(fw::InProcessTransport::RawHandler([&](const fw::RpcRequest& r) {
            token = r.token;
            fw::RpcReply reply;
            reply.httpStatus = 401;
            reply.body = R"({"jsonrpc":"2.0","id":null,"error":{"code":-32001,"message":"unauthorized"}})";
            return reply;
        }));
    TNetConnection net;
    net.setServerName(kServer);
    net.setTransport(transport);
    net.Open();
    const QString m = callError(net, QStringLiteral("GetNotaFiscal"));
    EXPECT_EQ(token, QStringLiteral("do-host"));
    EXPECT_TRUE(m.contains(QStringLiteral("Acesso negado"))) << m.toStdString();

    // A token set on the connection wins over the host's.
    net.Close();
    net.setToken(QStringLiteral("proprio"));
    callError(net, QStringLiteral("GetNotaFiscal"));
    EXPECT_EQ(token, QStringLiteral("proprio"));
}
