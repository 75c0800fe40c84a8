#include "VeskWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <future>
#include <vector>

#include "VeskErrorBox.h"
#include "VeskTestSupport.h"

namespace {

using VeskTest::FailureOf;

constexpr UINT WM_BASE_ONLY = WM_USER + 10;
constexpr UINT WM_BOTH = WM_USER + 11;
constexpr UINT WM_DERIVED_ONLY = WM_APP + 1;
constexpr UINT WM_RAISE = WM_USER + 12;

// A base and a derived class that both handle WM_BOTH, to show which one wins.
class TBaseWindow : public TVeskWindow {
public:
    std::vector<UINT> Unhandled;
    std::vector<UINT> Handled;

    explicit TBaseWindow(const char* className = "VeskTestBaseWindow") {
        WindowClassName = className;
    }

    void WMBaseOnly(TVeskMessage& message) {
        Handled.push_back(message.Msg);
        message.Result = 10;
    }
    void WMBoth(TVeskMessage& message) { message.Result = 11; }
    void WMRaise(TVeskMessage&) { throw EVeskError("the handler gave up"); }

    VESK_BEGIN_MESSAGE_MAP(TBaseWindow, TVeskWindow)
    VESK_MESSAGE_HANDLER(WM_BASE_ONLY, WMBaseOnly)
    VESK_MESSAGE_HANDLER(WM_BOTH, WMBoth)
    VESK_MESSAGE_HANDLER(WM_RAISE, WMRaise)
    VESK_END_MESSAGE_MAP()

protected:
    void UnhandledMessage(TVeskMessage& message) override { Unhandled.push_back(message.Msg); }
};

class TDerivedWindow : public TBaseWindow {
public:
    int CreationMessages = 0;

    TDerivedWindow() : TBaseWindow("VeskTestDerivedWindow") {}

    void WMBoth(TVeskMessage& message) { message.Result = 21; }
    void WMDerivedOnly(TVeskMessage& message) { message.Result = 22; }
    void WMCreation(TVeskMessage&) { ++CreationMessages; }

