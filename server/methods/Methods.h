#pragma once
// The methods of the CC-e application server, on the server names the screen connects to:
// "Dfs59000.rdmTransmissaoCCe" and "DFS00000.rdmDocFiscSaida".
#include "server/methods/Services.h"
#include "server/rpc/MethodRegistry.h"
#include "server/store/Store.h"

namespace srv {

inline const QString kServerTransmissao = QStringLiteral("Dfs59000.rdmTransmissaoCCe");
inline const QString kServerDocFiscSaida = QStringLiteral("DFS00000.rdmDocFiscSaida");

void registerMethods(MethodRegistry& registry, const Services& services);
// The store alone: every subsystem behind it absent (tests of the store's methods).
void registerMethods(MethodRegistry& registry, Store& store);

} // namespace srv
