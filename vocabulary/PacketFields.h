#pragma once
// The fields of the packets the server answers with, in their order, with the types and
// sizes that the screen's data sets declare too. The authority's codes (CDSTATUSCCE) take
// 4 digits and its protocols (NRPROTOCOLCCE) 17 since the layouts of the tax reform. Labels, visibility and display formats
// are the screen's own and do not travel.

namespace cce::packet {

enum class Kind { String, Integer, Float, Boolean, DateTime, Blob };

struct Field {
    const char* name;
    Kind kind;
    int size = 0; // strings: the most characters
    bool fixed = false; // strings of exactly size characters
};

// cdsNotaFiscal: the invoices of GetNotaFiscal.
namespace notaFiscal {
enum Column {
    IDCHECK,
    CDFILIEMIT,
    NRINSJURNF,
    NMRAZSOCCLIE,
    NRNOTAFISCALELE,
    DATASAIDA,
    DATAEMISSAO,
    CDSERIE,
    VRNOTAFISC,
    IDEMAILCCE,
    IDEMAILCCETRANS,
    IDTPAMBNFE,
    IDSTATUSCCE,
    CDFILIAL,
    NRLANCTONF,
    CDEMPRESA,
    CDINSCESTA,
    CDINSCMUNI,
    NRLICENCAUSO,
    CDCLIENTE,
    CDFILIRECE,
    CDFORNECED,
    IDTIPOEMISNFE,
    CDTIPOOPER,
    IDENTRSAIDOP,
    NRSEQCCE,
    IDORIGDESTNF,
    IDTPIJURNF,
    CDSTATUSCCE,
    NRACESSONFE,
    NRINSJURTRAN,
    DTHRPROTOCOLNFE,
    kColumnCount
};
inline constexpr Field kFields[kColumnCount] = {
    {"IDCHECK", Kind::String, 1, true}, {"CDFILIEMIT", Kind::String, 4},      {"NRINSJURNF", Kind::String, 20},
    {"NMRAZSOCCLIE", Kind::String, 50}, {"NRNOTAFISCALELE", Kind::String, 9}, {"DATASAIDA", Kind::String, 10},
    {"DATAEMISSAO", Kind::String, 10},  {"CDSERIE", Kind::String, 5},         {"VRNOTAFISC", Kind::Float},
    {"IDEMAILCCE", Kind::String, 1},    {"IDEMAILCCETRANS", Kind::String, 1}, {"IDTPAMBNFE", Kind::String, 1},
    {"IDSTATUSCCE", Kind::String, 1},   {"CDFILIAL", Kind::String, 4},        {"NRLANCTONF", Kind::String, 10},
    {"CDEMPRESA", Kind::String, 2},     {"CDINSCESTA", Kind::String, 16},     {"CDINSCMUNI", Kind::String, 16},
    {"NRLICENCAUSO", Kind::String, 10}, {"CDCLIENTE", Kind::String, 21},      {"CDFILIRECE", Kind::String, 4},
    {"CDFORNECED", Kind::String, 21},   {"IDTIPOEMISNFE", Kind::String, 1},   {"CDTIPOOPER", Kind::String, 2},
    {"IDENTRSAIDOP", Kind::String, 1},  {"NRSEQCCE", Kind::String, 2},        {"IDORIGDESTNF", Kind::String, 1},
    {"IDTPIJURNF", Kind::String, 1},    {"CDSTATUSCCE", Kind::String, 4},     {"NRACESSONFE", Kind::String, 50},
    {"NRINSJURTRAN", Kind::String, 20}, {"DTHRPROTOCOLNFE", Kind::DateTime},
};
} // namespace notaFiscal

// cdsCCe: the letters of GetNotaFiscal, and the delta of SetCCe.
namespace cartaCorrecao {
enum Column {
    CDFILIAL,
    NRLANCTONF,
    NRSEQCCE,
    DSCORRECAONFE,
    CDSTATUSCCE,
    DSOBSSTATUSCCE,
    DTHRPROTOCOLCCE,
    NRPROTOCOLCCE,
    IDEMAILCCE,
    IDEMAILCCETRANS,
    kColumnCount
};
inline constexpr Field kFields[kColumnCount] = {
    {"CDFILIAL", Kind::String, 4},         {"NRLANCTONF", Kind::String, 10},    {"NRSEQCCE", Kind::String, 2},
    {"DSCORRECAONFE", Kind::String, 1000}, {"CDSTATUSCCE", Kind::String, 4},    {"DSOBSSTATUSCCE", Kind::String, 255},
    {"DTHRPROTOCOLCCE", Kind::DateTime},   {"NRPROTOCOLCCE", Kind::String, 17}, {"IDEMAILCCE", Kind::String, 1},
    {"IDEMAILCCETRANS", Kind::String, 1},
};
} // namespace cartaCorrecao

// cdsParamDFS: a branch's parameters, from GetParamDFS.
namespace paramDfs {
enum Column {
    NREXEMEMISSAO,
    IDUTREIMPRNF,
    CDFILIAL,
    NRTAMNUMNFUT,
    IDUTLIBERANF,
    IDUTFILCENTOBR,
    IDNFILTROINSCR,
    kColumnCount
};
inline constexpr Field kFields[kColumnCount] = {
    {"NREXEMEMISSAO", Kind::String, 1},  {"IDUTREIMPRNF", Kind::String, 1}, {"CDFILIAL", Kind::String, 4},
    {"NRTAMNUMNFUT", Kind::Float},       {"IDUTLIBERANF", Kind::String, 1}, {"IDUTFILCENTOBR", Kind::String, 1},
    {"IDNFILTROINSCR", Kind::String, 1},
};
} // namespace paramDfs

// cdsValdXMLSchema: the XML of a failed batch, from getXmlEnvLote.
namespace valdXmlSchema {
enum Column { CDFILIAL, NRLANCTONF, IDTIPOARQXML, DSARQXMLNFE, kColumnCount };
inline constexpr Field kFields[kColumnCount] = {
    {"CDFILIAL", Kind::String, 4},
    {"NRLANCTONF", Kind::String, 10},
    {"IDTIPOARQXML", Kind::String, 1},
    {"DSARQXMLNFE", Kind::Blob},
};
} // namespace valdXmlSchema

} // namespace cce::packet
