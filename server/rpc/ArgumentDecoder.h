#pragma once
// Decodes one argument of a request straight from its JSON text, as the method declares
// it: the kind is checked before anything is built, a packet's rows are checked against
// its field list as they are read, and a packet keeps only the columns the method reads.
// So a request never costs much more than its own size, whatever it holds.
#include <QByteArray>
#include <QString>
#include <QVariant>

#include "server/rpc/MethodRegistry.h"

namespace srv {

// text has been validated (json::validate); offset is where the argument's value starts.
// label names the argument in messages ("argumento 1 (A1) de GetNotaFiscal"). Throws
// RpcFault(InvalidParams) naming it when the value is not of the declared kind.
QVariant decodeArgument(const QByteArray& text, qsizetype offset, const ArgSpec& declared, const QString& label);

} // namespace srv
