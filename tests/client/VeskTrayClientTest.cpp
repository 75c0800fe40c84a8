// The client library's C API, called from this process: finding the server, its answers,
// timeouts, the region's size, and the example program built from the README.
#include <gtest/gtest.h>

#include <set>

#include "VeskRecordingHook.h"
#include "ClientTestSupport.h"
#include "VeskTrayClient.h"

using namespace VeskTest;
using namespace VeskClientTest;

namespace {

TEST(VeskTrayClient, EveryResultCodeHasATextOfItsOwn) {
    std::set<std::string> texts;
    for (int code :
         {VESK_TRAY_OK, VESK_TRAY_NO_SERVER, VESK_TRAY_NO_ANSWER, VESK_TRAY_STILL_RUNNING,
          VESK_TRAY_NO_REGION, VESK_TRAY_INVALID_ARGUMENT, VESK_TRAY_SYSTEM_ERROR, -1, 7}) {
        ASSERT_NE(VeskTrayErrorText(code), nullptr) << code;
        texts.insert(VeskTrayErrorText(code));
    }
    // Every known code distinct; the two unknown ones share one text.
    EXPECT_EQ(texts.size(), 8u);
    EXPECT_STREQ(VeskTrayErrorText(VESK_TRAY_NO_SERVER), "VeskTrayServer is not running");
    EXPECT_STREQ(VeskTrayErrorText(VESK_TRAY_NO_ANSWER), "VeskTrayServer did not answer in time");
}

TEST(VeskTrayClient, WithoutAServerEveryCallSaysSoAndNullResultsAreRefused) {
    ASSERT_EQ(VeskTrayFindServer(), nullptr);
    LONG result = 77;
    DWORD id = 77;
    SIZE_T size = 77;
    EXPECT_EQ(VeskTrayAddMonitor(1, 1000, &result), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(VeskTrayRemoveMonitor(1, 1000, &result), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(result, 77);
    EXPECT_EQ(VeskTrayGetServerProcessId(&id), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(VeskTrayPing(1000), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(VeskTrayQuit(1000), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(VeskTrayQuitAndWait(1000, 1000, &id), VESK_TRAY_NO_SERVER);
    EXPECT_EQ(VeskTrayGetRegionSize(&size), VESK_TRAY_NO_REGION);
    EXPECT_EQ(size, 77u);

    EXPECT_EQ(VeskTrayAddMonitor(1, 1000, nullptr), VESK_TRAY_INVALID_ARGUMENT);
    EXPECT_EQ(VeskTrayRemoveMonitor(1, 1000, nullptr), VESK_TRAY_INVALID_ARGUMENT);
    EXPECT_EQ(VeskTrayGetServerProcessId(nullptr), VESK_TRAY_INVALID_ARGUMENT);
    EXPECT_EQ(VeskTrayGetRegionSize(nullptr), VESK_TRAY_INVALID_ARGUMENT);
}

TEST(VeskTrayClient, OnlyAMessageOnlyWindowOfTheClassIsTakenForTheServer) {
    TPoserWindow decoy(TPoser::VisibleTopLevel);
    EXPECT_EQ(VeskTrayFindServer(), nullptr);
    TPoserWindow answering(TPoser::Answering);
    EXPECT_EQ(VeskTrayFindServer(), answering.Handle());
    LONG result = 0;
    EXPECT_EQ(VeskTrayAddMonitor(5, 5000, &result), VESK_TRAY_OK);
    EXPECT_EQ(result, 1);
    DWORD id = 0;
    EXPECT_EQ(VeskTrayGetServerProcessId(&id), VESK_TRAY_OK);
    EXPECT_EQ(id, GetCurrentProcessId());
    EXPECT_EQ(VeskTrayPing(5000), VESK_TRAY_OK);
    EXPECT_EQ(VeskTrayQuit(5000), VESK_TRAY_OK);
    EXPECT_EQ(decoy.Requests(), 0);
    EXPECT_EQ(answering.Requests(), 3);
}

TEST(VeskTrayClient, AWindowThatNeverReadsItsMessagesGivesNoAnswerAfterTheTimeout) {
    TPoserWindow silent(TPoser::Silent);
    LONG result = 77;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(VeskTrayAddMonitor(1, 300, &result), VESK_TRAY_NO_ANSWER);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_EQ(result, 77);
    EXPECT_EQ(VeskTrayPing(100), VESK_TRAY_NO_ANSWER);
    EXPECT_EQ(VeskTrayQuitAndWait(100, 100, nullptr), VESK_TRAY_NO_ANSWER);
}

TEST(VeskTrayClient, WaitingForAProcessEndsWhenItEndsOrAtTheTimeout) {
    TProcess ended("\"" + BinDir() + "tests\\ShellStandIn.exe\"");
    const DWORD id = ended.Id();
    ASSERT_TRUE(ended.Wait().has_value());
    EXPECT_EQ(VeskTrayWaitForProcessEnd(id, 0), VESK_TRAY_OK);
    EXPECT_EQ(VeskTrayWaitForProcessEnd(GetCurrentProcessId(), 50), VESK_TRAY_STILL_RUNNING);
}

TEST(VeskTrayClient, TheRegionSizeIsWhatTheSystemShowsInWholePages) {
    const struct {
        DWORD Made;
        SIZE_T Shown;
    } cases[] = {{17716, 20480}, {65536, 65536}, {1, 4096}};
    for (const auto& c : cases) {
        HANDLE region = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, c.Made,
                                           VESK_TRAY_REGION_NAME);
        ASSERT_NE(region, nullptr);
        SIZE_T size = 0;
        EXPECT_EQ(VeskTrayGetRegionSize(&size), VESK_TRAY_OK) << c.Made;
        EXPECT_EQ(size, c.Shown) << c.Made;
        CloseHandle(region);
    }
    // Another kind of object holding the name is no region.
    HANDLE squatter = CreateEventA(nullptr, TRUE, FALSE, VESK_TRAY_REGION_NAME);
    SIZE_T size = 0;
    EXPECT_EQ(VeskTrayGetRegionSize(&size), VESK_TRAY_NO_REGION);
    CloseHandle(squatter);
}

TEST(VeskTrayClient, TheExampleProgramRegistersAndUnregistersAMonitorWithARealServer) {
    TServingFolder folder;
    WriteFileBytes(folder.Settings, StartModeSettings(1));
    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    const TRunResult run = RunProgram(BinDir() + "VeskTrayClientExample.exe", {"5"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, "AddMonitor(5) returned " +
                           std::to_string(VeskRecordingHook::AddMonitorResult(5)) +
                           "\nshared region: 20480 bytes\nRemoveMonitor(5) returned " +
                           std::to_string(VeskRecordingHook::RemoveMonitorResult(5)) + "\n");
    DWORD id = 0;
    EXPECT_EQ(VeskTrayQuitAndWait(5000, 10000, &id), VESK_TRAY_OK);
    EXPECT_EQ(id, server->Id());
    EXPECT_EQ(folder.Events(), "load InstallTrayHook AddMonitor RemoveMonitor UninstallTrayHook "
                               "unload");
    // Without a server the example says why and fails.
    const TRunResult alone = RunProgram(BinDir() + "VeskTrayClientExample.exe", {});
    EXPECT_EQ(alone.Exit, 1);
    EXPECT_EQ(alone.Err, "add monitor: VeskTrayServer is not running\n");
}

} // namespace
