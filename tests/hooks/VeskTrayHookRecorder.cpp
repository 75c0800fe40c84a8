// A hook library for tests. It records every call, its argument, its result and a
// timestamp (and its own load and unload) to the file named by VESK_HOOK_LOG, one line
// each: "<microseconds> <event> <argument> <result>", "-" where there is none.
//
// Its behaviour is set through the environment:
//   VESK_HOOK_INSTALL   results of InstallTrayHook in turn, e.g. "0,0,1"; the last one
//                       repeats (default "1")
//   VESK_HOOK_SHELL_UP  a file whose existence means the shell is up: until it exists,
//                       InstallTrayHook returns 0 (the list above starts after that)
//   VESK_HOOK_ADD       fixed result of AddMonitor (default: the argument xor 0x5A5A5A5A)
//   VESK_HOOK_REMOVE    fixed result of RemoveMonitor (default: the argument xor 0x0F0F0F0F)
//   VESK_HOOK_FIXTURE   register-class: registers "VeskTrayServerWindow" in the program's
//                       module on load, so the program's own registration fails;
//                       refuse-create: refuses the creation of that window (CBT hook);
//                       refuse-destroy: from InstallTrayHook on, refuses its destruction;
//                       report-user-shell: the first InstallTrayHook records the user's
//                       logon "Shell" as it is then ("UserShell <type> <data in hex>");
//                       remove-user-logon-key: a successful InstallTrayHook removes the
//                       user's WinLogon key, so that putting the server back fails;
//                       timer-callback: on load, records the address of a timer callback
//                       that records every call to it ("TimerCallbackAt <hex> -"), for
//                       posting it to the program as a hostile client would;
//                       install-throws, uninstall-throws: that entry point records its
//                       call, then raises a C++ exception of the library's own runtime
//                       (std::runtime_error "<entry point> raised in the hook library").
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "VeskRecordingHook.h"

namespace {

HMODULE Self;
HHOOK CbtHook;
int CbtRefusal; // HCBT_CREATEWND or HCBT_DESTROYWND
unsigned InstallCalls;
const char ControlWindowClass[] = "VeskTrayServerWindow";

std::string Environment(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    value.resize(GetEnvironmentVariableA(name, value.data(), size));
    return value;
}

long long Microseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart / frequency.QuadPart * 1000000 +
           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
}

void Record(const char* event, const std::string& argument, const std::string& result) {
    const std::string path = Environment(VeskRecordingHook::LogVariable);
    if (path.empty())
        return;
    char line[256];
    const int length = std::snprintf(line, sizeof line, "%lld %s %s %s\n", Microseconds(), event,
                                     argument.c_str(), result.c_str());
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

std::string Number(long long value) {
    return std::to_string(value);
}

bool IsControlWindow(HWND window) {
    char name[64];
    return GetClassNameA(window, name, sizeof name) > 0 &&
           std::strcmp(name, ControlWindowClass) == 0;
}

LRESULT CALLBACK RefusingCbtProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == CbtRefusal && IsControlWindow(reinterpret_cast<HWND>(wParam)))
        return 1;
    return CallNextHookEx(CbtHook, code, wParam, lParam);
}

void RefuseOnThisThread(int cbtCode) {
    CbtRefusal = cbtCode;
    CbtHook = SetWindowsHookExA(WH_CBT, RefusingCbtProc, Self, GetCurrentThreadId());
}

void RecordUserShell() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        Record("UserShell", "no-key", "-");
        return;
    }
    BYTE data[1024];
    DWORD type = 0, size = sizeof data;
    if (RegQueryValueExA(key, "Shell", nullptr, &type, data, &size) != ERROR_SUCCESS) {
        Record("UserShell", "none", "-");
    } else {
        std::string hex;
        char digits[3];
        for (DWORD i = 0; i < size; ++i) {
            std::snprintf(digits, sizeof digits, "%02x", data[i]);
            hex += digits;
        }
        Record("UserShell", std::to_string(type), hex.empty() ? "-" : hex);
    }
    RegCloseKey(key);
}

void CALLBACK TimerCallback(HWND, UINT msg, UINT_PTR id, DWORD) {
    Record("TimerCallback", Number(msg), Number(static_cast<long long>(id)));
}

