// Owns one open registry key and closes it exactly once. Keys are only opened, never
// created. Each call answers the system's status code, so that every caller words its own
// failure messages.
#pragma once

#include <windows.h>

#include <string>

class TVeskRegistryKey {
public:
    TVeskRegistryKey() = default;
    ~TVeskRegistryKey() { Close(); }
    TVeskRegistryKey(const TVeskRegistryKey&) = delete;
    TVeskRegistryKey& operator=(const TVeskRegistryKey&) = delete;

    // The path goes from the root key, without a leading separator.
    LONG Open(HKEY root, const char* path, REGSAM access);
    void Close();

    // A value's type and size, without its data.
    LONG QueryValueSize(const char* name, DWORD& type, DWORD& size) const;
    // A value's type and data, read at the given size. A value that grew since its size was
    // asked is read again at its new size (ERROR_MORE_DATA), a few times at most; any other
    // status ends the read.
    LONG ReadValue(const char* name, DWORD size, DWORD& type, std::string& data) const;
    // A REG_SZ value: the text and one terminating zero.
    LONG WriteString(const char* name, const std::string& text) const;
    LONG DeleteValue(const char* name) const;

private:
    HKEY Key = nullptr;
};
