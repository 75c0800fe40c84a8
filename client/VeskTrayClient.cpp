#include "VeskTrayClient.h"

#include "VeskHandle.h"
#include "VeskMappedView.h"
#include "VeskTrayServerInterface.h"
#include "VeskTrayServerTypes.h"

// The C header spells out the server's constants again for C callers; they must not drift.
static_assert(VeskTrayControlMessage == VESK_TRAY_CONTROL_MESSAGE);
static_assert(VeskTrayRequestQuit == VESK_TRAY_REQUEST_QUIT);
static_assert(VeskTrayRequestAddMonitor == VESK_TRAY_REQUEST_ADD_MONITOR);
static_assert(VeskTrayRequestRemoveMonitor == VESK_TRAY_REQUEST_REMOVE_MONITOR);
static_assert(VeskTraySharedRegionSize == VESK_TRAY_REGION_SIZE);

namespace {

constexpr bool SameText(const char* a, const char* b) {
    for (; *a == *b; ++a, ++b) {
        if (*a == '\0')
            return true;
    }
    return false;
}
static_assert(SameText(VeskTrayServerWindowClass, VESK_TRAY_WINDOW_CLASS));
static_assert(SameText(VeskTraySharedRegionName, VESK_TRAY_REGION_NAME));

int Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DWORD timeoutMs, LRESULT* answer) {
    DWORD_PTR result = 0;
    // SMTO_NORMAL: while we wait, messages sent to the caller's own windows are still served.
    if (!SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_NORMAL, timeoutMs, &result)) {
        // A window that went meanwhile is a server that quit, not one that is stuck.
        return IsWindow(window) ? VESK_TRAY_NO_ANSWER : VESK_TRAY_NO_SERVER;
    }
    if (answer)
        *answer = static_cast<LRESULT>(result);
    return VESK_TRAY_OK;
}

int Request(WPARAM request, LONG value, DWORD timeoutMs, LONG* result) {
    if (!result)
        return VESK_TRAY_INVALID_ARGUMENT;
    const HWND window = VeskTrayFindServer();
    if (!window)
        return VESK_TRAY_NO_SERVER;
    LRESULT answer = 0;
    const int status = Send(window, VESK_TRAY_CONTROL_MESSAGE, request, static_cast<LPARAM>(value),
                            timeoutMs, &answer);
    if (status == VESK_TRAY_OK)
        *result = static_cast<LONG>(answer);
    return status;
}

int WaitForProcess(HANDLE process, DWORD timeoutMs) {
    switch (WaitForSingleObject(process, timeoutMs)) {
    case WAIT_OBJECT_0:
        return VESK_TRAY_OK;
    case WAIT_TIMEOUT:
        return VESK_TRAY_STILL_RUNNING;
    default:
        return VESK_TRAY_SYSTEM_ERROR;
    }
}

} // namespace

extern "C" {

HWND WINAPI VeskTrayFindServer(void) {
    // Only among message-only windows: FindWindowA would also return a visible window of the
    // class (and finds message-only windows only under Wine, never on Windows).
    return FindWindowExA(HWND_MESSAGE, nullptr, VESK_TRAY_WINDOW_CLASS, nullptr);
}

int WINAPI VeskTrayGetServerProcessId(DWORD* processId) {
    if (!processId)
        return VESK_TRAY_INVALID_ARGUMENT;
    const HWND window = VeskTrayFindServer();
    if (!window)
        return VESK_TRAY_NO_SERVER;
    DWORD id = 0;
    if (!GetWindowThreadProcessId(window, &id) || id == 0)
        return VESK_TRAY_NO_SERVER;
    *processId = id;
    return VESK_TRAY_OK;
}

int WINAPI VeskTrayPing(DWORD timeoutMs) {
    const HWND window = VeskTrayFindServer();
    if (!window)
        return VESK_TRAY_NO_SERVER;
    return Send(window, WM_NULL, 0, 0, timeoutMs, nullptr);
}

int WINAPI VeskTrayAddMonitor(LONG value, DWORD timeoutMs, LONG* result) {
    return Request(VESK_TRAY_REQUEST_ADD_MONITOR, value, timeoutMs, result);
}

int WINAPI VeskTrayRemoveMonitor(LONG value, DWORD timeoutMs, LONG* result) {
    return Request(VESK_TRAY_REQUEST_REMOVE_MONITOR, value, timeoutMs, result);
}

int WINAPI VeskTrayQuit(DWORD timeoutMs) {
    const HWND window = VeskTrayFindServer();
    if (!window)
        return VESK_TRAY_NO_SERVER;
    return Send(window, VESK_TRAY_CONTROL_MESSAGE, VESK_TRAY_REQUEST_QUIT, 0, timeoutMs, nullptr);
}

int WINAPI VeskTrayWaitForProcessEnd(DWORD processId, DWORD timeoutMs) {
    const TVeskHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process.Get()) {
        // No process of that id any more: it has ended.
        return GetLastError() == ERROR_INVALID_PARAMETER ? VESK_TRAY_OK : VESK_TRAY_SYSTEM_ERROR;
    }
    return WaitForProcess(process.Get(), timeoutMs);
}

int WINAPI VeskTrayQuitAndWait(DWORD answerTimeoutMs, DWORD endTimeoutMs, DWORD* processId) {
    const HWND window = VeskTrayFindServer();
    if (!window)
        return VESK_TRAY_NO_SERVER;
    DWORD id = 0;
    if (!GetWindowThreadProcessId(window, &id) || id == 0)
        return VESK_TRAY_NO_SERVER;
    if (processId)
        *processId = id;
    const TVeskHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process.Get())
        return VESK_TRAY_SYSTEM_ERROR;
    const int status = Send(window, VESK_TRAY_CONTROL_MESSAGE, VESK_TRAY_REQUEST_QUIT, 0,
                            answerTimeoutMs, nullptr);
    if (status != VESK_TRAY_OK)
        return status;
    return WaitForProcess(process.Get(), endTimeoutMs);
}

int WINAPI VeskTrayGetRegionSize(SIZE_T* size) {
    if (!size)
        return VESK_TRAY_INVALID_ARGUMENT;
    const TVeskHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, VESK_TRAY_REGION_NAME));
    if (!mapping.Get()) {
        // Another kind of object holding the name is no region either.
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_HANDLE
                   ? VESK_TRAY_NO_REGION
                   : VESK_TRAY_SYSTEM_ERROR;
    }
    const TVeskMappedView view(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!view.Get())
        return VESK_TRAY_SYSTEM_ERROR;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(view.Get(), &info, sizeof info) != sizeof info)
        return VESK_TRAY_SYSTEM_ERROR;
    *size = info.RegionSize;
    return VESK_TRAY_OK;
}

const char* WINAPI VeskTrayErrorText(int code) {
    switch (code) {
    case VESK_TRAY_OK:
        return "Success";
    case VESK_TRAY_NO_SERVER:
        return "VeskTrayServer is not running";
    case VESK_TRAY_NO_ANSWER:
        return "VeskTrayServer did not answer in time";
    case VESK_TRAY_STILL_RUNNING:
        return "VeskTrayServer's process did not end in time";
    case VESK_TRAY_NO_REGION:
        return "The shared region \"" VESK_TRAY_REGION_NAME "\" does not exist";
    case VESK_TRAY_INVALID_ARGUMENT:
        return "Invalid argument: a result pointer is null";
    case VESK_TRAY_SYSTEM_ERROR:
        return "A system call failed";
    default:
        return "Unknown VeskTrayClient result code";
    }
}

} // extern "C"