std::int32_t Configured(const char* name, std::int32_t fallback) {
    const std::string value = Environment(name);
    return value.empty() ? fallback
                         : static_cast<std::int32_t>(std::strtoll(value.c_str(), nullptr, 0));
}

} // namespace

#define VESK_HOOK_EXPORT extern "C" __declspec(dllexport)

VESK_HOOK_EXPORT DWORD WINAPI InstallTrayHook() {
    const std::string shellUp = Environment(VeskRecordingHook::ShellUpVariable);
    if (!shellUp.empty() && GetFileAttributesA(shellUp.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Record("InstallTrayHook", "-", "0");
        return 0;
    }
    std::vector<DWORD> results;
    std::string list = Environment(VeskRecordingHook::InstallVariable);
    for (const char* p = list.c_str(); *p;) {
        char* end;
        results.push_back(static_cast<DWORD>(std::strtoul(p, &end, 0)));
        p = *end == ',' ? end + 1 : end + std::strlen(end);
    }
    const DWORD result =
        results.empty()
            ? 1
            : results[InstallCalls < results.size() ? InstallCalls : results.size() - 1];
    if (InstallCalls == 0 && Environment(VeskRecordingHook::FixtureVariable) ==
                                 VeskRecordingHook::ReportUserShellFixture)
        RecordUserShell();
    ++InstallCalls;
    if (Environment(VeskRecordingHook::FixtureVariable) ==
            VeskRecordingHook::RefuseDestroyFixture &&
        !CbtHook)
        RefuseOnThisThread(HCBT_DESTROYWND);
    if ((result & 0xFF) && Environment(VeskRecordingHook::FixtureVariable) ==
                               VeskRecordingHook::RemoveUserLogonKeyFixture)
        RegDeleteKeyA(HKEY_CURRENT_USER,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon");
    Record("InstallTrayHook", "-", Number(result));
    if (Environment(VeskRecordingHook::FixtureVariable) == VeskRecordingHook::InstallThrowsFixture)
        throw std::runtime_error("InstallTrayHook raised in the hook library");
    return result;
}

VESK_HOOK_EXPORT void WINAPI UninstallTrayHook() {
    Record("UninstallTrayHook", "-", "-");
    if (Environment(VeskRecordingHook::FixtureVariable) ==
        VeskRecordingHook::UninstallThrowsFixture)
        throw std::runtime_error("UninstallTrayHook raised in the hook library");
}

VESK_HOOK_EXPORT std::int32_t WINAPI AddMonitor(std::int32_t value) {
    const std::int32_t result =
        Configured(VeskRecordingHook::AddVariable, VeskRecordingHook::AddMonitorResult(value));
    Record("AddMonitor", Number(value), Number(result));
    return result;
}

#ifndef VESK_HOOK_WITHOUT_REMOVE_MONITOR
VESK_HOOK_EXPORT std::int32_t WINAPI RemoveMonitor(std::int32_t value) {
    const std::int32_t result = Configured(VeskRecordingHook::RemoveVariable,
                                           VeskRecordingHook::RemoveMonitorResult(value));
    Record("RemoveMonitor", Number(value), Number(result));
    return result;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        Self = instance;
        Record("load", "-", "-");
        const std::string fixture = Environment(VeskRecordingHook::FixtureVariable);
        if (fixture == VeskRecordingHook::RegisterClassFixture) {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = DefWindowProcA;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = ControlWindowClass;
            RegisterClassA(&windowClass);
        } else if (fixture == VeskRecordingHook::RefuseCreateFixture) {
            RefuseOnThisThread(HCBT_CREATEWND);
        } else if (fixture == VeskRecordingHook::TimerCallbackFixture) {
            char address[32];
            std::snprintf(
                address, sizeof address, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(&TimerCallback)));
            Record("TimerCallbackAt", address, "-");
        }
    } else if (reason == DLL_PROCESS_DETACH) {
        if (CbtHook)
            UnhookWindowsHookEx(CbtHook);
        // A null reserved means FreeLibrary; otherwise the process is ending with it loaded.
        Record(reserved ? "exit-unload" : "unload", "-", "-");
    }
    return TRUE;
}
