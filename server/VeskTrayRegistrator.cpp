#include "VeskTrayRegistrator.h"

#include <windows.h>

#include "VeskError.h"
#include "VeskFile.h"
#include "VeskRegistryKey.h"
#include "VeskSystemError.h"
#include "VeskTraySetup.h"

namespace {

// The WinLogon key, opened (never created) with the given rights, or "Error accessing
// registry.".
void OpenWinLogonKey(TVeskRegistryKey& key, HKEY root, REGSAM access) {
    if (key.Open(root, VeskWinLogonKeyPath, access) != ERROR_SUCCESS)
        throw EVeskError("Error accessing registry.");
}

std::string ValueFailure(const char* format, const char* name) {
    std::string text = format;
    text.replace(text.find("%s"), 2, name);
    return text;
}

bool IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// A missing value, or one without data, is empty text.
std::string ReadString(const TVeskRegistryKey& key, const char* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (key.QueryValueSize(name, type, size) != ERROR_SUCCESS || size == 0)
        return {};
    if (!IsText(type))
        throw EVeskError(ValueFailure("Invalid data type for '%s'", name));
    std::string data;
    if (key.ReadValue(name, size, type, data) != ERROR_SUCCESS)
        throw EVeskError(ValueFailure("Failed to get data for '%s'", name));
    if (!IsText(type))
        throw EVeskError(ValueFailure("Invalid data type for '%s'", name));
    // Up to the first zero byte: the data need not end in one.
    return data.substr(0, data.find('\0'));
}

void WriteString(const TVeskRegistryKey& key, const char* name, const std::string& text) {
    if (key.WriteString(name, text) != ERROR_SUCCESS)
        throw EVeskError(ValueFailure("Failed to set data for '%s'", name));
}

// The start reports no such failure: it only makes the start mode 0.
std::string KeepFailure(const TVeskFileFailure& failure) {
    return "Cannot keep the settings file \"" + failure.Path +
           "\": " + VeskSystemErrorText(failure.Code);
}

// A settings file whose bytes are not the server's own encoding (no UTF-16 little-endian
// byte-order mark: an editor saved it as UTF-8 or ANSI) reads as nothing and would be
// rewritten as nothing: its exact bytes are first kept as "VeskTrayServer.ini.bak" beside
// it, replacing an earlier one. Fails when they cannot be kept, so that nothing is lost.
void KeepSettingsFileNotInOurEncoding() {
    const std::string name = VeskWideToAnsi(VeskSettingsFileName());
    if (!VeskIsFile(name))
        return;
    std::string bytes;
    VeskReadWholeFile(
        name,
        [&](std::uint64_t size) {
            bytes.resize(static_cast<size_t>(size));
            return static_cast<void*>(bytes.data());
        },
        KeepFailure);
    if (bytes.empty() || bytes.rfind("\xFF\xFE", 0) == 0)
        return;
    VeskReplaceFile(name + ".bak", ".new", bytes.data(), bytes.size(), std::nullopt, KeepFailure);
}

} // namespace

TVeskWideString VeskSettingsFileName() {
    return VeskAnsiToWide(VeskSettingsFileBeside(VeskExecutablePath()));
}

std::unique_ptr<TVeskIni> LoadSettings() {
    auto settings = std::make_unique<TVeskIni>();
    settings->LoadFromFile(VeskSettingsFileName());
    return settings;
}

void SaveSettings(std::unique_ptr<TVeskIni>& settings) {
    settings->SaveToFile(VeskSettingsFileName());
    settings.reset();
}

std::int32_t ReadRegistrationMethod() noexcept {
    // Whatever goes wrong, the server is then simply not set up: start mode 0.
    try {
        std::unique_ptr<TVeskIni> settings = LoadSettings();
        const std::int32_t mode = VeskStartModeOf(*settings);
        KeepSettingsFileNotInOurEncoding();
        SaveSettings(settings);
        return mode;
    } catch (...) {
        return 0;
    }
}

std::string HandOffShell() {
    // One key at a time: the machine's is closed before the user's is opened.
    TVeskRegistryKey key;
    OpenWinLogonKey(key, HKEY_LOCAL_MACHINE, KEY_READ);
    const std::string shell = ReadString(key, VeskShellValueName);
    key.Close();
    OpenWinLogonKey(key, HKEY_CURRENT_USER, KEY_WRITE);
    WriteString(key, VeskShellValueName, shell);
    return shell;
}

void RestoreServerShell() {
    TVeskRegistryKey user;
    OpenWinLogonKey(user, HKEY_CURRENT_USER, KEY_WRITE);
    WriteString(user, VeskShellValueName, VeskExecutablePath());
}
