// vesktrayctl against the real server: its commands, their messages and exit codes, and
// install and uninstall followed by real server starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "VeskRecordingHook.h"
#include "ClientTestSupport.h"
#include "VeskTrayCtl.h"

using namespace VeskTest;
using namespace VeskClientTest;

namespace {

// vesktrayctl's commands, run in this process.
TRunResult RunCtl(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    TRunResult result;
    result.Exit = RunVeskTrayCtl(args, out, err);
    result.Out = out.str();
    result.Err = err.str();
    return result;
}

constexpr char UserKey[] =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
// Not in the server's normal form, with more than the start mode in it.
const std::string Untidy =
    SettingsBytes({"; a comment, which the server drops", "[Other]", "Colour=blue",
                   "[VeskTrayServer]", "Registration Method=2,9", "Extra=x"});
// Untidy with start mode 1, as the server itself writes it back.
const std::string TidyModeOne = SettingsBytes(
    {"[Other]", "Colour = blue", "", "[VeskTrayServer]", "Registration Method = 1,9", "Extra = x"});

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string AddLine(std::int32_t value) {
    const std::int32_t result = VeskRecordingHook::AddMonitorResult(value);
    return "AddMonitor(" + std::to_string(value) + ") returned " + std::to_string(result) + " (" +
           Hex(static_cast<std::uint32_t>(result)) + ")\n";
}

std::string RemoveLine(std::int32_t value) {
    const std::int32_t result = VeskRecordingHook::RemoveMonitorResult(value);
    return "RemoveMonitor(" + std::to_string(value) + ") returned " + std::to_string(result) +
           " (" + Hex(static_cast<std::uint32_t>(result)) + ")\n";
}

std::string Error(const std::string& message) {
    return "vesktrayctl: " + message + "\n";
}

// The size the system shows for a region of this many bytes: whole pages.
size_t Pages(size_t bytes) {
    return (bytes + 4095) / 4096 * 4096;
}

std::string BoxText() {
    const auto box = CloseMessageBox("VeskTrayServer");
    return box ? box->Text : "<no box>";
}

TEST(VesktrayctlProgram, EveryCommandOnItsMainPathAgainstARealServerAsTheHookLibrarySawIt) {
    // As a user has it: vesktrayctl.exe beside the server, run from that folder.
    TServingFolder folder(true);
    const std::string ctl = folder.Scratch.File("vesktrayctl.exe");
    const std::string dir = folder.Scratch.Path();

    TRunResult run = RunProgram(ctl, {"install", "--mode", "1"}, dir);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, "Start mode 1 written to \"" + folder.Settings + "\".\n");
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(ReadFileBytes(folder.Settings), StartModeSettings(1));

    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    run = RunProgram(ctl, {"status"}, dir);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    char window[16];
    std::snprintf(window, sizeof window, "0x%08X",
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(FindControlWindow())));
    EXPECT_EQ(run.Out, "VeskTrayServer is running.\n"
                       "  window:        " +
                           std::string(window) +
                           "\n"
                           "  process id:    " +
                           std::to_string(server->Id()) +
                           "\n"
                           "  shared region: VeskTrayServerSharedMemory, " +
                           std::to_string(Pages(17716)) + " bytes\n");

    run = RunProgram(ctl, {"monitor", "add", "0x12345678"}, dir);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, AddLine(0x12345678));
    run = RunProgram(ctl, {"monitor", "remove", "-1"}, dir);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, RemoveLine(-1));

    run = RunProgram(ctl, {"quit"}, dir);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out,
              "VeskTrayServer (process " + std::to_string(server->Id()) + ") has ended.\n");
    // Ended already when quit returned.
    EXPECT_EQ(server->Wait(std::chrono::milliseconds(0)), 0u);

    const auto calls = folder.Calls();
    ASSERT_EQ(HookEvents(calls), "load InstallTrayHook AddMonitor RemoveMonitor UninstallTrayHook "
                                 "unload");
    EXPECT_EQ(calls[2].Argument, "305419896");
    EXPECT_EQ(calls[2].Result, std::to_string(VeskRecordingHook::AddMonitorResult(0x12345678)));
    EXPECT_EQ(calls[3].Argument, "-1");
    EXPECT_EQ(calls[3].Result, std::to_string(VeskRecordingHook::RemoveMonitorResult(-1)));
    // The server read the start mode and wrote the file back: install had written its form.
    EXPECT_EQ(ReadFileBytes(folder.Settings), StartModeSettings(1));

    run = RunProgram(ctl, {"status"}, dir);
    EXPECT_EQ(run.Exit, 3);
    EXPECT_EQ(run.Out, "VeskTrayServer is not running.\n");
}

