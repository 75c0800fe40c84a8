// The real VeskTrayServer.exe, run as a process of its own from a scratch folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"
#include "VeskWindow.h"

using namespace VeskTest;

namespace {

std::string SystemText(DWORD code) {
    SetLastError(code);
    return LastErrorText();
}

std::string Hex(const std::string& bytes) {
    std::string hex;
    char digits[3];
    for (unsigned char c : bytes) {
        snprintf(digits, sizeof digits, "%02x", c);
        hex += digits;
    }
    return hex;
}

size_t CountEvents(const std::vector<THookCall>& calls, const std::string& event) {
    return std::count_if(calls.begin(), calls.end(),
                         [&](const THookCall& call) { return call.Event == event; });
}

HWND WaitForWindow() {
    HWND window = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (window = FindControlWindow()) != nullptr; }));
    return window;
}

LRESULT Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(window, msg, wParam, lParam, SMTO_NORMAL, 20000, &result));
    return static_cast<LRESULT>(result);
}

void QuitAndExpectCleanEnd(HWND window, TProcess& server) {
    EXPECT_EQ(Send(window, WM_USER, 0, 0), 1);
    EXPECT_EQ(server.Wait(), 0u);
}

// The box's text once it is up, after pressing its OK.
std::string BoxText() {
    const auto box = CloseMessageBox("VeskTrayServer");
    return box ? box->Text : "<no box>";
}

class VeskTrayServer : public ::testing::Test {
protected:
    // Each test sets what it needs; nothing leaks from the machine's environment.
    TEnvironmentVariable InstallSetting{VeskRecordingHook::InstallVariable, ""};
    TEnvironmentVariable FixtureSetting{VeskRecordingHook::FixtureVariable, ""};
};

struct TStartupFailure {
    const char* Name;
    THook Hook;
    const char* Fixture;
    std::optional<std::string> SettingsFile;
    std::string Box; // the exact text, or its beginning when BoxIsPrefix
    bool BoxIsPrefix;
    const char* EventsAtBox; // what the library had seen when the box came up
    const char* EventsAtEnd;
    std::optional<std::string> SettingsAfter; // nothing: no file at all
};

TEST_F(VeskTrayServer, EachStartupFailureIsReportedInTheOneBoxAndEndsWithCodeZero) {
    const std::string notInstalled = "Error: VeskTrayServer is not properly installed!";
    const std::string unnormalised = SettingsBytes({"[VeskTrayServer]", "Registration Method=1"});
    const std::string modeThree = SettingsBytes({"[VeskTrayServer]", "Registration Method=3"});
    const char* held = "load UninstallTrayHook unload";
    const TStartupFailure cases[] = {
        {"no hook library", THook::None, "", unnormalised, "Error: Could not load hook library!",
         false, "", "", unnormalised},
        {"an entry point missing", THook::ThreeNames, "", unnormalised,
         "Error: Invalid or corrupted hook DLL!", false, "load unload", "load unload",
         unnormalised},
        {"class cannot be registered", THook::Recording, VeskRecordingHook::RegisterClassFixture,
         unnormalised,
         "Error: Could not register window class: " + SystemText(ERROR_CLASS_ALREADY_EXISTS), false,
         held, held, unnormalised},
        {"window cannot be created", THook::Recording, VeskRecordingHook::RefuseCreateFixture,
         unnormalised, "Error: Could not create window: ", true, held, held, unnormalised},
        {"start mode neither 1 nor 2", THook::Recording, "", modeThree, notInstalled, false, held,
         held, StartModeSettings(3)},
        {"no settings file", THook::Recording, "", std::nullopt, notInstalled, false, held, held,
         StartModeSettings(0)},
    };
    for (const TStartupFailure& c : cases) {
        SCOPED_TRACE(c.Name);
        TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable, c.Fixture);
        TServerFolder folder(c.Hook, c.SettingsFile);
        auto server = folder.Start();
        const auto box = CloseMessageBox("VeskTrayServer");
        ASSERT_TRUE(box.has_value());
        const std::string eventsAtBox = folder.Events();
        if (c.BoxIsPrefix) {
            EXPECT_EQ(box->Text.substr(0, c.Box.size()), c.Box);
        } else {
            EXPECT_EQ(box->Text, c.Box);
        }
        EXPECT_EQ(box->Owner, nullptr);
        // System-modal boxes are the topmost ones.
        EXPECT_TRUE(box->ExStyle & WS_EX_TOPMOST);
        EXPECT_EQ(server->Wait(), 0u);
        EXPECT_EQ(eventsAtBox, c.EventsAtBox);
        EXPECT_EQ(folder.Events(), c.EventsAtEnd);
        if (c.SettingsAfter) {
            EXPECT_EQ(ReadFileBytes(folder.Settings), *c.SettingsAfter);
        } else {
            EXPECT_EQ(GetFileAttributesA(folder.Settings.c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
}

TEST_F(VeskTrayServer, WindowIsGoneWhileTheBoxIsUp) {
    TServerFolder folder(THook::Recording, std::nullopt);
    auto server = folder.Start();
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("#32770", "VeskTrayServer") != nullptr; }));
    // No request can reach the hook library while the box is up.
    EXPECT_EQ(FindControlWindow(), nullptr);
    EXPECT_EQ(BoxText(), "Error: VeskTrayServer is not properly installed!");
    EXPECT_EQ(server->Wait(), 0u);
}

