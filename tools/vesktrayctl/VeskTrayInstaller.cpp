#include "VeskTrayInstaller.h"

#include <cstring>
#include <vector>

#include "VeskHandle.h"
#include "VeskError.h"
#include "VeskIni.h"
#include "VeskWindow.h"

namespace {

constexpr char WinLogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
constexpr char ShellValue[] = "Shell";

// Removes a temporary file unless it was moved into place.
class TTemporaryFile {
public:
    explicit TTemporaryFile(std::string name) : Name(std::move(name)) {}
    ~TTemporaryFile() {
        if (!Name.empty()) {
            SetFileAttributesA(Name.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(Name.c_str());
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    void Keep() { Name.clear(); }

private:
    std::string Name;
};

class TRegistryKey {
public:
    TRegistryKey() = default;
    ~TRegistryKey() {
        if (Key)
            RegCloseKey(Key);
    }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    LONG Open(REGSAM access) {
        return RegOpenKeyExA(HKEY_CURRENT_USER, WinLogonKey, 0, access, &Key);
    }
    HKEY Get() const { return Key; }

private:
    HKEY Key = nullptr;
};

[[noreturn]] void RegistryError(const std::string& what, LONG status) {
    throw EVeskError(what + ": " + VeskSystemErrorText(static_cast<DWORD>(status)) + ".");
}

void OpenUserKey(TRegistryKey& key, REGSAM access) {
    const LONG status = key.Open(access);
    if (status == ERROR_FILE_NOT_FOUND)
        throw EVeskError(std::string("The registry key ") + VeskUserWinLogonKeyName +
                         " does not exist, and it is not created here.");
    if (status != ERROR_SUCCESS)
        RegistryError(std::string("Cannot open the registry key ") + VeskUserWinLogonKeyName,
                      status);
}

std::string ShellFailure(const char* verb) {
    return std::string("Cannot ") + verb + " the value \"" + ShellValue + "\" of " +
           VeskUserWinLogonKeyName;
}

// Letter case folded the way the ANSI code page folds it.
std::string Upper(std::string text) {
    if (!text.empty())
        CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::string ReadWholeFile(const std::string& path) {
    TVeskHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        throw EVeskError("Cannot read \"" + path + "\": " + VeskSystemErrorText(GetLastError()) +
                         ".");
    std::string bytes;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
            throw EVeskError("Cannot read \"" + path +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

// Reads exactly size bytes at offset; false when the file is shorter. The offset goes in the
// OVERLAPPED structure, which a synchronous handle also takes.
bool ReadAt(HANDLE file, DWORD offset, void* buffer, DWORD size, const std::string& path) {
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, &got, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return false;
        throw EVeskError("Cannot read \"" + path + "\": " + VeskSystemErrorText(error) + ".");
    }
    return got == size;
}

} // namespace

WORD VeskProgramMachine(const std::string& path) {
    TVeskHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        throw EVeskError("Cannot read \"" + path + "\": " + VeskSystemErrorText(GetLastError()) +
                         ".");
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (!ReadAt(file.Get(), 0, &dos, sizeof dos, path) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0 ||
        !ReadAt(file.Get(), static_cast<DWORD>(dos.e_lfanew), &signature, sizeof signature, path) ||
        signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file.Get(), static_cast<DWORD>(dos.e_lfanew) + sizeof signature, &header,
                sizeof header, path))
        throw EVeskError("\"" + path + "\" is not a Windows program.");
    return header.Machine;
}

bool VeskWindowsIs64Bit() {
#ifdef _WIN64
    return true;
#else
    // Missing from Windows 2000 and early XP, which are 32-bit only: looked up, not imported.
    using TIsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto isWow64Process = kernel ? reinterpret_cast<TIsWow64Process>(reinterpret_cast<void*>(
                                             GetProcAddress(kernel, "IsWow64Process")))
                                       : nullptr;
    if (!isWow64Process)
        return false;
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64))
        throw EVeskError("Cannot tell whether this Windows is 64-bit: " +
                         VeskSystemErrorText(GetLastError()) + ".");
    return wow64 != FALSE;
#endif
}

std::string VeskFullPath(const std::string& path) {
    std::vector<char> full(MAX_PATH);
    DWORD length =
        GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size()) {
        full.resize(length + 1);
        length =
            GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size())
        return path;
    std::string result(full.data(), length);
    // A short (8.3) name and its long form are the same file.
    std::vector<char> longer(MAX_PATH * 4);
    const DWORD longLength =
        GetLongPathNameA(result.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (longLength > 0 && longLength < longer.size())
        result.assign(longer.data(), longLength);
    return result;
}

std::string VeskSettingsFileOf(const std::string& serverFullPath) {
    const size_t cut = serverFullPath.find_last_of("\\/:");
    return (cut == std::string::npos ? std::string() : serverFullPath.substr(0, cut + 1)) +
           "VeskTrayServer.ini";
}

bool VeskIsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

TVeskFileSnapshot::TVeskFileSnapshot(std::string path) : Path(std::move(path)) {
    const DWORD attributes = GetFileAttributesA(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
        throw EVeskError("Cannot read \"" + Path + "\": " + VeskSystemErrorText(error) + ".");
    }
    Existed = true;
    Attributes = attributes;
    Bytes = ReadWholeFile(Path);
}

void TVeskFileSnapshot::Restore() const {
    if (!Existed) {
        if (!DeleteFileA(Path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            throw EVeskError("Cannot remove \"" + Path +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        return;
    }
    const std::string temporary = Path + ".restore";
    {
        // Declared first so that it goes last: the handle is closed before the file is removed.
        TTemporaryFile written(temporary);
        TVeskHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid())
            throw EVeskError("Cannot create \"" + temporary +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        DWORD done = 0;
        if (!WriteFile(file.Get(), Bytes.data(), static_cast<DWORD>(Bytes.size()), &done,
                       nullptr) ||
            done != Bytes.size() || !FlushFileBuffers(file.Get()) || !file.Close())
            throw EVeskError("Cannot write \"" + temporary +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        SetFileAttributesA(temporary.c_str(),
                           Attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                         FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
        if (!MoveFileExA(temporary.c_str(), Path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            throw EVeskError("Cannot put back \"" + Path +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        written.Keep();
    }
}

void VeskWriteStartMode(const std::string& settingsFile, std::int32_t mode) {
    const TVeskWideString name = VeskAnsiToWide(settingsFile);
    TVeskIni settings;
    settings.LoadFromFile(name);
    settings.Section(u"VeskTrayServer")
        ->Key(u"Registration Method")
        ->FirstValue(0)
        ->SetInteger(mode);
    settings.SaveToFile(name);
}

TVeskUserShell VeskReadUserShell() {
    TVeskUserShell shell;
    TRegistryKey key;
    const LONG opened = key.Open(KEY_QUERY_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND)
        return shell;
    if (opened != ERROR_SUCCESS)
        RegistryError(std::string("Cannot open the registry key ") + VeskUserWinLogonKeyName,
                      opened);
    shell.KeyExists = true;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key.Get(), ShellValue, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return shell;
    // The value may grow between the two calls; then its new size is asked for again.
    std::vector<char> data;
    for (int attempt = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++attempt) {
        if (attempt == 8)
            break;
        data.assign(size + 1, '\0');
        DWORD got = size;
        status = RegQueryValueExA(key.Get(), ShellValue, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &got);
        if (status == ERROR_SUCCESS) {
            shell.ValueExists = true;
            shell.IsText = type == REG_SZ || type == REG_EXPAND_SZ;
            // Up to the first zero byte; the data need not end in one.
            shell.Text.assign(data.data(), strnlen(data.data(), got));
            return shell;
        }
        size = got;
    }
    if (status == ERROR_FILE_NOT_FOUND)
        return shell;
    RegistryError(ShellFailure("read"), status);
}

void VeskWriteUserShell(const std::string& text) {
    TRegistryKey key;
    OpenUserKey(key, KEY_SET_VALUE);
    const LONG status = RegSetValueExA(key.Get(), ShellValue, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>(text.size() + 1));
    if (status != ERROR_SUCCESS)
        RegistryError(ShellFailure("set"), status);
}

void VeskDeleteUserShell() {
    TRegistryKey key;
    OpenUserKey(key, KEY_SET_VALUE);
    const LONG status = RegDeleteValueA(key.Get(), ShellValue);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        RegistryError(ShellFailure("delete"), status);
}

bool VeskShellNamesServer(const std::string& shell, const std::string& serverFullPath) {
    std::string path = shell;
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    if (path.empty())
        return false;
    // Only a full path can name the server: a relative one depends on who starts it.
    const bool full = (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
                      path.rfind("\\\\", 0) == 0;
    if (!full)
        return false;
    return Upper(VeskFullPath(path)) == Upper(serverFullPath);
}