TEST(VesktrayctlProgram, ExitCodesAndMessagesComeOutOfTheProgramItself) {
    const std::string ctl = BinDir() + "vesktrayctl.exe";
    TRunResult run = RunProgram(ctl, {});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(run.Err, Error("no command given. Run \"vesktrayctl --help\" for the commands."));
    run = RunProgram(ctl, {"monitor", "add", "twelve"});
    EXPECT_EQ(run.Exit, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find("\"twelve\" is not a VALUE."), std::string::npos) << run.Err;
    run = RunProgram(ctl, {"monitor", "add", "1"});
    EXPECT_EQ(run.Exit, 3);
    EXPECT_EQ(run.Err, Error("VeskTrayServer is not running."));
    run = RunProgram(ctl, {"--help"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_NE(run.Out.find("Exit codes:"), std::string::npos);
}

TEST(Vesktrayctl, ValuesInEverySpellingReachTheHookLibraryAsTheSame32Bits) {
    TServingFolder folder;
    WriteFileBytes(folder.Settings, StartModeSettings(1));
    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    const struct {
        const char* Text;
        std::int32_t Value;
    } cases[] = {
        {"0", 0},
        {"-0", 0},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MIN},
        {"4294967295", -1},
        {"-1", -1},
        {"-2147483648", INT_MIN},
        {"0x0", 0},
        {"0xFFFFFFFF", -1},
        {"0X7fffffff", INT_MAX},
        {"0x00000080", 128},
    };
    std::string expectedEvents = "load InstallTrayHook";
    for (const auto& c : cases) {
        const TRunResult add = RunCtl({"monitor", "add", c.Text});
        EXPECT_EQ(add.Exit, 0) << c.Text << add.Err;
        EXPECT_EQ(add.Out, AddLine(c.Value)) << c.Text;
        const TRunResult remove = RunCtl({"monitor", "remove", c.Text});
        EXPECT_EQ(remove.Exit, 0) << c.Text << remove.Err;
        EXPECT_EQ(remove.Out, RemoveLine(c.Value)) << c.Text;
        expectedEvents += " AddMonitor RemoveMonitor";
    }
    EXPECT_EQ(RunCtl({"quit"}).Exit, 0);
    const auto calls = folder.Calls();
    ASSERT_EQ(HookEvents(calls), expectedEvents + " UninstallTrayHook unload");
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(calls[2 + 2 * i].Argument, std::to_string(cases[i].Value)) << cases[i].Text;
        EXPECT_EQ(calls[3 + 2 * i].Argument, std::to_string(cases[i].Value)) << cases[i].Text;
    }
}

