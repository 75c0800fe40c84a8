// The registry side of running as the logon shell, and the bound on waiting for it.
#include <gtest/gtest.h>

#include "VeskError.h"
#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"
#include "VeskTrayRegistrator.h"
#include "VeskTrayServer.h"

using namespace VeskTest;

namespace {

// This test program's own path, which the server's code writes as the user's shell.
std::string OwnPath() {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

TEST(ShellHandOff, CopiesValuesOfAnySizeAndPutsTheServerBack) {
    TShellValuesGuard guard;
    for (size_t size : {size_t{1}, size_t{259}, size_t{70000}}) {
        std::string command(size, 'x');
        command.front() = 'a';
        WriteShell(HKEY_LOCAL_MACHINE, StringValue(command));
        EXPECT_EQ(HandOffShell(), command) << size;
        EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(command)) << size;
    }
    RestoreServerShell();
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(OwnPath()));
}

TEST(ShellHandOff, ValueWithoutDataGivesEmptyTextWhateverItsType) {
    TShellValuesGuard guard;
    for (DWORD type : {DWORD{REG_SZ}, DWORD{REG_DWORD}, DWORD{REG_BINARY}}) {
        WriteShell(HKEY_LOCAL_MACHINE, TRegistryValue{type, ""});
        EXPECT_EQ(HandOffShell(), "") << type;
        EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue("")) << type;
    }
    WriteShell(HKEY_LOCAL_MACHINE, TRegistryValue{REG_BINARY, "abc"});
    WriteShell(HKEY_CURRENT_USER, StringValue("kept"));
    EXPECT_EQ(FailureOf([&] { HandOffShell(); }), "Invalid data type for 'Shell'");
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue("kept"));
}

TEST(ShellWait, GivesUpAfterItsLimitWithTheServerBackAsTheShell) {
    TShellValuesGuard guard;
    WriteShell(HKEY_CURRENT_USER, StringValue("explorer.exe"));
    TScratchDir scratch;
    TEnvironmentVariable log(VeskRecordingHook::LogVariable, scratch.File("hook.log"));
    TEnvironmentVariable install(VeskRecordingHook::InstallVariable, "0");
    TVeskTrayHookLibrary library;
    {
        THookLibraryFolder recording("recording");
        library.Load();
    }
    EXPECT_EQ(
        FailureOf([&] { WaitForTrayHook(library, "explorer.exe", std::chrono::milliseconds(50)); }),
        "The tray did not come up: the shell \"explorer.exe\" was "
        "started, but the tray hook could not be installed within "
        "50 ms.");
    // So that the next logon starts the server again.
    EXPECT_EQ(ReadShell(HKEY_CURRENT_USER), StringValue(OwnPath()));
    const auto calls = ReadHookLog(scratch.File("hook.log"));
    EXPECT_GE(calls.size(), 3u);
}

} // namespace
