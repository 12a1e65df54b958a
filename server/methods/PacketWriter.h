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

    void beginRow();
    void endRow();
    void null();
    void string(const QString& s);
    void latin1(const char* s); // a constant text of ASCII letters and digits
    void stringOrNull(const QVariant& v); // a column's value as text, null staying null
    void numberOrNull(const QVariant& v);
    void dateTimeOrNull(const QVariant& v); // a column's timestamp, "yyyy-MM-ddTHH:mm:ss"
    void brazilianDate(const QVariant& v); // a column's date as "dd/MM/yyyy", "" for null
    void finish(); // closes the rows and the packet

private:
    void separate();

    QByteArray& m_out;
    bool m_firstRow = true;
    bool m_firstValue = true;
};

// s as a JSON string, quotes included.
void appendJsonString(QByteArray& out, const QString& s);

} // namespace srv::methods
