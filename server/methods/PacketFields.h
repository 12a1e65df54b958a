#pragma once
// Field layouts of the packets the server answers with, as the screen's data sets
// declare them.
#include "core/values/Packet.h"

namespace srv::fields {

const fw::FieldDefs& notaFiscal(); // cdsNotaFiscal
const fw::FieldDefs& cartaCorrecao(); // cdsCCe
const fw::FieldDefs& paramDfs(); // cdsParamDFS
const fw::FieldDefs& valdXmlSchema(); // cdsValdXMLSchema

} // namespace srv::fields
