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
    Install = EntryPoint<TVeskInstallTrayHook>(Module, "InstallTrayHook");
    Uninstall = EntryPoint<TVeskUninstallTrayHook>(Module, "UninstallTrayHook");
    Add = EntryPoint<TVeskAddMonitor>(Module, "AddMonitor");
    Remove = EntryPoint<TVeskRemoveMonitor>(Module, "RemoveMonitor");
    if (!Install || !Uninstall || !Add || !Remove) {
        Release();
        throw EVeskError("Invalid or corrupted hook DLL!");
    }
}

void TVeskTrayHookLibrary::Release() {
    if (!Module)
        return;
    FreeLibrary(Module);
    Module = nullptr;
    Install = nullptr;
    Uninstall = nullptr;
    Add = nullptr;
    Remove = nullptr;
}
