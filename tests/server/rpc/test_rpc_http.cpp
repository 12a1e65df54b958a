// The JSON-RPC transport spoken over real loopback HTTP against a registry of fake
// methods: envelopes, authentication, limits, faults, concurrency and shutdown.
#include <httplib.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/values/JsonCodec.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "server/rpc/Caller.h"
#include "server/rpc/CompanyScope.h"
#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/MethodRegistry.h"

using namespace srv;
using namespace std::chrono_literals;

namespace {

const char* kServer = "Test.rdmFake";

struct Reply {
    int status = -1; // -1: no HTTP answer at all
    QJsonObject body;
    QByteArray raw;

    int code() const { return body.value("error").toObject().value("code").toInt(); }
    QString message() const { return body.value("error").toObject().value("message").toString(); }
    QJsonValue result() const { return body.value("result"); }
};

QByteArray request(const QString& method, const QJsonArray& params, const QJsonValue& id = 1)
{
    QJsonObject o{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Blocks the calling worker until released, telling the test when it got there.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    int entered = 0;
    bool released = false;

    void enterAndWait()
    {
        std::unique_lock<std::mutex> lock(m);
        ++entered;
        cv.notify_all();
        cv.wait_for(lock, 20s, [&] { return released; });
    }
    bool waitEntered(int n)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, 10s, [&] { return entered >= n; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(m);
        released = true;
        cv.notify_all();
    }
};

class RpcHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QList<ArgSpec> echoArgs{{"a", ArgKind::String, false},      {"b", ArgKind::Boolean, false},
                                      {"c", ArgKind::DateTime, true},     {"d", ArgKind::DataPacket, false},
                                      {"e", ArgKind::DeltaPacket, false}, {"f", ArgKind::Any, false}};
        registry.add(kServer, "Echo", echoArgs, [this](const QVariantList& p) {
            ++calls;
            return QVariant(p);
        });
        registry.add(kServer, "AppError", {},
                     [](const QVariantList&) { return QVariant(QStringLiteral("NF_NACEITA")); });
        registry.add(kServer, "Crash", {{"secret", ArgKind::String}}, [](const QVariantList& p) -> QVariant {
            throw std::runtime_error(
                ("SELECT * FROM CCE WHERE TOKEN='" + p[0].toString() + "' at /srv/cce/store.cpp:42").toStdString());
        });
        registry.add(kServer, "Refuse", {}, [](const QVariantList&) -> QVariant {
            throw RpcFault(fault::InvalidParams, QStringLiteral("recusado pelo método"));
        });
        registry.add(kServer, "Meet", {}, [this](const QVariantList&) {
            // Answers "together" only if another call is running at the same time.
            std::unique_lock<std::mutex> lock(meetMutex);
            ++meetCount;
            meetCv.notify_all();
            const bool together = meetCv.wait_for(lock, 5s, [&] { return meetCount >= 2; });
            return QVariant(QString::fromLatin1(together ? "together" : "alone"));
        });
        registry.add(kServer, "Hold", {}, [this](const QVariantList&) {
            gate.enterAndWait();
            return QVariant(QStringLiteral("finished"));
        });
        registry.add(kServer, "Reach", {{"company", ArgKind::String}},
                     [](const QVariantList& p) { return QVariant(CompanyScope::current().allows(p[0].toString())); });
        registry.add(kServer, "Save", {}, [](const QVariantList&) { return QVariant(QStringLiteral("saved")); });
        registry.add(kServer, "Who", {}, [](const QVariantList&) {
            const Caller& c = Caller::current();
            return QVariant(QVariantList{c.tokenName, c.user, c.address, c.requestId});
        });
        // A list: of a whole company when asked for "all", held like Hold.
        registry.add(kServer, "List", {{"company", ArgKind::String}}, [this](const QVariantList& p) {
            ++(p.value(0).toString() == "all" ? wholeLists : narrowLists);
            gate.enterAndWait();
            return QVariant(QStringLiteral("listed"));
        });
        registry.setHeavy(kServer, "List", [](const QVariantList& p) { return p.value(0).toString() == "all"; });
        registry.setLane(kServer, "Save", MethodLane::Quick);
        registry.add("Other.rdmFake", "OnlyHere", {}, [](const QVariantList&) { return QVariant(true); });
    }

    void TearDown() override
    {
        gate.release();
        if (server)
            server->stop(); // before the members its workers write to go away
    }

