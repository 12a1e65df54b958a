#pragma once
// The application server's objects and methods, by the names the screen calls them.
#include <QLatin1String>

namespace cce {

namespace serverName {
inline constexpr QLatin1String kTransmissaoCCe("Dfs59000.rdmTransmissaoCCe");
inline constexpr QLatin1String kDocFiscSaida("DFS00000.rdmDocFiscSaida");
} // namespace serverName

namespace method {
// Of kTransmissaoCCe
inline constexpr QLatin1String kGetNotaFiscal("GetNotaFiscal");
inline constexpr QLatin1String kSetCCe("SetCCe");
inline constexpr QLatin1String kTransmiteCCe("TransmiteCCe");
inline constexpr QLatin1String kSendEmailCCe("SendEmailCCe");
inline constexpr QLatin1String kSendEmailCCeTodos("SendEmailCCeTodos");
inline constexpr QLatin1String kGetXmlEnvLote("getXmlEnvLote");
// Of kDocFiscSaida
inline constexpr QLatin1String kGetParamDFS("GetParamDFS");
} // namespace method

} // namespace cce
