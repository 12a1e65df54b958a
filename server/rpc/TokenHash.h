#pragma once
// Access tokens kept as salted slow hashes (scrypt), so a configuration file that leaks
// gives no token away. The text form carries its own parameters:
//   scrypt$<log2 N>$<r>$<p>$<salt, base64>$<hash, base64>
// (no commas: the tokens of a configuration are a comma-separated list).
#include <QByteArray>
#include <QString>

namespace srv::tokenhash {

// log2 of scrypt's N for new hashes: 2^16 with r 8 takes 64 MiB and about 0.2 s,
// paid once per token and process (AccessTokens remembers a token it has checked).
inline constexpr int kDefaultLogN = 16;

// Whether text is written as a hash (well formed or not: a malformed one is an error, never
// a token in clear).
bool looksHashed(const QString& text);

// Checks the form and the parameters' bounds; false with *error (in Portuguese) otherwise.
bool isValid(const QString& hashed, QString* error = nullptr);

// A new hash of token with a random salt; empty when the system cannot give randomness.
QString make(const QByteArray& token, int logN = kDefaultLogN);

// Whether token is the one hashed; slow by design. False for a malformed hash.
bool matches(const QString& hashed, const QByteArray& token);

} // namespace srv::tokenhash
