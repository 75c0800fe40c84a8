// The file operations on real files, under Wine.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "VeskError.h"
#include "VeskIni.h"

namespace {

std::string SystemText(DWORD Code) {
    char Buffer[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code, 0,
                   Buffer, sizeof Buffer, nullptr);
    std::string Text(Buffer);
    Text.erase(Text.find_last_not_of(" \t\r\n.") + 1);
    return Text;
}

void WriteBytes(const std::string& Path, const TBytes& Bytes) {
    HANDLE File = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(File, INVALID_HANDLE_VALUE) << Path;
    DWORD Written = 0;
    WriteFile(File, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Written, nullptr);
    CloseHandle(File);
    ASSERT_EQ(Written, Bytes.size());
}

TVeskWideString Wide(const std::string& Ascii) {
    return TVeskWideString(Ascii.begin(), Ascii.end());
}

std::vector<std::string> FilesIn(const std::string& Folder) {
    std::vector<std::string> Names;
    WIN32_FIND_DATAA Found;
    HANDLE Find = FindFirstFileA((Folder + "\\*").c_str(), &Found);
    if (Find == INVALID_HANDLE_VALUE) {
        return Names;
    }
    do {
        const std::string Name = Found.cFileName;
        if (Name != "." && Name != "..") {
            Names.push_back(Name);
        }
    } while (FindNextFileA(Find, &Found));
    FindClose(Find);
    return Names;
}

// Each test works in a fresh folder of its own, which is removed afterwards.
class IniFiles : public testing::Test {
protected:
    void SetUp() override {
        char Temp[MAX_PATH];
        char Name[MAX_PATH];
        ASSERT_NE(GetTempPathA(MAX_PATH, Temp), 0u);
        ASSERT_NE(GetTempFileNameA(Temp, "vit", 0, Name), 0u);
        DeleteFileA(Name);
        ASSERT_TRUE(CreateDirectoryA(Name, nullptr));
        Folder = Name;
        GetCurrentDirectoryA(MAX_PATH, Temp);
        OldDirectory = Temp;
    }
    void TearDown() override {
        SetCurrentDirectoryA(OldDirectory.c_str());
        for (const std::string& Name : FilesIn(Folder)) {
            const std::string Path = Folder + "\\" + Name;
            SetFileAttributesA(Path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(Path.c_str())) {
                RemoveDirectoryA(Path.c_str());
            }
        }
        RemoveDirectoryA(Folder.c_str());
    }
    std::string In(const std::string& Name) const { return Folder + "\\" + Name; }

