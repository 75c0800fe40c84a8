// Routing: a message goes to the handler of its number (low 16 bits) in the most derived class's
// map, then its bases' maps in turn; 0, 0xC000 and up, and unlisted numbers: UnhandledMessage.
//
// One object owns one window: it registers the class, creates the window, routes every
// message to a handler chosen by message number, and takes window and class down again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "VeskError.h"
#include "VeskSystemError.h"

// What a handler receives; Result starts at 1 and is what the window procedure answers.
struct TVeskMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

struct TVeskCreateParams {
    DWORD Style;
    DWORD ExStyle;
    int X;
    int Y;
    int Width;
    int Height;
    HWND WndParent;
    HMENU Menu;
};

class TVeskWindow;

// A class's handlers, listed in one place; Base chains to the base class's map, so a
// message that the class does not handle falls through to its bases.
struct TVeskMessageEntry {
    UINT Key;
    void (*Handler)(TVeskWindow& window, TVeskMessage& message);
};

struct TVeskMessageMap {
    const TVeskMessageMap* Base;
    std::span<const TVeskMessageEntry> Entries;
};

// Routing uses the low 16 bits of the message number; 0 and the registered-message range
// from 0xC000 up never reach a handler.
template <UINT Msg> consteval UINT VeskMessageKey() {
    static_assert(Msg >= 1 && Msg < 0xC000, "a handler's message number must lie in 1..0xBFFF");
    return Msg;
}

template <class T, void (T::*Method)(TVeskMessage&)>
void VeskCallHandler(TVeskWindow& window, TVeskMessage& message) {
    (static_cast<T&>(window).*Method)(message);
}

// A class's message map, declared in one block inside the class:
//
//     VESK_BEGIN_MESSAGE_MAP(TMyWindow, TVeskWindow)
//         VESK_MESSAGE_HANDLER(WM_USER, WMUser)
//     VESK_END_MESSAGE_MAP()
//
// It makes both the class's map, chained to the named base's, and the override that routes to
// it, so that a class cannot declare one without the other.
// clang-format off
#define VESK_BEGIN_MESSAGE_MAP(Class, BaseClass)                                                   \
    static const TVeskMessageMap& ClassMessageMap() {                                              \
        using TMapClass = Class;                                                                   \
        static_assert(std::is_base_of_v<BaseClass, Class> && !std::is_same_v<BaseClass, Class>,    \
                      "a message map chains to a base class of its own class");                    \
        static const TVeskMessageMap* const base = &BaseClass::ClassMessageMap();                  \
        static const TVeskMessageEntry entries[] = {

#define VESK_MESSAGE_HANDLER(Msg, Method)                                                          \
            TVeskMessageEntry{VeskMessageKey<(Msg)>(),                                             \
                              &VeskCallHandler<TMapClass, &TMapClass::Method>},

#define VESK_END_MESSAGE_MAP()                                                                     \
        };                                                                                         \
        static const TVeskMessageMap map{base, entries};                                           \
        return map;                                                                                \
    }                                                                                              \
    const TVeskMessageMap& MessageMap() const override { return ClassMessageMap(); }
// clang-format on

class TVeskWindow {
public:
    std::string WindowName;
    std::string WindowClassName;
    HWND Handle = nullptr;

    TVeskWindow() = default;
    TVeskWindow(const TVeskWindow&) = delete;
    TVeskWindow& operator=(const TVeskWindow&) = delete;

    // Never throws. Normally the object is released through VeskFreeWindow, which reports a
    // failed DestroyWindow; this only takes down what an owner dropped without freeing it.
    virtual ~TVeskWindow();

    virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);

    static const TVeskMessageMap& ClassMessageMap();
    virtual const TVeskMessageMap& MessageMap() const { return ClassMessageMap(); }

protected:
    virtual void FillWindowClass(WNDCLASSA& windowClass);
    virtual void FillCreateParams(TVeskCreateParams& params);
    virtual void CreateHandle();
    virtual void DestroyHandle();
    virtual void UnhandledMessage(TVeskMessage& message);

    // The derived class's own set-up once the window exists, and its own release before
    // the window goes.
    virtual void AfterCreateHandle() {}
    virtual void BeforeDestroyHandle() {}

private:
    bool Released = false;

    // Detaches the object, destroys the window (Handle is 0 afterwards whatever the outcome)
    // and unregisters the class. False, with the thread's last error set and the class still
    // registered, when DestroyWindow failed; then a second call only unregisters the class.
    bool ReleaseHandle() noexcept;

    void Create();
    void Release();

    template <class T, class... A> friend std::unique_ptr<T> VeskCreateWindow(A&&... args);
    template <class T> friend void VeskFreeWindow(std::unique_ptr<T>& window);
};

// Construction in two steps, so that the most derived class's fields and virtual
// operations are in place when the window is made. On failure the half-built object is
// taken down (derived release, then DestroyHandle) and the failure goes on to the caller.
template <class T, class... A> std::unique_ptr<T> VeskCreateWindow(A&&... args) {
    std::unique_ptr<T> window(new T(std::forward<A>(args)...));
    window->Create();
    return window;
}

// Frees the object: derived release, then DestroyHandle. When DestroyWindow fails the
// failure reaches the caller and the object stays (Handle 0, class still registered);
// freeing it again completes the release.
template <class T> void VeskFreeWindow(std::unique_ptr<T>& window) {
    if (!window)
        return;
    window->Release();
    window.reset();
}

LRESULT CALLBACK VeskWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The thread's message pump: runs until the quit message is retrieved or fetching fails. A
// posted timer message that names a callback is dropped: this program sets none, and the
// system would call whatever address another program put there.
void RunMessageLoop();

// While it lives, the same protection for every other message loop of the creating thread
// (the system's own, such as a message box's): a timer message that names a callback is
// turned into WM_NULL as it is fetched.
class TVeskForeignTimerGuard {
public:
    TVeskForeignTimerGuard();
    ~TVeskForeignTimerGuard();
    TVeskForeignTimerGuard(const TVeskForeignTimerGuard&) = delete;
    TVeskForeignTimerGuard& operator=(const TVeskForeignTimerGuard&) = delete;

private:
    HHOOK Hook;
};

// The system's text for the calling thread's last error code, trimmed (VeskSystemErrorText).
std::string LastErrorText();
