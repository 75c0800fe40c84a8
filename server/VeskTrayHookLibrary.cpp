#include "VeskTrayHookLibrary.h"

#include "VeskError.h"

namespace {

template <class F> F EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

void TVeskTrayHookLibrary::Load() {
    Module = LoadLibraryA(VeskTrayHookFileName);
    if (!Module)
        throw EVeskError("Could not load hook library!");
    // All four are looked up, in this order, before any is tested.
    InstallEntry = EntryPoint<TVeskInstallTrayHook>(Module, "InstallTrayHook");
    UninstallEntry = EntryPoint<TVeskUninstallTrayHook>(Module, "UninstallTrayHook");
    AddMonitorEntry = EntryPoint<TVeskAddMonitor>(Module, "AddMonitor");
    RemoveMonitorEntry = EntryPoint<TVeskRemoveMonitor>(Module, "RemoveMonitor");
    if (!InstallEntry || !UninstallEntry || !AddMonitorEntry || !RemoveMonitorEntry) {
        Release();
        throw EVeskError("Invalid or corrupted hook DLL!");
    }
}

void TVeskTrayHookLibrary::Release() {
    if (!Module)
        return;
    FreeLibrary(Module);
    Module = nullptr;
    InstallEntry = nullptr;
    UninstallEntry = nullptr;
    AddMonitorEntry = nullptr;
    RemoveMonitorEntry = nullptr;
}
