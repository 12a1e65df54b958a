#include "core/net/RpcTransport.h"

#include "core/net/HttpTransport.h"

namespace fw {

RpcTransport::~RpcTransport() = default;

namespace {
TransportFactory& factoryStorage()
{
    static TransportFactory factory;
    return factory;
}
} // namespace

TransportFactory setDefaultTransportFactory(TransportFactory factory)
{
    TransportFactory previous = std::move(factoryStorage());
    factoryStorage() = std::move(factory);
    return previous;
}

TransportFactory defaultTransportFactory() { return factoryStorage(); }

std::shared_ptr<RpcTransport> makeDefaultTransport(const TNetConnection& connection)
{
    if (const TransportFactory& f = factoryStorage()) {
        if (std::shared_ptr<RpcTransport> t = f(connection))
            return t;
    }
    return std::make_shared<HttpTransport>();
}

} // namespace fw
