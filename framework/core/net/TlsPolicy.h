#pragma once
// How a connection to the application server is secured: TLS unless the server is on this
// machine, the server's certificate verified against an authority (a PEM file, else the
// system's trust store) and its host name, optionally pinned to one certificate, and the
// client's own certificate for servers that ask one. Never a silent fall-back to clear.
#include <QString>

#include "core/CoreExport.h"

namespace fw {

struct FW_CORE_EXPORT TlsPolicy {
    enum class Mode { Auto, On, Off }; // Auto: on unless the server is a loopback address
    Mode mode = Mode::Auto;
    QString caFile; // PEM; empty: the system's trust store
    QString pinSha256; // the server certificate's SHA-256 fingerprint (hex, ":" allowed); empty: none
    QString certificateFile, keyFile; // PEM: the client's, for a server that asks for one

    bool enabledFor(const QString& host) const;
    // The pin as 64 lowercase hex digits, or "" when it is not one.
    static QString normalisedPin(const QString& text);
};

// A loopback address or "localhost": a connection that never leaves this machine.
FW_CORE_EXPORT bool isLocalHost(const QString& host);

} // namespace fw
