#include "module/Pkg_dfs59000.h"

#include <QByteArray>
#include <cstring>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "module/Cli_dfs59300.h"

namespace pkg {

namespace {

const UnitInfo kUnits[] = {
    {"Cli_dfs59100", &Cli_dfs59100_Initialization, &Cli_dfs59100_Finalization, &Cli_dfs59100_InitCount},
    {"Cli_dfs59300", &Cli_dfs59300_Initialization, &Cli_dfs59300_Finalization, &Cli_dfs59300_InitCount},
    {"Cli_dfs59000", &Cli_dfs59000_Initialization, &Cli_dfs59000_Finalization, &Cli_dfs59000_InitCount},
};
constexpr int kUnitCount = int(sizeof(kUnits) / sizeof(kUnits[0]));

QByteArray& trace()
{
    static QByteArray t;
    return t;
}

void note(const char* what, const char* unit)
{
    QByteArray& t = trace();
    if (!t.isEmpty())
        t += ';';
    t += what;
    t += ' ';
    t += unit;
}

// Runs the unit table when the library is loaded and in reverse when it is unloaded.
struct PackageLoader {
    PackageLoader() { Pkg_dfs59000_Initialize(); }
    ~PackageLoader() { Pkg_dfs59000_Finalize(); }
};

} // namespace

const UnitInfo* units(int* count)
{
    if (count)
        *count = kUnitCount;
    return kUnits;
}

} // namespace pkg

extern "C" {

void Pkg_dfs59000_Initialize()
{
    for (const pkg::UnitInfo& u : pkg::kUnits) {
        const bool first = u.initCount() == 0;
        u.initialization();
        if (first)
            pkg::note("init", u.name);
    }
}

void Pkg_dfs59000_Finalize()
{
    for (int i = pkg::kUnitCount - 1; i >= 0; --i) {
        const pkg::UnitInfo& u = pkg::kUnits[i];
        const bool last = u.initCount() == 1;
        u.finalization();
        if (last)
            pkg::note("final", u.name);
    }
}

int Pkg_dfs59000_UnitCounter(const char* unit)
{
    for (const pkg::UnitInfo& u : pkg::kUnits)
        if (unit && std::strcmp(unit, u.name) == 0)
            return u.initCount();
    return -1;
}

const char* Pkg_dfs59000_UnitTrace() { return pkg::trace().constData(); }

void Pkg_dfs59000_ClearUnitTrace() { pkg::trace().clear(); }

} // extern "C"

namespace {
pkg::PackageLoader g_loader;
}