TEST_F(VeskTrayServer, WindowThatCannotBeDestroyedAtShutdownIsReportedAndReleased) {
    TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable,
                                 VeskRecordingHook::RefuseDestroyFixture);
    TServerFolder folder(THook::Recording, StartModeSettings(1));
    auto server = folder.Start();
    HWND window = WaitForWindow();
    EXPECT_EQ(Send(window, WM_USER, 0, 0), 1);
    const std::string prefix = "Error: Could not destroy window: ";
    EXPECT_EQ(BoxText().substr(0, prefix.size()), prefix);
    EXPECT_EQ(server->Wait(), 0u);
    EXPECT_EQ(folder.Events(), "load InstallTrayHook UninstallTrayHook unload");
}

// The failure's text lives in the hook library's memory; the box must still show it after
// the library is released, and an entry point that raised is not called a second time.
TEST_F(VeskTrayServer, HookLibraryThatRaisesGivesTheBoxWithItsTextAndEndsWithCodeZero) {
    // MinGW's 32-bit unwinder (DWARF-2) cannot leave a library that links its own runtime:
    // that runtime ends the process before the server sees anything. 64-bit unwinding goes
    // through the system and reaches the server.
    if (sizeof(void*) == 4)
        GTEST_SKIP() << "a 32-bit hook library's exception never reaches the server";
    struct Case {
        const char* Fixture;
        bool Quit; // the failure comes at shutdown, after a quit request
        const char* Box;
    } cases[] = {
        {VeskRecordingHook::InstallThrowsFixture, false,
         "Error: InstallTrayHook raised in the hook library"},
        {VeskRecordingHook::UninstallThrowsFixture, true,
         "Error: UninstallTrayHook raised in the hook library"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Fixture);
        TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable, c.Fixture);
        TServerFolder folder(THook::Recording, StartModeSettings(1));
        auto server = folder.Start();
        if (c.Quit) {
            EXPECT_EQ(Send(WaitForWindow(), WM_USER, 0, 0), 1);
        }
        EXPECT_EQ(BoxText(), c.Box);
        EXPECT_EQ(server->Wait(), 0u);
        EXPECT_EQ(folder.Events(), "load InstallTrayHook UninstallTrayHook unload");
    }
}

TEST(VeskTrayServerProgram, CarriesAVersionResourceAndAManifest) {
    const std::string exe = BinDir() + "VeskTrayServer.exe";
    DWORD ignored = 0;
    std::string info(GetFileVersionInfoSizeA(exe.c_str(), &ignored), '\0');
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    for (const char* name : {"ProductName", "ProductVersion", "FileVersion", "FileDescription"}) {
        char* value = nullptr;
        UINT length = 0;
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        EXPECT_TRUE(
            VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
            length > 1)
            << name;
    }
    HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)), nullptr);
    FreeLibrary(image);
}

