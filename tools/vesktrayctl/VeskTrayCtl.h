// vesktrayctl: the command line for people. The program's main only hands its arguments and
// its two output streams to RunVeskTrayCtl and exits with what it returns.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Exit codes; --help lists them, and so does the README.
enum TVeskCtlExit : int {
    VeskCtlSuccess = 0,        // for status: a server is running
    VeskCtlUsage = 1,          // unknown command or option, arguments that do not fit
    VeskCtlBadValue = 2,       // a missing or malformed value
    VeskCtlNoServer = 3,       // no server is running
    VeskCtlNoAnswer = 4,       // the server did not answer in time
    VeskCtlStillRunning = 5,   // asked to quit, the server's process did not end in time
    VeskCtlSettingsFailed = 6, // the settings file cannot be read or written
    VeskCtlRegistryFailed = 7, // the user's WinLogon key or "Shell" value cannot be changed
    VeskCtlSystemFailed = 8,   // another system call failed
    VeskCtlWrongBitness = 9,   // install: the server's bitness is not this Windows'
};

inline constexpr unsigned VeskCtlDefaultTimeoutMs = 5000;

// A 32-bit value: decimal (from -2147483648 to 4294967295) or 0x with 1 to 8 hexadecimal
// digits. Nothing else: no sign before 0x, no blanks, no other base.
std::optional<std::int32_t> VeskParseMonitorValue(std::string_view text);

// args are the program's arguments without the program name.
int RunVeskTrayCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
