#include "host/ModuleLoader.h"

#include <QDir>
#include <QFileInfo>

namespace host {

ModuleLoader::ModuleLoader(const QString& name, const QStringList& dirs) : m_name(name), m_dirs(dirs) {}

ModuleLoader::~ModuleLoader() = default; // forms belong to the host window: the library stays loaded

bool ModuleLoader::load(QString* error)
{
    if (m_library.isLoaded())
        return true;
    for (const QString& dir : m_dirs) {
        const QString candidate = QDir(dir).filePath(QStringLiteral("lib") + m_name + QStringLiteral(".so"));
        if (QFileInfo::exists(candidate)) {
            m_library.setFileName(candidate);
            break;
        }
    }
    if (m_library.fileName().isEmpty())
        m_library.setFileName(m_name);
    if (!m_library.load()) {
        *error = QStringLiteral("Não foi possível carregar o módulo %1: %2").arg(m_name, m_library.errorString());
        return false;
    }
    return true;
}

IniProcFn ModuleLoader::iniProc(QString* error)
{
    auto fn = reinterpret_cast<IniProcFn>(m_library.resolve("IniProc"));
    if (!fn)
        *error = QStringLiteral("O módulo %1 não exporta a função IniProc.").arg(m_name);
    return fn;
}

void ModuleLoader::unload()
{
    if (m_library.isLoaded())
        m_library.unload();
}

} // namespace host