    void start(HttpServerOptions options = {})
    {
        options.logSink = [this](const QByteArray& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            logLines.append(line);
        };
        server = std::make_unique<HttpRpcServer>(registry, options);
        QString error;
        ASSERT_TRUE(server->listen("127.0.0.1", 0, &error)) << error.toStdString();
        ASSERT_GT(server->port(), 0);
    }

    Reply post(const QByteArray& body, const QString& serverName = kServer, const std::string& token = {})
    {
        httplib::Client client("127.0.0.1", server->port());
        client.set_read_timeout(30, 0);
        httplib::Headers headers;
        if (!token.empty())
            headers.emplace("Authorization", token);
        auto res = client.Post(("/rpc/" + serverName).toStdString(), headers, body.toStdString(), "application/json");
        Reply r;
        if (!res)
            return r;
        r.status = res->status;
        r.raw = QByteArray::fromStdString(res->body);
        r.body = QJsonDocument::fromJson(r.raw).object();
        return r;
    }

    Reply call(const QString& method, const QJsonArray& params, const std::string& token = {})
    {
        return post(request(method, params), kServer, token);
    }

    QList<QByteArray> waitForLogLines(int n)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(logMutex);
                if (logLines.size() >= n || std::chrono::steady_clock::now() > deadline)
                    return logLines;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    static QJsonArray echoParams()
    {
        fw::DataPacket packet;
        packet.fields = {{"CDFILIAL", fw::FieldType::String, 4}, {"NRSEQ", fw::FieldType::Integer}};
        packet.rows = {{QStringLiteral("0001"), qlonglong(3)}};
        fw::DeltaPacket delta;
        delta.fields = packet.fields;
        delta.changes = {{fw::DeltaChange::Op::Insert, {}, {QStringLiteral("0002"), qlonglong(4)}}};
        return QJsonArray{"ação",
                          true,
                          QJsonObject{{"$datetime", "2026-12-07T14:05:00"}},
                          fw::json::encodePacket(packet),
                          fw::json::encodeDelta(delta),
                          42};
    }

    MethodRegistry registry;
    std::unique_ptr<HttpRpcServer> server;
    std::atomic<int> calls{0};
    std::atomic<int> wholeLists{0}, narrowLists{0};
    std::mutex meetMutex;
    std::condition_variable meetCv;
    int meetCount = 0;
    Gate gate;
    std::mutex logMutex;
    QList<QByteArray> logLines;
};

TEST_F(RpcHttpTest, ResultEnvelopeEchoesIdAndValues)
{
    start();
    const QJsonArray params = echoParams();
    for (const QJsonValue& id : {QJsonValue(7), QJsonValue("req-α"), QJsonValue(QJsonValue::Null)}) {
        const Reply r = post(request("Echo", params, id));
        ASSERT_EQ(r.status, 200) << r.raw.toStdString();
        EXPECT_EQ(r.body.value("jsonrpc").toString(), "2.0");
        EXPECT_EQ(r.body.value("id"), id);
        EXPECT_FALSE(r.body.contains("error"));
        // Every argument comes back as it went: string, boolean, date-time, packet, delta, number.
        EXPECT_EQ(r.result().toArray(), params);
    }
    // A null date-time is accepted where the argument allows it.
    QJsonArray withNull = params;
    withNull[2] = QJsonValue(QJsonValue::Null);
    const Reply r = call("Echo", withNull);
    ASSERT_EQ(r.status, 200);
    EXPECT_TRUE(r.result().toArray().at(2).isNull());
    EXPECT_EQ(calls, 4);
}

