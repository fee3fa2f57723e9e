#include <algorithm>

#include "HostDir.h"

namespace {

class PathTest : public HostDir {};

TEST_F(PathTest, DriveLettersMapToTheirHostDirectory) {
    Put("a.txt", "drive");
    for (const char* path : {"R:\\a.txt", "r:/a.txt", "R:a.txt", "R:\\sub\\..\\a.txt", "R:\\..\\..\\a.txt"})
        EXPECT_EQ(Contents(path), "drive") << path;
    unsetenv("W32_DRIVE_Y");
    EXPECT_EQ(OpenError("Y:\\a.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(OpenError("", GENERIC_READ, 0, OPEN_EXISTING), ERROR_PATH_NOT_FOUND);
}

TEST_F(PathTest, HostAbsoluteAndRelativePaths) {
    Put("abs.txt", "1");
    std::string absolute = (host / "abs.txt").string();
    std::replace(absolute.begin(), absolute.end(), '/', '\\');
    HANDLE file = Open(absolute, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);

    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(host);
    file = Open("abs.txt", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    std::filesystem::current_path(previous);
}

TEST_F(PathTest, ComponentsMatchWithoutRegardToCase) {
    Put("Game/Packs/Local.WDT", "pack");
    EXPECT_EQ(Contents("R:\\GAME\\packs\\local.wdt"), "pack");

    // New names keep their case; existing directories keep theirs.
    HANDLE file = Open("R:\\game\\PACKS\\NewFile.Dat", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(host / "Game/Packs/NewFile.Dat"));
    EXPECT_EQ(HostNames("").size(), 1u);
    EXPECT_EQ(OpenError("R:\\game\\packs\\NEWFILE.DAT", GENERIC_READ, 0, CREATE_NEW), ERROR_FILE_EXISTS);
}

TEST_F(PathTest, AnExactEntryWinsOverOneDifferingInCase) {
    Put("x", "lower");
    Put("X", "upper");
    EXPECT_EQ(Contents("R:\\X"), "upper");
}

// A folder is read once, then kept current: entries made, renamed and
// removed outside the layer (here, and by another process) between two calls
// are seen by the next, and so is a folder replaced under the same name.
TEST_F(PathTest, ChangesMadeOutsideBetweenTwoCallsAreSeen) {
    Put("Dir/keep.txt");
    auto exists = [](const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; };
    EXPECT_FALSE(exists("R:\\DIR\\README.TXT"));
    Put("Dir/readme.txt", "x");
    EXPECT_TRUE(exists("R:\\DIR\\README.TXT"));
    EXPECT_EQ(OpenError("R:\\dir\\ReadMe.Txt", GENERIC_WRITE, 0, CREATE_NEW), ERROR_FILE_EXISTS);
    std::filesystem::rename(host / "Dir/readme.txt", host / "Dir/readme.old");
    EXPECT_FALSE(exists("R:\\DIR\\README.TXT"));
    EXPECT_TRUE(exists("R:\\DIR\\README.OLD"));
    std::filesystem::remove(host / "Dir/readme.old");
    EXPECT_FALSE(exists("R:\\DIR\\README.OLD"));

    ASSERT_EQ(std::system(("touch '" + (host / "Dir/Other.Dat").string() + "'").c_str()), 0);
    EXPECT_TRUE(exists("R:\\DIR\\OTHER.DAT"));
    // Two variants, neither exact: the first in byte order (Other.Dat) answers.
    Put("Dir/other.dat", "second");
    EXPECT_EQ(Contents("R:\\DIR\\OTHER.DAT"), "");

    // A move and a delete find a variant another process made between two
    // calls, and replace or remove it rather than make a second name (the
    // folder named exactly, the last name in another case).
    Put("Dir/new.tmp", "new");
    EXPECT_TRUE(MoveFileExA("R:\\Dir\\NEW.TMP", "R:\\Dir\\TARGET.BIN", 0));
    std::filesystem::remove(host / "Dir/TARGET.BIN");
    Put("Dir/new.tmp", "newer");
    ASSERT_EQ(std::system(("printf old > '" + (host / "Dir/Target.Bin").string() + "'").c_str()), 0);
    EXPECT_FALSE(MoveFileExA("R:\\Dir\\NEW.TMP", "R:\\Dir\\TARGET.BIN", 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(MoveFileExA("R:\\Dir\\NEW.TMP", "R:\\Dir\\TARGET.BIN", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Contents("R:\\Dir\\target.bin"), "newer");
    EXPECT_FALSE(std::filesystem::exists(host / "Dir/TARGET.BIN"));
    ASSERT_EQ(std::system(("rm '" + (host / "Dir/Target.Bin").string() + "'").c_str()), 0);
    EXPECT_FALSE(exists("R:\\Dir\\TARGET.BIN"));
    EXPECT_FALSE(DeleteFileA("R:\\Dir\\TARGET.BIN"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    ASSERT_EQ(std::system(("touch '" + (host / "Dir/tARGET.bIN").string() + "'").c_str()), 0);
    EXPECT_TRUE(DeleteFileA("R:\\Dir\\TARGET.BIN"));
    EXPECT_FALSE(std::filesystem::exists(host / "Dir/tARGET.bIN"));
    EXPECT_EQ(OpenError("R:\\Dir\\NEW.TMP", GENERIC_READ, 0, OPEN_EXISTING), ERROR_FILE_NOT_FOUND);

    std::filesystem::rename(host / "Dir", host / "Old");
    Put("Dir/Readme.TXT");
    EXPECT_TRUE(exists("R:\\DIR\\README.TXT"));
    EXPECT_FALSE(exists("R:\\DIR\\KEEP.TXT"));
    EXPECT_TRUE(exists("R:\\OLD\\KEEP.TXT"));
}

TEST_F(PathTest, NamesWindowsRefuses) {
    EXPECT_EQ(OpenError("R:\\a<b", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
    EXPECT_EQ(OpenError("R:\\a*", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
    EXPECT_EQ(OpenError("R:\\dir\\c:", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
    EXPECT_TRUE(HostNames("").empty());
}

TEST_F(PathTest, FullPathNamesAreTextual) {
    char buffer[64];
    LPSTR filePart = nullptr;
    DWORD length = GetFullPathNameA("c:/Games\\.\\Quor\\x\\..\\Quor.exe", sizeof(buffer), buffer, &filePart);
    EXPECT_EQ(std::string(buffer), "c:\\Games\\Quor\\Quor.exe");
    EXPECT_EQ(length, std::string(buffer).size());
    ASSERT_NE(filePart, nullptr);
    EXPECT_EQ(std::string(filePart), "Quor.exe");
    EXPECT_EQ(GetFullPathNameA("C:\\..\\", sizeof(buffer), buffer, nullptr), 3u);
    EXPECT_EQ(std::string(buffer), "C:\\");
    // Too small: the size needed, with the terminator, and the buffer untouched.
    buffer[0] = '#';
    EXPECT_EQ(GetFullPathNameA("C:\\abcdef", 5, buffer, nullptr), 10u);
    EXPECT_EQ(buffer[0], '#');
}

}  // namespace
