#include "VeskWindow.h"

#include "VeskErrorBox.h"

namespace {

HINSTANCE ExecutableModule() {
    return GetModuleHandleA(nullptr);
}

TVeskWindow* AttachedObject(HWND hwnd) {
    return reinterpret_cast<TVeskWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

} // namespace

TVeskWindow::~TVeskWindow() {
    if (Released)
        return;
    // A window that would not go still has its class unregistered (which then fails).
    if (!ReleaseHandle())
        ReleaseHandle();
}

const TVeskMessageMap& TVeskWindow::ClassMessageMap() {
    static const TVeskMessageMap map{nullptr, {}};
    return map;
}

LRESULT TVeskWindow::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    TVeskMessage message{msg, wParam, lParam, 1};
    const UINT key = msg & 0xFFFF;
    if (key != 0 && key < 0xC000) {
        for (const TVeskMessageMap* map = &MessageMap(); map; map = map->Base) {
            for (const TVeskMessageEntry& entry : map->Entries) {
                if (entry.Key == key) {
                    entry.Handler(*this, message);
                    return message.Result;
                }
            }
        }
    }
    UnhandledMessage(message);
    return message.Result;
}

void TVeskWindow::FillWindowClass(WNDCLASSA& windowClass) {
    windowClass = {};
    windowClass.lpfnWndProc = VeskWindowProc;
    windowClass.hInstance = ExecutableModule();
    windowClass.lpszClassName = WindowClassName.c_str();
}

void TVeskWindow::FillCreateParams(TVeskCreateParams& params) {
    params = {};
    params.WndParent = HWND_MESSAGE;
}

void TVeskWindow::CreateHandle() {
    WNDCLASSA windowClass;
    FillWindowClass(windowClass);
    TVeskCreateParams params;
    FillCreateParams(params);

    if (!RegisterClassA(&windowClass)) {
        // 0 and ERROR_FILE_NOT_FOUND are left to window creation to judge: if the class
        // is really missing, creation fails with its own text.
        const DWORD code = GetLastError();
        if (code != 0 && code != ERROR_FILE_NOT_FOUND)
            throw EVeskError("Could not register window class: " + LastErrorText());
    }
    Handle = CreateWindowExA(params.ExStyle, windowClass.lpszClassName, WindowName.c_str(),
                             params.Style, params.X, params.Y, params.Width, params.Height,
                             params.WndParent, params.Menu, windowClass.hInstance, nullptr);
    if (!Handle)
        throw EVeskError("Could not create window: " + LastErrorText());
    // Attached only now: messages sent while the window is being created go to
    // DefWindowProcA and never reach a half-made object.
    SetWindowLongPtrA(Handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void TVeskWindow::DestroyHandle() {
    if (!ReleaseHandle())
        throw EVeskError("Could not destroy window: " + LastErrorText());
}

bool TVeskWindow::ReleaseHandle() noexcept {
    if (Handle) {
        // Detached first: the messages sent while the window goes reach DefWindowProcA.
        SetWindowLongPtrA(Handle, GWLP_USERDATA, 0);
        const BOOL destroyed = DestroyWindow(Handle);
        Handle = nullptr;
        if (!destroyed)
            return false;
    }
    UnregisterClassA(WindowClassName.c_str(), ExecutableModule());
    return true;
}

void TVeskWindow::UnhandledMessage(TVeskMessage&) {}

void TVeskWindow::Create() {
    try {
        CreateHandle();
        AfterCreateHandle();
    } catch (...) {
        try {
            Release();
        } catch (const EVeskError&) {
            // The creation failure is the one the creator must see.
        }
        throw;
    }
}

void TVeskWindow::Release() {
    BeforeDestroyHandle();
    DestroyHandle();
    Released = true;
}

LRESULT CALLBACK VeskWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // No failure may leave through the system's call: it is shown and answered 0.
    try {
        TVeskWindow* window = AttachedObject(hwnd);
        if (!window)
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        return window->WindowProc(msg, wParam, lParam);
    } catch (const std::exception& failure) {
        VeskShowErrorBox(hwnd, failure.what(), "Uncaught exception");
        return 0;
    } catch (...) {
        VeskShowErrorBox(hwnd, "Unknown failure", "Uncaught exception");
        return 0;
    }
}

namespace {

constexpr UINT SystemTimerMessage = 0x0118; // WM_SYSTIMER, which the SDK headers leave out

// DispatchMessageA calls the address in a timer message's lParam without asking whether this
// thread set that callback (Windows 2000 and XP as first shipped, and Wine): any program on
// the desktop could post one and have us run code of its choosing. We set no timer
// callbacks, so a timer message that names one is never ours.
bool NamesForeignTimerCallback(const MSG& message) {
    return (message.message == WM_TIMER || message.message == SystemTimerMessage) &&
           message.lParam != 0;
}

LRESULT CALLBACK NeutraliseForeignTimers(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG& message = *reinterpret_cast<MSG*>(lParam);
        if (NamesForeignTimerCallback(message))
            message.message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

TVeskForeignTimerGuard::TVeskForeignTimerGuard()
    : Hook(SetWindowsHookExA(WH_GETMESSAGE, NeutraliseForeignTimers, nullptr,
                             GetCurrentThreadId())) {}

TVeskForeignTimerGuard::~TVeskForeignTimerGuard() {
    if (Hook)
        UnhookWindowsHookEx(Hook);
}

void RunMessageLoop() {
    MSG message;
    // 0 is the quit message, -1 a failure to fetch: both end the loop.
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (NamesForeignTimerCallback(message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string LastErrorText() {
    return VeskSystemErrorText(GetLastError());
}
