#include "VeskSystemError.h"

std::string_view VeskTrimErrorText(std::string_view text) {
    while (!text.empty()) {
        const unsigned char last = static_cast<unsigned char>(text.back());
        if (last > 0x20 && last != '.')
            break;
        text.remove_suffix(1);
    }
    return text;
}

std::string VeskSystemErrorText(DWORD code) {
    char buffer[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                        nullptr, code, 0, buffer, sizeof buffer, nullptr);
    return std::string(VeskTrimErrorText(std::string_view(buffer, length)));
}
