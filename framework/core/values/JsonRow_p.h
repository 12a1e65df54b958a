#pragma once
// A packet's row read from validated JSON text by its fields' types, shared by the
// decoders (JsonTextDecoder.cpp, JsonStreamDecoder.cpp); not part of the framework's
// interface. The values go to a sink: a Row of QVariants, or the compact rows.
#include <QDateTime>
#include <cmath>

#include "core/values/JsonCodec.h"
#include "core/values/JsonReader.h"
#include "core/values/JsonTextDecoder.h"
#include "core/values/Value.h"

namespace fw::json {

[[noreturn]] inline void decodeFailure(const QString& why) { throw DecodeError{why}; }

// Integral numbers a double holds exactly travel as integers.
inline bool integralNumber(double d) { return std::floor(d) == d && std::fabs(d) <= 9.007199254740992e15; }

// One row at the cursor, which ends past it. The sink says which columns it keeps
// (keeps(i)); a column not kept is still checked. It takes null(), text(Reader&) with the
// cursor on the string, integer(qint64), real(double), boolean(bool), dateTime(QDateTime).
template <class Sink>
void readRow(Reader& r, const FieldDefs& defs, Sink& sink)
{
    static const QString arity = QStringLiteral("uma linha do pacote não tem um valor para cada campo");
    if (!r.enterArray())
        decodeFailure(arity);
    qsizetype i = 0;
    while (r.nextElement()) {
        if (i >= defs.size())
            decodeFailure(arity);
        const FieldDef& f = defs[i];
        const bool keeps = sink.keeps(int(i));
        ++i;
        auto wrong = [&]() {
            decodeFailure(QStringLiteral("o valor do campo %1 não é %2").arg(f.name, kindText(f.type)));
        };
        const Type type = r.peek();
        if (type == Type::Null) {
            r.readNull();
            if (keeps)
                sink.null();
            continue;
        }
        switch (f.type) {
        case FieldType::String:
        case FieldType::Blob:
            if (type != Type::String)
                wrong();
            if (keeps)
                sink.text(r);
            else
                r.readString(nullptr);
            continue;
        case FieldType::Integer:
        case FieldType::Float: {
            double d = 0;
            if (type != Type::Number)
                wrong();
            if (!r.readNumber(&d))
                decodeFailure(QStringLiteral("o valor do campo %1 está fora do intervalo").arg(f.name));
            if (f.type == FieldType::Integer && !integralNumber(d))
                wrong();
            if (keeps) {
                if (f.type == FieldType::Integer)
                    sink.integer(static_cast<qint64>(d));
                else
                    sink.real(d);
            }
            continue;
        }
        case FieldType::Boolean: {
            bool b = false;
            if (!r.readBool(&b))
                wrong();
            if (keeps)
                sink.boolean(b);
            continue;
        }
        case FieldType::DateTime: {
            QString s;
            bool ok = false;
            const QDateTime dt = r.readString(&s) ? dateTimeFromText(s, &ok) : QDateTime();
            if (!ok)
                wrong();
            if (keeps)
                sink.dateTime(dt);
            continue;
        }
        }
        wrong();
    }
    if (i != defs.size())
        decodeFailure(arity);
}

} // namespace fw::json
