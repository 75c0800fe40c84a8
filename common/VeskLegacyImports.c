/* Functions that MinGW's thread runtime imports but Windows 2000 or XP lack (GetTickCount64
 * is new in Vista, the vectored exception handlers in XP). A program that imported them
 * would not even load there, so every 32-bit binary links these stand-ins in their place:
 * they call the system's own function where it has one. */
#include <windows.h>

static FARPROC SystemFunction(const char* name) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : NULL;
}

typedef ULONGLONG(WINAPI* TGetTickCount64)(void);
typedef PVOID(WINAPI* TAddVectoredExceptionHandler)(ULONG, PVECTORED_EXCEPTION_HANDLER);
typedef ULONG(WINAPI* TRemoveVectoredExceptionHandler)(PVOID);

static ULONGLONG WINAPI VeskGetTickCount64(void) {
    TGetTickCount64 system = (TGetTickCount64)(void*)SystemFunction("GetTickCount64");
    LARGE_INTEGER frequency, counter;
    if (system)
        return system();
    /* The performance counter never wraps in practice, unlike GetTickCount. */
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0 &&
        QueryPerformanceCounter(&counter)) {
        return (ULONGLONG)(counter.QuadPart / frequency.QuadPart) * 1000 +
               (ULONGLONG)(counter.QuadPart % frequency.QuadPart) * 1000 /
                   (ULONGLONG)frequency.QuadPart;
    }
    return GetTickCount();
}

/* Without the system's handlers there is none to add: the runtime then skips what needs
 * one (naming threads for a debugger). */
static PVOID WINAPI VeskAddVectoredExceptionHandler(ULONG first,
                                                    PVECTORED_EXCEPTION_HANDLER handler) {
    TAddVectoredExceptionHandler system =
        (TAddVectoredExceptionHandler)(void*)SystemFunction("AddVectoredExceptionHandler");
    return system ? system(first, handler) : NULL;
}

static ULONG WINAPI VeskRemoveVectoredExceptionHandler(PVOID handler) {
    TRemoveVectoredExceptionHandler system =
        (TRemoveVectoredExceptionHandler)(void*)SystemFunction("RemoveVectoredExceptionHandler");
    return system ? system(handler) : 0;
}

/* The import slots the runtime's calls go through, under the names the linker looks for. */
TGetTickCount64 VeskImportGetTickCount64 __asm__("__imp__GetTickCount64@0") = VeskGetTickCount64;
TAddVectoredExceptionHandler VeskImportAddVectoredExceptionHandler __asm__(
    "__imp__AddVectoredExceptionHandler@8") = VeskAddVectoredExceptionHandler;
TRemoveVectoredExceptionHandler VeskImportRemoveVectoredExceptionHandler __asm__(
    "__imp__RemoveVectoredExceptionHandler@4") = VeskRemoveVectoredExceptionHandler;