TEST_F(VeskTrayServer, StartModeOneServesEvenWhenTheHookIsNotInstalledAndQuitsInOrder) {
    TEnvironmentVariable install(VeskRecordingHook::InstallVariable, "0");
    TServerFolder folder(THook::Recording,
                         SettingsBytes({"[VeskTrayServer]", "Registration Method=$1"}));
    auto server = folder.Start();
    HWND window = WaitForWindow();
    EXPECT_EQ(Send(window, WM_USER, 1, INT_MIN), VeskRecordingHook::AddMonitorResult(INT_MIN));
    EXPECT_EQ(Send(window, WM_USER, 2, -2), VeskRecordingHook::RemoveMonitorResult(-2));
    EXPECT_EQ(Send(window, WM_USER, 3, 1), 1);
    EXPECT_EQ(Send(window, WM_USER, 0xFFFFFFFF, 1), 1);
    EXPECT_EQ(Send(window, WM_USER + 1, 0, 0), 1);
    QuitAndExpectCleanEnd(window, *server);
    EXPECT_EQ(FindControlWindow(), nullptr);
    const auto calls = folder.Calls();
    EXPECT_EQ(HookEvents(calls),
              "load InstallTrayHook AddMonitor RemoveMonitor UninstallTrayHook unload");
    EXPECT_EQ(calls[1].Result, "0");
    EXPECT_EQ(calls[2].Argument, std::to_string(INT_MIN));
    // Read as 1 and written back in the server's own layout.
    EXPECT_EQ(ReadFileBytes(folder.Settings),
              SettingsBytes({"[VeskTrayServer]", "Registration Method = $1"}));
}

// A file in another encoding reads as nothing and is rewritten as nothing; what the user
// wrote in it is kept, byte for byte, as the backup beside it (replacing an earlier one).
TEST_F(VeskTrayServer, SettingsThatDoNotSayOneOrTwoGiveStartModeZero) {
    const std::string utf8 = "\xEF\xBB\xBF[Other]\r\nName = Z\xC3\xBCrich\r\n[VeskTrayServer]\r\n"
                             "Registration Method = 1\r\n";
    const std::string ansi = "; mine\r\n[VeskTrayServer]\r\nRegistration Method = 1\r\n"
                             "[Other]\r\nName = Z\xFCrich\r\n";
    struct Case {
        const char* Name;
        std::string Content;
        std::string After;
        bool Kept; // the old bytes are kept as the backup
    } cases[] = {
        {"key in another letter case", SettingsBytes({"[VeskTrayServer]", "registration method=1"}),
         SettingsBytes({"[VeskTrayServer]", "registration method = 1", "Registration Method = 0"}),
         false},
        {"quoted value", SettingsBytes({"[VeskTrayServer]", "Registration Method=\"1\""}),
         StartModeSettings(0), false},
        {"no byte-order mark",
         SettingsBytes({"[VeskTrayServer]", "Registration Method = 1"}, false),
         StartModeSettings(0), true},
        {"8-bit text", "[VeskTrayServer]\r\nRegistration Method = 1\r\n", StartModeSettings(0),
         true},
        {"UTF-8 from an editor, other sections", utf8, StartModeSettings(0), true},
        {"ANSI from an editor, other sections", ansi, StartModeSettings(0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TServerFolder folder(THook::Recording, c.Content);
        const std::string backup = folder.Settings + ".bak";
        if (c.Kept)
            WriteFileBytes(backup, "an earlier backup");
        auto server = folder.Start();
        EXPECT_EQ(BoxText(), "Error: VeskTrayServer is not properly installed!");
        EXPECT_EQ(server->Wait(), 0u);
        EXPECT_EQ(ReadFileBytes(folder.Settings), c.After);
        if (c.Kept) {
            EXPECT_EQ(ReadFileBytes(backup), c.Content);
        } else {
            EXPECT_EQ(GetFileAttributesA(backup.c_str()), INVALID_FILE_ATTRIBUTES);
        }
    }
}

// The rewrite's temporary file is each process's own: servers started at the same moment
// from one folder both start.
TEST_F(VeskTrayServer, TwoServersStartedAtTheSameMomentBothStart) {
    TServerFolder folder(THook::Recording, StartModeSettings(1));
    const auto controlWindows = [] {
        std::vector<HWND> windows;
        for (HWND w = nullptr;
             (w = FindWindowExA(HWND_MESSAGE, w, "VeskTrayServerWindow", nullptr)) != nullptr;)
            windows.push_back(w);
        return windows;
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        auto first = folder.Start();
        auto second = folder.Start();
        ASSERT_TRUE(WaitUntil([&] {
            return controlWindows().size() == 2 || FindWindowA("#32770", "VeskTrayServer");
        }));
        // The window comes before the settings are read; only a server that started serves.
        int serving = 0;
        for (HWND w : controlWindows()) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutA(w, WM_USER, 1, 7, SMTO_ABORTIFHUNG, 20000, &result) &&
                static_cast<LRESULT>(result) == VeskRecordingHook::AddMonitorResult(7))
                ++serving;
        }
        // One that did not start says why in its box, which must be closed for it to end.
        if (serving != 2)
            ADD_FAILURE() << serving << " of 2 serve; the box says: " << BoxText();
        for (HWND w : controlWindows()) {
            DWORD_PTR ignored;
            SendMessageTimeoutA(w, WM_USER, 0, 0, SMTO_ABORTIFHUNG, 10000, &ignored);
        }
        EXPECT_EQ(first->Wait(), 0u);
        EXPECT_EQ(second->Wait(), 0u);
        ASSERT_EQ(ReadFileBytes(folder.Settings), StartModeSettings(1));
    }
}

