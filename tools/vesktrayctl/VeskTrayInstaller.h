// The steps of installing and uninstalling a server for the current user: its start mode in
// the settings file beside it, and the user's WinLogon "Shell" value. Each step fails with
// an EVeskError; the caller decides the order and puts things back when a later step fails.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The machine type of a Windows program (IMAGE_FILE_HEADER.Machine, such as
// IMAGE_FILE_MACHINE_I386 or IMAGE_FILE_MACHINE_AMD64); fails when it is no Windows program.
WORD VeskProgramMachine(const std::string& path);
// Whether this Windows is 64-bit: always for a 64-bit program, for a 32-bit one when it runs
// under WOW64.
bool VeskWindowsIs64Bit();

// Whether this user can do what the server does at every start: make a file in the settings
// file's folder and replace the settings file. Fails with what stands in the way.
void VeskCheckServerCanRewriteSettings(const std::string& settingsFile);

// A file's exact bytes, or that it did not exist, to put back after a failed change.
class TVeskFileSnapshot {
public:
    explicit TVeskFileSnapshot(std::string path);
    // Writes the old bytes back beside the file and moves them over it, so that the file is
    // never half written; removes the file when there was none.
    void Restore() const;

private:
    std::string Path;
    bool Existed = false;
    std::string Bytes;
    DWORD Attributes = 0;
};

// Sets the first value of "Registration Method" in section "VeskTrayServer" through the
// project's INI library, which keeps everything else and writes the server's own layout.
void VeskWriteStartMode(const std::string& settingsFile, std::int32_t mode);

struct TVeskUserShell {
    bool KeyExists = false;
    bool ValueExists = false;
    // A string value; any other type is never taken for a command line.
    bool IsText = false;
    std::string Text;
};

// The user's "Shell" value; a missing key is reported, not a failure.
TVeskUserShell VeskReadUserShell();
// The key is opened, never created: a user without it has no WinLogon settings of their own.
void VeskWriteUserShell(const std::string& text);
void VeskDeleteUserShell();