TEST_F(RpcHttpTest, RequestsAreReadAsJsonWhateverTheirLayout)
{
    start();
    // Members in any order, escapes of every kind, blanks anywhere, a packet's rows before
    // its fields, numbers as JSON writes them.
    const QByteArray body = R"( { "params" : [ "a\u00e7\u00e3o \ud83d\ude00 \"q\" \\ \/ \n\t" , true ,
        {"$datetime":"2026-12-07T14:05:00"},
        {"$packet":{"rows":[["0001",3],[null,-2E1]],"fields":[{"size":4,"type":"string","name":"CDFILIAL"},
            {"type":"integer","name":"NRSEQ"}]}},
        {"$delta":{"changes":[{"row":["0002",4],"op":"insert"}],"fields":[{"name":"CDFILIAL","type":"string"},
            {"name":"NRSEQ","type":"integer"}]}},
        [1.5, -0, 12345678901, "x", null, [false]] ],
        "method" : "Echo", "id" : 12345678901, "jsonrpc" : "2.0" } )";
    const Reply r = post(body);
    ASSERT_EQ(r.status, 200);
    ASSERT_FALSE(r.body.contains("error")) << r.raw.toStdString();
    EXPECT_EQ(r.body.value("id").toInteger(), 12345678901LL);
    const QJsonArray result = r.result().toArray();
    EXPECT_EQ(result.at(0).toString(), QString::fromUtf8("ação \xf0\x9f\x98\x80 \"q\" \\ / \n\t"));
    const QJsonArray rows = result.at(3).toObject()["$packet"].toObject()["rows"].toArray();
    EXPECT_EQ(rows, (QJsonArray{QJsonArray{"0001", 3}, QJsonArray{QJsonValue::Null, -20}}));
    EXPECT_EQ(result.at(5).toArray(), (QJsonArray{1.5, 0, 12345678901LL, "x", QJsonValue::Null, QJsonArray{false}}));

    // Nesting deeper than any request needs is refused before anything is built.
    EXPECT_EQ(post(request("Echo", {}).replace("[]", QByteArray(40, '[') + QByteArray(40, ']'))).code(),
              fault::InvalidRequest);
    EXPECT_EQ(calls, 1);
}

TEST_F(RpcHttpTest, ApplicationErrorsAreResultsAndMethodFaultsKeepTheirCode)
{
    start();
    Reply r = call("AppError", {});
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.result().toString(), "NF_NACEITA");
    EXPECT_FALSE(r.body.contains("error"));

    r = call("Refuse", {});
    EXPECT_EQ(r.code(), fault::InvalidParams);
    EXPECT_EQ(r.message(), "recusado pelo método");
    EXPECT_FALSE(r.body.contains("result"));
    EXPECT_EQ(r.body.value("id").toInt(), 1);
}

TEST_F(RpcHttpTest, InternalErrorRevealsNothingOfTheFailure)
{
    start();
    const Reply r = call("Crash", {"hunter2"});
    EXPECT_EQ(r.code(), fault::InternalError);
    EXPECT_FALSE(r.message().isEmpty());
    for (const char* leak : {"hunter2", "SELECT", "CCE", "/srv", "store.cpp", "42"})
        EXPECT_FALSE(r.raw.contains(leak)) << leak << " leaked: " << r.raw.toStdString();
    // The server survives and answers the next call.
    EXPECT_EQ(call("AppError", {}).result().toString(), "NF_NACEITA");
}

TEST_F(RpcHttpTest, TokensGateEveryRequest)
{
    HttpServerOptions options;
    options.tokens = {"first-token", "s3cr3t-second"};
    start(options);
    const QByteArray body = request("Echo", echoParams());

    struct Case {
        const char* what;
        std::string header;
    };
    for (const Case& c :
         {Case{"no header", ""}, Case{"wrong token", "Bearer nope"}, Case{"prefix of a token", "Bearer s3cr3t"},
          Case{"token plus more", "Bearer s3cr3t-second2"}, Case{"no scheme", "s3cr3t-second"},
          Case{"basic scheme", "Basic s3cr3t-second"}, Case{"empty bearer", "Bearer "}}) {
        const Reply r = post(body, kServer, c.header);
        EXPECT_EQ(r.status, 401) << c.what;
        EXPECT_EQ(r.code(), fault::Unauthorized) << c.what;
    }
    EXPECT_EQ(calls, 0) << "a refused request ran its method";

    // Unknown servers are not revealed to anonymous callers either.
    EXPECT_EQ(post(body, "Nothing.here").status, 401);

    EXPECT_EQ(post(body, kServer, "Bearer s3cr3t-second").status, 200);
    EXPECT_EQ(post(body, kServer, "bearer first-token").status, 200);
    EXPECT_EQ(calls, 2);
}

