// The server's main sequence: load the hook library, open the control window, install the
// hook as the start mode asks, serve until a client asks to quit, and shut down in order.
#pragma once

#include <chrono>

#include "VeskTrayHookLibrary.h"

// How long start mode 2 waits for the shell it started to let the tray hook in. A shell
// comes up within seconds even on a slow machine; past this something is wrong with it.
inline constexpr std::chrono::minutes VeskShellWaitLimit{5};

// Runs the whole sequence; every failure ends in the one "Error: " box. Always 0.
int RunVeskTrayServer();

// Calls InstallTrayHook at once and after every 1 ms pause until it succeeds. When the
// limit passes first, the server is put back as the user's shell (so the next logon still
// starts it) and the wait fails, naming the shell command.
void WaitForTrayHook(const TVeskTrayHookLibrary& library, const std::string& shell,
                     std::chrono::milliseconds limit = VeskShellWaitLimit);