TEST(Vesktrayctl, BadArgumentsAreRefusedWithTheirMessageAndExitCodeBeforeAnythingIsSent) {
    TServingFolder folder;
    WriteFileBytes(folder.Settings, StartModeSettings(1));
    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    const std::string valueRule =
        " VALUE is a 32-bit number: decimal (from -2147483648 to 4294967295) or 0x followed by 1 "
        "to 8 hexadecimal digits.";
    const std::string noServerProgram = folder.Scratch.File("NoSuchServer.exe");
    const struct {
        std::vector<std::string> Args;
        int Exit;
        std::string Message;
    } cases[] = {
        {{}, 1, "no command given. Run \"vesktrayctl --help\" for the commands."},
        {{"start"}, 1, "unknown command \"start\". Run \"vesktrayctl --help\" for the commands."},
        {{"help", "start"},
         1,
         "unknown command \"start\". Run \"vesktrayctl --help\" for the commands."},
        {{"status", "--verbose"},
         1,
         "unknown option \"--verbose\". Run \"vesktrayctl --help\" for the options."},
        {{"status", "now"}, 1, "unexpected argument \"now\"."},
        {{"quit", "--mode", "1"}, 1, "quit does not take --mode."},
        {{"install", "--mode", "1", "--timeout", "5"}, 1, "install does not take --timeout."},
        {{"install", "--mode", "1", "--mode", "2"}, 1, "--mode is given twice."},
        {{"monitor"}, 1, "monitor needs add or remove: monitor add|remove VALUE."},
        {{"monitor", "flip", "1"},
         1,
         "unknown monitor request \"flip\": monitor add|remove VALUE."},
        {{"monitor", "add", "1", "2"}, 1, "unexpected argument \"2\"."},
        {{"monitor", "add"}, 2, "monitor add needs a VALUE." + valueRule},
        {{"monitor", "remove"}, 2, "monitor remove needs a VALUE." + valueRule},
        {{"monitor", "add", ""}, 2, "\"\" is not a VALUE." + valueRule},
        {{"monitor", "add", "12abc"}, 2, "\"12abc\" is not a VALUE." + valueRule},
        {{"monitor", "add", " 5"}, 2, "\" 5\" is not a VALUE." + valueRule},
        {{"monitor", "add", "+5"}, 2, "\"+5\" is not a VALUE." + valueRule},
        {{"monitor", "add", "1.5"}, 2, "\"1.5\" is not a VALUE." + valueRule},
        {{"monitor", "add", "0x"}, 2, "\"0x\" is not a VALUE." + valueRule},
        {{"monitor", "add", "0xG1"}, 2, "\"0xG1\" is not a VALUE." + valueRule},
        {{"monitor", "add", "-0x5"}, 2, "\"-0x5\" is not a VALUE." + valueRule},
        {{"monitor", "add", "0x100000000"}, 2, "\"0x100000000\" is not a VALUE." + valueRule},
        {{"monitor", "remove", "4294967296"}, 2, "\"4294967296\" is not a VALUE." + valueRule},
        {{"monitor", "remove", "-2147483649"}, 2, "\"-2147483649\" is not a VALUE." + valueRule},
        {{"monitor", "remove", "99999999999999999999999"},
         2,
         "\"99999999999999999999999\" is not a VALUE." + valueRule},
        {{"status", "--timeout"}, 2, "--timeout needs a value."},
        {{"status", "--timeout", "0"},
         2,
         "\"0\" is not a timeout: give milliseconds, from 1 to 99999999."},
        {{"quit", "--timeout", "-5"},
         2,
         "\"-5\" is not a timeout: give milliseconds, from 1 to 99999999."},
        {{"install"}, 2, "install needs --mode 1 or --mode 2."},
        {{"install", "--mode"}, 2, "--mode needs a value."},
        {{"install", "--mode", "3"}, 2, "\"3\" is not a start mode: give --mode 1 or --mode 2."},
        {{"install", "--mode", "01"}, 2, "\"01\" is not a start mode: give --mode 1 or --mode 2."},
        {{"install", "--mode", "1", "--server"}, 2, "--server needs a value."},
        {{"install", "--mode", "2", "--server", noServerProgram},
         2,
         "there is no server program \"" + noServerProgram + "\"."},
        {{"uninstall", "--server", folder.Scratch.Path()},
         2,
         "there is no server program \"" + folder.Scratch.Path() + "\"."},
    };
    for (const auto& c : cases) {
        std::string name;
        for (const std::string& arg : c.Args)
            name += "[" + arg + "]";
        const TRunResult run = RunCtl(c.Args);
        EXPECT_EQ(run.Exit, c.Exit) << name;
        EXPECT_EQ(run.Err, Error(c.Message)) << name;
        EXPECT_EQ(run.Out, "") << name;
    }
    // Nothing reached the server, which still serves; no settings file was touched.
    EXPECT_EQ(folder.Events(), "load InstallTrayHook");
    EXPECT_EQ(ReadFileBytes(folder.Settings), StartModeSettings(1));
    EXPECT_EQ(RunCtl({"quit"}).Exit, 0);
}

