// The system's own words for an error code, as failure messages quote them.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The system's text for a code, trimmed; empty when the system has no text for it.
std::string VeskSystemErrorText(DWORD code);

// Drops trailing blanks, control characters (0x00..0x20) and periods, in any mix.
std::string_view VeskTrimErrorText(std::string_view text);
