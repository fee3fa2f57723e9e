#include <sys/stat.h>

#include "HostDir.h"

namespace {

class FileHandleTest : public HostDir {};

TEST_F(FileHandleTest, CreationDispositions) {
    Put("old", "content");
    std::filesystem::create_directory(host / "dir");
    EXPECT_EQ(OpenError("R:\\old", GENERIC_WRITE, 0, CREATE_NEW), ERROR_FILE_EXISTS);
    EXPECT_EQ(OpenError("R:\\missing", GENERIC_READ, 0, OPEN_EXISTING), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenError("R:\\missing", GENERIC_WRITE, 0, TRUNCATE_EXISTING), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenError("R:\\nodir\\f", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(OpenError("R:\\old\\f", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(OpenError("R:\\dir", GENERIC_READ, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("old"), "content");

    EXPECT_EQ(OpenError("R:\\old", GENERIC_READ, 0, OPEN_ALWAYS), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Get("old"), "content");
    EXPECT_EQ(OpenError("R:\\old", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Get("old"), "");
    EXPECT_EQ(OpenError("R:\\fresh", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(host / "fresh"));
}

TEST_F(FileHandleTest, ReadOnlyFilesRefuseWriting) {
    Put("ro", "keep");
    std::filesystem::permissions(host / "ro", std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                                  std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    // Also when the host would let this user write (as root does).
    EXPECT_EQ(OpenError("R:\\ro", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenError("R:\\ro", GENERIC_READ, 0, CREATE_ALWAYS), ERROR_ACCESS_DENIED);
    EXPECT_EQ(OpenError("R:\\ro", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
    EXPECT_FALSE(DeleteFileA("R:\\ro"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Get("ro"), "keep");
}

TEST_F(FileHandleTest, ShareModesAmongTheHandlesOfTheProcess) {
    Put("f", "shared data");
    HANDLE reader = Open("R:\\f", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenError("R:\\f", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), ERROR_SUCCESS);
    EXPECT_EQ(OpenError("R:\\f", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(OpenError("R:\\F", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING),
              ERROR_SHARING_VIOLATION);
    // A refused replacement must not have emptied the file.
    EXPECT_EQ(OpenError("R:\\f", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Get("f"), "shared data");
    EXPECT_FALSE(DeleteFileA("R:\\f"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(MoveFileA("R:\\f", "R:\\g"));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_FALSE(CloseHandle(reader));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(OpenError("R:\\f", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
    EXPECT_TRUE(DeleteFileA("R:\\f"));
}

TEST_F(FileHandleTest, FilePointerAndSize) {
    Put("f", std::string(100, 'x'));
    HANDLE file = Open("R:\\f", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file, 40, nullptr, FILE_BEGIN), 40u);
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, -41, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 40u);
    EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_END), 90u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetEndOfFile(file));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 90u);
    EXPECT_EQ(high, 0u);
    // Past the end, then writing, leaves a gap that reads as zeros.
    EXPECT_EQ(SetFilePointer(file, 100, nullptr, FILE_BEGIN), 100u);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(file, "end", 3, &count, nullptr));
    EXPECT_EQ(GetFileSize(file, nullptr), 103u);
    EXPECT_TRUE(FlushFileBuffers(file));
    CloseHandle(file);
    EXPECT_EQ(Get("f").substr(90, 13), std::string(10, '\0') + "end");
}

TEST_F(FileHandleTest, AccessIsCheckedPerHandle) {
    Put("f", "abc");
    HANDLE file = Open("R:\\f", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 99;
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(SetEndOfFile(file));
    EXPECT_FALSE(FlushFileBuffers(file));
    CloseHandle(file);
    char buffer[4];
    EXPECT_FALSE(ReadFile(file, buffer, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