TEST_F(VeskTrayServer, SettingsFileThatCannotBeReplacedGivesStartModeZeroAndStaysAsItWas) {
    TServerFolder folder(THook::Recording, StartModeSettings(1));
    // Readable by others, but neither writable nor replaceable while this is open.
    HANDLE holder = CreateFileA(folder.Settings.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    auto server = folder.Start();
    EXPECT_EQ(BoxText(), "Error: VeskTrayServer is not properly installed!");
    EXPECT_EQ(server->Wait(), 0u);
    CloseHandle(holder);
    EXPECT_EQ(ReadFileBytes(folder.Settings), StartModeSettings(1));
    EXPECT_EQ(folder.Events(), "load UninstallTrayHook unload");
}

// Start mode 2: the test's own program stands in for the machine's shell.
class VeskTrayServerAsShell : public VeskTrayServer {
protected:
    TShellValuesGuard Guard;
    TScratchDir ReportDir;
    const std::string Report = ReportDir.File("shell-report.txt");
    const std::string ShellCommand =
        "\"" + BinDir() + "tests\\ShellStandIn.exe\" report \"" + Report + "\"";
};

TEST_F(VeskTrayServerAsShell, HandsTheLogonToTheMachinesShellAndPutsItselfBack) {
    WriteShell(HKEY_LOCAL_MACHINE, StringValue(ShellCommand));
    WriteShell(HKEY_CURRENT_USER, StringValue("previous.exe"));
    // The hook goes in only once the shell has come up (its report is written).
    TEnvironmentVariable shellUp(VeskRecordingHook::ShellUpVariable, Report);
    TServerFolder folder(
        THook::Recording,
        SettingsBytes({"; settings", "Mode=1", "[VeskTrayServer]", "Registration Method=0x2", "",
                       "[ Other ]", "list = a, b ,c,", "flag", "[VeskTrayServer]",
                       "Registration Method = 3"}));
    auto server = folder.Start();
    HWND window = WaitForWindow();
    EXPECT_EQ(Send(window, WM_USER, 1, 42), VeskRecordingHook::AddMonitorResult(42));
    QuitAndExpectCleanEnd(window, *server);

    // The shell saw the machine's command as the user's shell while it started, and was
    // started with SW_SHOWDEFAULT (10), as a logon starts its shell.
    EXPECT_EQ(ReadFileBytes(Report), "1 " + Hex(ShellCommand + '\0') + "\nshow 10");
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(folder.Exe));
    EXPECT_EQ(ReadShell(HKEY_LOCAL_MACHINE), StringValue(ShellCommand));
    const auto calls = folder.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[calls.size() - 4].Result, "1"); // the last install, then serving
    EXPECT_EQ(calls[calls.size() - 3].Event, "AddMonitor");
    EXPECT_EQ(ReadFileBytes(folder.Settings),
              SettingsBytes({"[VeskTrayServer]", "Registration Method = 0x2,3", "", "[ Other ]",
                             "list = a,b,c", "flag = "}));
}

