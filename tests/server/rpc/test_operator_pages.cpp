// The operators' pages (GET) under the same token rules as the calls, and the record of
// every answered request the metrics are made of.
#include <httplib.h>

#include <QStringList>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/MethodRegistry.h"

using namespace srv;
using namespace std::chrono_literals;

namespace {

TEST(OperatorPages, AnswerGetsUnderTheTokenRulesAndEveryRequestIsCounted)
{
    MethodRegistry registry;
    registry.add("Test.rdmFake", "Save", {}, [](const QVariantList&) { return QVariant(QStringLiteral("saved")); });
    registry.add("Test.rdmFake", "Refuse", {}, [](const QVariantList&) -> QVariant {
        throw RpcFault(fault::InvalidParams, QStringLiteral("recusado pelo método"));
    });
    HttpServerOptions options;
    options.logSink = [](const QByteArray&) {};
    options.tokens = {"ops"};
    options.operatorPage = [](const QByteArray& path) {
        if (path != "/health")
            return OperatorPage{};
        return OperatorPage{200, "application/json", R"({"status":"ok"})"};
    };
    std::mutex recordMutex;
    QList<RequestRecord> records;
    options.onRequestDone = [&](const RequestRecord& r) {
        std::lock_guard<std::mutex> lock(recordMutex);
        records.append(r);
    };
    HttpRpcServer server(registry, options);
    QString error;
    ASSERT_TRUE(server.listen("127.0.0.1", 0, &error)) << error.toStdString();
    httplib::Client client("127.0.0.1", server.port());
    auto call = [&](const char* method) {
        const std::string body = R"({"jsonrpc":"2.0","id":1,"method":")" + std::string(method) + R"(","params":[]})";
        return client.Post("/rpc/Test.rdmFake", {{"Authorization", "Bearer ops"}}, body, "application/json");
    };
    auto res = client.Get("/health");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    res = client.Get("/health", {{"Authorization", "Bearer ops"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, R"({"status":"ok"})");
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json");
    res = client.Get("/elsewhere", {{"Authorization", "Bearer ops"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);
    res = client.Post("/health", {{"Authorization", "Bearer ops"}}, "{}", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404) << "pages answer GET only";
    EXPECT_EQ(call("Refuse")->status, 200);
    EXPECT_EQ(call("Save")->status, 200);

    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        std::lock_guard<std::mutex> lock(recordMutex);
        if (records.size() >= 6 || std::chrono::steady_clock::now() > deadline)
            break;
        std::this_thread::yield();
    }
    server.stop();
    std::lock_guard<std::mutex> lock(recordMutex);
    QStringList seen;
    for (const RequestRecord& r : records) {
        seen << QStringLiteral("%1 %2 %3").arg(QString::fromUtf8(r.method)).arg(r.httpStatus).arg(r.faultCode);
        EXPECT_GE(r.seconds, 0);
    }
    seen.sort();
    // Only registered methods and served pages are named: a client's invented path is not.
    EXPECT_EQ(seen,
              (QStringList{"- 401 -32001", "- 404 0", "- 404 0", "/health 200 0", "Refuse 200 -32602", "Save 200 0"}));
}

} // namespace
