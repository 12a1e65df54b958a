#include "server/methods/PacketFields.h"

namespace srv::fields {

namespace {
fw::FieldDef str(const char* name, int size, bool fixed = false)
{
    fw::FieldDef f;
    f.name = QString::fromLatin1(name);
    f.type = fw::FieldType::String;
    f.size = size;
    f.fixed = fixed;
    return f;
}
fw::FieldDef typed(const char* name, fw::FieldType type)
{
    fw::FieldDef f;
    f.name = QString::fromLatin1(name);
    f.type = type;
    return f;
}
} // namespace

const fw::FieldDefs& notaFiscal()
{
    static const fw::FieldDefs defs = {
        str("IDCHECK", 1, true),
        str("CDFILIEMIT", 4),
        str("NRINSJURNF", 20),
        str("NMRAZSOCCLIE", 50),
        str("NRNOTAFISCALELE", 9),
        str("DATASAIDA", 10),
        str("DATAEMISSAO", 10),
        str("CDSERIE", 5),
        typed("VRNOTAFISC", fw::FieldType::Float),
        str("IDEMAILCCE", 1),
        str("IDEMAILCCETRANS", 1),
        str("IDTPAMBNFE", 1),
        str("IDSTATUSCCE", 1),
        str("CDFILIAL", 4),
        str("NRLANCTONF", 10),
        str("CDEMPRESA", 2),
        str("CDINSCESTA", 16),
        str("CDINSCMUNI", 16),
        str("NRLICENCAUSO", 10),
        str("CDCLIENTE", 21),
        str("CDFILIRECE", 4),
        str("CDFORNECED", 21),
        str("IDTIPOEMISNFE", 1),
        str("CDTIPOOPER", 2),
        str("IDENTRSAIDOP", 1),
        str("NRSEQCCE", 2),
        str("IDORIGDESTNF", 1),
        str("IDTPIJURNF", 1),
        str("CDSTATUSCCE", 3),
        str("NRACESSONFE", 50),
        str("NRINSJURTRAN", 20),
        typed("DTHRPROTOCOLNFE", fw::FieldType::DateTime),
    };
    return defs;
}

const fw::FieldDefs& cartaCorrecao()
{
    static const fw::FieldDefs defs = {
        str("CDFILIAL", 4),
        str("NRLANCTONF", 10),
        str("NRSEQCCE", 2),
        str("DSCORRECAONFE", 1000),
        str("CDSTATUSCCE", 3),
        str("DSOBSSTATUSCCE", 255),
        typed("DTHRPROTOCOLCCE", fw::FieldType::DateTime),
        str("NRPROTOCOLCCE", 15),
        str("IDEMAILCCE", 1),
        str("IDEMAILCCETRANS", 1),
    };
    return defs;
}

const fw::FieldDefs& paramDfs()
{
    static const fw::FieldDefs defs = {
        str("NREXEMEMISSAO", 1),  str("IDUTREIMPRNF", 1),
        str("CDFILIAL", 4),       typed("NRTAMNUMNFUT", fw::FieldType::Float),
        str("IDUTLIBERANF", 1),   str("IDUTFILCENTOBR", 1),
        str("IDNFILTROINSCR", 1),
    };
    return defs;
}

const fw::FieldDefs& valdXmlSchema()
{
    static const fw::FieldDefs defs = {
        str("CDFILIAL", 4),
        str("NRLANCTONF", 10),
        str("IDTIPOARQXML", 1),
        typed("DSARQXMLNFE", fw::FieldType::Blob),
    };
    return defs;
}

} // namespace srv::fields
