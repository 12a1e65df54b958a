#pragma once
// The package unit: the table of the module's units, their start when the library is
// loaded and their end when it is unloaded.
#include <QtGlobal>

#include "module/ModuleExport.h"

// Unit globals of class type (strings, variants) are built before, and destroyed after, the object that runs the unit
// table, so that an initialisation or finalisation never touches a dead global.
#define PKG_UNIT_GLOBAL __attribute__((init_priority(1000)))

namespace pkg {

struct UnitInfo {
    const char* name;
    void (*initialization)(); // runs its body only on the first of nested calls
    void (*finalization)(); // runs its body only on the last
    int (*initCount)();
};

// The units in initialisation order; finalisation runs them in reverse.
const UnitInfo* units(int* count);

} // namespace pkg

extern "C" {
// Runs the initialisation of every unit, in order.
PKG_EXPORT void Pkg_dfs59000_Initialize();
// Runs the finalisation of every unit, in reverse order.
PKG_EXPORT void Pkg_dfs59000_Finalize();
// The nesting counter of a unit; -1 for an unknown unit.
PKG_EXPORT int Pkg_dfs59000_UnitCounter(const char* unit);
// The unit bodies that ran, as "init <unit>" / "final <unit>" separated by ";".
PKG_EXPORT const char* Pkg_dfs59000_UnitTrace();
PKG_EXPORT void Pkg_dfs59000_ClearUnitTrace();
}
