/* The least that does the tray server's job on this platform, the yardstick the benchmark
 * measures VeskTrayServer against: GDI+ started, the hook library loaded and its four names
 * looked up, the message-only control window, the shared region mapped, InstallTrayHook
 * called once, and a plain message loop whose window procedure calls the hook directly.
 * No settings file, no objects, no failure box: a failed step ends the process with a code
 * of its own.
 *
 * Built three times: as it is, and as the two positive controls that prove the benchmark
 * sees a cost when there is one:
 *   VESK_BARE_BURN_IDLE            burns about 2 ms of CPU every 10 ms while nothing happens
 *   VESK_BARE_ALLOC_PER_REQUEST    keeps 1 KiB of touched heap per monitor request
 */
#include <windows.h>

/* The lean Windows headers leave out the COM types that GDI+ needs. */
#include <objidl.h>

#include <gdiplus.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef DWORD(WINAPI* TInstallTrayHook)(void);
typedef void(WINAPI* TUninstallTrayHook)(void);
typedef int32_t(WINAPI* TMonitor)(int32_t value);

static TMonitor AddMonitor;
static TMonitor RemoveMonitor;

#ifdef VESK_BARE_ALLOC_PER_REQUEST
/* A chain the compiler cannot prove dead, so every block stays allocated and resident. */
static void* volatile Hoard;

static void KeepBlock(void) {
    void** block = malloc(1024);
    if (!block)
        return;
    memset(block, 0xA5, 1024);
    *block = Hoard;
    Hoard = block;
}
#endif

#ifdef VESK_BARE_BURN_IDLE
static void CALLBACK Burn(HWND window, UINT message, UINT_PTR id, DWORD time) {
    (void)window;
    (void)message;
    (void)id;
    (void)time;
    /* The tick count moves in steps too coarse for 2 ms. */
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    do
        QueryPerformanceCounter(&now);
    while ((now.QuadPart - start.QuadPart) * 500 < frequency.QuadPart);
}
#endif

static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_USER)
        return DefWindowProcA(window, message, wParam, lParam);
#ifdef VESK_BARE_ALLOC_PER_REQUEST
    KeepBlock();
#endif
    switch ((uint32_t)wParam) {
    case 0:
        PostQuitMessage(0);
        return 1;
    case 1:
        return AddMonitor((int32_t)lParam);
    case 2:
        return RemoveMonitor((int32_t)lParam);
    default:
        return 1;
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;

    /* Version 1, no debug callback, background thread and codecs not suppressed. */
    GdiplusStartupInput gdiplusInput = {1, NULL, FALSE, FALSE};
    ULONG_PTR gdiplusToken = 0;
    GdiplusStartup(&gdiplusToken, &gdiplusInput, NULL);

    int exitCode = 0;
    HMODULE hook = LoadLibraryA("VeskTrayHook.hk");
    if (!hook) {
        exitCode = 2;
        goto shutGdiplus;
    }
    /* Function pointers and data pointers convert through an integer, as ISO C allows. */
    TInstallTrayHook install = (TInstallTrayHook)(uintptr_t)GetProcAddress(hook, "InstallTrayHook");
    TUninstallTrayHook uninstall =
        (TUninstallTrayHook)(uintptr_t)GetProcAddress(hook, "UninstallTrayHook");
    AddMonitor = (TMonitor)(uintptr_t)GetProcAddress(hook, "AddMonitor");
    RemoveMonitor = (TMonitor)(uintptr_t)GetProcAddress(hook, "RemoveMonitor");
    if (!install || !uninstall || !AddMonitor || !RemoveMonitor) {
        exitCode = 3;
        goto freeHook;
    }

    WNDCLASSA windowClass = {0};
    windowClass.lpfnWndProc = ControlProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "VeskTrayServerWindow";
    if (!RegisterClassA(&windowClass)) {
        exitCode = 4;
        goto uninstallHook;
    }
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  NULL, instance, NULL);
    if (!window) {
        exitCode = 5;
        goto unregister;
    }
    /* Like the server: a region that cannot be had is no reason to stop serving. */
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 17716,
                                        "VeskTrayServerSharedMemory");
    void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 17716) : NULL;

    install();
#ifdef VESK_BARE_BURN_IDLE
    SetTimer(NULL, 0, 10, Burn);
#endif

    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0)
        DispatchMessageA(&message);

    if (view)
        UnmapViewOfFile(view);
    if (mapping)
        CloseHandle(mapping);
    DestroyWindow(window);
unregister:
    UnregisterClassA(windowClass.lpszClassName, instance);
uninstallHook:
    uninstall();
freeHook:
    FreeLibrary(hook);
shutGdiplus:
    GdiplusShutdown(gdiplusToken);
    return exitCode;
}
