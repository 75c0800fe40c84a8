// The tray hook library: loaded by its bare name, checked for its four entry points, and
// released exactly once.
#pragma once

#include "VeskTrayServerTypes.h"

class TVeskTrayHookLibrary {
public:
    TVeskTrayHookLibrary() = default;
    TVeskTrayHookLibrary(const TVeskTrayHookLibrary&) = delete;
    TVeskTrayHookLibrary& operator=(const TVeskTrayHookLibrary&) = delete;
    ~TVeskTrayHookLibrary() { Release(); }

    // Fails with "Could not load hook library!" when the library cannot be loaded, and with
    // "Invalid or corrupted hook DLL!" (after releasing it) when an entry point is missing.
    void Load();
    bool IsHeld() const { return Module != nullptr; }
    void Release();

    bool InstallTrayHook() const { return (InstallEntry() & 0xFF) != 0; }
    // Counts as called even when the library raises out of it.
    void UninstallTrayHook() {
        UninstallCalled = true;
        UninstallEntry();
    }
    bool UninstallTrayHookCalled() const { return UninstallCalled; }
    std::int32_t AddMonitor(std::int32_t value) const { return AddMonitorEntry(value); }
    std::int32_t RemoveMonitor(std::int32_t value) const { return RemoveMonitorEntry(value); }

private:
    HMODULE Module = nullptr;
    TVeskInstallTrayHook InstallEntry = nullptr;
    TVeskUninstallTrayHook UninstallEntry = nullptr;
    TVeskAddMonitor AddMonitorEntry = nullptr;
    TVeskRemoveMonitor RemoveMonitorEntry = nullptr;
    bool UninstallCalled = false;
};
