// What the client and vesktrayctl tests share: a server in a scratch folder, running
// vesktrayctl (in this process or as its own program), and windows that pose as a server.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VeskTestSupport.h"

namespace VeskClientTest {

// UTF-16LE with a byte-order mark and CR LF between lines: the server's own layout.
std::string SettingsBytes(const std::vector<std::string>& lines);

// The server and the recording hook library in a scratch folder; the library's log is kept
// there too. Optionally vesktrayctl.exe beside them, as a user would install it.
struct TServerFolder {
    VeskTest::TScratchDir Scratch;
    const std::string Exe = Scratch.File("VeskTrayServer.exe");
    const std::string Settings = Scratch.File("VeskTrayServer.ini");
    const std::string Log = Scratch.File("hook.log");
    VeskTest::TEnvironmentVariable LogSetting{"VESK_HOOK_LOG", Log};
    VeskTest::TEnvironmentVariable InstallSetting{"VESK_HOOK_INSTALL", ""};
    VeskTest::TEnvironmentVariable FixtureSetting{"VESK_HOOK_FIXTURE", ""};

    explicit TServerFolder(bool withTool = false);
    std::unique_ptr<VeskTest::TProcess> Start() const;
    // Starts the server and waits until its control window answers; null when it did not.
    std::unique_ptr<VeskTest::TProcess> StartServing() const;
    std::vector<VeskTest::THookCall> Calls() const { return VeskTest::ReadHookLog(Log); }
    std::string Events() const { return VeskTest::HookEvents(Calls()); }
    // Every file in the folder, by name, for "nothing else was left behind".
    std::vector<std::string> FileNames() const;
};

struct TRunResult {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

// vesktrayctl's commands, run in this process.
TRunResult RunCtl(const std::vector<std::string>& args);
// A program of its own, its standard output and error captured (CR LF read as LF); each
// argument is quoted.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory = {});

// A window of the server's class, made by this process on a thread of its own.
enum class TPoser {
    VisibleTopLevel, // a decoy: visible, not message-only; answers everything with 0xDEC0
    Silent,          // message-only, its thread never reads its messages
    Answering,       // message-only, answers every message with 1 (quit included)
};

class TPoserWindow {
public:
    explicit TPoserWindow(TPoser kind);
    ~TPoserWindow();
    TPoserWindow(const TPoserWindow&) = delete;
    TPoserWindow& operator=(const TPoserWindow&) = delete;

    HWND Handle() const { return Window; }
    // Messages that reached the window procedure from outside: WM_USER and WM_NULL.
    long Requests() const { return Received.load(); }

private:
    void Run();
    static LRESULT CALLBACK Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    TPoser Kind;
    HWND Window = nullptr;
    DWORD ThreadId = 0;
    HANDLE Ready;
    HANDLE Stop;
    std::atomic<long> Received{0};
    std::thread Thread;
};

} // namespace VeskClientTest
