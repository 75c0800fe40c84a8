#include "VeskFile.h"

#include <atomic>
#include <string>
#include <vector>

#include "VeskError.h"
#include "VeskHandle.h"

namespace {

// What a replaced file keeps of the target's attributes.
constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A file that another process holds for a moment is tried again this often, this far apart
// (a second in all).
constexpr int RetriesWhileBusy = 40;
constexpr DWORD RetryPauseMs = 25;
// Temporary names tried before a replace gives up: each one something else already holds.
constexpr int TemporaryNamesTried = 100;

// Large files move in pieces: one ReadFile or WriteFile takes a 32-bit count.
constexpr std::uint64_t Piece = std::uint64_t(1) << 24;

[[noreturn]] void Fail(TVeskFileFailureText failureText, TVeskFileStep step,
                       const std::string& path, const std::string& temporary = {}) {
    const DWORD code = GetLastError();
    throw EVeskError(failureText(TVeskFileFailure{step, path, temporary, code}));
}

// Removes a temporary file unless it was moved into place.
class TTemporaryFile {
public:
    TTemporaryFile() = default;
    ~TTemporaryFile() {
        if (!Name.empty()) {
            // It may carry the target's read-only attribute by now.
            SetFileAttributesA(Name.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(Name.c_str());
        }
    }
    TTemporaryFile(const TTemporaryFile&) = delete;
    TTemporaryFile& operator=(const TTemporaryFile&) = delete;
    void Own(const std::string& name) { Name = name; }
    void Keep() { Name.clear(); }

private:
    std::string Name;
};

// Asks a function that fills a buffer and answers the length it needs, again with a larger
// buffer while that is too small.
template <class F> std::optional<std::string> GrowingCall(F call) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::nullopt;
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(length + 1 > buffer.size() * 2 ? length + 1 : buffer.size() * 2);
    }
}

} // namespace

bool VeskIsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string VeskFullPath(const std::string& path) {
    return GrowingCall([&](char* buffer, DWORD size) {
               return GetFullPathNameA(path.c_str(), size, buffer, nullptr);
           })
        .value_or(path);
}

std::string VeskLongPath(const std::string& path) {
    return GrowingCall([&](char* buffer, DWORD size) {
               return GetLongPathNameA(path.c_str(), buffer, size);
           })
        .value_or(path);
}

std::string VeskExecutablePath() {
    // A name that did not fit comes back cut to the buffer's size, not with the size needed.
    std::vector<char> path(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size())
            return std::string(path.data(), length);
        path.resize(path.size() * 2);
    }
}

std::string VeskFolderOf(const std::string& path) {
    const size_t cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

void VeskReadWholeFile(const std::string& path,
                       const std::function<void*(std::uint64_t)>& bufferOfSize,
                       TVeskFileFailureText failureText) {
    // Another process may be moving a new file over this one at this moment (a second server
    // starting rewrites the same settings file): the open is tried again for about as long as
    // that takes, then given up.
    TVeskHandle file;
    for (int tries = 0;; ++tries) {
        file = TVeskHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid())
            break;
        if (GetLastError() != ERROR_SHARING_VIOLATION || tries == RetriesWhileBusy)
            Fail(failureText, TVeskFileStep::Open, path);
        Sleep(RetryPauseMs);
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size))
        Fail(failureText, TVeskFileStep::Read, path);
    const auto total = static_cast<std::uint64_t>(size.QuadPart);
    auto* bytes = static_cast<char*>(bufferOfSize(total));
    for (std::uint64_t done = 0; done < total;) {
        const DWORD piece = static_cast<DWORD>(total - done > Piece ? Piece : total - done);
        DWORD got = 0;
        if (!ReadFile(file.Get(), bytes + done, piece, &got, nullptr) || got == 0)
            Fail(failureText, TVeskFileStep::Read, path);
        done += got;
    }
}

void VeskReplaceFile(const std::string& path, const std::string& suffix, const void* bytes,
                     size_t size, std::optional<DWORD> attributes,
                     TVeskFileFailureText failureText) {
    static std::atomic<unsigned> attempts{0};
    // Declared before the handle, so that it goes after it: an open file cannot be removed.
    TTemporaryFile written;
    std::string temporary;
    TVeskHandle file;
    for (int tries = 0;; ++tries) {
        temporary = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(attempts++) + suffix;
        file = TVeskHandle(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid())
            break;
        // Only a name that something else holds is worth another try.
        const DWORD code = GetLastError();
        if (GetFileAttributesA(temporary.c_str()) == INVALID_FILE_ATTRIBUTES ||
            tries + 1 == TemporaryNamesTried) {
            SetLastError(code);
            Fail(failureText, TVeskFileStep::Create, path, temporary);
        }
    }
    written.Own(temporary);
    const auto* data = static_cast<const char*>(bytes);
    for (size_t done = 0; done < size;) {
        const DWORD piece = static_cast<DWORD>(size - done > Piece ? Piece : size - done);
        DWORD put = 0;
        if (!WriteFile(file.Get(), data + done, piece, &put, nullptr) || put == 0)
            Fail(failureText, TVeskFileStep::Write, path, temporary);
        done += put;
    }
    // On disk before it replaces the target, so that a crash leaves the old or the new file.
    if (!FlushFileBuffers(file.Get()) || !file.Close())
        Fail(failureText, TVeskFileStep::Write, path, temporary);
    // (ReplaceFileA would also keep the target's attributes, but Wine's loses them and leaves
    // a file of its own behind when it fails, so they are carried over by hand.)
    if (!attributes) {
        const DWORD current = GetFileAttributesA(path.c_str());
        if (current != INVALID_FILE_ATTRIBUTES && (current & FILE_ATTRIBUTE_DIRECTORY) == 0)
            attributes = current;
    }
    if (attributes)
        SetFileAttributesA(temporary.c_str(), *attributes & KeptAttributes);
    // Another process may be reading the target at this moment (a second server starting
    // reads the same settings file), and a file being read cannot be replaced: the move is
    // tried again for about as long as such a read takes, then given up.
    for (int tries = 0; !MoveFileExA(temporary.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
         ++tries) {
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) ||
            tries == RetriesWhileBusy)
            Fail(failureText, TVeskFileStep::Replace, path, temporary);
        Sleep(RetryPauseMs);
    }
    written.Keep();
}
