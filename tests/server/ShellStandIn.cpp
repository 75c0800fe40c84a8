// Stands in for the machine's logon shell in the tests: writes the user's logon "Shell"
// value as it sees it at start (type, then the data in hex) to the file named first on
// its command line, then ends.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    FILE* report = std::fopen(argv[1], "w");
    if (!report)
        return 1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon", 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
        BYTE data[1024];
        DWORD type = 0, size = sizeof data;
        if (RegQueryValueExA(key, "Shell", nullptr, &type, data, &size) == ERROR_SUCCESS) {
            std::fprintf(report, "%lu ", type);
            for (DWORD i = 0; i < size; ++i)
                std::fprintf(report, "%02x", data[i]);
        }
        RegCloseKey(key);
    }
    std::fclose(report);
    return 0;
}
