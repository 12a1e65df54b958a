#pragma once
// The one-letter words of a letter's state, as the screen shows them in the invoices'
// packet and the server keeps them in its tables.
#include <QLatin1String>

namespace cce {

// IDCHECK: whether the user marked the invoice's row.
namespace check {
inline constexpr QLatin1String kMarked("S");
inline constexpr QLatin1String kUnmarked("N");
} // namespace check

// IDSTATUSCCE: what the invoice's row shows of its latest letter.
namespace idStatus {
inline constexpr QLatin1String kNoLetter("0");
inline constexpr QLatin1String kPending("1"); // never transmitted, or its transmission is in doubt
inline constexpr QLatin1String kAccepted("2"); // registered by the authority
inline constexpr QLatin1String kRejected("3");
} // namespace idStatus

// NRSEQCCE of an invoice's row when the invoice has no letter.
inline constexpr QLatin1String kNoLetterSequence("00");

// IDTRANSMCCE: where a letter's transmission stands.
namespace transm {
inline constexpr QLatin1String kNotSent("N");
inline constexpr QLatin1String kInDoubt("D"); // sent without an answer: reconciled before any new send
inline constexpr QLatin1String kAnswered("R"); // the authority's answer (accepted or rejected) is stored
} // namespace transm

// IDEMAILCCE (the recipient) and IDEMAILCCETRANS (the carrier): a letter's e-mail.
namespace email {
inline constexpr QLatin1String kPending("P");
inline constexpr QLatin1String kSent("E");
inline constexpr QLatin1String kNone("N"); // nobody to send it to (an invoice without a carrier)
} // namespace email

// IDORIGEMCCE: who registered a letter's event.
namespace origin {
inline constexpr QLatin1String kOwn("P"); // this system
inline constexpr QLatin1String kElsewhere("E"); // another system; brought in from the authority's registry
} // namespace origin

} // namespace cce
