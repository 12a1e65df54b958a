#pragma once
// The wire encoding of values and packets between client and application server.
#include <QByteArray>
#include <QJsonValue>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include "core/values/Packet.h"

#include "core/CoreExport.h"

namespace fw::json {

// JSON text already written, such as a large result made straight from a database's
// rows: a server sends it as it is; encode() parses it for whoever wants a value.
struct RawJson {
    QByteArray text;
};

// Null and Empty both encode as JSON null; a QVariantList as an array; DataPacket,
// DeltaPacket and QDateTime as their wrapped objects.
FW_CORE_EXPORT QJsonValue encode(const QVariant& value);

// Decoding gives Null for null, QString, bool, qlonglong (integral numbers) or double,
// QDateTime, QVariantList, DataPacket or DeltaPacket. On a malformed value returns an
// Empty variant and sets *error (when given) to a message naming what is wrong.
FW_CORE_EXPORT QVariant decode(const QJsonValue& value, QString* error);

FW_CORE_EXPORT QJsonValue encodePacket(const DataPacket& packet);
FW_CORE_EXPORT QJsonValue encodeDelta(const DeltaPacket& delta);
FW_CORE_EXPORT bool decodePacket(const QJsonValue& value, DataPacket* packet, QString* error);
FW_CORE_EXPORT bool decodeDelta(const QJsonValue& value, DeltaPacket* delta, QString* error);

// Row values inside packets follow the field's type; datetime is plain text.
FW_CORE_EXPORT QJsonValue encodeRowValue(const FieldDef& field, const QVariant& value);
// The kind of a field's values as messages name it: "texto", "número inteiro", ...
FW_CORE_EXPORT QString kindText(FieldType t);
FW_CORE_EXPORT bool decodeRowValue(const FieldDef& field, const QJsonValue& value, QVariant* out, QString* error);

} // namespace fw::json

Q_DECLARE_METATYPE(fw::json::RawJson)
