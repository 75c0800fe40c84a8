/* The benchmark's hook library: returns at once, like the default one, but answers each
 * registration with a value drawn from its argument, so that a client can tell a reply that
 * went through the hook from one that did not. */
#include <windows.h>

#include <stdint.h>

#define VESK_HOOK_EXPORT __declspec(dllexport)

VESK_HOOK_EXPORT DWORD WINAPI InstallTrayHook(void) {
    return TRUE;
}

VESK_HOOK_EXPORT void WINAPI UninstallTrayHook(void) {}

VESK_HOOK_EXPORT int32_t WINAPI AddMonitor(int32_t value) {
    return value ^ 0x5A5A5A5A;
}

VESK_HOOK_EXPORT int32_t WINAPI RemoveMonitor(int32_t value) {
    return value ^ 0x0F0F0F0F;
}
