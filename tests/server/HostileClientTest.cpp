// Another program on the same desktop sends and posts the real server what a hostile or
// buggy program would; after each message the server still serves, calls nothing it should
// not, and in the end quits cleanly.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"

using namespace VeskTest;

namespace {

constexpr UINT SystemTimer = 0x0118; // WM_SYSTIMER

enum class TDelivery { Send, Post, PostToThread };

// What lParam carries: a plain number, or the address of a function in the server's process
// that records being called.
enum class TArgument { Number, RecordingCallback };

struct THostileMessage {
    const char* What;
    TDelivery Delivery;
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    TArgument Argument = TArgument::Number;
};

const LPARAM Bogus = static_cast<LPARAM>(0x10);
const WPARAM HugeW = static_cast<WPARAM>(~static_cast<WPARAM>(0));
const LPARAM HugeL = static_cast<LPARAM>(~static_cast<WPARAM>(0) >> 1);

const THostileMessage HostileMessages[] = {
    // The system calls a timer message's lParam as a callback when it is dispatched.
    {"timer naming a callback", TDelivery::Post, WM_TIMER, 1, 0, TArgument::RecordingCallback},
    {"system timer naming a callback", TDelivery::Post, SystemTimer, 1, 0,
     TArgument::RecordingCallback},
    {"thread timer naming a callback", TDelivery::PostToThread, WM_TIMER, 1, 0,
     TArgument::RecordingCallback},
    {"timer naming a bogus callback", TDelivery::Post, WM_TIMER, 7, Bogus},
    {"system timer naming a bogus callback", TDelivery::PostToThread, SystemTimer, 7, Bogus},
    {"timer without callback", TDelivery::Post, WM_TIMER, 7, 0},
    // Messages whose lParam is a pointer in the sender's address space.
    {"posted text with a bogus pointer", TDelivery::Post, WM_SETTEXT, 0, Bogus},
    {"posted text request with a bogus buffer", TDelivery::Post, WM_GETTEXT, 64, Bogus},
    {"posted copy data with a bogus pointer", TDelivery::Post, WM_COPYDATA, 0, Bogus},
    {"creation data with a bogus pointer", TDelivery::Post, WM_NCCREATE, 0, Bogus},
    {"window position with a bogus pointer", TDelivery::Post, WM_WINDOWPOSCHANGED, 0, Bogus},
    {"request-range message with a bogus pointer", TDelivery::Send, WM_USER + 1, 0, Bogus},
    {"application message with a bogus pointer", TDelivery::Send, WM_APP, 0, Bogus},
    // The window's lifecycle, from outside.
    {"close", TDelivery::Send, WM_CLOSE, 0, 0},
    {"destroy", TDelivery::Send, WM_DESTROY, 0, 0},
    {"final destroy", TDelivery::Send, WM_NCDESTROY, 0, 0},
    {"posted destroy", TDelivery::Post, WM_DESTROY, 0, 0},
    {"end of session", TDelivery::Send, WM_ENDSESSION, TRUE, 0},
    {"query end of session", TDelivery::Send, WM_QUERYENDSESSION, 0, 0},
    {"hide", TDelivery::Send, WM_SHOWWINDOW, FALSE, 0},
    // Numbers no request has.
    {"unknown request, huge parameters", TDelivery::Send, WM_USER, HugeW, HugeL},
    {"posted unknown request, huge parameters", TDelivery::Post, WM_USER, HugeW, HugeL},
    {"registered-range message", TDelivery::Send, 0xC123, HugeW, HugeL},
    {"message above the registered range", TDelivery::Post, 0x12345678, HugeW, HugeL},
};

class HostileClient : public ::testing::Test {
protected:
    TEnvironmentVariable Fixture{VeskRecordingHook::FixtureVariable,
                                 VeskRecordingHook::TimerCallbackFixture};
    TEnvironmentVariable Install{VeskRecordingHook::InstallVariable, ""};
    TServerFolder Folder{THook::Recording, StartModeSettings(1)};
    std::unique_ptr<TProcess> Server;
    HWND Window = nullptr;
    LPARAM Callback = 0;

    void SetUp() override {
        Server = Folder.Start();
        ASSERT_TRUE(WaitUntil([&] { return (Window = FindControlWindow()) != nullptr; }));
        const auto calls = Folder.Calls();
        ASSERT_FALSE(calls.empty());
        ASSERT_EQ(calls[1].Event, "TimerCallbackAt");
        Callback = static_cast<LPARAM>(std::stoull(calls[1].Argument, nullptr, 16));
    }

    // The hook library's answer to a request sent now; nothing when the server did not answer.
    std::optional<LRESULT> Add(LPARAM value) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(Window, WM_USER, 1, value, SMTO_ABORTIFHUNG, 10000, &result))
            return std::nullopt;
        return static_cast<LRESULT>(result);
    }

    // Posted messages are taken in order: once a request posted after the message has reached
    // the hook library, the message has been through the server's loop.
    bool PostedThrough(LPARAM marker) {
        if (!PostMessageA(Window, WM_USER, 1, marker))
            return false;
        return WaitUntil([&] {
            for (const THookCall& call : Folder.Calls())
                if (call.Event == "AddMonitor" && call.Argument == std::to_string(marker))
                    return true;
            return false;
        });
    }
};

TEST_F(HostileClient, ServerServesOnAndCallsNoForeignCodeAfterEachHostileMessage) {
    const DWORD thread = GetWindowThreadProcessId(Window, nullptr);
    int requests = 0;
    for (const THostileMessage& m : HostileMessages) {
        SCOPED_TRACE(m.What);
        const LPARAM lParam = m.Argument == TArgument::RecordingCallback ? Callback : m.LParam;
        switch (m.Delivery) {
        case TDelivery::Send: {
            DWORD_PTR ignored;
            SendMessageTimeoutA(Window, m.Msg, m.WParam, lParam, SMTO_ABORTIFHUNG, 10000, &ignored);
            break;
        }
        case TDelivery::Post:
            // The system may refuse to post a message that carries a pointer; that is fine.
            PostMessageA(Window, m.Msg, m.WParam, lParam);
            break;
        case TDelivery::PostToThread:
            PostThreadMessageA(thread, m.Msg, m.WParam, lParam);
            break;
        }
        const LPARAM marker = 1000 + requests;
        ASSERT_TRUE(PostedThrough(marker)) << "the server no longer takes posted requests";
        ASSERT_EQ(Add(marker + 1000), VeskRecordingHook::AddMonitorResult(marker + 1000))
            << "the server no longer answers";
        requests += 2;
        ASSERT_EQ(FindControlWindow(), Window);
    }
    EXPECT_EQ(SendMessageA(Window, WM_USER, 0, 0), 1);
    EXPECT_EQ(Server->Wait(), 0u);

    std::string expected = "load TimerCallbackAt InstallTrayHook";
    for (int i = 0; i < requests; ++i)
        expected += " AddMonitor";
    EXPECT_EQ(Folder.Events(), expected + " UninstallTrayHook unload");
}

} // namespace