TEST_F(VeskTrayServerAsShell, InstallIsTriedAgainAfterEveryMillisecondUntilItSucceeds) {
    WriteShell(HKEY_LOCAL_MACHINE, std::nullopt);
    TEnvironmentVariable install(VeskRecordingHook::InstallVariable, "0,0,0,1");
    TServerFolder folder(THook::Recording, StartModeSettings(2));
    auto server = folder.Start();
    QuitAndExpectCleanEnd(WaitForWindow(), *server);
    // N false answers, N+1 calls, about a millisecond or more apart.
    const auto calls = folder.Calls();
    ASSERT_EQ(HookEvents(calls), "load InstallTrayHook InstallTrayHook InstallTrayHook "
                                 "InstallTrayHook UninstallTrayHook unload");
    for (size_t i = 2; i <= 4; ++i)
        EXPECT_GE(calls[i].Time - calls[i - 1].Time, 900) << i;
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(folder.Exe));
}

TEST_F(VeskTrayServerAsShell, MachineShellValueIsCopiedAsItIsStored) {
    using namespace std::string_literals;
    struct Case {
        const char* Name;
        std::optional<TRegistryValue> Machine;
        std::string UserSeen; // the user's value while the hook was first installed
    } cases[] = {
        {"missing", std::nullopt, "1 00"},
        {"expandable", StringValue("%SystemRoot%\\none.exe", REG_EXPAND_SZ),
         "1 " + Hex("%SystemRoot%\\none.exe\0"s)},
        {"without a terminating zero", TRegistryValue{REG_SZ, "abc"}, "1 " + Hex("abc\0"s)},
        {"with data after a zero", TRegistryValue{REG_SZ, "ab\0cd"s}, "1 " + Hex("ab\0"s)},
    };
    TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable,
                                 VeskRecordingHook::ReportUserShellFixture);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteShell(HKEY_LOCAL_MACHINE, c.Machine);
        TServerFolder folder(THook::Recording, StartModeSettings(2));
        auto server = folder.Start();
        QuitAndExpectCleanEnd(WaitForWindow(), *server);
        const auto calls = folder.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[1].Event, "UserShell");
        EXPECT_EQ(calls[1].Argument + " " + calls[1].Result, c.UserSeen);
        EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(folder.Exe));
    }
}

TEST_F(VeskTrayServerAsShell, MachineShellOfANumberTypeFailsAndLeavesTheUserValue) {
    const DWORD number = 7;
    WriteShell(HKEY_LOCAL_MACHINE,
               TRegistryValue{REG_DWORD, std::string(reinterpret_cast<const char*>(&number), 4)});
    WriteShell(HKEY_CURRENT_USER, StringValue("previous.exe"));
    TServerFolder folder(THook::Recording, StartModeSettings(2));
    auto server = folder.Start();
    EXPECT_EQ(BoxText(), "Error: Invalid data type for 'Shell'");
    EXPECT_EQ(server->Wait(), 0u);
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue("previous.exe"));
    EXPECT_EQ(folder.Events(), "load UninstallTrayHook unload");
}

