// What the server and vesktrayctl agree on about how the server is set up: the settings file
// beside the server with its start mode, and the user's WinLogon "Shell" value that makes the
// server the logon shell.
#pragma once

#include <cstdint>
#include <string>

#include "VeskIni.h"

// From the root key, without a leading separator. The key is only opened, never created.
inline constexpr char VeskWinLogonKeyPath[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\WinLogon";
inline constexpr char VeskShellValueName[] = "Shell";

inline constexpr char16_t VeskSettingsSection[] = u"VeskTrayServer";
inline constexpr char16_t VeskStartModeKey[] = u"Registration Method";

// "VeskTrayServer.ini" in the executable's folder.
std::string VeskSettingsFileBeside(const std::string& executablePath);

// The first value of the start mode key, added where missing and repaired to 0 where it is no
// integer, as the INI library's get-or-add lookups do.
std::int32_t VeskStartModeOf(TVeskIni& settings);
void VeskSetStartMode(TVeskIni& settings, std::int32_t mode);

// Whether a "Shell" command line names this server: the same full path, letter case ignored,
// with or without surrounding double quotes.
bool VeskShellNamesServer(const std::string& shell, const std::string& serverFullPath);