TEST_F(RpcHttpTest, EachTokenCarriesItsCompaniesAndItsNameToTheMethods)
{
    HttpServerOptions options;
    options.tokens = {"every", "some"};
    options.tokenCompanies = {{"some", {"01", "03"}}};
    options.tokenNames = {{"some", "filial-campinas"}};
    options.trustedProxies = {"127.0.0.1"};
    start(options);
    auto reach = [&](const char* token, const char* company) {
        return call("Reach", {company}, std::string("Bearer ") + token).result().toBool();
    };
    EXPECT_TRUE(reach("every", "02"));
    EXPECT_TRUE(reach("some", "03"));
    EXPECT_FALSE(reach("some", "02"));
    EXPECT_TRUE(reach("every", "02")) << "a limited caller's scope does not stay on the worker";

    // The caller as the methods see it: the token's name (never the token), the user its
    // program sends, its address and the request's id, which the answer carries too.
    httplib::Client client("127.0.0.1", server->port());
    auto res = client.Post("/rpc/Test.rdmFake", {{"Authorization", "Bearer some"}, {"X-CCE-User", "Jos%C3%A9%0A"}},
                           request("Who", {}).toStdString(), "application/json");
    ASSERT_TRUE(res);
    const QJsonArray who = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object()["result"].toArray();
    EXPECT_EQ(who, (QJsonArray{"filial-campinas", QStringLiteral("José"), "127.0.0.1",
                               QString::fromStdString(res->get_header_value("X-Request-Id"))}));
    // Behind a trusted balancer the client is the address the balancer added last; what is
    // no address is not believed.
    for (const auto& [forwarded, address] :
         {std::pair<std::string, QString>{"198.51.100.4, 10.0.0.7", "10.0.0.7"}, {"10.0.0.7, <script>", "127.0.0.1"}}) {
        res = client.Post("/rpc/Test.rdmFake", {{"Authorization", "Bearer some"}, {"X-Forwarded-For", forwarded}},
                          request("Who", {}).toStdString(), "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(res->body))["result"][2].toString(), address);
    }
    EXPECT_FALSE(res->get_header_value("X-Request-Id").empty());
    EXPECT_EQ(call("Who", {}, "Bearer every").result().toArray().at(0).toString(), "token#1");
    EXPECT_EQ(call("Who", {}, "Bearer every").result().toArray().at(1).toString(), "");
}

TEST_F(RpcHttpTest, BodyOverTheLimitIsRefusedWith413)
{
    HttpServerOptions options;
    options.bodyLimit = 4096;
    start(options);

    QJsonArray params = echoParams();
    params[0] = QString(3000, QLatin1Char('x'));
    const QByteArray fits = request("Echo", params);
    ASSERT_LT(fits.size(), 4096);
    EXPECT_EQ(post(fits).status, 200);

    params[0] = QString(5000, QLatin1Char('x'));
    const Reply r = post(request("Echo", params));
    EXPECT_EQ(r.status, 413);
    EXPECT_EQ(r.code(), fault::InvalidRequest) << "the refusal is still a JSON-RPC envelope";
    EXPECT_EQ(calls, 1);
}

TEST_F(RpcHttpTest, UnreadableRequestsAreParseErrors)
{
    start();
    struct Case {
        const char* what;
        QByteArray body;
    };
    const QByteArray valid = request("Echo", echoParams());
    QByteArray badByte = valid;
    badByte.replace("a\xc3\xa7\xc3\xa3o", "a\xff\xfeo");
    QByteArray overlong = valid;
    overlong.replace("a\xc3\xa7\xc3\xa3o", "a\xc0\xafo");
    QByteArray surrogate = valid;
    surrogate.replace("a\xc3\xa7\xc3\xa3o", "a\xed\xa0\x80o");
    ASSERT_NE(badByte, valid);
    for (const Case& c : {Case{"truncated", valid.left(valid.size() - 3)}, Case{"not json", "hello"}, Case{"empty", ""},
                          Case{"invalid byte", badByte}, Case{"overlong", overlong}, Case{"surrogate", surrogate},
                          Case{"trailing garbage", valid + "}"}}) {
        const Reply r = post(c.body);
        EXPECT_EQ(r.status, 200) << c.what;
        EXPECT_EQ(r.code(), fault::ParseError) << c.what << ": " << r.raw.toStdString();
        EXPECT_TRUE(r.body.value("id").isNull()) << c.what;
    }
    EXPECT_EQ(calls, 0);

    // Raw control characters inside a string are not JSON; between tokens they are blanks.
    for (const char* control : {"\x01", "\t", "\n", "\x1f"}) {
        QByteArray raw = valid;
        raw.replace("a\xc3\xa7\xc3\xa3o", QByteArray("a") + control + "o");
        EXPECT_EQ(post(raw).code(), fault::ParseError) << int(control[0]);
    }
    QByteArray spaced = valid;
    spaced.replace(",", ",\n\t");
    EXPECT_EQ(post(spaced).status, 200);
    EXPECT_FALSE(post(spaced).body.contains("error")) << "blanks between tokens are fine";
    EXPECT_EQ(calls, 2);

    // Well-formed JSON that is no request.
    for (const char* scalar : {"42", "\"Echo\"", " null ", "true", "-1.5e3"})
        EXPECT_EQ(post(scalar).code(), fault::InvalidRequest) << scalar;
    EXPECT_EQ(post("1,2").code(), fault::ParseError);
    EXPECT_EQ(post("[1,2]").code(), fault::InvalidRequest);
    EXPECT_EQ(post(R"({"jsonrpc":"1.0","id":1,"method":"AppError","params":[]})").code(), fault::InvalidRequest);
    EXPECT_EQ(post(R"({"jsonrpc":"2.0","id":1,"params":[]})").code(), fault::InvalidRequest);
    EXPECT_EQ(post(R"({"jsonrpc":"2.0","id":{"x":1},"method":"AppError"})").code(), fault::InvalidRequest);
}

TEST_F(RpcHttpTest, UnknownServerOrMethodIsMethodNotFound)
{
    start();
    Reply r = post(request("Echo", echoParams(), 9), "Nothing.here");
    EXPECT_EQ(r.code(), fault::MethodNotFound);
    EXPECT_EQ(r.body.value("id").toInt(), 9);
    EXPECT_TRUE(r.message().contains("Nothing.here")) << r.message().toStdString();

    r = call("NoSuchMethod", {});
    EXPECT_EQ(r.code(), fault::MethodNotFound);
    EXPECT_TRUE(r.message().contains("NoSuchMethod"));

    // What the client sent is quoted, but never more than 200 characters of it.
    const QString longName = QString(150, QLatin1Char('m')) + QString(5000, QLatin1Char('z'));
    r = call(longName, {});
    EXPECT_EQ(r.code(), fault::MethodNotFound);
    EXPECT_TRUE(r.message().contains(longName.left(200))) << r.message().size();
    EXPECT_FALSE(r.message().contains(longName.left(201)));
    r = post(request("Echo", {}), QString(300, QLatin1Char('s')));
    EXPECT_EQ(r.code(), fault::MethodNotFound);
    EXPECT_FALSE(r.message().contains(QString(201, QLatin1Char('s'))));

    // A method of another server is not reachable through this one.
    EXPECT_EQ(call("OnlyHere", {}).code(), fault::MethodNotFound);
    EXPECT_EQ(post(request("OnlyHere", {}), "Other.rdmFake").result().toBool(), true);
    EXPECT_EQ(post(request("Echo", echoParams()), "Other.rdmFake").code(), fault::MethodNotFound);
}

TEST_F(RpcHttpTest, WrongArgumentsNameTheArgument)
{
    start();
    struct Case {
        const char* what;
        int index; // argument to replace; -1: use params as is
        QJsonValue value; // replacement
        QString named; // the message must name this argument
    };
    const QJsonArray good = echoParams();
    const QJsonValue deltaValue = good[4];
    const QJsonValue packetValue = good[3];
    const QJsonValue badPacket = QJsonObject{{"$packet", QJsonObject{{"fields", 3}}}};
    for (const Case& c :
         {Case{"number for string", 0, 12, "1 (a)"}, Case{"null for string", 0, QJsonValue::Null, "1 (a)"},
          Case{"string for boolean", 1, "true", "2 (b)"},
          Case{"plain text for date-time", 2, "2026-12-07T14:05:00", "3 (c)"},
          Case{"bad date-time", 2, QJsonObject{{"$datetime", "2026-13-45T99:00:00"}}, "3 (c)"},
          Case{"delta for packet", 3, deltaValue, "4 (d)"}, Case{"malformed packet", 3, badPacket, "4 (d)"},
          Case{"packet for delta", 4, packetValue, "5 (e)"},
          Case{"unknown object", 5, QJsonObject{{"x", 1}}, "6 (f)"}}) {
        QJsonArray params = good;
        params[c.index] = c.value;
        const Reply r = call("Echo", params);
        EXPECT_EQ(r.code(), fault::InvalidParams) << c.what << ": " << r.raw.toStdString();
        EXPECT_TRUE(r.message().contains(c.named)) << c.what << ": " << r.message().toStdString();
    }

    QJsonArray fewer = good;
    fewer.removeLast();
    Reply r = call("Echo", fewer);
    EXPECT_EQ(r.code(), fault::InvalidParams);
    EXPECT_TRUE(r.message().contains("6 (f)")) << r.message().toStdString();

    QJsonArray more = good;
    more.append(1);
    r = call("Echo", more);
    EXPECT_EQ(r.code(), fault::InvalidParams);
    EXPECT_TRUE(r.message().contains("7")) << r.message().toStdString();

    EXPECT_EQ(post(R"({"jsonrpc":"2.0","id":1,"method":"Echo","params":{"a":"x"}})").code(), fault::InvalidParams);

    // The reasons read in Portuguese, whole.
    QJsonArray badDate = good;
    badDate[2] = QJsonObject{{"$datetime", "2026-13-45T99:00:00"}};
    r = call("Echo", badDate);
    EXPECT_TRUE(r.message().contains(QStringLiteral("data-hora malformada"))) << r.message().toStdString();
    QJsonArray badRow = good;
    QJsonObject packet = badRow[3].toObject();
    QJsonObject inner = packet["$packet"].toObject();
    inner["rows"] = QJsonArray{QJsonArray{3, 3}};
    packet["$packet"] = inner;
    badRow[3] = packet;
    r = call("Echo", badRow);
    EXPECT_TRUE(r.message().contains(QStringLiteral("o valor do campo CDFILIAL não é texto")))
        << r.message().toStdString();
    EXPECT_EQ(calls, 0) << "a method ran with wrong arguments";
}

TEST_F(RpcHttpTest, RequestsRunInParallel)
{
    HttpServerOptions options;
    options.workers = 2;
    start(options);
    Reply first, second;
    std::thread a([&] { first = call("Meet", {}); });
    std::thread b([&] { second = call("Meet", {}); });
    a.join();
    b.join();
    EXPECT_EQ(first.result().toString(), "together");
    EXPECT_EQ(second.result().toString(), "together");
}

TEST_F(RpcHttpTest, QuickCallsNeverWaitBehindLongOnes)
{
    HttpServerOptions options;
    options.workers = 2;
    start(options);
    // Every worker that runs anything is held, and more long calls wait behind them.
    std::vector<std::thread> longCalls;
    std::vector<Reply> longReplies(4);
    for (size_t i = 0; i < longReplies.size(); ++i)
        longCalls.emplace_back([&, i] { longReplies[i] = call("Hold", {}); });
    ASSERT_TRUE(gate.waitEntered(2));

    // A save still answers while they are held; a long call of any other kind would not.
    std::mutex m;
    std::condition_variable cv;
    bool saved = false;
    Reply save;
    std::thread saver([&] {
        Reply r = call("Save", {});
        std::lock_guard<std::mutex> lock(m);
        save = r;
        saved = true;
        cv.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, 10s, [&] { return saved; })) << "the save waited behind the held calls";
    }
    {
        std::lock_guard<std::mutex> lock(gate.m);
        EXPECT_EQ(gate.entered, 2) << "a quick worker ran a long call";
    }
    gate.release();
    saver.join();
    for (std::thread& t : longCalls)
        t.join();
    EXPECT_EQ(save.result().toString(), "saved");
    for (const Reply& r : longReplies)
        EXPECT_EQ(r.result().toString(), "finished");
}

