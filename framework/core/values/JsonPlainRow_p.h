#pragma once
// A packet's row checked and packed in one pass, for the reader of an answer that arrives
// in pieces (JsonStreamDecoder.cpp): the rows are nearly all of a large answer. Only a
// plain, well-typed row is taken so: an array of scalars, each of its field's type. Any
// other goes the way of every value, and meets its checks and their words there. Not part
// of the framework's interface.
#include <QByteArray>

#include "core/values/PackedRows.h"
#include "core/values/Packet.h"

namespace fw::json {

enum class PlainRow {
    Done, // packed; *end is past the row
    More, // the row's end has not come yet: read it again when more has
    No, // not a plain, well-typed row; nothing packed
};
// The row whose '[' is at text[from]; final: the text ends with text.
PlainRow packPlainRow(const QByteArray& text, qsizetype from, const FieldDefs& defs, PackedRows& out, bool final,
                      qsizetype* end);

} // namespace fw::json
