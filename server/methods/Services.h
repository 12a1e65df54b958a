#pragma once
// What the methods are given by the application: the store and the subsystems behind
// interfaces, so that each is tested alone and replaced in tests.
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"
#include "server/store/Store.h"

namespace srv {

// Sends the marked invoices' letters to the tax authority (server/fiscal).
class Transmitter {
public:
    virtual ~Transmitter() = default;
    virtual QVariant transmit(const fw::DataPacket& notas, const QString& company, const QString& condUso) = 0;
};

struct Services {
    Store* store = nullptr;
    Transmitter* transmitter = nullptr; // none: the server is not configured for the authority
};

} // namespace srv
