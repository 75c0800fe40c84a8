// Stands in for the machine's logon shell in the tests, in one of two modes:
//   report FILE   writes to FILE the user's logon "Shell" value as it sees it at start (its
//                 type, then its data in hex; nothing when there is none), a line break, and
//                 "show " with the show command it was started with ("none" when it was given
//                 none). The report appears whole, only once it is complete.
//   signal EVENT  signals the named event, so that a test knows it was started.
// Then it ends; without a mode it ends at once with exit code 2.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string UserShell() {
    std::string seen;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon", 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
        BYTE data[1024];
        DWORD type = 0, size = sizeof data;
        if (RegQueryValueExA(key, "Shell", nullptr, &type, data, &size) == ERROR_SUCCESS) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%lu ", type);
            seen = digits;
            for (DWORD i = 0; i < size; ++i) {
                std::snprintf(digits, sizeof digits, "%02x", data[i]);
                seen += digits;
            }
        }
        RegCloseKey(key);
    }
    return seen;
}

std::string ShowCommand() {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    if (!(startup.dwFlags & STARTF_USESHOWWINDOW))
        return "none";
    return std::to_string(startup.wShowWindow);
}

int Report(const char* file) {
    const std::string report = UserShell() + "\nshow " + ShowCommand();
    const std::string partial = std::string(file) + ".partial";
    FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out)
        return 1;
    std::fwrite(report.data(), 1, report.size(), out);
    std::fclose(out);
    return MoveFileA(partial.c_str(), file) ? 0 : 1;
}

int Signal(const char* name) {
    HANDLE started = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (!started)
        return 1;
    SetEvent(started);
    CloseHandle(started);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "report") == 0)
        return Report(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "signal") == 0)
        return Signal(argv[2]);
    return 2;
}
