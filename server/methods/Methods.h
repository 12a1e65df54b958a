#pragma once
// The methods of the CC-e application server, on the server names the screen connects to.
#include "server/methods/Services.h"
#include "server/rpc/MethodRegistry.h"
#include "server/store/Store.h"
#include "vocabulary/Methods.h"

namespace srv {

inline const QString kServerTransmissao = cce::serverName::kTransmissaoCCe;
inline const QString kServerDocFiscSaida = cce::serverName::kDocFiscSaida;

void registerMethods(MethodRegistry& registry, const Services& services);
// The store alone: every subsystem behind it absent (tests of the store's methods).
void registerMethods(MethodRegistry& registry, Store& store);

} // namespace srv
