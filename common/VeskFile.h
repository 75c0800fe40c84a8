// Files by their 8-bit names: what the server, its INI library and vesktrayctl each need of
// the file system, written once. The helpers that can fail raise an EVeskError whose message
// the caller words, so that each keeps the messages its users know.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// A directory is not a file here.
bool VeskIsFile(const std::string& path);

// The name made absolute against the current directory; the name itself when the system
// cannot expand it.
std::string VeskFullPath(const std::string& path);
// The long form of an existing file's name (a short 8.3 name and its long form are the same
// file); the name itself otherwise.
std::string VeskLongPath(const std::string& path);

// The running executable's full file name, as the system reports it, however long.
std::string VeskExecutablePath();
// The path cut after its last path or drive separator, which stays; empty when it has none.
std::string VeskFolderOf(const std::string& path);

enum class TVeskFileStep { Open, Read, Create, Write, Replace };

struct TVeskFileFailure {
    TVeskFileStep Step;
    // The file the caller named, and the temporary file of a replace.
    const std::string& Path;
    const std::string& Temporary;
    // The thread's last error code when the step failed.
    DWORD Code;
};

// Words the message of a failed step.
using TVeskFileFailureText = std::string (*)(const TVeskFileFailure& failure);

// Reads a whole file (others may read meanwhile, nobody may write) into the memory that
// bufferOfSize gives for the file's size.
void VeskReadWholeFile(const std::string& path,
                       const std::function<void*(std::uint64_t)>& bufferOfSize,
                       TVeskFileFailureText failureText);

// Replaces a file without ever emptying it: the bytes go to a temporary file beside it, are
// flushed to disk, take the given attributes (when none are given, the target's own, if it is
// a file), and the temporary file is moved over the target. A failure at any step removes the
// temporary file and leaves the target exactly as it was. The temporary file's name is this
// process's and this attempt's alone ("<path>.<process id>-<n><suffix>"), so that two
// processes replacing one file at once never write into each other's, and whatever is left
// under such a name (a folder, a file nobody may open) is stepped over.
void VeskReplaceFile(const std::string& path, const std::string& suffix, const void* bytes,
                     size_t size, std::optional<DWORD> attributes,
                     TVeskFileFailureText failureText);
