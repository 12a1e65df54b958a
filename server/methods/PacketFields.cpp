#include "server/methods/PacketFields.h"

#include "vocabulary/PacketFields.h"

namespace srv::fields {

namespace {

fw::FieldType typeOf(cce::packet::Kind kind)
{
    switch (kind) {
    case cce::packet::Kind::String: return fw::FieldType::String;
    case cce::packet::Kind::Integer: return fw::FieldType::Integer;
    case cce::packet::Kind::Float: return fw::FieldType::Float;
    case cce::packet::Kind::Boolean: return fw::FieldType::Boolean;
    case cce::packet::Kind::DateTime: return fw::FieldType::DateTime;
    case cce::packet::Kind::Blob: return fw::FieldType::Blob;
    }
    return fw::FieldType::String;
}

template <int N>
fw::FieldDefs defsOf(const cce::packet::Field (&fields)[N])
{
    fw::FieldDefs defs;
    for (const cce::packet::Field& f : fields) {
        fw::FieldDef d;
        d.name = QString::fromLatin1(f.name);
        d.type = typeOf(f.kind);
        d.size = f.size;
        d.fixed = f.fixed;
        defs.append(d);
    }
    return defs;
}

} // namespace

const fw::FieldDefs& notaFiscal()
{
    static const fw::FieldDefs defs = defsOf(cce::packet::notaFiscal::kFields);
    return defs;
}

const fw::FieldDefs& cartaCorrecao()
{
    static const fw::FieldDefs defs = defsOf(cce::packet::cartaCorrecao::kFields);
    return defs;
}

const fw::FieldDefs& paramDfs()
{
    static const fw::FieldDefs defs = defsOf(cce::packet::paramDfs::kFields);
    return defs;
}

const fw::FieldDefs& valdXmlSchema()
{
    static const fw::FieldDefs defs = defsOf(cce::packet::valdXmlSchema::kFields);
    return defs;
}

} // namespace srv::fields