    std::string Folder;
    std::string OldDirectory;
};

TEST_F(IniFiles, MissingFileOrDirectoryLeavesListAndDocumentAsTheyWere) {
    ASSERT_TRUE(CreateDirectoryA(In("folder.ini").c_str(), nullptr));
    for (const std::string& Name : {In("missing.ini"), In("folder.ini")}) {
        SCOPED_TRACE(Name);
        TVeskWideStringList List;
        AddLines(List, {u"kept", u"lines"});
        List.LoadFromFile(Wide(Name));
        EXPECT_EQ(LinesOf(List), TLines({u"kept", u"lines"}));

        TVeskIni Ini;
        Ini.Section(u"s")->Key(u"k")->AddRaw(u"1");
        Ini.LoadFromFile(Wide(Name));
        TVeskWideStringList Saved;
        Ini.SaveToStrings(Saved);
        EXPECT_EQ(LinesOf(Saved), TLines({u"[s]", u"k = 1"}));
    }
    EXPECT_EQ(FilesIn(Folder), std::vector<std::string>({"folder.ini"}));
}

TEST_F(IniFiles, ZeroByteFileEmptiesTheList) {
    WriteBytes(In("empty.ini"), {});
    TVeskWideStringList List;
    AddLines(List, {u"old"});
    List.LoadFromFile(Wide(In("empty.ini")));
    EXPECT_EQ(List.Count(), 0);
    EXPECT_EQ(List.ItemList(), nullptr);
}

TEST_F(IniFiles, SavedListComesBackFromItsFileByteForByte) {
    const std::string Name = In("lines.ini");
    TVeskWideStringList List;
    AddLines(List, {u"a", u"b"});
    List.SaveToFile(Wide(Name));
    EXPECT_EQ(ReadBinaryFile(Name), TBytes({0xFF, 0xFE, 0x61, 0, 0x0D, 0, 0x0A, 0, 0x62, 0}));

    // A shorter content over a longer file leaves nothing of the old one behind.
    WriteBytes(Name, TBytes(4096, 0x41));
    List.SaveToFile(Wide(Name));
    EXPECT_EQ(ReadBinaryFile(Name), TBytes({0xFF, 0xFE, 0x61, 0, 0x0D, 0, 0x0A, 0, 0x62, 0}));

    TVeskWideStringList Loaded;
    Loaded.LoadFromFile(Wide(Name));
    EXPECT_EQ(LinesOf(Loaded), TLines({u"a", u"b"}));
    EXPECT_EQ(FilesIn(Folder), std::vector<std::string>({"lines.ini"}));
}

TEST_F(IniFiles, SettingsFileLoadsAndSavesAsTheGoldenBytes) {
    TVeskIni Ini;
    Ini.LoadFromFile(Wide(VESK_INI_GOLDEN_DIR "/settings-example.input.ini"));
    Ini.SaveToFile(Wide(In("VeskTrayServer.ini")));
    EXPECT_EQ(ReadBinaryFile(In("VeskTrayServer.ini")),
              ReadBinaryFile(VESK_INI_GOLDEN_DIR "/settings-example.expected.ini"));
}

TEST_F(IniFiles, FileHeldOpenWithoutReadSharingFailsToLoadWithTheOpenText) {
    WriteBytes(In("held.ini"), {0xFF, 0xFE, 0x41, 0x00});
    HANDLE Holder = CreateFileA(In("held.ini").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(Holder, INVALID_HANDLE_VALUE);
    // A relative name: the message shows it made absolute.
    ASSERT_TRUE(SetCurrentDirectoryA(Folder.c_str()));
    const std::string Expected =
        "Cannot open file \"" + In("held.ini") + "\". " + SystemText(ERROR_SHARING_VIOLATION);

    TVeskWideStringList List;
    AddLines(List, {u"kept"});
    EXPECT_EQ(FailureOf([&] { List.LoadFromFile(u"held.ini"); }), Expected);
    EXPECT_EQ(LinesOf(List), TLines({u"kept"}));

    TVeskIni Ini;
    Ini.Section(u"s");
    EXPECT_EQ(FailureOf([&] { Ini.LoadFromFile(u"held.ini"); }), Expected);
    EXPECT_EQ(Ini.SectionCount(), 1);
    CloseHandle(Holder);
}

TEST_F(IniFiles, TargetThatCannotBeReplacedFailsToSaveAndStaysByteIdentical) {
    const TBytes Old = {0xFF, 0xFE, 0x6F, 0x00, 0x6C, 0x00, 0x64, 0x00};
    WriteBytes(In("target.ini"), Old);
    // Someone reads it and lets nobody write or delete it meanwhile: the new file can be made
    // beside it, but cannot take its place.
    HANDLE Holder = CreateFileA(In("target.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(Holder, INVALID_HANDLE_VALUE);

    TVeskIni Ini;
    Ini.Section(u"VeskTrayServer")->Key(u"Registration Method")->AddInteger(1);
    const std::string Failure = FailureOf([&] { Ini.SaveToFile(Wide(In("target.ini"))); });
    CloseHandle(Holder);

    EXPECT_EQ(Failure, "Cannot create file \"" + In("target.ini") + "\". " +
                           SystemText(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadBinaryFile(In("target.ini")), Old);
    EXPECT_EQ(FilesIn(Folder), std::vector<std::string>({"target.ini"}));
}

// A save that died (or a stranger) may leave anything under a temporary name of this
// process: a folder, a file nobody may open, a file open for writing. None may stop a save,
// and none is touched. (This program saves far fewer than 60 times before this test, so
// its next temporary name is among those taken here.)
TEST_F(IniFiles, LeftoverTemporaryFilesOfAnyKindNeverStopASave) {
    WriteBytes(In("target.ini"), {0xFF, 0xFE, 0x6F, 0x00});
    std::vector<HANDLE> Held;
    for (int Attempt = 0; Attempt < 60; ++Attempt) {
        const std::string Leftover = In("target.ini." + std::to_string(GetCurrentProcessId()) +
                                        "-" + std::to_string(Attempt) + ".new");
        if (Attempt % 2 == 0) {
            ASSERT_TRUE(CreateDirectoryA(Leftover.c_str(), nullptr));
        } else {
            Held.push_back(CreateFileA(Leftover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_NE(Held.back(), INVALID_HANDLE_VALUE);
        }
    }
    TVeskWideStringList List;
    AddLines(List, {u"a"});
    const std::string Failure = FailureOf([&] { List.SaveToFile(Wide(In("target.ini"))); });
    for (HANDLE File : Held) {
        CloseHandle(File);
    }
    EXPECT_EQ(Failure, "");
    EXPECT_EQ(ReadBinaryFile(In("target.ini")), TBytes({0xFF, 0xFE, 0x61, 0x00}));
    EXPECT_EQ(FilesIn(Folder).size(), 61u);
}

TEST_F(IniFiles, FolderThatDoesNotExistFailsToSaveWithTheCreateText) {
    const std::string Name = In("missing\\VeskTrayServer.ini");
    TVeskWideStringList List;
    AddLines(List, {u"a"});
    const std::string Failure = FailureOf([&] { List.SaveToFile(Wide(Name)); });
    EXPECT_EQ(Failure, "Cannot create file \"" + Name + "\". " + SystemText(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(FilesIn(Folder).empty());
}

TEST_F(IniFiles, SaveKeepsTheTargetsAttributes) {
    WriteBytes(In("hidden.ini"), {0xFF, 0xFE});
    ASSERT_TRUE(SetFileAttributesA(In("hidden.ini").c_str(), FILE_ATTRIBUTE_HIDDEN));
    TVeskWideStringList List;
    AddLines(List, {u"a"});
    List.SaveToFile(Wide(In("hidden.ini")));
    EXPECT_EQ(ReadBinaryFile(In("hidden.ini")), TBytes({0xFF, 0xFE, 0x61, 0x00}));
    EXPECT_NE(GetFileAttributesA(In("hidden.ini").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST_F(IniFiles, NamesReachTheFileSystemThroughTheAnsiCodePage) {
    const TVeskWideString Name = Wide(Folder + "\\") + u"caf\u00e9.ini";
    char Ansi[MAX_PATH] = {};
    BOOL Defaulted = FALSE;
    WideCharToMultiByte(CP_THREAD_ACP, 0, reinterpret_cast<const wchar_t*>(Name.c_str()), -1, Ansi,
                        sizeof Ansi, nullptr, &Defaulted);
    if (Defaulted) {
        GTEST_SKIP() << "this code page has no e with acute accent";
    }
    TVeskWideStringList List;
    AddLines(List, {u"a"});
    List.SaveToFile(Name);
    EXPECT_NE(GetFileAttributesA(Ansi), INVALID_FILE_ATTRIBUTES);
    TVeskWideStringList Loaded;
    Loaded.LoadFromFile(Name);
    EXPECT_EQ(LinesOf(Loaded), TLines({u"a"}));
}

} // namespace
