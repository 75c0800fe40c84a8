// File operations of the wide INI library, on the Win32 8-bit file API. File names are wide
// strings and reach the file system through the thread's ANSI code page.
#include <windows.h>

#include <string>

#include "VeskFile.h"
#include "VeskIni.h"
#include "VeskSystemError.h"

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

// The messages this library has always given; the file's name is shown absolute.
std::string FileFailureText(const TVeskFileFailure& Failure) {
    switch (Failure.Step) {
    case TVeskFileStep::Open:
        return "Cannot open file \"" + VeskFullPath(Failure.Path) + "\". " +
               VeskSystemErrorText(Failure.Code);
    case TVeskFileStep::Read:
        return "Stream read error";
    case TVeskFileStep::Write:
        return "Stream write error";
    case TVeskFileStep::Create:
    case TVeskFileStep::Replace:
        break;
    }
    return "Cannot create file \"" + VeskFullPath(Failure.Path) + "\". " +
           VeskSystemErrorText(Failure.Code);
}

} // namespace

void TVeskWideStringList::LoadFromFile(const TVeskWideString& FileName) {
    const std::string Name = VeskWideToAnsi(FileName);
    if (!VeskIsFile(Name)) {
        return;
    }
    TVeskMemoryStream Stream;
    VeskReadWholeFile(
        Name,
        [&Stream](std::uint64_t Size) {
            Stream.SetSize(static_cast<int64_t>(Size));
            return static_cast<void*>(Stream.Memory());
        },
        FileFailureText);
    Stream.SetPosition(0);
    LoadFromStream(Stream);
}

void TVeskWideStringList::SaveToFile(const TVeskWideString& FileName) const {
    TVeskMemoryStream Stream;
    SaveToStream(Stream);
    // A save that fails at any point leaves the target exactly as it was.
    const std::string Name = VeskWideToAnsi(FileName);
    VeskReplaceFile(Name, ".new", Stream.Memory(), static_cast<size_t>(Stream.Size()),
                    std::nullopt, FileFailureText);
}

void TVeskIni::LoadFromFile(const TVeskWideString& FileName) {
    if (!VeskIsFile(VeskWideToAnsi(FileName))) {
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