TEST(Vesktrayctl, HelpForTheProgramAndForEachCommand) {
    const TRunResult help = RunCtl({"--help"});
    EXPECT_EQ(help.Exit, 0);
    EXPECT_EQ(help.Err, "");
    for (const char* code : {"  1  unknown command", "  2  a value is missing or malformed",
                             "  3  VeskTrayServer is not running", "  4  VeskTrayServer did not",
                             "  5  VeskTrayServer was asked to quit", "  6  the settings file",
                             "  7  the user's WinLogon key", "  8  another system call failed",
                             "  9  install: the server is 32-bit and Windows 64-bit"})
        EXPECT_NE(help.Out.find(code), std::string::npos) << code;
    EXPECT_EQ(RunCtl({"help"}).Out, help.Out);
    for (const char* command : {"status", "monitor", "quit", "install", "uninstall", "help"}) {
        const TRunResult asked = RunCtl({command, "--help"});
        EXPECT_EQ(asked.Exit, 0) << command;
        EXPECT_EQ(asked.Out.rfind(std::string("Usage: vesktrayctl ") + command, 0), 0u)
            << command << "\n"
            << asked.Out;
        EXPECT_EQ(RunCtl({"help", command}).Out, asked.Out) << command;
    }
}

TEST(Vesktrayctl, WithoutAServerEveryRequestSaysSoWithItsOwnExitCode) {
    ASSERT_EQ(FindControlWindow(), nullptr);
    const TRunResult status = RunCtl({"status"});
    EXPECT_EQ(status.Exit, 3);
    EXPECT_EQ(status.Out, "VeskTrayServer is not running.\n");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"monitor", "add", "1"}, {"monitor", "remove", "1"}, {"quit"}}) {
        const TRunResult run = RunCtl(args);
        EXPECT_EQ(run.Exit, 3) << args[0];
        EXPECT_EQ(run.Err, Error("VeskTrayServer is not running.")) << args[0];
        EXPECT_EQ(run.Out, "") << args[0];
    }
}

TEST(Vesktrayctl, AServerThatDoesNotAnswerInTimeGetsItsOwnExitCode) {
    TPoserWindow silent(TPoser::Silent);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"status", "--timeout", "200"},
                                               {"monitor", "add", "1", "--timeout", "200"},
                                               {"--timeout", "200", "monitor", "remove", "1"},
                                               {"quit", "--timeout", "200"}}) {
        const auto start = std::chrono::steady_clock::now();
        const TRunResult run = RunCtl(args);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.Exit, 4) << args[0];
        EXPECT_EQ(run.Err, Error("VeskTrayServer did not answer within 200 ms.")) << args[0];
        EXPECT_GE(waited, std::chrono::milliseconds(190)) << args[0];
        EXPECT_LT(waited, std::chrono::seconds(5)) << args[0];
    }
    // The program itself, from another process.
    const TRunResult run = RunProgram(BinDir() + "vesktrayctl.exe", {"status", "--timeout", "300"});
    EXPECT_EQ(run.Exit, 4);
    EXPECT_EQ(run.Err, Error("VeskTrayServer did not answer within 300 ms."));
}

TEST(Vesktrayctl, AServerWhoseProcessDoesNotEndAfterQuitGetsItsOwnExitCode) {
    // It answers the request, but it lives in this process, which goes on.
    TPoserWindow answering(TPoser::Answering);
    const TRunResult run = RunCtl({"quit", "--timeout", "300"});
    EXPECT_EQ(run.Exit, 5);
    EXPECT_EQ(run.Err, Error("VeskTrayServer (process " + std::to_string(GetCurrentProcessId()) +
                             ") was asked to quit, but it had not ended within 300 ms."));
    EXPECT_EQ(answering.Requests(), 1);
}

