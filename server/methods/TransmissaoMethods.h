#pragma once
// The method bodies; params are already checked against the registered kinds.
#include <QVariant>

#include "server/methods/Services.h"
#include "server/store/Store.h"

namespace srv::methods {

// SetCCe stores at most this many changes of one call.
constexpr int kMaxLetterChanges = 60;

QVariant getNotaFiscal(Store& store, const QVariantList& params);
QVariant setCCe(Store& store, const QVariantList& params);
QVariant getXmlEnvLote(Store& store, const QVariantList& params);
QVariant getParamDFS(Store& store, const QVariantList& params);
QVariant transmiteCCe(const Services& services, const QVariantList& params);
QVariant sendEmailCCe(const Services& services, const QVariantList& params);
QVariant sendEmailCCeTodos(const Services& services, const QVariantList& params);

} // namespace srv::methods
