#pragma once
// GetNotaFiscal's sixteen arguments: their positions (0-based; the protocol names them A1
// to A16) and the values with a meaning of their own.
#include <QLatin1String>

namespace cce::getNotaFiscal {

enum Arg {
    IssuingBranch, // A1: CDFILIEMIT
    OriginBranch, // A2: CDFILIAL
    OperationTypes, // A3: "S01;E05", direction letter and operation code
    Company, // A4: CDEMPRESA, always given
    StateRegistration, // A5: CDINSCESTA
    MunicipalRegistration, // A6: CDINSCMUNI
    Series, // A7: CDSERIE
    RecipientBranch, // A8: CDFILIRECE
    CounterpartKind, // A9: IDORIGDESTNF, kCustomer, kSupplier or kBranch
    CounterpartRegistration, // A10: NRINSJURNF
    DateSwitch, // A11: kAll, or kDatesGiven (or empty) for the period of A15 and A16
    Direction, // A12: IDENTRSAIDOP, kOutgoing or kIncoming
    EmissionTypes, // A13: "_1_".."_7_" tokens of IDTIPOEMISNFE; empty for every type
    BoundToBranch, // A14: boolean; the user works bound to one branch
    DepartureFrom, // A15: date-time or null, the first day of the period
    DepartureTo, // A16: date-time or null, its last day
    kArgCount
};
// A1 to A13 are texts, A14 a boolean, A15 and A16 date-times.
inline constexpr int kTextArgs = BoundToBranch;

inline constexpr QLatin1String kAll("T"); // no restriction
inline constexpr QLatin1String kDatesGiven("N");
inline constexpr QLatin1String kOutgoing("S");
inline constexpr QLatin1String kIncoming("E");
inline constexpr QLatin1String kCustomer("C");
inline constexpr QLatin1String kSupplier("F");
inline constexpr QLatin1String kBranch("L");

} // namespace cce::getNotaFiscal
