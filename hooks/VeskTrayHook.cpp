// The default tray hook library: the least that keeps the server's contract. It installs
// nothing and watches nothing; registrations are accepted and answered 0.
#include <windows.h>

#include <cstdint>

#define VESK_HOOK_EXPORT extern "C" __declspec(dllexport)

VESK_HOOK_EXPORT BOOL WINAPI InstallTrayHook() {
    return TRUE;
}

VESK_HOOK_EXPORT void WINAPI UninstallTrayHook() {}

VESK_HOOK_EXPORT std::int32_t WINAPI AddMonitor(std::int32_t) {
    return 0;
}

VESK_HOOK_EXPORT std::int32_t WINAPI RemoveMonitor(std::int32_t) {
    return 0;
}
