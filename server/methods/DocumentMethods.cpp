// The XML of a failed transmission batch and the fiscal-document parameters of a branch.
#include "core/values/Value.h"
#include "server/methods/InvoiceKey.h"
#include "server/methods/Messages.h"
#include "server/methods/PacketFields.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"
#include "server/store/BatchStore.h"
#include "server/store/ColumnValues.h"
#include "server/store/ParameterStore.h"

namespace srv::methods {

QVariant getXmlEnvLote(Store& store, const QVariantList& params)
{
    const QString filial = params.value(0).toString();
    const QString lancto = params.value(1).toString();
    if (const QString refusal = invoiceKeyRefusal(filial, lancto); !refusal.isEmpty())
        return refusal;

    const QString outside = invoiceScopeRefusal(store, filial, lancto);
    if (!outside.isEmpty())
        return outside;
    const std::optional<BatchStore::FailedBatch> batch = BatchStore(store).latestFailedBatch(filial, lancto);
    if (!batch)
        return msg::semXmlLote();
    // A schema failure never reached the authority: the XML sent shows the fault. A
    // rejection is explained by the authority's answer.
    QString xml = batch->kind == QLatin1String("R") ? batch->answer : QString();
    if (xml.isEmpty())
        xml = batch->sent;
    fw::DataPacket p;
    p.fields = fields::valdXmlSchema();
    p.rows.append(fw::Row{filial, lancto, batch->kind, xml});
    return QVariant::fromValue(p);
}

QVariant getParamDFS(Store& store, const QVariantList& params)
{
    const QString filial = params.value(0).toString();
    if (filial.size() > cce::packet::paramDfs::kFields[cce::packet::paramDfs::CDFILIAL].size)
        return msg::filialInvalida();
    fw::DataPacket p;
    p.fields = fields::paramDfs();

    const QString outside = branchScopeRefusal(store, filial);
    if (!outside.isEmpty())
        return outside;
    if (const std::optional<QVariantList> stored = ParameterStore(store).parameters(filial)) {
        fw::Row r;
        for (int c = 0; c < stored->size(); ++c) {
            const QVariant& v = stored->at(c);
            if (c == 3)
                r << (v.isNull() ? fw::nullValue() : QVariant(v.toDouble()));
            else
                r << column::text(v);
        }
        p.rows.append(r);
    } else {
        // No parameters of its own: the branch's code and empty values, which the screen
        // reads as the strict mode.
        p.rows.append(fw::Row{QString(), QString(), filial, fw::nullValue(), QString(), QString(), QString()});
    }
    return QVariant::fromValue(p);
}

} // namespace srv::methods
