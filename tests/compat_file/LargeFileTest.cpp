// Files past 2 GiB and past 4 GiB, in every build: the host layer must not
// lose the high bits of a position or a size on a 32-bit host, where the
// POSIX offset and stat types are 32 bits unless asked otherwise. The files
// are sparse; only their last bytes are written.
#include "HostDir.h"

namespace {

class LargeFileTest : public HostDir {};

constexpr DWORD kThreeGiB = 0xC0000000u;

TEST_F(LargeFileTest, PositionsAndSizesPast2GiB) {
    HANDLE file = Open("R:\\big", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 0;
    ASSERT_EQ(SetFilePointer(file, LONG(kThreeGiB), &high, FILE_BEGIN), kThreeGiB);
    EXPECT_EQ(high, 0);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "end", 3, &count, nullptr));
    DWORD sizeHigh = 7;
    EXPECT_EQ(GetFileSize(file, &sizeHigh), kThreeGiB + 3);
    EXPECT_EQ(sizeHigh, 0u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), kThreeGiB + 3);
    EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_END), kThreeGiB);
    char bytes[4] = {};
    ASSERT_TRUE(ReadFile(file, bytes, 3, &count, nullptr));
    EXPECT_EQ(count, 3u);
    EXPECT_STREQ(bytes, "end");
    // Cut back below the old end.
    ASSERT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), kThreeGiB + 2);
    ASSERT_TRUE(SetEndOfFile(file));
    EXPECT_EQ(GetFileSize(file, nullptr), kThreeGiB + 2);
    EXPECT_TRUE(CloseHandle(file));

    EXPECT_EQ(std::filesystem::file_size(host / "big"), uint64_t(kThreeGiB) + 2);
    EXPECT_EQ(GetFileAttributesA("R:\\big") & FILE_ATTRIBUTE_DIRECTORY, 0u);
    WIN32_FIND_DATAA found{};
    HANDLE find = FindFirstFileA("R:\\*", &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    bool listed = false;
    do {
        if (std::string(found.cFileName) != "big") continue;
        listed = true;
        EXPECT_EQ(found.nFileSizeLow, kThreeGiB + 2);
        EXPECT_EQ(found.nFileSizeHigh, 0u);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_TRUE(listed);
}

TEST_F(LargeFileTest, TheHighWordPast4GiB) {
    HANDLE file = Open("R:\\huge", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 1;
    ASSERT_EQ(SetFilePointer(file, 0x10, &high, FILE_BEGIN), 0x10u);
    EXPECT_EQ(high, 1);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(file, "x", 1, &count, nullptr));
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(file, &sizeHigh), 0x11u);
    EXPECT_EQ(sizeHigh, 1u);
    // Without a high word a position past 4 GiB cannot be reported.
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(std::filesystem::file_size(host / "huge"), 0x100000011ull);
}

// The low word alone is a signed distance; with the high word the two form
// one signed 64-bit distance. A failure moves nothing and leaves the high
// word as it was.
TEST_F(LargeFileTest, TheHighWordAsWindowsTakesIt) {
    HANDLE file = Open("R:\\moves", GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 0;
    ASSERT_EQ(SetFilePointer(file, LONG(kThreeGiB), &high, FILE_BEGIN), kThreeGiB);
    high = -1;
    EXPECT_EQ(SetFilePointer(file, -16, &high, FILE_CURRENT), kThreeGiB - 16);
    EXPECT_EQ(high, 0);
    // 3 GiB from the start without the high word is a negative distance.
    EXPECT_EQ(SetFilePointer(file, LONG(kThreeGiB), nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    high = -1;
    EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(high, -1);
    // Without the high word the move may not end at or past 4 GiB.
    EXPECT_EQ(SetFilePointer(file, 0x40000010, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), kThreeGiB - 16);
    // 4 GiB - 1 is a position, told from a failure by a last error of 0.
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetFilePointer(file, 0x4000000F, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(std::filesystem::file_size(host / "moves"), 0u);
}

}  // namespace
