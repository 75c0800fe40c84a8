#include "VeskTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace VeskTest {

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Nothing signals these conditions (a window appearing in another process); poll.
        Sleep(2);
    }
    return true;
}

std::optional<TMessageBox> CloseMessageBox(const std::string& caption,
                                           std::chrono::milliseconds timeout) {
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindWindowA("#32770", caption.c_str())) != nullptr; },
                   timeout))
        return std::nullopt;
    TMessageBox result;
    char text[1024] = {};
    // WM_GETTEXT, not GetWindowTextA: the latter does not read another process's controls.
    SendMessageA(GetDlgItem(box, 0xFFFF), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    result.Text = text;
    result.Owner = GetWindow(box, GW_OWNER);
    result.ExStyle = GetWindowLongA(box, GWL_EXSTYLE);
    SendMessageA(box, WM_COMMAND, IDOK, 0);
    return result;
}

TProcess::TProcess(const std::string& commandLine, const std::string& directory) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &Info))
        throw std::runtime_error("cannot start " + commandLine);
}

TProcess::~TProcess() {
    if (WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(Info.hProcess, 99);
        WaitForSingleObject(Info.hProcess, 5000);
    }
    CloseHandle(Info.hThread);
    CloseHandle(Info.hProcess);
}

std::optional<DWORD> TProcess::Wait(std::chrono::milliseconds timeout) {
    if (WaitForSingleObject(Info.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(Info.hProcess, &code);
    return code;
}

std::string BinDir() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // Tests live in bin\tests; the programs and hook libraries one level up.
    std::string dir(path, length);
    dir.resize(dir.find_last_of("\\/"));
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

namespace {

void RemoveTree(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + name + "\\");
            else {
                SetFileAttributesA((dir + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((dir + name).c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

} // namespace

TScratchDir::TScratchDir() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static unsigned counter;
    for (;;) {
        Dir = std::string(temp) + "vesk-test-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++counter) + "\\";
        if (CreateDirectoryA(Dir.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create " + Dir);
    }
}

TScratchDir::~TScratchDir() {
    RemoveTree(Dir);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string SettingsBytes(const std::vector<std::string>& lines, bool mark) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (size_t i = 0; i < lines.size(); ++i) {
        for (char c : (i ? "\r\n" : "") + lines[i]) {
            bytes += c;
            bytes += '\0';
        }
    }
    return bytes;
}

std::string StartModeSettings(int mode) {
    return SettingsBytes({"[VeskTrayServer]", "Registration Method = " + std::to_string(mode)});
}

namespace {

void Copy(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + from);
}

} // namespace

std::optional<std::string> PeerBinDir() {
    const char* dir = std::getenv("VESK_PEER_BIN_DIR");
    if (!dir || !*dir)
        return std::nullopt;
    std::string path = std::string("Z:") + dir + "\\";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TServerFolder::TServerFolder(THook hook, const std::optional<std::string>& settings, bool withTool,
                             const std::string& binDir) {
    Copy(binDir + "VeskTrayServer.exe", Exe);
    if (hook != THook::None) {
        const std::string folder = hook == THook::Recording ? "recording" : "three-names";
        Copy(binDir + folder + "\\VeskTrayHook.hk", Scratch.File("VeskTrayHook.hk"));
    }
    if (withTool)
        Copy(binDir + "vesktrayctl.exe", Scratch.File("vesktrayctl.exe"));
    if (settings)
        WriteFileBytes(Settings, *settings);
}

std::unique_ptr<TProcess> TServerFolder::Start() const {
    JoinDesktop();
    return std::make_unique<TProcess>("\"" + Exe + "\"", Scratch.Path());
}

std::vector<THookCall> ReadHookLog(const std::string& path) {
    std::vector<THookCall> calls;
    std::istringstream lines(ReadFileBytes(path));
    THookCall call;
    while (lines >> call.Time >> call.Event >> call.Argument >> call.Result)
        calls.push_back(call);
    return calls;
}

std::string HookEvents(const std::vector<THookCall>& calls) {
    std::string events;
    for (const THookCall& call : calls)
        events += (events.empty() ? "" : " ") + call.Event;
    return events;
}

TEnvironmentVariable::TEnvironmentVariable(std::string name, const std::string& value)
    : Name(std::move(name)) {
    char buffer[4096];
    const DWORD length = GetEnvironmentVariableA(Name.c_str(), buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer)
        Old = std::string(buffer, length);
    SetEnvironmentVariableA(Name.c_str(), value.c_str());
}

TEnvironmentVariable::~TEnvironmentVariable() {
    SetEnvironmentVariableA(Name.c_str(), Old ? Old->c_str() : nullptr);
}

THookLibraryFolder::THookLibraryFolder(const std::string& folder) {
    SetDllDirectoryA((BinDir() + folder).c_str());
}

THookLibraryFolder::~THookLibraryFolder() {
    SetDllDirectoryA(nullptr);
}

void JoinDesktop() {
    FindControlWindow();
}

HWND FindControlWindow() {
    return FindWindowExA(HWND_MESSAGE, nullptr, "VeskTrayServerWindow", nullptr);
}

std::optional<TRegistryValue> ReadShell(HKEY root) {
    HKEY key;
    if (RegOpenKeyExA(root, WinLogonKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<TRegistryValue> value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "Shell", nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        RegQueryValueExA(key, "Shell", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
        value = TRegistryValue{type, data};
    }
    RegCloseKey(key);
    return value;
}

void WriteShell(HKEY root, const std::optional<TRegistryValue>& value) {
    HKEY key;
    if (RegOpenKeyExA(root, WinLogonKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the WinLogon key");
    if (value)
        RegSetValueExA(key, "Shell", 0, value->Type,
                       reinterpret_cast<const BYTE*>(value->Data.data()),
                       static_cast<DWORD>(value->Data.size()));
    else
        RegDeleteValueA(key, "Shell");
    RegCloseKey(key);
}

TRegistryValue StringValue(const std::string& text, DWORD type) {
    return TRegistryValue{type, text + '\0'};
}

bool WinLogonKeyExists(HKEY root) {
    HKEY key;
    if (RegOpenKeyExA(root, WinLogonKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TShellValuesGuard::TShellValuesGuard()
    : Machine(ReadShell(HKEY_LOCAL_MACHINE)), User(ReadShell(HKEY_CURRENT_USER)) {}

TShellValuesGuard::~TShellValuesGuard() {
    if (!WinLogonKeyExists(HKEY_CURRENT_USER)) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, WinLogonKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            for (const auto& [name, value] : UserValues)
                RegSetValueExA(key, name.c_str(), 0, value.Type,
                               reinterpret_cast<const BYTE*>(value.Data.data()),
                               static_cast<DWORD>(value.Data.size()));
            RegCloseKey(key);
        }
    }
    WriteShell(HKEY_LOCAL_MACHINE, Machine);
    WriteShell(HKEY_CURRENT_USER, User);
}

void TShellValuesGuard::RemoveUserWinLogonKey() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, WinLogonKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[256];
    BYTE data[4096];
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
            ERROR_SUCCESS)
            break;
        UserValues.emplace_back(
            std::string(name, nameSize),
            TRegistryValue{type, std::string(reinterpret_cast<char*>(data), dataSize)});
    }
    RegCloseKey(key);
    if (RegDeleteKeyA(HKEY_CURRENT_USER, WinLogonKey) != ERROR_SUCCESS)
        throw std::runtime_error("cannot remove the user's WinLogon key");
}

long RssAnonKilobytes(const std::string& commandLinePart) {
    // Wine shows the Unix file system as drive Z:.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    long result = -1;
    do {
        const std::string pid = found.cFileName;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string commandLine = ReadFileBytes("Z:\\proc\\" + pid + "\\cmdline");
        if (commandLine.find(commandLinePart) == std::string::npos)
            continue;
        std::istringstream status(ReadFileBytes("Z:\\proc\\" + pid + "\\status"));
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("RssAnon:", 0) == 0)
                result = std::stol(line.substr(8));
        break;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

} // namespace VeskTest