TEST(Vesktrayctl, AVisibleWindowOfTheServersClassIsNeverTalkedTo) {
    TPoserWindow decoy(TPoser::VisibleTopLevel);
    // FindWindowA would take the decoy for the server.
    EXPECT_EQ(FindWindowA("VeskTrayServerWindow", nullptr), decoy.Handle());
    EXPECT_EQ(RunCtl({"status"}).Exit, 3);
    EXPECT_EQ(RunCtl({"monitor", "add", "7"}).Exit, 3);

    TServingFolder folder;
    WriteFileBytes(folder.Settings, StartModeSettings(1));
    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    TRunResult run = RunCtl({"monitor", "add", "7"});
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, AddLine(7));
    run = RunCtl({"status"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_NE(run.Out.find("process id:    " + std::to_string(server->Id()) + "\n"),
              std::string::npos)
        << run.Out;
    run = RunCtl({"quit"});
    EXPECT_EQ(run.Exit, 0);
    EXPECT_EQ(server->Wait(std::chrono::milliseconds(0)), 0u);
    EXPECT_EQ(decoy.Requests(), 0);
    EXPECT_TRUE(IsWindow(decoy.Handle()));
    EXPECT_EQ(folder.Events(), "load InstallTrayHook AddMonitor UninstallTrayHook unload");
}

TEST(VesktrayctlProgram, StatusReportsTheRegionSizeTheSystemShowsWhenAnotherProcessMadeItLarger) {
    HANDLE region = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536,
                                       "VeskTrayServerSharedMemory");
    ASSERT_NE(region, nullptr);
    TServingFolder folder;
    WriteFileBytes(folder.Settings, StartModeSettings(1));
    auto server = folder.StartServing();
    ASSERT_NE(server, nullptr);
    const TRunResult run = RunProgram(BinDir() + "vesktrayctl.exe", {"status"});
    CloseHandle(region);
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_NE(run.Out.find("  shared region: VeskTrayServerSharedMemory, 65536 bytes\n"),
              std::string::npos)
        << run.Out;
    EXPECT_EQ(RunCtl({"quit"}).Exit, 0);
}

// The logon "Shell" values of the user and of the machine are put back after each test.
class VesktrayctlInstall : public ::testing::Test {
protected:
    TShellValuesGuard ShellValues;
    TServingFolder Folder;

    TRunResult Install(const char* mode) {
        return RunCtl({"install", "--mode", mode, "--server", Folder.Exe});
    }
    TRunResult Uninstall() { return RunCtl({"uninstall", "--server", Folder.Exe}); }
    std::string Written(const char* mode) const {
        return "Start mode " + std::string(mode) + " written to \"" + Folder.Settings + "\".\n";
    }
};

const char NotInstalledBox[] = "Error: VeskTrayServer is not properly installed!";
const char TakenBack[] = "The user's WinLogon Shell named this server and was removed: the "
                         "machine's shell applies again at the next logon.\n";
const char WillNotStart[] = "VeskTrayServer will not start until it is installed again.\n";

TEST_F(VesktrayctlInstall, ModeTwoRunsTheServerAsTheShellAndUninstallTakesItOutAgain) {
    const std::string started = "VeskClientTestShell-" + std::to_string(GetCurrentProcessId());
    HANDLE shellStarted = CreateEventA(nullptr, TRUE, FALSE, started.c_str());
    ASSERT_NE(shellStarted, nullptr);
    const std::string machineShell =
        "\"" + BinDir() + "tests\\ShellStandIn.exe\" signal " + started;
    WriteShell(HKEY_LOCAL_MACHINE, StringValue(machineShell));
    WriteShell(HKEY_CURRENT_USER, std::nullopt);

    TRunResult run = Install("2");
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, Written("2") + "The user's WinLogon Shell is now \"" + Folder.Exe +
                           "\": at the next logon the server starts, and starts the machine's "
                           "shell itself.\n");
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(Folder.Exe));
    EXPECT_EQ(ReadFileBytes(Folder.Settings), StartModeSettings(2));

    {
        auto server = Folder.StartServing();
        ASSERT_NE(server, nullptr);
        const DWORD waited = WaitForSingleObject(shellStarted, 20000);
        CloseHandle(shellStarted);
        ASSERT_EQ(waited, WAIT_OBJECT_0) << "the machine's shell was not started";
        // Once the hook is in, the server puts itself back as the user's shell.
        EXPECT_TRUE(
            WaitUntil([&] { return ReadShell(HKEY_CURRENT_USER) == StringValue(Folder.Exe); }));
        run = RunCtl({"monitor", "add", "3"});
        EXPECT_EQ(run.Out, AddLine(3));
        run = RunCtl({"quit"});
        EXPECT_EQ(run.Exit, 0) << run.Err;
        EXPECT_EQ(server->Wait(std::chrono::milliseconds(0)), 0u);
    }
    EXPECT_EQ(Folder.Events(), "load InstallTrayHook AddMonitor UninstallTrayHook unload");

    run = Uninstall();
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, Written("0") + TakenBack + WillNotStart);
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), std::nullopt);
    EXPECT_EQ(ReadShell(HKEY_LOCAL_MACHINE), StringValue(machineShell));
    EXPECT_EQ(ReadFileBytes(Folder.Settings), StartModeSettings(0));

    auto refused = Folder.Start();
    EXPECT_EQ(BoxText(), NotInstalledBox);
    EXPECT_EQ(refused->Wait(), 0u);
}

