#pragma once
// What the transmission tests start from: the demo company database, the authorities'
// services of both environments at an address of the test (the fake authority answers them),
// and the packet of invoices the screen sends.
#include <QString>
#include <gtest/gtest.h>

#include "core/values/Packet.h"
#include "server/fiscal/FiscalConfig.h"
#include "server/store/Store.h"

namespace cce_test {

// The demo database at path, made once for a suite and copied for each test.
inline std::unique_ptr<srv::Store> makeDemoDatabase(const QString& path)
{
    QString error;
    auto store = srv::Store::open(QStringLiteral("sqlite:") + path, &error);
    EXPECT_TRUE(store && store->migrate(&error) && store->fillDemo(0, &error)) << error.toStdString();
    return store;
}

inline void everyAuthorityAtTheTest(srv::fiscal::FiscalConfig* config)
{
    for (const char* env : {"1", "2"})
        for (const char* svc : {"recepcao", "consulta"})
            config->endpoints.insert(QStringLiteral("*.%1.%2").arg(QLatin1String(env), QLatin1String(svc)),
                                     QStringLiteral("https://127.0.0.1:1/ws"));
}

// The invoices (anything with filial and lancto) marked "S", and others unmarked.
template <typename Key>
fw::DataPacket invoicesPacket(const QList<Key>& marked, const QList<Key>& unmarked = {})
{
    fw::DataPacket p;
    p.fields = {{QStringLiteral("IDCHECK"), fw::FieldType::String, 1, false, false},
                {QStringLiteral("CDFILIAL"), fw::FieldType::String, 4, false, false},
                {QStringLiteral("NRLANCTONF"), fw::FieldType::String, 10, false, false}};
    for (const Key& k : marked)
        p.rows << fw::Row{QStringLiteral("S"), k.filial, k.lancto};
    for (const Key& k : unmarked)
        p.rows << fw::Row{QStringLiteral("N"), k.filial, k.lancto};
    return p;
}

} // namespace cce_test
