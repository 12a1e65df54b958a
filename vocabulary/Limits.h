#pragma once
// The bounds of letters and transmissions that the screen checks as the user works and the
// server enforces on its own.

namespace cce {

inline constexpr int kMinLetterText = 15; // characters of a correction (see LetterText.h)
inline constexpr int kMaxLetterText = 1000;
inline constexpr int kMaxLettersPerInvoice = 20; // sequences "01" to "20"
inline constexpr int kMaxInvoicesPerTransmission = 20; // marked rows of one TransmiteCCe

} // namespace cce
