#include "VeskTrayRegistrator.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "VeskError.h"

namespace {

// The platform is asked without the leading separator: a path from the root key.
constexpr char WinLogonKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
constexpr char ShellValue[] = "Shell";

// An open registry key, closed on every path. Keys are only opened, never created.
class TRegistryKey {
public:
    TRegistryKey(HKEY root, REGSAM access) {
        if (RegOpenKeyExA(root, WinLogonKey, 0, access, &Key) != ERROR_SUCCESS)
            throw EVeskError("Error accessing registry.");
    }
    ~TRegistryKey() { RegCloseKey(Key); }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    std::string ReadString(const char* name) const;
    void WriteString(const char* name, const std::string& text) const;

private:
    HKEY Key = nullptr;
};

std::string ValueFailure(const char* format, const char* name) {
    std::string text = format;
    text.replace(text.find("%s"), 2, name);
    return text;
}

std::string TRegistryKey::ReadString(const char* name) const {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(Key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0)
        return {};
    // The value may change between the size query and the read: a longer one is fetched
    // again into a buffer of its new size, a few times at most.
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw EVeskError(ValueFailure("Invalid data type for '%s'", name));
        std::vector<char> data(size);
        DWORD got = size;
        const LONG status =
            RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw EVeskError(ValueFailure("Invalid data type for '%s'", name));
        // Up to the first zero byte, and never past the data: it need not end in one.
        const char* text = data.data();
        return std::string(text, strnlen(text, std::min<DWORD>(got, size)));
    }
    throw EVeskError(ValueFailure("Failed to get data for '%s'", name));
}

void TRegistryKey::WriteString(const char* name, const std::string& text) const {
    if (RegSetValueExA(Key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1)) != ERROR_SUCCESS)
        throw EVeskError(ValueFailure("Failed to set data for '%s'", name));
}

} // namespace

std::string VeskExecutablePath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size())
            return std::string(path.data(), length);
        path.resize(path.size() * 2);
    }
}

TVeskWideString VeskSettingsFileName() {
    const std::string path = VeskExecutablePath();
    const size_t cut = path.find_last_of("\\/:");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    return VeskAnsiToWide(folder + "VeskTrayServer.ini");
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
        const std::int32_t mode = settings->Section(u"VeskTrayServer")
                                      ->Key(u"Registration Method")
                                      ->FirstValue(0)
                                      ->AsInteger();
        SaveSettings(settings);
        return mode;
    } catch (...) {
        return 0;
    }
}

std::string HandOffShell() {
    std::string shell;
    {
        TRegistryKey machine(HKEY_LOCAL_MACHINE, KEY_READ);
        shell = machine.ReadString(ShellValue);
    }
    TRegistryKey user(HKEY_CURRENT_USER, KEY_WRITE);
    user.WriteString(ShellValue, shell);
    return shell;
}

void RestoreServerShell() {
    TRegistryKey user(HKEY_CURRENT_USER, KEY_WRITE);
    user.WriteString(ShellValue, VeskExecutablePath());
}
