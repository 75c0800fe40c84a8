// Load and save speed of the INI library on content shaped like a big settings file: sections
// of 32 keys, each key one to three values of 5 to 30 characters.
//
//   VeskIniBench            1 KB, 100 KB, 1 MB and 10 MB, several rounds each
//   VeskIniBench --smoke    1 KB and 100 KB once, checking that what is saved is what was
//                           loaded (what ctest runs)
//
// Natively it measures memory streams (decode + parse, serialise + encode). The Windows build
// also measures files (TVeskIni::LoadFromFile + SaveToFile) and, as the peer, the platform's
// INI API reading the same file once: GetPrivateProfileSectionNamesW, then
// GetPrivateProfileSectionW for every section.
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "VeskError.h"
#include "VeskIni.h"

namespace {

using TClock = std::chrono::steady_clock;
using TBytes = std::vector<uint8_t>;

double MillisecondsSince(TClock::time_point Start) {
    return std::chrono::duration<double, std::milli>(TClock::now() - Start).count();
}

// Deterministic, so that every run measures the same content.
class TRandom {
public:
    uint32_t Next() {
        FState ^= FState << 13;
        FState ^= FState >> 17;
        FState ^= FState << 5;
        return FState;
    }
    int Between(int Low, int High) { return Low + static_cast<int>(Next() % (High - Low + 1)); }

private:
    uint32_t FState = 2463534242u;
};

TVeskWideString Ascii(const std::string& Text) {
    return TVeskWideString(Text.begin(), Text.end());
}

// The encoded settings file of about TargetBytes bytes, and its number of sections. Written
// as lines straight away: building it through a document would leave the heap churned
// before anything is measured.
TBytes MakeContent(size_t TargetBytes, int& Sections) {
    TRandom Random;
    const char Alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789._-";
    TVeskWideStringList Lines;
    size_t Units = 0;
    Sections = 0;
    std::string Line;
    while (2 + 2 * Units < TargetBytes) {
        char Name[32];
        std::snprintf(Name, sizeof Name, "[Section %05d]", Sections);
        if (Sections++ > 0) {
            Lines.Add(TVeskWideString(), 0);
            Units += 2;
        }
        Lines.Add(Ascii(Name), 0);
        Units += std::strlen(Name) + 2;
        for (int K = 0; K < 32; ++K) {
            std::snprintf(Name, sizeof Name, "Key%02d = ", K);
            Line = Name;
            const int Values = Random.Between(1, 3);
            for (int V = 0; V < Values; ++V) {
                if (V > 0) {
                    Line += ',';
                }
                const int Length = Random.Between(5, 30);
                for (int C = 0; C < Length; ++C) {
                    Line += Alphabet[Random.Next() % (sizeof Alphabet - 1)];
                }
            }
            Lines.Add(Ascii(Line), 0);
            Units += Line.size() + 2;
        }
    }
    TVeskMemoryStream Stream;
    Lines.SaveToStream(Stream);
    return TBytes(Stream.Memory(), Stream.Memory() + Stream.Size());
}

struct TTimes {
    double Load = 0;
    double Save = 0;
};

// One load (decode + parse) and one save (serialise + encode) through memory streams; the
// temporary lists are freed inside the timings, as the file operations free theirs.
TTimes MemoryRound(const TBytes& Bytes, TBytes* Saved) {
    TVeskMemoryStream Input;
    Input.WriteBuffer(Bytes.data(), Bytes.size());
    Input.SetPosition(0);
    TVeskIni Ini;
    TTimes Times;
    auto Start = TClock::now();
    {
        TVeskWideStringList Lines;
        Lines.LoadFromStream(Input);
        Ini.LoadFromStrings(Lines);
    }
    Times.Load = MillisecondsSince(Start);
    TVeskMemoryStream Output;
    Start = TClock::now();
    {
        TVeskWideStringList Lines;
        Ini.SaveToStrings(Lines);
        Lines.SaveToStream(Output);
    }
    Times.Save = MillisecondsSince(Start);
    if (Saved != nullptr) {
        Saved->assign(Output.Memory(), Output.Memory() + Output.Size());
    }
    return Times;
}

struct TSize {
    const char* Label;
    size_t Bytes;
    int Rounds;
};

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

#ifdef _WIN32
std::string TempFileName() {
    char Folder[MAX_PATH];
    char Name[MAX_PATH];
    GetTempPathA(MAX_PATH, Folder);
    GetTempFileNameA(Folder, "vib", 0, Name);
    return Name;
}

void WriteFileBytes(const std::string& Name, const TBytes& Bytes) {
    HANDLE File = CreateFileA(Name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD Written = 0;
    WriteFile(File, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr);
    CloseHandle(File);
}

TBytes ReadFileBytes(const std::string& Name) {
    TVeskWideStringList Lines;
    HANDLE File = CreateFileA(Name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    TBytes Bytes(GetFileSize(File, nullptr));
    DWORD Read = 0;
    ReadFile(File, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Read, nullptr);
    CloseHandle(File);
    return Bytes;
}

// TVeskIni::LoadFromFile then SaveToFile over the same file.
TTimes FileRound(const std::string& Name) {
    const TVeskWideString Wide = Ascii(Name);
    TVeskIni Ini;
    TTimes Times;
    auto Start = TClock::now();
    Ini.LoadFromFile(Wide);
    Times.Load = MillisecondsSince(Start);
    Start = TClock::now();
    Ini.SaveToFile(Wide);
    Times.Save = MillisecondsSince(Start);
    return Times;
}

// The platform's INI API reading every section once; returns the sections it found.
int PeerRead(const std::string& Name, double& Milliseconds) {
    std::vector<wchar_t> WideName(Name.begin(), Name.end());
    WideName.push_back(0);
    std::vector<wchar_t> Names(1 << 22);
    std::vector<wchar_t> Section(1 << 20);
    const auto Start = TClock::now();
    GetPrivateProfileSectionNamesW(Names.data(), static_cast<DWORD>(Names.size()), WideName.data());
    int Found = 0;
    for (const wchar_t* At = Names.data(); *At != 0; At += wcslen(At) + 1) {
        GetPrivateProfileSectionW(At, Section.data(), static_cast<DWORD>(Section.size()),
                                  WideName.data());
        ++Found;
    }
    Milliseconds = MillisecondsSince(Start);
    return Found;
}
#endif

int Run(bool Smoke) {
    const std::vector<TSize> Sizes =
        Smoke ? std::vector<TSize>{{"1 KB", 1 << 10, 1}, {"100 KB", 100 << 10, 1}}
              : std::vector<TSize>{{"1 KB", 1 << 10, 200},
                                   {"100 KB", 100 << 10, 50},
                                   {"1 MB", 1 << 20, 10},
                                   {"10 MB", 10 << 20, 5}};
    int Failures = 0;
    std::printf("%-7s %9s %8s | %-36s", "size", "bytes", "sections",
                "memory load / save / ms per MB");
#ifdef _WIN32
    std::printf(" | %-36s | %s", "file load / save / ms per MB", "platform API read once");
#endif
    std::printf("\n");
    for (const TSize& Size : Sizes) {
        int Sections = 0;
        const TBytes Bytes = MakeContent(Size.Bytes, Sections);
        const double MB = static_cast<double>(Bytes.size()) / (1 << 20);
        std::vector<double> Loads;
        std::vector<double> Saves;
        std::vector<double> Totals;
        for (int Round = 0; Round < Size.Rounds; ++Round) {
            TBytes Saved;
            const TTimes Times = MemoryRound(Bytes, Round == 0 ? &Saved : nullptr);
            if (Round == 0 && Saved != Bytes) {
                std::printf("memory round trip of %s changed the content\n", Size.Label);
                ++Failures;
            }
            Loads.push_back(Times.Load);
            Saves.push_back(Times.Save);
            Totals.push_back(Times.Load + Times.Save);
        }
        std::printf("%-7s %9zu %8d | %8.3f %8.3f ms %8.2f ms/MB", Size.Label, Bytes.size(),
                    Sections, Median(Loads), Median(Saves), Median(Totals) / MB);
#ifdef _WIN32
        const std::string Name = TempFileName();
        std::vector<double> FileLoads;
        std::vector<double> FileSaves;
        std::vector<double> FileTotals;
        WriteFileBytes(Name, Bytes);
        for (int Round = 0; Round < std::max(1, Size.Rounds / 5); ++Round) {
            const TTimes Times = FileRound(Name);
            FileLoads.push_back(Times.Load);
            FileSaves.push_back(Times.Save);
            FileTotals.push_back(Times.Load + Times.Save);
        }
        if (ReadFileBytes(Name) != Bytes) {
            std::printf("\nfile round trip of %s changed the content\n", Size.Label);
            ++Failures;
        }
        // A freshly written file, so that the platform reads it rather than a cached copy.
        WriteFileBytes(Name, Bytes);
        double Peer = 0;
        const int PeerSections = PeerRead(Name, Peer);
        DeleteFileA(Name.c_str());
        if (PeerSections != Sections) {
            std::printf("\nplatform API found %d sections of %d\n", PeerSections, Sections);
            ++Failures;
        }
        std::printf(" | %8.3f %8.3f ms %8.2f ms/MB | %10.3f ms = %.1f x our load + save",
                    Median(FileLoads), Median(FileSaves), Median(FileTotals) / MB, Peer,
                    Peer / Median(FileTotals));
#endif
        std::printf("\n");
    }
    return Failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool Smoke = argc > 1 && std::strcmp(argv[1], "--smoke") == 0;
    try {
        return Run(Smoke);
    } catch (const EVeskError& Error) {
        std::printf("failed: %s\n", Error.what());
        return 1;
    }
}