    VESK_BEGIN_MESSAGE_MAP(TDerivedWindow, TBaseWindow)
    VESK_MESSAGE_HANDLER(WM_BOTH, WMBoth)
    VESK_MESSAGE_HANDLER(WM_DERIVED_ONLY, WMDerivedOnly)
    VESK_MESSAGE_HANDLER(WM_NCCREATE, WMCreation)
    VESK_MESSAGE_HANDLER(WM_CREATE, WMCreation)
    VESK_MESSAGE_HANDLER(WM_NCCALCSIZE, WMCreation)
    VESK_END_MESSAGE_MAP()
};

bool ClassRegistered(const char* name) {
    WNDCLASSA info;
    return GetClassInfoA(GetModuleHandleA(nullptr), name, &info) != 0;
}

std::string SystemText(DWORD code) {
    SetLastError(code);
    return LastErrorText();
}

// Refuses one kind of window event on this thread while it lives.
class TCbtRefusal {
public:
    explicit TCbtRefusal(int code) {
        Refused = code;
        Hook = SetWindowsHookExA(WH_CBT, Proc, nullptr, GetCurrentThreadId());
    }
    ~TCbtRefusal() { UnhookWindowsHookEx(Hook); }

private:
    static inline int Refused;
    static inline HHOOK Hook;
    static LRESULT CALLBACK Proc(int code, WPARAM wParam, LPARAM lParam) {
        return code == Refused ? 1 : CallNextHookEx(Hook, code, wParam, lParam);
    }
};

TEST(VeskWindowRouting, MostDerivedHandlerWinsAndBasesAreSearchedNext) {
    auto window = VeskCreateWindow<TDerivedWindow>();
    struct Case {
        UINT Msg;
        LRESULT Result;
    } cases[] = {
        {WM_BOTH, 21},                // both declare it: the derived one
        {WM_DERIVED_ONLY, 22},        // only the derived class
        {WM_BASE_ONLY, 10},           // falls through to the base
        {0x10000 | WM_BASE_ONLY, 10}, // only the low 16 bits are the key
        {WM_USER + 99, 1},            // nobody: answered 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(SendMessageA(window->Handle, c.Msg, 0, 0), c.Result) << std::hex << c.Msg;
    EXPECT_EQ(window->Unhandled, std::vector<UINT>{WM_USER + 99});
    VeskFreeWindow(window);
}

TEST(VeskWindowRouting, KeysZeroAndFromC000GoToUnhandledMessage) {
    auto window = VeskCreateWindow<TBaseWindow>();
    const UINT registered = RegisterWindowMessageA("VeskTestRegisteredMessage");
    ASSERT_GE(registered, 0xC000u);
    // 0x10000 has key 0; 0x1C000 + the base's key would route if the range were not cut.
    const UINT messages[] = {0, 0x10000, registered, 0xC000, 0xFFFF, 0x1C000 | WM_BASE_ONLY};
    for (UINT msg : messages)
        EXPECT_EQ(window->WindowProc(msg, 0, 0), 1) << std::hex << msg;
    EXPECT_EQ(window->Unhandled, std::vector<UINT>(std::begin(messages), std::end(messages)));
    EXPECT_TRUE(window->Handled.empty());
    VeskFreeWindow(window);
}

TEST(VeskWindowRouting, AttachedWindowNeverFallsBackToTheDefaultProcedure) {
    auto window = VeskCreateWindow<TBaseWindow>();
    EXPECT_EQ(SendMessageA(window->Handle, WM_CLOSE, 0, 0), 1);
    EXPECT_TRUE(IsWindow(window->Handle));
    // DefWindowProcA would take the title.
    EXPECT_EQ(SendMessageA(window->Handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("title")), 1);
    char title[16] = "unchanged";
    GetWindowTextA(window->Handle, title, sizeof title);
    EXPECT_STREQ(title, "");
    VeskFreeWindow(window);
}

TEST(VeskWindowRouting, MessagesDuringCreationNeverReachTheObject) {
    auto window = VeskCreateWindow<TDerivedWindow>();
    EXPECT_EQ(window->CreationMessages, 0);
    EXPECT_TRUE(window->Unhandled.empty());
    // The window is message-only, created with an empty title from the class set first.
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "VeskTestDerivedWindow", ""), window->Handle);
    char className[64];
    GetClassNameA(window->Handle, className, sizeof className);
    EXPECT_STREQ(className, "VeskTestDerivedWindow");
    VeskFreeWindow(window);
}

TEST(VeskWindowLifetime, FreeingTakesDownWindowAndClass) {
    auto window = VeskCreateWindow<TBaseWindow>();
    HWND handle = window->Handle;
    ASSERT_TRUE(IsWindow(handle));
    ASSERT_TRUE(ClassRegistered("VeskTestBaseWindow"));
    EXPECT_EQ(reinterpret_cast<TVeskWindow*>(GetWindowLongPtrA(handle, GWLP_USERDATA)),
              window.get());
    VeskFreeWindow(window);
    EXPECT_EQ(window, nullptr);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(ClassRegistered("VeskTestBaseWindow"));
}

TEST(VeskWindowFailures, ClassThatCannotBeRegistered) {
    WNDCLASSA squatter{};
    squatter.lpfnWndProc = DefWindowProcA;
    squatter.hInstance = GetModuleHandleA(nullptr);
    squatter.lpszClassName = "VeskTestBaseWindow";
    ASSERT_TRUE(RegisterClassA(&squatter));
    EXPECT_EQ(FailureOf([&] { VeskCreateWindow<TBaseWindow>(); }),
              "Could not register window class: " + SystemText(ERROR_CLASS_ALREADY_EXISTS));
    // The failed construction takes the class down with it, whoever registered it.
    EXPECT_FALSE(ClassRegistered("VeskTestBaseWindow"));
}

