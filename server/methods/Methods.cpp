#include "server/methods/Methods.h"

#include "server/methods/ListCriteria.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/DatabaseFault.h"
#include "vocabulary/GetNotaFiscalArgs.h"

namespace srv {

namespace {
ArgSpec str(const char* name) { return ArgSpec{QString::fromLatin1(name), ArgKind::String, false}; }
// A data packet of which the method reads only these columns.
ArgSpec packet(const char* name, QStringList columns)
{
    return ArgSpec{QString::fromLatin1(name), ArgKind::DataPacket, false, std::move(columns)};
}
// A database failure reaches the caller as the protocol's internal error, in plain words.
MethodFn answeringFaults(MethodFn fn)
{
    return [fn = std::move(fn)](const QVariantList& p) {
        try {
            return fn(p);
        } catch (const DatabaseFault& f) {
            throw RpcFault(fault::InternalError, f.message());
        }
    };
}
} // namespace

void registerMethods(MethodRegistry& registry, Store& store) { registerMethods(registry, Services{&store, nullptr}); }

void registerMethods(MethodRegistry& registry, const Services& services)
{
    namespace method = cce::method;
    using namespace cce::getNotaFiscal;
    Store* s = services.store;
    const QString& tr = kServerTransmissao;
    auto add = [&registry](const QString& server, QLatin1String name, QList<ArgSpec> args, MethodFn fn) {
        registry.add(server, name, std::move(args), answeringFaults(std::move(fn)));
    };

    QList<ArgSpec> criteria;
    for (int i = 0; i < kArgCount; ++i) {
        const ArgKind kind = i < kTextArgs        ? ArgKind::String
                             : i == BoundToBranch ? ArgKind::Boolean
                                                  : ArgKind::DateTime;
        criteria << ArgSpec{QStringLiteral("A%1").arg(i + 1), kind, kind == ArgKind::DateTime};
    }
    add(tr, method::kGetNotaFiscal, criteria, [s, replica = services.replica](const QVariantList& p) {
        return replica ? methods::getNotaFiscal(*replica, p) : methods::getNotaFiscal(*s, p);
    });

    add(tr, method::kSetCCe,
        {ArgSpec{QStringLiteral("delta"), ArgKind::DeltaPacket, false, {}, methods::kMaxLetterChanges}, str("CDFILIAL"),
         str("NRLANCTONF")},
        [s](const QVariantList& p) { return methods::setCCe(*s, p); });

    add(tr, method::kGetXmlEnvLote, {str("CDFILIAL"), str("NRLANCTONF")},
        [s](const QVariantList& p) { return methods::getXmlEnvLote(*s, p); });

    // Only the marks and keys are read from the invoices.
    add(tr, method::kTransmiteCCe,
        {packet("notas", {QStringLiteral("IDCHECK"), QStringLiteral("CDFILIAL"), QStringLiteral("NRLANCTONF")}),
         str("CDEMPRESA"), str("condUso")},
        [services](const QVariantList& p) { return methods::transmiteCCe(services, p); });

    add(tr, method::kSendEmailCCe,
        {str("CDFILIAL"), str("NRLANCTONF"), str("NRSEQCCE"),
         ArgSpec{QStringLiteral("transportadora"), ArgKind::Boolean, false}},
        [services](const QVariantList& p) { return methods::sendEmailCCe(services, p); });
    add(tr, method::kSendEmailCCeTodos, {ArgSpec{QStringLiteral("notas"), ArgKind::DataPacket, false}},
        [services](const QVariantList& p) { return methods::sendEmailCCeTodos(services, p); });

    add(kServerDocFiscSaida, method::kGetParamDFS, {str("CDFILIAL")},
        [s](const QVariantList& p) { return methods::getParamDFS(*s, p); });

    // A list of a whole company.
    registry.setHeavy(tr, method::kGetNotaFiscal, methods::readsWholeCompany);

    // A few statements on a few rows: they never wait behind lists or transmissions.
    registry.setLane(tr, method::kSetCCe, MethodLane::Quick);
    registry.setLane(tr, method::kGetXmlEnvLote, MethodLane::Quick);
    registry.setLane(kServerDocFiscSaida, method::kGetParamDFS, MethodLane::Quick);
}

} // namespace srv