TEST_F(VesktrayctlInstall, ModeOneKeepsTheRestOfTheSettingsFileAndNormalisesItAsTheServerDoes) {
    WriteFileBytes(Folder.Settings, Untidy);
    const TRunResult run = Install("1");
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(Folder.Settings), TidyModeOne);
    // The server starts in mode 1 and writes the file back unchanged.
    auto server = Folder.StartServing();
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(RunCtl({"quit"}).Exit, 0);
    EXPECT_EQ(ReadFileBytes(Folder.Settings), TidyModeOne);
    EXPECT_EQ(Folder.Events(), "load InstallTrayHook UninstallTrayHook unload");
}

TEST_F(VesktrayctlInstall, AUserShellIsRemovedOnlyWhenItNamesTheServer) {
    std::string upper = Folder.Exe;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return static_cast<char>(std::toupper(c)); });
    std::string dotted = Folder.Exe;
    dotted.insert(dotted.find_last_of('\\'), "\\.");
    const std::string elsewhere = "C:\\windows\\explorer.exe";
    const struct {
        const char* Name;
        std::optional<std::string> Shell;
        bool Named;
        std::string Note; // what uninstall says about a Shell it leaves
    } cases[] = {
        {"the same path", Folder.Exe, true, ""},
        {"in quotes", "\"" + Folder.Exe + "\"", true, ""},
        {"in other letter case", upper, true, ""},
        {"the same full path spelt longer", dotted, true, ""},
        {"another program", elsewhere, false,
         "The user's WinLogon Shell is \"" + elsewhere +
             "\", not this server: it was left as it "
             "is.\n"},
        {"the server with an argument", Folder.Exe + " /x", false,
         "The user's WinLogon Shell is \"" + Folder.Exe +
             " /x\", not this server: it was left as "
             "it is.\n"},
        {"a bare file name", "VeskTrayServer.exe", false,
         "The user's WinLogon Shell is \"VeskTrayServer.exe\", not this server: it was left as it "
         "is.\n"},
        {"an opening quote only", "\"" + Folder.Exe, false,
         "The user's WinLogon Shell is \"\"" + Folder.Exe +
             "\", not this server: it was left as "
             "it is.\n"},
        {"none", std::nullopt, false,
         "The user has no WinLogon Shell value: there is nothing to remove.\n"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"uninstall", "install"}) {
            const std::optional<TRegistryValue> before =
                c.Shell ? std::optional(StringValue(*c.Shell)) : std::nullopt;
            WriteShell(HKEY_CURRENT_USER, before);
            const bool uninstall = std::string(command) == "uninstall";
            const TRunResult run = uninstall ? Uninstall() : Install("1");
            EXPECT_EQ(run.Exit, 0) << c.Name << " " << command << run.Err;
            EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), c.Named ? std::nullopt : before)
                << c.Name << " " << command;
            const std::string note = c.Named ? TakenBack : c.Note;
            EXPECT_EQ(run.Out, uninstall ? Written("0") + note + WillNotStart
                                         : Written("1") + (c.Named ? TakenBack : ""))
                << c.Name << " " << command;
            EXPECT_EQ(ReadFileBytes(Folder.Settings),
                      uninstall ? StartModeSettings(0) : StartModeSettings(1));
        }
    }
}

