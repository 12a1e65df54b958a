// The values of an answer that arrives in pieces, each built once its text is whole by
// the decoders the whole-text road uses (TextDecoder, readRow), so both roads give the
// same values and the same words for what is wrong; the rows of a packet packed as they
// come. The roles say what each value is read for.
#include "core/values/JsonStreamDecoder_p.h"

namespace fw::json {

// The role of the value that begins inside f, and what its name makes wrong.
ValueRole StreamDecoder::Impl::childRole(Frame& f)
{
    if (!f.error.isEmpty())
        return ValueRole::Skip;
    switch (f.role) {
    case ValueRole::Envelope:
        if (f.key == QLatin1String("result"))
            return ValueRole::Value;
        if (f.key == QLatin1String("jsonrpc") || f.key == QLatin1String("id") || f.key == QLatin1String("error"))
            return ValueRole::Keep;
        return ValueRole::Skip;
    case ValueRole::List: return ValueRole::Value;
    case ValueRole::Wrapper:
        if (f.key == QLatin1String("$packet"))
            return ValueRole::Packet;
        if (f.key == QLatin1String("$datetime") || f.key == QLatin1String("$delta"))
            return ValueRole::Keep;
        return ValueRole::Skip;
    case ValueRole::Packet: {
        const bool fields = f.key == QLatin1String("fields"), rows = f.key == QLatin1String("rows");
        if ((fields && f.parts->hasFields) || (rows && f.parts->hasRows)) {
            f.error = QStringLiteral("o pacote repete o membro %1").arg(f.key);
            return ValueRole::Skip;
        }
        if (fields)
            return ValueRole::Keep;
        if (rows)
            return f.parts->hasFields ? ValueRole::Rows : ValueRole::Keep;
        return ValueRole::Skip;
    }
    case ValueRole::Rows: return ValueRole::Row;
    default: return ValueRole::Skip;
    }
}

ValueOutcome StreamDecoder::Impl::decodeScalar(ValueRole role, qsizetype start, qsizetype end)
{
    ValueOutcome o;
    o.start = start;
    o.end = end;
    switch (role) {
    case ValueRole::Value: try { o.value = TextDecoder(buf).value(start - base);
        } catch (const DecodeError& e) {
            o.error = e.why;
        }
        break;
    case ValueRole::Packet: o.error = QStringLiteral("não é um pacote de dados"); break;
    case ValueRole::Rows: o.error = QStringLiteral("as linhas do pacote devem ser um array"); break;
    case ValueRole::Row: o.error = QStringLiteral("uma linha do pacote não tem um valor para cada campo"); break;
    default: break;
    }
    return o;
}

void StreamDecoder::Impl::close()
{
    ValueOutcome o = closeFrame(stack.back(), pos);
    const ValueRole role = stack.back().role;
    stack.pop_back();
    deliver(role, std::move(o));
}

ValueOutcome StreamDecoder::Impl::closeFrame(Frame& f, qsizetype end)
{
    ValueOutcome o;
    o.start = f.start;
    o.end = end;
    switch (f.role) {
    case ValueRole::List:
        if (f.error.isEmpty())
            o.value = std::move(f.parts->list);
        o.error = f.error;
        return o;
    case ValueRole::Wrapper: {
        // A date-time before a packet before a delta, the last of each, as TextDecoder reads them.
        Parts& w = *f.parts;
        if (w.hasDateTime)
            return std::move(w.dateTime);
        if (w.hasPacket)
            return std::move(w.packet);
        if (w.hasDelta)
            return std::move(w.delta);
        o.error = QStringLiteral("objeto de valor desconhecido");
        return o;
    }
    case ValueRole::Packet: {
        Parts& p = *f.parts;
        if (f.error.isEmpty() && !p.hasFields)
            f.error = QStringLiteral("a lista de campos do pacote deve ser um array");
        if (f.error.isEmpty() && !p.hasRows)
            f.error = QStringLiteral("as linhas do pacote devem ser um array");
        if (f.error.isEmpty() && p.rowsStart >= 0)
            packRows(p, &f.error);
        if (f.error.isEmpty()) {
            DataPacket packet;
            packet.fields = p.fields;
            packet.packed = std::move(p.rows);
            o.value = QVariant::fromValue(std::move(packet));
        }
        o.error = f.error;
        return o;
    }
    case ValueRole::Row: {
        Parts& packet = *stack[stack.size() - 3].parts;
        try {
            Reader r(buf, f.start - base);
            PackedRowSink sink{*packet.rows};
            readRow(r, packet.fields, sink);
            packet.rows->endRow();
        } catch (const DecodeError& e) {
            packet.rows->dropRow();
            o.error = e.why;
        }
        return o;
    }
    default: o.error = f.error; return o;
    }
}

// Rows kept whole because they came before the fields.
void StreamDecoder::Impl::packRows(Parts& packet, QString* error)
{
    try {
        Reader r(buf, packet.rowsStart - base);
        if (!r.enterArray())
            decodeFailure(QStringLiteral("as linhas do pacote devem ser um array"));
        PackedRowSink sink{*packet.rows};
        while (r.nextElement()) {
            try {
                readRow(r, packet.fields, sink);
            } catch (...) {
                packet.rows->dropRow();
                throw;
            }
            packet.rows->endRow();
        }
    } catch (const DecodeError& e) {
        *error = e.why;
    }
}

void StreamDecoder::Impl::deliver(ValueRole role, ValueOutcome&& o)
{
    if (stack.empty()) {
        done = true;
        return;
    }
    Frame& f = stack.back();
    f.expect = Expect::CommaOrEnd;
    if (role == ValueRole::Skip && o.error.isEmpty())
        return;
    switch (f.role) {
    case ValueRole::Envelope:
        if (f.key == QLatin1String("result")) {
            hasResult = true;
            result = std::move(o);
        } else if (f.key == QLatin1String("jsonrpc")) {
            jsonrpcText = text(o);
        } else if (f.key == QLatin1String("id")) {
            idText = text(o);
        } else if (f.key == QLatin1String("error")) {
            errorText = text(o);
        }
        return;
    case ValueRole::List:
        if (!f.error.isEmpty())
            return;
        if (!o.error.isEmpty()) {
            f.error = o.error;
            f.parts->list.clear();
        } else {
            f.parts->list.append(std::move(o.value));
        }
        return;
    case ValueRole::Wrapper: {
        const QByteArray kept = f.key == QLatin1String("$packet") ? QByteArray() : text(o);
        auto decode = [&](auto read) {
            ValueOutcome w;
            try {
                w.value = read(TextDecoder(kept));
            } catch (const DecodeError& e) {
                w.error = e.why;
            }
            return w;
        };
        Parts& w = *f.parts;
        if (f.key == QLatin1String("$packet")) {
            w.packet = std::move(o);
            w.hasPacket = true;
        } else if (f.key == QLatin1String("$datetime")) {
            w.dateTime = decode([](TextDecoder d) { return d.dateTime(0); });
            w.hasDateTime = true;
        } else if (f.key == QLatin1String("$delta")) {
            w.delta = decode([](TextDecoder d) { return QVariant::fromValue(d.delta(0)); });
            w.hasDelta = true;
        }
        return;
    }
    case ValueRole::Packet:
        if (!f.error.isEmpty())
            return;
        if (!o.error.isEmpty()) {
            f.error = o.error;
        } else if (f.key == QLatin1String("fields")) {
            try {
                const QByteArray kept = text(o);
                f.parts->fields = TextDecoder(kept).fields(0);
                f.parts->hasFields = true;
                f.parts->rows = std::make_shared<PackedRows>(int(f.parts->fields.size()));
            } catch (const DecodeError& e) {
                f.error = e.why;
            }
        } else if (f.key == QLatin1String("rows")) {
            f.parts->hasRows = true;
            if (role == ValueRole::Keep)
                f.parts->rowsStart = o.start;
        }
        return;
    case ValueRole::Rows:
        if (f.error.isEmpty() && !o.error.isEmpty())
            f.error = o.error;
        return;
    default: return;
    }
}

} // namespace fw::json
