#pragma once
// Writes a data packet's JSON text (the wire form of core/values/JsonCodec) straight from
// a statement's columns, row by row: no value, row or document is built on the way, so a
// list of a whole company costs about the bytes it sends.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"

namespace srv::methods {

class PacketWriter {
public:
    // Appends to *out, which must outlive the writer; the fields are written at once.
    PacketWriter(QByteArray* out, const fw::FieldDefs& fields);
    // A writer of bare values, parts of rows that the caller puts together with json().
    explicit PacketWriter(QByteArray* out) : m_out(*out) {}

    void beginRow();
    void endRow();
    void beginValues(); // the next value is the first of a part: no comma before it
    void json(const char* s, qsizetype n); // values already written as JSON
    void null();
    void string(const QString& s);
    void latin1(const char* s); // a constant text of ASCII letters and digits
    void stringOrNull(const QVariant& v); // a column's value as text, null staying null
    void numberOrNull(const QVariant& v);
    void dateTimeOrNull(const QVariant& v); // a column's timestamp, "yyyy-MM-ddTHH:mm:ss"
    void brazilianDate(const QVariant& v); // a column's date as "dd/MM/yyyy", "" for null
    void number(double d); // shortest text that reads back as d; null when not finite

    // The same from a column's UTF-8 bytes, for readers that have them without a QString.
    // Each writes nothing and answers false when the bytes are not of the form it takes
    // at face value (text that is not valid UTF-8, a date-time to be parsed): the caller
    // then writes the value through the QVariant forms above.
    bool utf8(const char* s, qsizetype n);
    bool storedDateTime(const char* s, qsizetype n);
    bool storedBrazilianDate(const char* s, qsizetype n);
    void finish(); // closes the rows and the packet

private:
    void separate();

    QByteArray& m_out;
    bool m_firstRow = true;
    bool m_firstValue = true;
};

// s as a JSON string, quotes included.
void appendJsonString(QByteArray& out, const QString& s);
// The same of UTF-8 bytes, false (out as it was) when they are not valid UTF-8 or hold
// U+FFFE or U+FFFF, which SQLite's own conversion to UTF-16 turns into U+FFFD.
bool appendJsonUtf8(QByteArray& out, const char* s, qsizetype n);

} // namespace srv::methods
