// TransmiteCCe: hands the marked invoices to the transmission subsystem.
#include "core/values/Packet.h"
#include "server/methods/ScopeRefusals.h"
#include "server/methods/TransmissaoMethods.h"

namespace srv::methods {

QVariant transmiteCCe(const Services& services, const QVariantList& params)
{
    // Only the company's own invoices are read from the packet's marks.
    const QString outside = companyScopeRefusal(params.value(1).toString());
    if (!outside.isEmpty())
        return outside;
    if (!services.transmitter)
        return QStringLiteral("A transmissão da carta de correção eletrônica não está configurada neste servidor de "
                              "aplicação: informe os certificados e os endereços da SEFAZ (seções [fiscal] e "
                              "[authority] de cce-server.ini).");
    return services.transmitter->transmit(params.value(0).value<fw::DataPacket>(), params.value(1).toString(),
                                          params.value(2).toString());
}

} // namespace srv::methods
