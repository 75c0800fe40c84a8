// Stands in for the machine's logon shell in the tests: reports the user's logon "Shell"
// value as it sees it at start (type, then the data in hex) in the file named first on its
// command line, then ends. The report appears whole, only once the value has been read.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
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
    const std::string partial = std::string(argv[1]) + ".partial";
    FILE* report = std::fopen(partial.c_str(), "wb");
    if (!report)
        return 1;
    std::fwrite(seen.data(), 1, seen.size(), report);
    std::fclose(report);
    return MoveFileA(partial.c_str(), argv[1]) ? 0 : 1;
}