TEST_F(RpcHttpTest, WholeCompanyListsLeaveAWorkerForNarrowerCalls)
{
    HttpServerOptions options;
    options.workers = 3; // of which two may run whole-company lists
    options.quickWorkers = 0;
    start(options);
    std::vector<std::thread> lists;
    std::vector<Reply> listed(5);
    for (size_t i = 0; i < 4; ++i)
        lists.emplace_back([&, i] { listed[i] = call("List", {"all"}); });
    ASSERT_TRUE(gate.waitEntered(2));

    // A narrow list and any other call still find the third worker.
    lists.emplace_back([&] { listed[4] = call("List", {"01"}); });
    ASSERT_TRUE(gate.waitEntered(3));
    EXPECT_EQ(narrowLists, 1) << "the narrow list waited behind whole-company ones";
    const auto asked = std::chrono::steady_clock::now();
    std::thread other([&] { EXPECT_EQ(call("AppError", {}).result().toString(), "NF_NACEITA"); });
    std::this_thread::sleep_for(300ms); // time for a third whole-company list to start, were it let
    EXPECT_EQ(wholeLists, 2) << "more whole-company lists ran than the bound";
    gate.release();
    other.join();
    for (std::thread& t : lists)
        t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 15s);
    for (const Reply& r : listed)
        EXPECT_EQ(r.result().toString(), "listed");
}

