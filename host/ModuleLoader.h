#pragma once
// Loads a screen module by name and resolves its entry function.
#include <QLibrary>
#include <QString>
#include <QVariant>

namespace host {

using IniProcFn = void (*)(const QVariant& param);

class ModuleLoader {
public:
    // name: the module's base name ("PKG_DFS59000"); searched in dirs, then by the system.
    ModuleLoader(const QString& name, const QStringList& dirs);
    ~ModuleLoader();

    bool load(QString* error);
    // The entry function, checked before use; nullptr when the module lacks it.
    IniProcFn iniProc(QString* error);
    void unload();
    bool isLoaded() const { return m_library.isLoaded(); }
    QString fileName() const { return m_library.fileName(); }

private:
    QString m_name;
    QStringList m_dirs;
    QLibrary m_library;
};

} // namespace host
