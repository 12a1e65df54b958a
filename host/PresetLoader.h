#pragma once
// Reads a preset for the module's entry function from a JSON file: an array whose
// elements use the wire encoding (null, booleans, numbers, strings,
// {"$datetime": "..."}). The file holding just null gives Null; a missing file, Empty.
#include <QString>
#include <QVariant>

namespace host {

bool loadPreset(const QString& path, QVariant* preset, QString* error);

} // namespace host
