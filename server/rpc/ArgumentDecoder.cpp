#include "server/rpc/ArgumentDecoder.h"

#include "core/values/JsonReader.h"
#include "core/values/JsonTextDecoder.h"
#include "core/values/Value.h"

namespace srv {

namespace {

QString kindName(ArgKind kind)
{
    switch (kind) {
    case ArgKind::String: return QStringLiteral("texto");
    case ArgKind::Boolean: return QStringLiteral("booleano");
    case ArgKind::DateTime: return QStringLiteral("data-hora");
    case ArgKind::DataPacket: return QStringLiteral("pacote de dados");
    case ArgKind::DeltaPacket: return QStringLiteral("pacote de alterações");
    case ArgKind::Any: return QStringLiteral("valor");
    }
    return QString();
}

class Decoder {
public:
    Decoder(const QByteArray& text, const QString& label) : m_text(text), m_label(label) {}

    QVariant argument(qsizetype offset, const ArgSpec& declared)
    {
        fw::json::Reader r(m_text, offset);
        const fw::json::Type type = r.peek();
        if (type == fw::json::Type::Null) {
            if (declared.nullable || declared.kind == ArgKind::Any)
                return fw::nullValue();
            fault(QStringLiteral("O %1 não pode ser nulo; esperado %2.").arg(m_label, kindName(declared.kind)));
        }
        switch (declared.kind) {
        case ArgKind::String: {
            if (type != fw::json::Type::String)
                wrongKind(declared.kind);
            // A character takes at least one byte of the text and at most six (\uXXXX):
            // a text far too long is refused before it is built.
            const int limit = declared.maxLength > 0 ? declared.maxLength : kMaxStringArgument;
            fw::json::Reader probe(m_text, offset);
            probe.peek();
            const qsizetype start = probe.offset();
            probe.readString(nullptr);
            if (probe.offset() - start - 2 > qsizetype(limit) * 6)
                tooLong(limit);
            QString s;
            r.readString(&s);
            if (s.size() > limit)
                tooLong(limit);
            return s;
        }
        case ArgKind::Boolean: {
            bool b = false;
            if (!r.readBool(&b))
                wrongKind(declared.kind);
            return b;
        }
        case ArgKind::DateTime:
        case ArgKind::DataPacket:
        case ArgKind::DeltaPacket: {
            if (type != fw::json::Type::Object)
                wrongKind(declared.kind);
            using W = fw::json::TextDecoder::Wrapper;
            qsizetype inner = -1;
            const W w = m_decoder.wrapper(offset, &inner);
            if (w == W::None)
                malformed(QStringLiteral("objeto de valor desconhecido"));
            const W want = declared.kind == ArgKind::DateTime     ? W::DateTime
                           : declared.kind == ArgKind::DataPacket ? W::Packet
                                                                  : W::Delta;
            if (w != want)
                wrongKind(declared.kind);
            try {
                if (want == W::DateTime) {
                    const QVariant dt = m_decoder.dateTime(inner);
                    if (fw::isNull(dt) && !declared.nullable)
                        fault(QStringLiteral("O %1 não pode ser nulo; esperado %2.")
                                  .arg(m_label, kindName(declared.kind)));
                    return dt;
                }
                return want == W::Packet
                           ? QVariant::fromValue(m_decoder.packet(inner, declared.columns, declared.maxRows))
                           : QVariant::fromValue(m_decoder.delta(inner, declared.maxRows));
            } catch (const fw::json::DecodeError& e) {
                malformed(e.why);
            }
        }
        case ArgKind::Any: try { return m_decoder.value(offset);
            } catch (const fw::json::DecodeError& e) {
                malformed(e.why);
            }
        }
        wrongKind(declared.kind);
    }

private:
    [[noreturn]] void fault(const QString& message) { throw RpcFault(fault::InvalidParams, message); }
    [[noreturn]] void malformed(const QString& why)
    {
        fault(QStringLiteral("O %1 está malformado: %2.").arg(m_label, why));
    }
    [[noreturn]] void tooLong(int limit)
    {
        fault(QStringLiteral("O %1 excede %2 caracteres.").arg(m_label).arg(limit));
    }
    [[noreturn]] void wrongKind(ArgKind kind)
    {
        fault(QStringLiteral("O %1 deve ser %2.").arg(m_label, kindName(kind)));
    }

    const QByteArray& m_text;
    const QString& m_label;
    fw::json::TextDecoder m_decoder{m_text};
};

} // namespace

QVariant decodeArgument(const QByteArray& text, qsizetype offset, const ArgSpec& declared, const QString& label)
{
    return Decoder(text, label).argument(offset, declared);
}

} // namespace srv
