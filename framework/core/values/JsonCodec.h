#pragma once
// The wire encoding of values and packets between client and application server.
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include "values/Packet.h"

namespace fw::json {

// Null and Empty both encode as JSON null; a QVariantList as an array; DataPacket,
// DeltaPacket and QDateTime as their wrapped objects.
QJsonValue encode(const QVariant& value);

// Decoding gives Null for null, QString, bool, qlonglong (integral numbers) or double,
// QDateTime, QVariantList, DataPacket or DeltaPacket. On a malformed value returns an
// Empty variant and sets *error (when given) to a message naming what is wrong.
QVariant decode(const QJsonValue& value, QString* error);

QJsonValue encodePacket(const DataPacket& packet);
QJsonValue encodeDelta(const DeltaPacket& delta);
bool decodePacket(const QJsonValue& value, DataPacket* packet, QString* error);
bool decodeDelta(const QJsonValue& value, DeltaPacket* delta, QString* error);

// Row values inside packets follow the field's type; datetime is plain text.
QJsonValue encodeRowValue(const FieldDef& field, const QVariant& value);
bool decodeRowValue(const FieldDef& field, const QJsonValue& value, QVariant* out, QString* error);

} // namespace fw::json