TEST_F(RpcHttpTest, AnIdleClientDoesNotHoldTheOnlyWorker)
{
    HttpServerOptions options;
    options.workers = 1;
    start(options);
    httplib::Client idle("127.0.0.1", server->port());
    idle.set_keep_alive(true);
    auto first = idle.Post("/rpc/Test.rdmFake", request("AppError", {}).toStdString(), "application/json");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->get_header_value("Connection"), "close");
    // The idle client's connection is gone, so the single worker answers someone else at once.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(call("AppError", {}).result().toString(), "NF_NACEITA");
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
}

TEST_F(RpcHttpTest, StopFinishesTheRequestInFlight)
{
    start();
    const int port = server->port();
    Reply held;
    std::thread client([&] { held = call("Hold", {}); });
    ASSERT_TRUE(gate.waitEntered(1));

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        server->stop();
        stopped = true;
    });

    // Once new connections are refused the server is stopping; it must still wait.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool refused = false;
    while (!refused && std::chrono::steady_clock::now() < deadline) {
        httplib::Client probe("127.0.0.1", port);
        probe.set_connection_timeout(1, 0);
        // Refused: no connection, or the 503 a stopping server answers.
        const auto r = probe.Post("/rpc/Test.rdmFake", request("AppError", {}).toStdString(), "application/json");
        refused = !r || r->status == 503;
        if (!refused)
            std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(refused) << "the server kept accepting after stop()";
    EXPECT_FALSE(stopped) << "stop() returned while a request was still running";

    gate.release();
    client.join();
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(held.status, 200);
    EXPECT_EQ(held.result().toString(), "finished");
    server->stop(); // a second stop is harmless
}

