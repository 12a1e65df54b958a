#pragma once
// The pieces of JSON text as the readers of a text that arrives in pieces see them
// (JsonStreamDecoder.cpp, JsonPlainRow.cpp): each check stops where the text stops, to go
// on when more comes, and says what is wrong as validate() says it of a whole text. Not
// part of the framework's interface.
#include <QByteArray>
#include <QString>

#include "core/values/JsonReader.h"

namespace fw::json::scan {

inline bool isBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline bool isHex(unsigned char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline bool inNumber(unsigned char c) { return isDigit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

// The length of the number at p (n bytes) as JSON writes numbers; -1 when it is none.
qsizetype numberLength(const unsigned char* p, qsizetype n);

// A string's characters from `from` (past its opening quote) as far as the text goes.
struct String {
    enum class Stop { End, More, Bad };
    Stop stop = Stop::More;
    qsizetype at = 0; // End: the closing quote; More: where to go on from; Bad: the fault
    bool escaped = false; // an escape among the characters read
    SyntaxError::Kind kind = SyntaxError::Kind::Syntax; // Bad: what is wrong
    QString why;
};
// final: the text ends at n; a string still open there is Bad.
String string(const unsigned char* p, qsizetype from, qsizetype n, bool final);

} // namespace fw::json::scan
