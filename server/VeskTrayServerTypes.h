// What the server, its hook library and its clients agree on. Declarations only.
#pragma once

#include <windows.h>

#include <cstdint>

// The control window: message-only, of this class, with an empty title.
inline constexpr char VeskTrayServerWindowClass[] = "VeskTrayServerWindow";

// Requests are WM_USER with the request code in wParam and its argument in lParam.
inline constexpr UINT VeskTrayControlMessage = WM_USER;

enum TVeskTrayRequest : std::uint32_t {
    VeskTrayRequestQuit = 0,
    VeskTrayRequestAddMonitor = 1,
    VeskTrayRequestRemoveMonitor = 2,
};

// The hook library's entry points (stdcall, exported under these plain names).
inline constexpr char VeskTrayHookFileName[] = "VeskTrayHook.hk";

// Only the low byte of the result counts: the library may return a one-byte boolean.
using TVeskInstallTrayHook = DWORD(WINAPI*)();
using TVeskUninstallTrayHook = void(WINAPI*)();
using TVeskAddMonitor = std::int32_t(WINAPI*)(std::int32_t value);
using TVeskRemoveMonitor = std::int32_t(WINAPI*)(std::int32_t value);