TEST_F(VesktrayctlInstall, WithoutTheUsersWinLogonKeyModeTwoChangesNothingAndSaysWhy) {
    const struct {
        const char* Name;
        std::optional<std::string> Before;
    } cases[] = {{"an existing settings file", Untidy}, {"no settings file", std::nullopt}};
    ShellValues.RemoveUserWinLogonKey();
    ASSERT_FALSE(WinLogonKeyExists(HKEY_CURRENT_USER));
    for (const auto& c : cases) {
        if (c.Before)
            WriteFileBytes(Folder.Settings, *c.Before);
        else
            DeleteFileA(Folder.Settings.c_str());
        const TRunResult run = Install("2");
        EXPECT_EQ(run.Exit, 7) << c.Name;
        EXPECT_EQ(run.Out, "") << c.Name;
        EXPECT_EQ(run.Err, Error(std::string("The registry key ") + UserKey +
                                 " does not exist, and it is not created here. The settings file "
                                 "was left as it was."))
            << c.Name;
        if (c.Before)
            EXPECT_EQ(ReadFileBytes(Folder.Settings), *c.Before) << c.Name;
        else
            EXPECT_EQ(GetFileAttributesA(Folder.Settings.c_str()), INVALID_FILE_ATTRIBUTES);
        std::vector<std::string> files = Folder.FileNames();
        std::sort(files.begin(), files.end());
        std::vector<std::string> expected = {"VeskTrayHook.hk", "VeskTrayServer.exe"};
        if (c.Before)
            expected.push_back("VeskTrayServer.ini");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(files, expected) << c.Name;
    }
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), std::nullopt);
    // With no key there is no Shell of the user's to take back: uninstall and mode 1 go on.
    TRunResult run = Uninstall();
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(run.Out, Written("0") +
                           "The user has no WinLogon key: there is no Shell value to remove.\n" +
                           WillNotStart);
    EXPECT_EQ(ReadFileBytes(Folder.Settings), StartModeSettings(0));
    run = Install("1");
    EXPECT_EQ(run.Exit, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(Folder.Settings), StartModeSettings(1));
}

