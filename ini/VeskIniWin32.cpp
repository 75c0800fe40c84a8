// File operations of the wide INI library, on the Win32 8-bit file API. File names are wide
// strings and reach the file system through the thread's ANSI code page.
#include <windows.h>

#include <string>

#include "VeskError.h"
#include "VeskHandle.h"
#include "VeskIni.h"
#include "VeskWindow.h"

std::string VeskWideToAnsi(const TVeskWideString& Text) {
    if (Text.empty()) {
        return std::string();
    }
    const auto* Wide = reinterpret_cast<const wchar_t*>(Text.data());
    const int Length = static_cast<int>(Text.size());
    const int Needed =
        WideCharToMultiByte(CP_THREAD_ACP, 0, Wide, Length, nullptr, 0, nullptr, nullptr);
    std::string Result(static_cast<size_t>(Needed > 0 ? Needed : 0), '\0');
    if (Needed > 0) {
        WideCharToMultiByte(CP_THREAD_ACP, 0, Wide, Length, Result.data(), Needed, nullptr,
                            nullptr);
    }
    // CreateFileA reads up to the first NUL anyway; keep the messages alike.
    return Result.substr(0, Result.find('\0'));
}

TVeskWideString VeskAnsiToWide(const std::string& Text) {
    if (Text.empty()) {
        return TVeskWideString();
    }
    const int Length = static_cast<int>(Text.size());
    const int Needed = MultiByteToWideChar(CP_THREAD_ACP, 0, Text.data(), Length, nullptr, 0);
    std::wstring Wide(static_cast<size_t>(Needed > 0 ? Needed : 0), L'\0');
    if (Needed > 0) {
        MultiByteToWideChar(CP_THREAD_ACP, 0, Text.data(), Length, Wide.data(), Needed);
    }
    return TVeskWideString(Wide.begin(), Wide.end());
}

namespace {

// The name made absolute against the current directory, as the messages show it.
std::string FullPath(const std::string& Name) {
    char Buffer[MAX_PATH * 4];
    const DWORD Length = GetFullPathNameA(Name.c_str(), sizeof Buffer, Buffer, nullptr);
    if (Length == 0 || Length >= sizeof Buffer) {
        return Name;
    }
    return std::string(Buffer, Length);
}

[[noreturn]] void FileError(const char* What, const std::string& Name, DWORD Code) {
    throw EVeskError(std::string(What) + " \"" + FullPath(Name) + "\". " +
                     VeskSystemErrorText(Code));
}

constexpr DWORD KeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A directory is not a file here.
bool FileExists(const std::string& Name) {
    const DWORD Attributes = GetFileAttributesA(Name.c_str());
    return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Removes the new file of a save that did not get as far as replacing the target.
class TNewFile {
public:
    explicit TNewFile(std::string Name) : FName(std::move(Name)) {}
    ~TNewFile() {
        if (!FName.empty()) {
            // It may carry the target's read-only attribute by now.
            SetFileAttributesA(FName.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(FName.c_str());
        }
    }
    TNewFile(const TNewFile&) = delete;
    TNewFile& operator=(const TNewFile&) = delete;

    const std::string& Name() const { return FName; }
    void Keep() { FName.clear(); }

private:
    std::string FName;
};

void ReadWholeFile(const std::string& Name, TVeskMemoryStream& Stream) {
    // Others may read meanwhile, nobody may write.
    TVeskHandle File(CreateFileA(Name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!File.Valid()) {
        FileError("Cannot open file", Name, GetLastError());
    }
    LARGE_INTEGER Size;
    if (!GetFileSizeEx(File.Get(), &Size)) {
        throw EVeskError("Stream read error");
    }
    Stream.SetSize(Size.QuadPart);
    int64_t Done = 0;
    while (Done < Size.QuadPart) {
        const int64_t Left = Size.QuadPart - Done;
        const DWORD Chunk = Left > (1 << 24) ? (1 << 24) : static_cast<DWORD>(Left);
        DWORD Read = 0;
        if (!ReadFile(File.Get(), Stream.Memory() + Done, Chunk, &Read, nullptr) || Read == 0) {
            throw EVeskError("Stream read error");
        }
        Done += Read;
    }
}

// The target is never emptied and then written: the bytes go to a new file beside it, which
// then takes its place. A save that fails at any point leaves the target exactly as it was.
// (ReplaceFileA would also keep the target's attributes, but Wine's loses them and leaves a
// file of its own behind when it fails, so the attributes are carried over by hand.)
void WriteWholeFile(const std::string& Name, const uint8_t* Bytes, int64_t Size) {
    const std::string NewName = Name + ".new";
    TVeskHandle File(CreateFileA(NewName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!File.Valid()) {
        FileError("Cannot create file", Name, GetLastError());
    }
    TNewFile NewFile(NewName);
    int64_t Done = 0;
    while (Done < Size) {
        const int64_t Left = Size - Done;
        const DWORD Chunk = Left > (1 << 24) ? (1 << 24) : static_cast<DWORD>(Left);
        DWORD Written = 0;
        if (!WriteFile(File.Get(), Bytes + Done, Chunk, &Written, nullptr) || Written == 0) {
            throw EVeskError("Stream write error");
        }
        Done += Written;
    }
    // On disk before it replaces the target, so that a crash leaves the old or the new file.
    if (!FlushFileBuffers(File.Get()) || !File.Close()) {
        throw EVeskError("Stream write error");
    }
    const DWORD Attributes = GetFileAttributesA(Name.c_str());
    if (Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetFileAttributesA(NewName.c_str(), Attributes & KeptAttributes);
    }
    if (!MoveFileExA(NewName.c_str(), Name.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        FileError("Cannot create file", Name, GetLastError());
    }
    NewFile.Keep();
}

} // namespace

void TVeskWideStringList::LoadFromFile(const TVeskWideString& FileName) {
    const std::string Name = VeskWideToAnsi(FileName);
    if (!FileExists(Name)) {
        return;
    }
    TVeskMemoryStream Stream;
    ReadWholeFile(Name, Stream);
    Stream.SetPosition(0);
    LoadFromStream(Stream);
}

void TVeskWideStringList::SaveToFile(const TVeskWideString& FileName) const {
    TVeskMemoryStream Stream;
    SaveToStream(Stream);
    WriteWholeFile(VeskWideToAnsi(FileName), Stream.Memory(), Stream.Size());
}

void TVeskIni::LoadFromFile(const TVeskWideString& FileName) {
    if (!FileExists(VeskWideToAnsi(FileName))) {
        return;
    }
    TVeskWideStringList Lines;
    Lines.LoadFromFile(FileName);
    LoadFromStrings(Lines);
}

void TVeskIni::SaveToFile(const TVeskWideString& FileName) const {
    TVeskWideStringList Lines;
    SaveToStrings(Lines);
    Lines.SaveToFile(FileName);
}
