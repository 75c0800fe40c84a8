/* VeskTrayClient: how a program finds a running VeskTrayServer and talks to it.
 *
 * Plain C, callable from C, C++ or any language that can call stdcall functions. Nothing
 * here raises: every function returns one of the VESK_TRAY_* codes below, and
 * VeskTrayErrorText gives a text for each. Every request waits at most its timeout.
 *
 * The server is found afresh by each call, among message-only windows only: a visible
 * window of the same class belongs to somebody else. */
#ifndef VESK_TRAY_CLIENT_H
#define VESK_TRAY_CLIENT_H

#include <windows.h>

/* Building the DLL exports the functions. A program that uses the DLL links its import
 * library and needs nothing more; it may define VESK_TRAY_CLIENT_DLL to call through
 * dllimport (one indirection less). Linked statically, both stay undefined. */
#if defined(VESK_TRAY_CLIENT_EXPORTS)
#define VESK_TRAY_API __declspec(dllexport)
#elif defined(VESK_TRAY_CLIENT_DLL)
#define VESK_TRAY_API __declspec(dllimport)
#else
#define VESK_TRAY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What the server and its clients agree on. */
#define VESK_TRAY_WINDOW_CLASS "VeskTrayServerWindow"
#define VESK_TRAY_REGION_NAME "VeskTrayServerSharedMemory"
#define VESK_TRAY_REGION_SIZE 17716
/* Requests are this message, with the request code in wParam and its argument in lParam. */
#define VESK_TRAY_CONTROL_MESSAGE WM_USER
#define VESK_TRAY_REQUEST_QUIT 0
#define VESK_TRAY_REQUEST_ADD_MONITOR 1
#define VESK_TRAY_REQUEST_REMOVE_MONITOR 2

/* Results of the functions below. */
#define VESK_TRAY_OK 0
#define VESK_TRAY_NO_SERVER 1        /* no server window exists (or it went meanwhile) */
#define VESK_TRAY_NO_ANSWER 2        /* the server did not answer within the timeout */
#define VESK_TRAY_STILL_RUNNING 3    /* the process did not end within the timeout */
#define VESK_TRAY_NO_REGION 4        /* the shared region does not exist */
#define VESK_TRAY_INVALID_ARGUMENT 5 /* a null result pointer */
#define VESK_TRAY_SYSTEM_ERROR 6     /* a system call failed; GetLastError tells which */

/* The server's control window, or NULL when no server is running. */
VESK_TRAY_API HWND WINAPI VeskTrayFindServer(void);

/* The id of the process that owns the server's window. */
VESK_TRAY_API int WINAPI VeskTrayGetServerProcessId(DWORD* processId);

/* Asks the server for an answer without any effect on it (WM_NULL). */
VESK_TRAY_API int WINAPI VeskTrayPing(DWORD timeoutMs);

/* Registers or unregisters a monitor with the server's hook library; *result receives what
 * the hook library returned, unchanged. */
VESK_TRAY_API int WINAPI VeskTrayAddMonitor(LONG value, DWORD timeoutMs, LONG* result);
VESK_TRAY_API int WINAPI VeskTrayRemoveMonitor(LONG value, DWORD timeoutMs, LONG* result);

/* Asks the server to quit; returns once it has answered, which is before it has ended. */
VESK_TRAY_API int WINAPI VeskTrayQuit(DWORD timeoutMs);

/* Waits until the process has ended; VESK_TRAY_OK also when it is gone already. */
VESK_TRAY_API int WINAPI VeskTrayWaitForProcessEnd(DWORD processId, DWORD timeoutMs);

/* Asks the server to quit and waits until its process has ended, each step within its
 * timeout. The process is held from before the request, so that its id cannot be taken by
 * another process meanwhile. *processId (may be NULL) receives the server's process id. */
VESK_TRAY_API int WINAPI VeskTrayQuitAndWait(DWORD answerTimeoutMs, DWORD endTimeoutMs,
                                             DWORD* processId);

/* The size the platform shows for the shared region, opened read-only: whole pages, so at
 * least VESK_TRAY_REGION_SIZE when the server made it, more when another process made it
 * larger first. */
VESK_TRAY_API int WINAPI VeskTrayGetRegionSize(SIZE_T* size);

/* A text for a result code (never NULL; static, not to be freed). */
VESK_TRAY_API const char* WINAPI VeskTrayErrorText(int code);

#ifdef __cplusplus
}
#endif

#endif /* VESK_TRAY_CLIENT_H */
