#include "ClientTestSupport.h"

#include <mutex>
#include <stdexcept>

#include "VeskHandle.h"

namespace VeskClientTest {

namespace {

std::string Quoted(const std::string& arg) {
    return "\"" + arg + "\"";
}

} // namespace

std::unique_ptr<VeskTest::TProcess> TServingFolder::StartServing() const {
    auto server = Start();
    HWND window = nullptr;
    if (!VeskTest::WaitUntil([&] { return (window = VeskTest::FindControlWindow()) != nullptr; }))
        return nullptr;
    // The window comes before the hook; the first answer comes from the message loop, which
    // runs once the start mode's work is done.
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer))
        return nullptr;
    return server;
}

std::vector<std::string> TServingFolder::FileNames() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Scratch.File("*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& directory) {
    VeskTest::TScratchDir capture;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::string& name) {
        return CreateFileA(capture.File(name).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    TRunResult result;
    {
        TVeskHandle out(open("out.txt"));
        TVeskHandle err(open("err.txt"));
        if (out.Get() == INVALID_HANDLE_VALUE || err.Get() == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot create the capture files");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        std::string line = Quoted(program);
        for (const std::string& arg : args)
            line += " " + Quoted(arg);
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &startup, &info))
            throw std::runtime_error("cannot start " + line);
        TVeskHandle process(info.hProcess);
        TVeskHandle thread(info.hThread);
        if (WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0) {
            TerminateProcess(process.Get(), 99);
            WaitForSingleObject(process.Get(), 5000);
            throw std::runtime_error(line + " did not end");
        }
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        result.Exit = static_cast<int>(code);
    }
    // The C runtime writes text with CR LF; the tests compare lines.
    const auto text = [&](const std::string& name) {
        std::string bytes = VeskTest::ReadFileBytes(capture.File(name));
        for (size_t at; (at = bytes.find("\r\n")) != std::string::npos;)
            bytes.erase(at, 1);
        return bytes;
    };
    result.Out = text("out.txt");
    result.Err = text("err.txt");
    return result;
}

TPoserWindow::TPoserWindow(TPoser kind)
    : Kind(kind), Ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      Stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    Thread = std::thread([this] { Run(); });
    WaitForSingleObject(Ready, 20000);
    if (!Window) {
        SetEvent(Stop);
        Thread.join();
        CloseHandle(Ready);
        CloseHandle(Stop);
        throw std::runtime_error("the window posing as a server was not created");
    }
}

TPoserWindow::~TPoserWindow() {
    SetEvent(Stop);
    PostThreadMessageA(ThreadId, WM_QUIT, 0, 0);
    Thread.join();
    CloseHandle(Ready);
    CloseHandle(Stop);
}

void TPoserWindow::Run() {
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VeskTrayServerWindow";
        RegisterClassA(&windowClass);
    });
    ThreadId = GetCurrentThreadId();
    const bool visible = Kind == TPoser::VisibleTopLevel;
    Window = CreateWindowExA(0, "VeskTrayServerWindow", visible ? "decoy" : "",
                             visible ? WS_OVERLAPPEDWINDOW | WS_VISIBLE : 0, 0, 0,
                             visible ? 200 : 0, visible ? 100 : 0, visible ? nullptr : HWND_MESSAGE,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    if (Window)
        SetWindowLongPtrA(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // The message queue exists before the owner may post its WM_QUIT.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(Ready);
    if (!Window)
        return;
    if (Kind == TPoser::Silent) {
        // A plain wait: messages sent to the window are never read.
        WaitForSingleObject(Stop, INFINITE);
    } else {
        while (GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
    }
    SetWindowLongPtrA(Window, GWLP_USERDATA, 0);
    DestroyWindow(Window);
}

LRESULT CALLBACK TPoserWindow::Procedure(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TPoserWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && (msg == WM_USER || msg == WM_NULL)) {
        ++self->Received;
        return self->Kind == TPoser::VisibleTopLevel ? 0xDEC0 : 1;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

} // namespace VeskClientTest
