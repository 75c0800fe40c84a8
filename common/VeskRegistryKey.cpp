#include "VeskRegistryKey.h"

LONG TVeskRegistryKey::Open(HKEY root, const char* path, REGSAM access) {
    Close();
    const LONG status = RegOpenKeyExA(root, path, 0, access, &Key);
    if (status != ERROR_SUCCESS)
        Key = nullptr;
    return status;
}

void TVeskRegistryKey::Close() {
    if (Key)
        RegCloseKey(Key);
    Key = nullptr;
}

LONG TVeskRegistryKey::QueryValueSize(const char* name, DWORD& type, DWORD& size) const {
    size = 0;
    return RegQueryValueExA(Key, name, nullptr, &type, nullptr, &size);
}

LONG TVeskRegistryKey::ReadValue(const char* name, DWORD size, DWORD& type,
                                 std::string& data) const {
    LONG status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < 8 && status == ERROR_MORE_DATA; ++attempt) {
        // One byte more than asked for, which stays zero: the data need not end in one.
        data.assign(size + 1, '\0');
        DWORD got = size;
        status =
            RegQueryValueExA(Key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (status == ERROR_SUCCESS)
            data.resize(got < size ? got : size);
        else
            size = got;
    }
    return status;
}

LONG TVeskRegistryKey::WriteString(const char* name, const std::string& text) const {
    return RegSetValueExA(Key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG TVeskRegistryKey::DeleteValue(const char* name) const {
    return RegDeleteValueA(Key, name);
}
