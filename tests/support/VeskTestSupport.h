// What the Windows tests share: waiting on a condition with a deadline, reading and
// pressing OK on a message box, running a program, reading a hook library's log.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VeskFailureOf.h"
#include "VeskRecordingHook.h"

namespace VeskTest {

// Polls the condition until it holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

struct TMessageBox {
    std::string Text;
    HWND Owner = nullptr;
    LONG ExStyle = 0;
};

// Waits for a message box of this caption, reads it and presses OK.
std::optional<TMessageBox>
CloseMessageBox(const std::string& caption,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A running program, ended (if still running) and its handles closed when it goes.
class TProcess {
public:
    TProcess(const std::string& commandLine, const std::string& directory = {});
    ~TProcess();
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    DWORD Id() const { return Info.dwProcessId; }
    // The exit code once it ended within the time, nothing otherwise.
    std::optional<DWORD> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    PROCESS_INFORMATION Info{};
};

// The folder of the programs and hook libraries, as a Windows path with a trailing
// separator.
std::string BinDir();
// A new empty folder for one test, removed with everything in it when it goes.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    const std::string& Path() const { return Dir; }
    std::string File(const std::string& name) const { return Dir + name; }

private:
    std::string Dir;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// UTF-16LE with a byte-order mark (unless told otherwise) and CR LF between lines: the
// server's own settings file layout.
std::string SettingsBytes(const std::vector<std::string>& lines, bool mark = true);
// A settings file holding only the start mode, as the server writes it back.
std::string StartModeSettings(int mode);

// One line of a recording hook library's log.
struct THookCall {
    long long Time;
    std::string Event;
    std::string Argument;
    std::string Result;
};
std::vector<THookCall> ReadHookLog(const std::string& path);
// The events alone, in order: "load InstallTrayHook AddMonitor ... unload".
std::string HookEvents(const std::vector<THookCall>& calls);

// Sets an environment variable for this process and the programs it starts, and puts the
// old value back when it goes.
class TEnvironmentVariable {
public:
    TEnvironmentVariable(std::string name, const std::string& value);
    ~TEnvironmentVariable();

private:
    std::string Name;
    std::optional<std::string> Old;
};

HWND FindControlWindow();

// Makes this process load hook libraries from one of the build's hook folders while it
// lives, and puts the normal search back when it goes (also when a test fails).
class THookLibraryFolder {
public:
    explicit THookLibraryFolder(const std::string& folder);
    ~THookLibraryFolder();
    THookLibraryFolder(const THookLibraryFolder&) = delete;
    THookLibraryFolder& operator=(const THookLibraryFolder&) = delete;
};

enum class THook { None, Recording, ThreeNames };

// The other build's bin folder (VESK_PEER_BIN_DIR, a Unix path, which Wine shows on drive
// Z:) with a trailing separator, or nothing when the build names none.
std::optional<std::string> PeerBinDir();

// A scratch folder holding the server, the chosen hook library, optionally a settings file
// and vesktrayctl.exe, all from one build's bin folder (this build's unless told otherwise);
// the recording library's log is kept there too.
struct TServerFolder {
    TScratchDir Scratch;
    const std::string Exe = Scratch.File("VeskTrayServer.exe");
    const std::string Settings = Scratch.File("VeskTrayServer.ini");
    const std::string Log = Scratch.File("hook.log");
    TEnvironmentVariable LogSetting{VeskRecordingHook::LogVariable, Log};

    explicit TServerFolder(THook hook = THook::Recording,
                           const std::optional<std::string>& settings = std::nullopt,
                           bool withTool = false, const std::string& binDir = BinDir());
    std::unique_ptr<TProcess> Start() const;
    std::vector<THookCall> Calls() const { return ReadHookLog(Log); }
    std::string Events() const { return HookEvents(Calls()); }
};

// Joins this process to Wine's desktop before it starts a server: when both set it up at
// the same moment, they may not see each other's message-only windows.
void JoinDesktop();

// The logon "Shell" value under a root key (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER).
struct TRegistryValue {
    DWORD Type;
    std::string Data;
    bool operator==(const TRegistryValue&) const = default;
};
inline constexpr char WinLogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
std::optional<TRegistryValue> ReadShell(HKEY root);
void WriteShell(HKEY root, const std::optional<TRegistryValue>& value);
TRegistryValue StringValue(const std::string& text, DWORD type = REG_SZ);
bool WinLogonKeyExists(HKEY root);

// Puts the "Shell" values of both roots back as they were when it was made; when the
// user's WinLogon key was removed meanwhile, it is made again with its values.
class TShellValuesGuard {
public:
    TShellValuesGuard();
    ~TShellValuesGuard();
    // Removes the user's WinLogon key (its values are restored with it).
    void RemoveUserWinLogonKey();

private:
    std::optional<TRegistryValue> Machine, User;
    std::vector<std::pair<std::string, TRegistryValue>> UserValues;
};

// The resident anonymous memory, in kB, of the Unix process that runs the Windows program
// whose command line contains this text; -1 when there is none. Win32's own counters for
// another process read 0 under Wine.
long RssAnonKilobytes(const std::string& commandLinePart);

} // namespace VeskTest