TEST(VeskWindowFailures, WindowThatCannotBeCreatedLeavesNoClassBehind) {
    std::string message;
    {
        TCbtRefusal refusal(HCBT_CREATEWND);
        try {
            VeskCreateWindow<TBaseWindow>();
        } catch (const EVeskError& failure) {
            message = failure.Text();
        }
    }
    const std::string prefix = "Could not create window: ";
    ASSERT_EQ(message.substr(0, prefix.size()), prefix) << message;
    EXPECT_EQ(message.substr(prefix.size()), VeskTrimErrorText(message.substr(prefix.size())));
    EXPECT_FALSE(ClassRegistered("VeskTestBaseWindow"));
}

TEST(VeskWindowFailures, WindowDestroyedFromOutsideFailsTheFreeAndASecondFreeCompletes) {
    auto window = VeskCreateWindow<TBaseWindow>();
    HWND handle = window->Handle;
    ASSERT_TRUE(DestroyWindow(handle));
    // What the system says when a dead window is destroyed (Wine and Windows differ).
    ASSERT_FALSE(DestroyWindow(handle));
    const std::string systemText = LastErrorText();
    EXPECT_EQ(FailureOf([&] { VeskFreeWindow(window); }),
              "Could not destroy window: " + systemText);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Handle, nullptr);
    EXPECT_TRUE(ClassRegistered("VeskTestBaseWindow"));
    VeskFreeWindow(window);
    EXPECT_EQ(window, nullptr);
    EXPECT_FALSE(ClassRegistered("VeskTestBaseWindow"));
}

TEST(VeskWindowFailures, RefusedDestructionFailsTheFreeAndASecondFreeCompletes) {
    auto window = VeskCreateWindow<TBaseWindow>();
    HWND handle = window->Handle;
    {
        TCbtRefusal refusal(HCBT_DESTROYWND);
        EXPECT_THROW(VeskFreeWindow(window), EVeskError);
    }
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Handle, nullptr);
    // Detached before DestroyWindow: the surviving window no longer reaches the object.
    EXPECT_EQ(GetWindowLongPtrA(handle, GWLP_USERDATA), 0);
    VeskFreeWindow(window);
    EXPECT_EQ(window, nullptr);
    // The class of a window that still exists cannot go; the second free ignores that.
    EXPECT_TRUE(IsWindow(handle));
    DestroyWindow(handle);
    UnregisterClassA("VeskTestBaseWindow", GetModuleHandleA(nullptr));
}

TEST(VeskWindowFailures, RaisingHandlerIsShownAnsweredZeroAndTheWindowCarriesOn) {
    auto window = VeskCreateWindow<TBaseWindow>();
    auto box = std::async(std::launch::async,
                          [] { return VeskTest::CloseMessageBox("Uncaught exception"); });
    EXPECT_EQ(SendMessageA(window->Handle, WM_RAISE, 0, 0), 0);
    const auto shown = box.get();
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->Text, "the handler gave up");
    EXPECT_EQ(shown->Owner, window->Handle);
    EXPECT_TRUE(shown->ExStyle & WS_EX_TOPMOST);
    EXPECT_EQ(SendMessageA(window->Handle, WM_BASE_ONLY, 0, 0), 10);
    VeskFreeWindow(window);
}

struct TBoxControls {
    std::vector<HICON> Icons;
    std::vector<int> Buttons;
};

BOOL CALLBACK CollectBoxControl(HWND child, LPARAM found) {
    auto& controls = *reinterpret_cast<TBoxControls*>(found);
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0) {
        if (HICON icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)))
            controls.Icons.push_back(icon);
    } else if (lstrcmpiA(name, "Button") == 0 && IsWindowVisible(child)) {
        controls.Buttons.push_back(GetDlgCtrlID(child));
    }
    return TRUE;
}

