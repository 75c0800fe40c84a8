// What the client and vesktrayctl tests share: a server in a scratch folder, running a program
// with its output captured, and windows that pose as a server.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VeskRecordingHook.h"
#include "VeskTestSupport.h"

namespace VeskClientTest {

// The server and the recording hook library in a scratch folder, optionally vesktrayctl.exe
// beside them as a user would install it; the hook library's own settings reset.
struct TServingFolder : VeskTest::TServerFolder {
    VeskTest::TEnvironmentVariable InstallSetting{VeskRecordingHook::InstallVariable, ""};
    VeskTest::TEnvironmentVariable FixtureSetting{VeskRecordingHook::FixtureVariable, ""};

    explicit TServingFolder(bool withTool = false)
        : VeskTest::TServerFolder(VeskTest::THook::Recording, std::nullopt, withTool) {}
    // Starts the server and waits until its control window answers; null when it did not.
    std::unique_ptr<VeskTest::TProcess> StartServing() const;
    // Every file in the folder, by name, for "nothing else was left behind".
    std::vector<std::string> FileNames() const;
};

struct TRunResult {
    int Exit = -1;
    std::string Out;
    std::string Err;
};

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
