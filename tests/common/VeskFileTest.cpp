// The file helpers' own rules; their failures are proven through their users (the INI
// library's file tests and vesktrayctl's put-back).
#include "VeskFile.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(VeskFolderOf, CutsAfterTheLastPathOrDriveSeparator) {
    struct Case {
        const char* Path;
        const char* Folder;
    } cases[] = {
        {"C:\\Program Files\\Vesk\\VeskTrayServer.exe", "C:\\Program Files\\Vesk\\"},
        {"Z:/work/bin/vesktrayctl.exe", "Z:/work/bin/"},
        {"C:\\dir/mixed\\x.exe", "C:\\dir/mixed\\"},
        {"C:x.exe", "C:"}, // the drive's current folder
        {"\\\\server\\share\\x.exe", "\\\\server\\share\\"},
        {"x.exe", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VeskFolderOf(c.Path), c.Folder) << c.Path;
}

TEST(VeskPaths, ExecutablePathIsThisProgramsOwn) {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(VeskExecutablePath(), std::string(path, length));
    EXPECT_TRUE(VeskIsFile(VeskExecutablePath()));
    EXPECT_FALSE(VeskIsFile(VeskFolderOf(VeskExecutablePath())));
}

} // namespace
