#pragma once
// An invoice's key (CDFILIAL, NRLANCTONF) as a caller gives it, judged before anything is
// read: it must be given and fit the fields that hold it.
#include <QString>

#include "server/methods/Messages.h"
#include "vocabulary/PacketFields.h"

namespace srv::methods {

inline bool keyFits(const QString& filial, const QString& lancto)
{
    using namespace cce::packet::notaFiscal;
    return filial.size() <= kFields[CDFILIAL].size && lancto.size() <= kFields[NRLANCTONF].size;
}

// "" for a key that may name an invoice, else the method's answer.
inline QString invoiceKeyRefusal(const QString& filial, const QString& lancto)
{
    if (filial.trimmed().isEmpty() || lancto.trimmed().isEmpty())
        return msg::notaNaoInformada();
    return keyFits(filial, lancto) ? QString() : msg::notaNaoEncontrada();
}

} // namespace srv::methods
