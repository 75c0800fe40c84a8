// The start mode, read from the settings file beside the executable, and the two registry
// steps of running as the user's logon shell.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "VeskIni.h"

// "VeskTrayServer.ini" in the executable's folder.
TVeskWideString VeskSettingsFileName();

// A new document holding the settings file (empty when there is none).
std::unique_ptr<TVeskIni> LoadSettings();
// Writes the document to the settings file and frees it; on failure the caller keeps it.
void SaveSettings(std::unique_ptr<TVeskIni>& settings);

// The start mode; despite the name it also writes the settings file back, normalised, with the
// key added or repaired (after keeping a file in another encoding). Never fails: any failure
// gives 0.
std::int32_t ReadRegistrationMethod() noexcept;

// Copies the machine's logon shell command to the user's and returns it.
std::string HandOffShell();
// Makes the server the user's logon shell again.
void RestoreServerShell();
