#pragma once
// The data folders a program reads at run time.
#include <QString>

namespace fw {

// The folder the environment variable names when set; else `besideProgram` (relative to the
// running program's folder) when it exists there, as for a built program; else the same in
// ../share/<the program's file name> from the program's folder, as installed (bin/ and share/
// of one prefix); else `sourceFolder`, the folder in the source tree, so that tests run from
// anywhere.
QString dataFolder(const char* environmentVariable, const QString& besideProgram, const QString& sourceFolder);

} // namespace fw