TEST_F(VeskTrayServerAsShell, MissingUserLogonKeyFailsBeforeAnyShellStartsAndIsNotCreated) {
    WriteShell(HKEY_LOCAL_MACHINE, StringValue(ShellCommand));
    Guard.RemoveUserWinLogonKey();
    TServerFolder folder(THook::Recording, StartModeSettings(2));
    auto server = folder.Start();
    EXPECT_EQ(BoxText(), "Error: Error accessing registry.");
    EXPECT_EQ(server->Wait(), 0u);
    EXPECT_EQ(GetFileAttributesA(Report.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(WinLogonKeyExists(HKEY_CURRENT_USER));
    EXPECT_EQ(folder.Events(), "load UninstallTrayHook unload");
}

TEST_F(VeskTrayServerAsShell, ServerThatCannotPutItselfBackRemovesTheHookItJustInstalled) {
    WriteShell(HKEY_LOCAL_MACHINE, StringValue(ShellCommand));
    TEnvironmentVariable shellUp(VeskRecordingHook::ShellUpVariable, Report);
    TEnvironmentVariable fixture(VeskRecordingHook::FixtureVariable,
                                 VeskRecordingHook::RemoveUserLogonKeyFixture);
    TServerFolder folder(THook::Recording, StartModeSettings(2));
    auto server = folder.Start();
    EXPECT_EQ(BoxText(), "Error: Error accessing registry.");
    EXPECT_EQ(server->Wait(), 0u);
    // The real shell did run; the hook it let in is taken out again.
    EXPECT_EQ(ReadFileBytes(Report), "1 " + Hex(ShellCommand + '\0') + "\nshow 10");
    const auto calls = folder.Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[calls.size() - 3].Event + calls[calls.size() - 3].Result, "InstallTrayHook1");
    EXPECT_EQ(calls[calls.size() - 2].Event, "UninstallTrayHook");
    EXPECT_EQ(calls.back().Event, "unload");
}

TEST_F(VeskTrayServerAsShell, RequestsPostedDuringTheWaitAreServedOnlyAfterTheHookIsIn) {
    std::string falses;
    for (int i = 0; i < 3000; ++i)
        falses += "0,";
    TEnvironmentVariable install(VeskRecordingHook::InstallVariable, falses + "1");
    WriteShell(HKEY_LOCAL_MACHINE, std::nullopt);
    TServerFolder folder(THook::Recording, StartModeSettings(2));
    auto server = folder.Start();
    HWND window = WaitForWindow();
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(folder.Calls(), "InstallTrayHook") > 0; }));
    for (LPARAM value = 1; value <= 5; ++value)
        ASSERT_TRUE(PostMessageA(window, WM_USER, 1, value));
    ASSERT_TRUE(WaitUntil([&] { return CountEvents(folder.Calls(), "AddMonitor") == 5; },
                          std::chrono::seconds(60)));
    QuitAndExpectCleanEnd(window, *server);
    const auto calls = folder.Calls();
    const auto installed = std::find_if(calls.begin(), calls.end(), [](const THookCall& call) {
        return call.Event == "InstallTrayHook" && call.Result == "1";
    });
    ASSERT_NE(installed, calls.end());
    EXPECT_EQ(CountEvents({calls.begin(), installed}, "AddMonitor"), 0u);
    EXPECT_EQ(CountEvents(calls, "InstallTrayHook"), 3001u);
}

TEST_F(VeskTrayServer, ServesEightConcurrentClientsWithoutLossOrGrowth) {
    TServerFolder folder(THook::Recording, StartModeSettings(1));
    TEnvironmentVariable noLog(VeskRecordingHook::LogVariable, "");
    auto server = folder.Start();
    HWND window = WaitForWindow();
    const std::string client = "\"" + BinDir() + "tests\\LoadClient.exe\" ";
    {
        TProcess warmUp(client + "1000");
        EXPECT_EQ(warmUp.Wait(std::chrono::seconds(120)), 0u);
    }
    // The scratch folder's name is unique: it finds this server's Unix process.
    const std::string name = folder.Exe.substr(folder.Exe.find("vesk-test"));
    const long before = RssAnonKilobytes(name);
    ASSERT_GT(before, 0);
    std::vector<std::unique_ptr<TProcess>> clients;
    for (int i = 0; i < 8; ++i)
        clients.push_back(std::make_unique<TProcess>(client + "10000"));
    for (auto& c : clients)
        EXPECT_EQ(c->Wait(std::chrono::seconds(300)), 0u);
    const long after = RssAnonKilobytes(name);
    EXPECT_LE(std::labs(after - before), 256) << before << " kB, then " << after << " kB";
    std::printf("server RssAnon: %ld kB after 1,000 requests, %ld kB after 80,000 more\n", before,
                after);
    QuitAndExpectCleanEnd(window, *server);
}

} // namespace
