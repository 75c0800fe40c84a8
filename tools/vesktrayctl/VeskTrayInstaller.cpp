#include "VeskTrayInstaller.h"

#include "VeskError.h"
#include "VeskFile.h"
#include "VeskHandle.h"
#include "VeskIni.h"
#include "VeskRegistryKey.h"
#include "VeskSystemError.h"
#include "VeskTraySetup.h"

namespace {

// The key as people read it in messages.
const std::string UserWinLogonKeyName = std::string("HKEY_CURRENT_USER\\") + VeskWinLogonKeyPath;

[[noreturn]] void RegistryError(const std::string& what, LONG status) {
    throw EVeskError(what + ": " + VeskSystemErrorText(static_cast<DWORD>(status)) + ".");
}

void OpenUserKey(TVeskRegistryKey& key, REGSAM access) {
    const LONG status = key.Open(HKEY_CURRENT_USER, VeskWinLogonKeyPath, access);
    if (status == ERROR_FILE_NOT_FOUND)
        throw EVeskError(std::string("The registry key ") + UserWinLogonKeyName +
                         " does not exist, and it is not created here.");
    if (status != ERROR_SUCCESS)
        RegistryError(std::string("Cannot open the registry key ") + UserWinLogonKeyName, status);
}

std::string ShellFailure(const char* verb) {
    return std::string("Cannot ") + verb + " the value \"" + VeskShellValueName + "\" of " +
           UserWinLogonKeyName;
}

std::string FileFailureText(const TVeskFileFailure& failure) {
    std::string text;
    switch (failure.Step) {
    case TVeskFileStep::Open:
    case TVeskFileStep::Read:
        text = "Cannot read \"" + failure.Path;
        break;
    case TVeskFileStep::Create:
        text = "Cannot create \"" + failure.Temporary;
        break;
    case TVeskFileStep::Write:
        text = "Cannot write \"" + failure.Temporary;
        break;
    case TVeskFileStep::Replace:
        text = "Cannot put back \"" + failure.Path;
        break;
    }
    return text + "\": " + VeskSystemErrorText(failure.Code) + ".";
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

void VeskCheckServerCanRewriteSettings(const std::string& settingsFile) {
    // A file of our own beside it, gone again when closed: the server's rewrite starts so.
    const std::string probe = settingsFile + "." + std::to_string(GetCurrentProcessId()) + ".probe";
    TVeskHandle made(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!made.Valid())
        throw EVeskError("the folder \"" + VeskFolderOf(settingsFile) + "\" cannot be written (" +
                         VeskSystemErrorText(GetLastError()) + ")");
    if (!VeskIsFile(settingsFile))
        return;
    // The rewrite then moves its new file over the old one.
    TVeskHandle settings(CreateFileA(settingsFile.c_str(), GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!settings.Valid())
        throw EVeskError("\"" + settingsFile + "\" cannot be replaced (" +
                         VeskSystemErrorText(GetLastError()) + ")");
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
    VeskReadWholeFile(
        Path,
        [this](std::uint64_t size) {
            Bytes.resize(static_cast<size_t>(size));
            return static_cast<void*>(Bytes.data());
        },
        FileFailureText);
}

void TVeskFileSnapshot::Restore() const {
    if (!Existed) {
        if (!DeleteFileA(Path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            throw EVeskError("Cannot remove \"" + Path +
                             "\": " + VeskSystemErrorText(GetLastError()) + ".");
        return;
    }
    VeskReplaceFile(Path, ".restore", Bytes.data(), Bytes.size(), Attributes, FileFailureText);
}

void VeskWriteStartMode(const std::string& settingsFile, std::int32_t mode) {
    const TVeskWideString name = VeskAnsiToWide(settingsFile);
    TVeskIni settings;
    settings.LoadFromFile(name);
    VeskSetStartMode(settings, mode);
    settings.SaveToFile(name);
}

TVeskUserShell VeskReadUserShell() {
    TVeskUserShell shell;
    TVeskRegistryKey key;
    const LONG opened = key.Open(HKEY_CURRENT_USER, VeskWinLogonKeyPath, KEY_QUERY_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND)
        return shell;
    if (opened != ERROR_SUCCESS)
        RegistryError(std::string("Cannot open the registry key ") + UserWinLogonKeyName, opened);
    shell.KeyExists = true;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = key.QueryValueSize(VeskShellValueName, type, size);
    std::string data;
    if (status == ERROR_SUCCESS)
        status = key.ReadValue(VeskShellValueName, size, type, data);
    if (status == ERROR_FILE_NOT_FOUND)
        return shell;
    if (status != ERROR_SUCCESS)
        RegistryError(ShellFailure("read"), status);
    shell.ValueExists = true;
    shell.IsText = type == REG_SZ || type == REG_EXPAND_SZ;
    // Up to the first zero byte; the data need not end in one.
    shell.Text = data.substr(0, data.find('\0'));
    return shell;
}

void VeskWriteUserShell(const std::string& text) {
    TVeskRegistryKey key;
    OpenUserKey(key, KEY_SET_VALUE);
    const LONG status = key.WriteString(VeskShellValueName, text);
    if (status != ERROR_SUCCESS)
        RegistryError(ShellFailure("set"), status);
}

void VeskDeleteUserShell() {
    TVeskRegistryKey key;
    OpenUserKey(key, KEY_SET_VALUE);
    const LONG status = key.DeleteValue(VeskShellValueName);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        RegistryError(ShellFailure("delete"), status);
}
