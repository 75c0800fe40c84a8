// The control window as its clients see it: another process sends it requests.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"
#include "VeskTrayServerInterface.h"
#include "VeskTrayServerWindow.h"

using namespace VeskTest;

namespace {

// A control window in a host process of its own, with the recording hook library.
class ControlWindow : public ::testing::Test {
protected:
    TScratchDir Scratch;
    std::string Log = Scratch.File("hook.log");
    TEnvironmentVariable LogSetting{VeskRecordingHook::LogVariable, Log};
    std::unique_ptr<TProcess> Host;
    HWND Window = nullptr;

    void Start() {
        const std::string eventName = "VeskTestReady-" + std::to_string(GetCurrentProcessId());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
        JoinDesktop();
        const std::string host = BinDir() + "recording\\ControlWindowHost.exe";
        Host = std::make_unique<TProcess>(host + " " + eventName);
        const DWORD waited = WaitForSingleObject(ready, 20000);
        CloseHandle(ready);
        ASSERT_EQ(waited, WAIT_OBJECT_0) << "the host did not come up";
        Window = FindControlWindow();
        ASSERT_NE(Window, nullptr);
    }

    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR result = 0;
        EXPECT_TRUE(
            SendMessageTimeoutA(Window, msg, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result));
        return static_cast<LRESULT>(result);
    }

    void Quit() {
        EXPECT_EQ(Send(WM_USER, 0, 0), 1);
        EXPECT_EQ(Host->Wait(), 0u);
    }
};

// The size the platform shows for the named region, 0 when there is none.
SIZE_T RegionSize() {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, VeskTraySharedRegionName);
    if (!mapping)
        return 0;
    SIZE_T size = 0;
    if (void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(view, &info, sizeof info))
            size = info.RegionSize;
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return size;
}

TEST_F(ControlWindow, MonitorRequestsReachTheHookUnchangedAndItsResultsComeBack) {
    Start();
    const LPARAM values[] = {0, 1, -1, 0x12345678, INT_MIN, INT_MAX};
    std::string expectedLog = "load";
    for (LPARAM value : values) {
        EXPECT_EQ(Send(WM_USER, 1, value), VeskRecordingHook::AddMonitorResult(value)) << value;
        EXPECT_EQ(Send(WM_USER, 2, value), VeskRecordingHook::RemoveMonitorResult(value)) << value;
        expectedLog += " AddMonitor RemoveMonitor";
    }
    Quit();
    const auto calls = ReadHookLog(Log);
    EXPECT_EQ(HookEvents(calls), expectedLog + " UninstallTrayHook unload");
    for (size_t i = 0; i < std::size(values); ++i) {
        const THookCall& add = calls[1 + 2 * i];
        EXPECT_EQ(add.Argument, std::to_string(static_cast<int>(values[i])));
        EXPECT_EQ(add.Result,
                  std::to_string(static_cast<int>(VeskRecordingHook::AddMonitorResult(values[i]))));
        EXPECT_EQ(calls[2 + 2 * i].Argument, std::to_string(static_cast<int>(values[i])));
    }
}

TEST_F(ControlWindow, OtherRequestsAndMessagesCallNothingAndAreAnsweredOne) {
    Start();
    struct Case {
        UINT Msg;
        WPARAM WParam;
    } cases[] = {{WM_USER, 3},     {WM_USER, 0xFFFFFFFF}, {WM_USER + 1, 1},
                 {WM_USER + 2, 0}, {WM_CLOSE, 0},         {WM_APP, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(Send(c.Msg, c.WParam, 77), 1) << std::hex << c.Msg << " " << c.WParam;
    // WM_CLOSE did not take the window down, and requests are still served.
    EXPECT_EQ(FindControlWindow(), Window);
    EXPECT_EQ(Send(WM_USER, 1, 5), VeskRecordingHook::AddMonitorResult(5));
    Quit();
    EXPECT_EQ(HookEvents(ReadHookLog(Log)), "load AddMonitor UninstallTrayHook unload");
}

// A 32-bit server sees only the low 32 bits of a 64-bit client's wParam and lParam; the
// 64-bit server takes them the same way, and widens the hook's result by its sign.
TEST_F(ControlWindow, OnlyTheLow32BitsOfARequestCountAndResultsAreSignExtended) {
    if (sizeof(WPARAM) < 8)
        GTEST_SKIP() << "a 32-bit message has no high half";
    Start();
    const auto wide = [](unsigned long long v) { return static_cast<WPARAM>(v); };
    struct Case {
        WPARAM WParam;
        LPARAM LParam;
        LRESULT Result;
    } cases[] = {
        {wide(0x100000001ull), 5, VeskRecordingHook::AddMonitorResult(5)},
        {wide(0xFFFFFFFF00000002ull), static_cast<LPARAM>(wide(0x780000001ull)),
         VeskRecordingHook::RemoveMonitorResult(static_cast<std::int32_t>(0x80000001u))},
        {wide(0x100000003ull), 0, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Send(WM_USER, c.WParam, c.LParam), c.Result) << std::hex << c.WParam;
    // Request 0 with a high half is still quit.
    EXPECT_EQ(Send(WM_USER, wide(0x100000000ull), 0), 1);
    EXPECT_EQ(Host->Wait(), 0u);
    const auto calls = ReadHookLog(Log);
    ASSERT_EQ(HookEvents(calls), "load AddMonitor RemoveMonitor UninstallTrayHook unload");
    EXPECT_EQ(calls[2].Argument, std::to_string(static_cast<std::int32_t>(0x80000001u)));
}

TEST_F(ControlWindow, QuitIsAnsweredThenTheWindowAndRegionGo) {
    Start();
    // The platform shows the region in whole pages.
    EXPECT_GE(RegionSize(), VeskTraySharedRegionSize);
    EXPECT_EQ(RegionSize() % 4096, 0u);
    Quit();
    EXPECT_EQ(FindControlWindow(), nullptr);
    EXPECT_EQ(RegionSize(), 0u);
}

TEST_F(ControlWindow, RegionMadeEarlierByAnotherProcessIsOpenedNotReplaced) {
    HANDLE mine = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536,
                                     VeskTraySharedRegionName);
    ASSERT_NE(mine, nullptr);
    char* view = static_cast<char*>(MapViewOfFile(mine, FILE_MAP_WRITE, 0, 0, 0));
    view[0] = 'V';
    UnmapViewOfFile(view);
    Start();
    // Only the host keeps it now: it still has our size and our byte.
    CloseHandle(mine);
    EXPECT_EQ(RegionSize(), 65536u);
    HANDLE again = OpenFileMappingA(FILE_MAP_READ, FALSE, VeskTraySharedRegionName);
    ASSERT_NE(again, nullptr);
    const char* seen = static_cast<const char*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 1));
    EXPECT_EQ(seen[0], 'V');
    UnmapViewOfFile(seen);
    CloseHandle(again);
    Quit();
}