TEST_F(RpcHttpTest, LogHasOneLinePerRequestWithoutValuesOrTokens)
{
    HttpServerOptions options;
    options.tokens = {"very-secret-token"};
    start(options);
    const std::string auth = "Bearer very-secret-token";
    QJsonArray params = echoParams();
    params[0] = "customer-password-123";
    ASSERT_EQ(call("Echo", params, auth).status, 200);
    params[1] = "not a boolean";
    ASSERT_EQ(call("Echo", params, auth).code(), fault::InvalidParams);
    ASSERT_EQ(call("Echo", params, "Bearer guess").status, 401);

    const QList<QByteArray> lines = waitForLogLines(3);
    ASSERT_EQ(lines.size(), 3);
    // Each line is written once its answer has gone out, so their order may vary.
    auto count = [&](const char* text) {
        return std::count_if(lines.begin(), lines.end(), [&](const QByteArray& l) { return l.contains(text); });
    };
    EXPECT_EQ(count(" Test.rdmFake/Echo "), 2);
    EXPECT_EQ(count(" INFO req="), 1);
    EXPECT_EQ(count(" ms ok from=127.0.0.1 token=token#1\n"), 1);
    EXPECT_EQ(count(" WARN req="), 2);
    EXPECT_EQ(count(" ms error -32602 from=127.0.0.1 token=token#1\n"), 1);
    EXPECT_EQ(count(" ms error -32001 from=127.0.0.1\n"), 1);
    QSet<QByteArray> ids;
    for (const QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\n'));
        EXPECT_EQ(line.count('\n'), 1);
        EXPECT_TRUE(QDateTime::fromString(QString::fromUtf8(line.left(line.indexOf(' '))), Qt::ISODateWithMs).isValid())
            << line.toStdString();
        ids.insert(line.mid(line.indexOf("req=")).split(' ').value(0));
        for (const char* secret : {"customer-password", "very-secret", "guess", "not a boolean", "0001"})
            EXPECT_FALSE(line.contains(secret)) << line.toStdString();
    }
    EXPECT_EQ(ids.size(), 3) << "each request has an id of its own";
}

TEST_F(RpcHttpTest, ListenFailsOnAPortInUse)
{
    start();
    HttpRpcServer second(registry, {});
    QString error;
    // A port already served must not be silently shared by a second server.
    EXPECT_FALSE(second.listen("127.0.0.1", server->port(), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(second.listen("not an address", 1234, &error));
}

} // namespace
