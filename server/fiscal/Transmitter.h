#pragma once
// What the methods ask of the transmission subsystem, so that it is replaced in tests.
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"

namespace srv {

// Sends the marked invoices' letters to the tax authority.
class Transmitter {
public:
    virtual ~Transmitter() = default;
    // TransmiteCCe's answer: ["S", lines], ["N", "CCE_DEVE_SELECAO"], ["N", lines] or an error text.
    virtual QVariant transmit(const fw::DataPacket& notas, const QString& company, const QString& condUso) = 0;
};

} // namespace srv