TEST_F(ControlWindow, ServesWithoutTheRegionWhenItsNameIsTaken) {
    // An object of another kind holds the name, so no mapping of it can be made.
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, VeskTraySharedRegionName);
    ASSERT_NE(squatter, nullptr);
    Start();
    EXPECT_EQ(Send(WM_USER, 1, 9), VeskRecordingHook::AddMonitorResult(9));
    EXPECT_EQ(Send(WM_USER + 1, 0, 0), 1);
    Quit();
    CloseHandle(squatter);
}

TEST(SharedRegion, OpenFailureLeavesNothingAndCloseTwiceDoesNothing) {
    TVeskHandle mapping;
    TVeskMappedView view;
    {
        HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, VeskTraySharedRegionName);
        EXPECT_FALSE(OpenSharedRegion(mapping, view));
        EXPECT_FALSE(mapping.Valid());
        EXPECT_FALSE(view.Valid());
        CloseHandle(squatter);
    }
    ASSERT_TRUE(OpenSharedRegion(mapping, view));
    EXPECT_TRUE(mapping.Valid());
    ASSERT_TRUE(view.Valid());
    static_cast<char*>(view.Get())[VeskTraySharedRegionSize - 1] = 1; // the whole size is mapped
    CloseSharedRegion(mapping, view);
    EXPECT_FALSE(mapping.Valid());
    EXPECT_FALSE(view.Valid());
    CloseSharedRegion(mapping, view);
    EXPECT_EQ(RegionSize(), 0u);
}

TEST(HookLibrary, MissingLibraryAndMissingEntryPointFailWithTheirTexts) {
    // This test program has no library beside it; the three-name one lacks RemoveMonitor.
    TVeskTrayHookLibrary library;
    EXPECT_EQ(FailureOf([&] { library.Load(); }), "Could not load hook library!");
    EXPECT_FALSE(library.IsHeld());

    TScratchDir scratch;
    TEnvironmentVariable log(VeskRecordingHook::LogVariable, scratch.File("hook.log"));
    {
        THookLibraryFolder threeNames("three-names");
        EXPECT_EQ(FailureOf([&] { library.Load(); }), "Invalid or corrupted hook DLL!");
    }
    EXPECT_FALSE(library.IsHeld());
    EXPECT_EQ(HookEvents(ReadHookLog(scratch.File("hook.log"))), "load unload");
}

TEST(HookLibrary, OnlyTheLowByteOfTheInstallResultCounts) {
    TScratchDir scratch;
    TEnvironmentVariable log(VeskRecordingHook::LogVariable, scratch.File("hook.log"));
    TEnvironmentVariable results(VeskRecordingHook::InstallVariable, "0x100,0x1,0xFFFFFF00,0x80");
    {
        THookLibraryFolder recording("recording");
        TVeskTrayHookLibrary library;
        library.Load();
        EXPECT_FALSE(library.InstallTrayHook());
        EXPECT_TRUE(library.InstallTrayHook());
        EXPECT_FALSE(library.InstallTrayHook());
        EXPECT_TRUE(library.InstallTrayHook());
    }
    EXPECT_EQ(HookEvents(ReadHookLog(scratch.File("hook.log"))),
              "load InstallTrayHook InstallTrayHook InstallTrayHook InstallTrayHook unload");
}

} // namespace