TEST_F(VesktrayctlInstall, SettingsFilePutBackAfterAFailureKeepsItsAttributes) {
    WriteFileBytes(Folder.Settings, Untidy);
    // (Wine keeps no not-content-indexed attribute, so hidden stands for all of them here.)
    ASSERT_TRUE(SetFileAttributesA(Folder.Settings.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const DWORD attributes = GetFileAttributesA(Folder.Settings.c_str());
    ASSERT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
    ShellValues.RemoveUserWinLogonKey();
    EXPECT_EQ(Install("2").Exit, 7);
    EXPECT_EQ(ReadFileBytes(Folder.Settings), Untidy);
    EXPECT_EQ(GetFileAttributesA(Folder.Settings.c_str()), attributes);
}

TEST_F(VesktrayctlInstall, ASettingsFileThatCannotBeWrittenLeavesTheRegistryAlone) {
    WriteFileBytes(Folder.Settings, Untidy);
    const std::string elsewhere = "C:\\windows\\explorer.exe";
    for (const char* command : {"install", "uninstall"}) {
        const bool install = std::string(command) == "install";
        const TRegistryValue before = StringValue(install ? elsewhere : Folder.Exe);
        WriteShell(HKEY_CURRENT_USER, before);
        TRunResult run;
        {
            // Others may read it, nobody may replace it.
            HANDLE held = CreateFileA(Folder.Settings.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            run = install ? Install("2") : Uninstall();
            CloseHandle(held);
        }
        EXPECT_EQ(run.Exit, 6) << command;
        EXPECT_EQ(run.Out, "") << command;
        // install sees beforehand that the server could never rewrite the file, and says so.
        const std::string said =
            install ? "vesktrayctl: \"" + Folder.Settings + "\" cannot be replaced ("
                    : "vesktrayctl: the start mode was not written: Cannot create file \"" +
                          Folder.Settings + "\".";
        EXPECT_EQ(run.Err.rfind(said, 0), 0u) << run.Err;
        if (install) {
            EXPECT_NE(run.Err.find("): the server rewrites its settings file there at every "
                                   "start, and would refuse to start. Install it in a folder of "
                                   "your own, such as %LOCALAPPDATA%\\Programs\\VeskTrayServer, "
                                   "and run install there; nothing was written.\n"),
                      std::string::npos)
                << run.Err;
        }
        EXPECT_EQ(ReadFileBytes(Folder.Settings), Untidy) << command;
        EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), before) << command;
    }
}

bool WindowsIs64Bit() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// A program's bytes with another machine type in its file header.
std::string WithMachine(std::string program, WORD machine) {
    DWORD header = 0;
    std::memcpy(&header, program.data() + 0x3C, sizeof header);
    std::memcpy(program.data() + header + 4, &machine, sizeof machine);
    return program;
}

const std::string OtherBitness =
    WindowsIs64Bit() ? "is a 32-bit server, and this Windows is 64-bit: a 32-bit server can never "
                       "watch the tray of the 64-bit shell."
                     : "is a 64-bit server, and this Windows is 32-bit: it cannot run here.";
const std::string OtherPackage =
    WindowsIs64Bit()
        ? " Install the 64-bit VeskTrayServer (the win64 package) instead; nothing was written."
        : " Install the 32-bit VeskTrayServer (the win32 package) instead; nothing was written.";

// Installs the program with these bytes in both modes, each time from a folder of its own, and
// expects the refusal with nothing written: no settings file, the user's Shell unchanged.
void ExpectRefused(const std::string& name, const std::string& bytes, int exit,
                   const std::string& refusal) {
    for (const char* mode : {"1", "2"}) {
        TScratchDir folder;
        const std::string server = folder.File("VeskTrayServer.exe");
        WriteFileBytes(server, bytes);
        // What mode 1 would remove, and what mode 2 would replace.
        const TRegistryValue shell =
            StringValue(mode == std::string("1") ? server : "C:\\windows\\explorer.exe");
        WriteShell(HKEY_CURRENT_USER, shell);
        const TRunResult run = RunCtl({"install", "--mode", mode, "--server", server});
        EXPECT_EQ(run.Exit, exit) << name << ", mode " << mode;
        EXPECT_EQ(run.Out, "") << name << ", mode " << mode;
        EXPECT_EQ(run.Err, Error("\"" + server + "\" " + refusal)) << name << ", mode " << mode;
        EXPECT_EQ(GetFileAttributesA(folder.File("VeskTrayServer.ini").c_str()),
                  INVALID_FILE_ATTRIBUTES)
            << name << ", mode " << mode;
        EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), shell) << name << ", mode " << mode;
    }
}

TEST_F(VesktrayctlInstall, AServerMarkedForAnotherMachineOrNoProgramAtAllIsRefusedUnwritten) {
    const std::string own = ReadFileBytes(Folder.Exe);
    ASSERT_FALSE(own.empty());
    const struct {
        const char* Name;
        std::string Bytes;
        int Exit;
        std::string Refusal; // after the server's quoted path
    } cases[] = {
        {"this server marked for the other bitness",
         WithMachine(own, WindowsIs64Bit() ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64), 9,
         OtherBitness + OtherPackage},
        {"this server marked for another processor", WithMachine(own, 0xAA64), 9,
         std::string("is built for another processor (machine type 0xAA64), and this Windows is ") +
             (WindowsIs64Bit() ? "64" : "32") + "-bit." + OtherPackage},
        {"a file that only starts like a program", "MZ and nothing more", 2,
         "is not a Windows program."},
    };
    for (const auto& c : cases)
        ExpectRefused(c.Name, c.Bytes, c.Exit, c.Refusal);
}

// On 64-bit Windows the 32-bit build's server (and on 32-bit Windows the 64-bit build's).
TEST_F(VesktrayctlInstall, TheOtherBuildsServerIsRefusedForItsBitness) {
    const std::optional<std::string> peer = PeerBinDir();
    if (!peer)
        GTEST_SKIP() << "VESK_PEER_BIN_DIR (the other build's bin folder) is not set";
    const std::string bytes = ReadFileBytes(*peer + "VeskTrayServer.exe");
    ASSERT_FALSE(bytes.empty()) << "no VeskTrayServer.exe in " << *peer;
    ExpectRefused("the other build's server", bytes, 9, OtherBitness + OtherPackage);
}

} // namespace
