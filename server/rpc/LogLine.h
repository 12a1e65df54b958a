#pragma once
// The server's log: one line per event, "<UTC time> <LEVEL> <text>", on standard error
// (the journal, under systemd). Request lines carry the request's id and the method; no
// line ever carries a token, a password, a certificate or a value a client sent.
#include <QByteArray>
#include <QString>

namespace srv::logline {

enum class Level { Info, Warning, Error };

// The finished line, newline included; text is made one line.
QByteArray format(Level level, const QByteArray& text);
// Writes one line to standard error at once.
void write(Level level, const QString& text);

} // namespace srv::logline