// Which icon and buttons a box shows can be read only in its own process: here, while another
// thread waits in the box.
TEST(VeskErrorBox, IsTopmostWithTheErrorIconAndOneOkButton) {
    auto shown = std::async(std::launch::async,
                            [] { VeskShowErrorBox(nullptr, "the text", "VeskTestErrorBox"); });
    HWND box = nullptr;
    ASSERT_TRUE(VeskTest::WaitUntil([&] {
        box = FindWindowA("#32770", "VeskTestErrorBox");
        return box && IsWindowVisible(box);
    }));
    EXPECT_TRUE(GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
    TBoxControls controls;
    EnumChildWindows(box, CollectBoxControl, reinterpret_cast<LPARAM>(&controls));
    // The system's shared icons are the same handles throughout one process.
    EXPECT_EQ(controls.Icons, std::vector<HICON>{LoadIconA(nullptr, IDI_ERROR)});
    EXPECT_EQ(controls.Buttons, std::vector<int>{IDOK});
    SendMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(shown.wait_for(std::chrono::seconds(20)), std::future_status::ready);
}

TEST(VeskWindowMessageLoop, DispatchesPostedMessagesUntilTheQuitMessage) {
    auto window = VeskCreateWindow<TBaseWindow>();
    PostMessageA(window->Handle, WM_BASE_ONLY, 0, 0);
    PostQuitMessage(0);
    RunMessageLoop();
    EXPECT_EQ(window->Handled.size(), 1u);
    // It can be entered again.
    PostMessageA(window->Handle, WM_BASE_ONLY, 0, 0);
    PostQuitMessage(0);
    RunMessageLoop();
    EXPECT_EQ(window->Handled.size(), 2u);
    VeskFreeWindow(window);
}

std::atomic<int> TimerCalls{0};
std::atomic<bool> MarkerSeen{false};

void CALLBACK CountTimerCall(HWND, UINT, UINT_PTR, DWORD) {
    ++TimerCalls;
}

LRESULT CALLBACK MarkerProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_APP)
        MarkerSeen = true;
    return DefWindowProcA(window, msg, wParam, lParam);
}

// A message box runs the system's own message loop, which the pump's filter never sees: the
// guard keeps a timer callback that another program posts while a box is up from being
// called. Without it, it is called (the same sequence shows that).
TEST(VeskWindowMessageLoop, TimerCallbacksPostedWhileABoxIsUpAreCalledOnlyWithoutTheGuard) {
    WNDCLASSA markerClass{};
    markerClass.lpfnWndProc = MarkerProc;
    markerClass.hInstance = GetModuleHandleA(nullptr);
    markerClass.lpszClassName = "VeskTestMarker";
    RegisterClassA(&markerClass);
    HWND marker = CreateWindowExA(0, "VeskTestMarker", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  markerClass.hInstance, nullptr);
    ASSERT_NE(marker, nullptr);
    const DWORD thread = GetCurrentThreadId();
    for (const bool guarded : {false, true}) {
        SCOPED_TRACE(guarded ? "with the guard" : "without the guard");
        TimerCalls = 0;
        MarkerSeen = false;
        std::optional<TVeskForeignTimerGuard> guard;
        if (guarded)
            guard.emplace();
        auto hostile = std::async(std::launch::async, [&] {
            HWND box = nullptr;
            if (!VeskTest::WaitUntil([&] {
                    box = FindWindowA("#32770", "VeskTestTimerBox");
                    return box && IsWindowVisible(box);
                }))
                return false;
            PostThreadMessageA(thread, WM_TIMER, 1, reinterpret_cast<LPARAM>(&CountTimerCall));
            // Posted messages are fetched in order: once the marker is handled, so was the timer.
            PostMessageA(marker, WM_APP, 0, 0);
            const bool fetched = VeskTest::WaitUntil([] { return MarkerSeen.load(); });
            SendMessageA(box, WM_COMMAND, IDOK, 0);
            return fetched;
        });
        MessageBoxA(nullptr, "a box", "VeskTestTimerBox", MB_OK);
        EXPECT_TRUE(hostile.get());
        EXPECT_EQ(TimerCalls.load(), guarded ? 0 : 1);
    }
    DestroyWindow(marker);
    UnregisterClassA("VeskTestMarker", markerClass.hInstance);
}

} // namespace
