// Replacing a file in one step, and the hidden and system attributes that
// decide whether Windows lets a file be emptied or replaced.
#include <sys/xattr.h>

#include "HostDir.h"

namespace {

class ReplaceTest : public HostDir {
protected:
    void MakeReadOnly(const std::string& relative) {
        std::filesystem::permissions(host / relative, std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::group_write |
                                                          std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }
};

TEST_F(ReplaceTest, ReplacesAnExistingFileOnlyWhenAsked) {
    Put("new", "new bytes");
    Put("old", "old bytes");
    EXPECT_FALSE(MoveFileExA("R:\\new", "R:\\old", 0));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(MoveFileA("R:\\new", "R:\\old"));
    EXPECT_EQ(Get("old"), "old bytes");

    EXPECT_TRUE(MoveFileExA("R:\\new", "R:\\OLD", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Get("old"), "new bytes");
    EXPECT_FALSE(std::filesystem::exists(host / "new"));
    // To a name that is free, with or without the flag.
    EXPECT_TRUE(MoveFileExA("R:\\old", "R:\\moved", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(Get("moved"), "new bytes");
    EXPECT_FALSE(MoveFileExA("R:\\moved", "R:\\x", 0x10));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ReplaceTest, NeverReplacesAReadOnlyFileAFolderOrAnOpenFile) {
    Put("new", "new");
    Put("ro", "read-only");
    MakeReadOnly("ro");
    EXPECT_FALSE(MoveFileExA("R:\\new", "R:\\ro", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("ro"), "read-only");

    std::filesystem::create_directory(host / "dir");
    EXPECT_FALSE(MoveFileExA("R:\\new", "R:\\dir", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(std::filesystem::is_directory(host / "dir"));

    Put("busy", "busy");
    HANDLE open = Open("R:\\busy", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileExA("R:\\new", "R:\\busy", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(open);
    EXPECT_EQ(Get("busy"), "busy");
    EXPECT_EQ(Get("new"), "new");
}

TEST_F(ReplaceTest, HiddenAndSystemAreKeptWhereWineKeepsThem) {
    Put("f", "x");
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(SetFileAttributesA("R:\\f", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    char text[16] = {};
    ASSERT_GT(getxattr((host / "f").c_str(), "user.DOSATTRIB", text, sizeof text - 1), 0);
    EXPECT_STREQ(text, "0x6");

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("R:\\f", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.dwFileAttributes, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    FindClose(search);

    ASSERT_TRUE(SetFileAttributesA("R:\\f", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(SetFileAttributesA("R:\\f", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_NORMAL);

    // A file made hidden by its creator.
    HANDLE made = CreateFileA("R:\\h", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    CloseHandle(made);
    EXPECT_EQ(GetFileAttributesA("R:\\h"), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ReplaceTest, AHiddenOrSystemFileIsEmptiedOnlyByOneWhoAsksForTheBits) {
    for (DWORD bits : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
        Put("f", "keep");
        ASSERT_TRUE(SetFileAttributesA("R:\\f", bits));
        for (DWORD disposition : {DWORD(CREATE_ALWAYS), DWORD(TRUNCATE_EXISTING)}) {
            SetLastError(0);
            HANDLE h = CreateFileA("R:\\f", GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
            EXPECT_EQ(h, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
            EXPECT_EQ(Get("f"), "keep");
        }
        // Opening it as it is, or asking for its bits, works.
        EXPECT_EQ(OpenError("R:\\f", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
        HANDLE h = CreateFileA("R:\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, bits, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        EXPECT_EQ(Get("f"), "");
        // Replacing it by a move is allowed, and the new file brings its own
        // attributes.
        Put("f", "keep");
        ASSERT_TRUE(SetFileAttributesA("R:\\f", bits));
        Put("new", "new");
        EXPECT_TRUE(MoveFileExA("R:\\new", "R:\\f", MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(Get("f"), "new");
        EXPECT_EQ(GetFileAttributesA("R:\\f"), FILE_ATTRIBUTE_NORMAL);
        ASSERT_TRUE(DeleteFileA("R:\\f"));
    }
}

TEST_F(ReplaceTest, InjectedMoveFailure) {
    Put("new", "new");
    Put("target", "old");
    setenv("W32_FAULT_MOVE", "target:5:1", 1);
    w32::ReloadEnvironmentFaults();
    EXPECT_FALSE(MoveFileExA("R:\\new", "R:\\target", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("target"), "old");
    EXPECT_TRUE(MoveFileExA("R:\\new", "R:\\target", MOVEFILE_REPLACE_EXISTING));  // once only
    EXPECT_EQ(Get("target"), "new");
}

DWORD WINAPI Nothing(LPVOID) { return 0; }

TEST_F(ReplaceTest, InjectedThreadFailure) {
    setenv("W32_FAULT_THREAD", "1", 1);
    w32::ReloadEnvironmentFaults();
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    CloseHandle(thread);

    // The first call let through, the next two fail.
    setenv("W32_FAULT_THREAD", "2:1", 1);
    w32::ReloadEnvironmentFaults();
    thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    CloseHandle(thread);
    EXPECT_EQ(CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr), nullptr);
    thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    CloseHandle(thread);
}

}  // namespace
