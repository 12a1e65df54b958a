#include "server/methods/Methods.h"

#include "core/values/Value.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/DatabaseFault.h"

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
    Store* s = services.store;
    const QString& tr = kServerTransmissao;
    auto add = [&registry](const QString& server, const QString& name, QList<ArgSpec> args, MethodFn fn) {
        registry.add(server, name, std::move(args), answeringFaults(std::move(fn)));
    };

    QList<ArgSpec> criteria;
    for (int i = 1; i <= 13; ++i)
        criteria << ArgSpec{QStringLiteral("A%1").arg(i), ArgKind::String, false};
    criteria << ArgSpec{QStringLiteral("A14"), ArgKind::Boolean, false}
             << ArgSpec{QStringLiteral("A15"), ArgKind::DateTime, true}
             << ArgSpec{QStringLiteral("A16"), ArgKind::DateTime, true};
    add(tr, QStringLiteral("GetNotaFiscal"), criteria,
        [s](const QVariantList& p) { return methods::getNotaFiscal(*s, p); });

    add(tr, QStringLiteral("SetCCe"),
        {ArgSpec{QStringLiteral("delta"), ArgKind::DeltaPacket, false, {}, methods::kMaxLetterChanges}, str("CDFILIAL"),
         str("NRLANCTONF")},
        [s](const QVariantList& p) { return methods::setCCe(*s, p); });

    add(tr, QStringLiteral("getXmlEnvLote"), {str("CDFILIAL"), str("NRLANCTONF")},
        [s](const QVariantList& p) { return methods::getXmlEnvLote(*s, p); });

    // Only the marks and keys are read from the invoices.
    add(tr, QStringLiteral("TransmiteCCe"),
        {packet("notas", {QStringLiteral("IDCHECK"), QStringLiteral("CDFILIAL"), QStringLiteral("NRLANCTONF")}),
         str("CDEMPRESA"), str("condUso")},
        [services](const QVariantList& p) { return methods::transmiteCCe(services, p); });

    add(tr, QStringLiteral("SendEmailCCe"),
        {str("CDFILIAL"), str("NRLANCTONF"), str("NRSEQCCE"),
         ArgSpec{QStringLiteral("transportadora"), ArgKind::Boolean, false}},
        [services](const QVariantList& p) { return methods::sendEmailCCe(services, p); });
    add(tr, QStringLiteral("SendEmailCCeTodos"), {ArgSpec{QStringLiteral("notas"), ArgKind::DataPacket, false}},
        [services](const QVariantList& p) { return methods::sendEmailCCeTodos(services, p); });

    add(kServerDocFiscSaida, QStringLiteral("GetParamDFS"), {str("CDFILIAL")},
        [s](const QVariantList& p) { return methods::getParamDFS(*s, p); });

    // A list that narrows nothing but the company (and the direction or emission types,
    // which leave most of it) reads the whole company.
    registry.setHeavy(tr, QStringLiteral("GetNotaFiscal"), [](const QVariantList& p) {
        const QString all = QStringLiteral("T");
        for (int i : {0, 1, 2, 4, 5, 6, 7, 8, 9}) {
            const QString v = p.value(i).toString();
            if (v != all && !(i == 2 && v.trimmed().isEmpty()))
                return false;
        }
        const bool dated =
            p.value(10).toString() != all && (!fw::isNullOrEmpty(p.value(14)) || !fw::isNullOrEmpty(p.value(15)));
        return !dated;
    });

    // A few statements on a few rows: they never wait behind lists or transmissions.
    registry.setLane(tr, QStringLiteral("SetCCe"), MethodLane::Quick);
    registry.setLane(tr, QStringLiteral("getXmlEnvLote"), MethodLane::Quick);
    registry.setLane(kServerDocFiscSaida, QStringLiteral("GetParamDFS"), MethodLane::Quick);
}

} // namespace srv
