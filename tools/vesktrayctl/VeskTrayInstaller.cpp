#include "VeskTrayInstaller.h"

#include "VeskError.h"
#include "VeskFile.h"
#include "VeskIni.h"
#include "VeskRegistryKey.h"
#include "VeskSystemError.h"

namespace {

constexpr char WinLogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
constexpr char ShellValue[] = "Shell";

[[noreturn]] void RegistryError(const std::string& what, LONG status) {
    throw EVeskError(what + ": " + VeskSystemErrorText(static_cast<DWORD>(status)) + ".");
}

void OpenUserKey(TVeskRegistryKey& key, REGSAM access) {
    const LONG status = key.Open(HKEY_CURRENT_USER, WinLogonKey, access);
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

} // namespace

std::string VeskSettingsFileOf(const std::string& serverFullPath) {
    return VeskFolderOf(serverFullPath) + "VeskTrayServer.ini";
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
    VeskReplaceFile(Path, Path + ".restore", Bytes.data(), Bytes.size(), Attributes,
                    FileFailureText);
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
    TVeskRegistryKey key;
    const LONG opened = key.Open(HKEY_CURRENT_USER, WinLogonKey, KEY_QUERY_VALUE);
    if (opened == ERROR_FILE_NOT_FOUND)
        return shell;
    if (opened != ERROR_SUCCESS)
        RegistryError(std::string("Cannot open the registry key ") + VeskUserWinLogonKeyName,
                      opened);
    shell.KeyExists = true;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = key.QueryValueSize(ShellValue, type, size);
    std::string data;
    if (status == ERROR_SUCCESS)
        status = key.ReadValue(ShellValue, size, type, data);
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
    const LONG status = key.WriteString(ShellValue, text);
    if (status != ERROR_SUCCESS)
        RegistryError(ShellFailure("set"), status);
}

void VeskDeleteUserShell() {
    TVeskRegistryKey key;
    OpenUserKey(key, KEY_SET_VALUE);
    const LONG status = key.DeleteValue(ShellValue);
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
    return Upper(VeskLongPath(VeskFullPath(path))) == Upper(serverFullPath);
}
