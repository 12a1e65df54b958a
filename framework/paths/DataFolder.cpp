#include "paths/DataFolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace fw {

QString dataFolder(const char* environmentVariable, const QString& besideProgram, const QString& sourceFolder)
{
    const QString env = qEnvironmentVariable(environmentVariable);
    if (!env.isEmpty())
        return env;
    if (QCoreApplication::instance()) {
        const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + besideProgram;
        if (QFileInfo::exists(beside))
            return beside;
        // Installed, each program keeps its data in a folder named after it.
        const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        const QString installed = QCoreApplication::applicationDirPath() + QStringLiteral("/../share/") + program +
                                  QLatin1Char('/') + besideProgram;
        if (QFileInfo::exists(installed))
            return QFileInfo(installed).canonicalFilePath();
    }
    return sourceFolder;
}

} // namespace fw
