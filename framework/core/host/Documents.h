#pragma once
// Check digits of the Brazilian registration numbers: CNPJ (legal persons, 14 characters)
// and CPF (natural persons, 11 digits). Punctuation (".", "-", "/", blanks) is ignored.
// The CNPJ follows the published modulo-11 rule with each character's value taken as its
// code minus 48, so the alphanumeric CNPJ (letters in the first 12 positions, digits in the
// last two) is checked by the same functions as the numeric one.
#include <QString>

#include "core/CoreExport.h"

namespace fw {

// The registration without punctuation, upper case.
FW_CORE_EXPORT QString registrationDigits(const QString& registration);

// The two check digits of the first 12 characters of a CNPJ ("" when they are not 12
// letters or digits).
FW_CORE_EXPORT QString cnpjCheckDigits(const QString& base12);
// The two check digits of the first 9 digits of a CPF ("" when they are not 9 digits).
FW_CORE_EXPORT QString cpfCheckDigits(const QString& base9);

// A complete, well-formed number with matching check digits. Numbers made of one repeated
// digit ("00000000000000", "11111111111") are refused although their digits match.
FW_CORE_EXPORT bool validCnpj(const QString& cnpj);
FW_CORE_EXPORT bool validCpf(const QString& cpf);

} // namespace fw
