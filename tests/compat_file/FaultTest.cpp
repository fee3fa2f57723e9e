#include <cerrno>

#include "HostDir.h"

namespace {

class FaultTest : public HostDir {
protected:
    static inline int s_calls = 0;
    static int64_t FullAfterOneCall(int fd, const void* buffer, size_t size) {
        if (s_calls++ == 0) return w32::DefaultHostIo().write(fd, buffer, size < 3 ? size : 3);
        errno = ENOSPC;
        return -1;
    }
    static int FailingSync(int) {
        errno = EIO;
        return -1;
    }

    // Bytes a fresh handle on path stores of a 10-byte write, its result
    // and last error.
    struct WriteResult {
        BOOL ok;
        DWORD count;
        DWORD error;
    };
    WriteResult WriteTen(const std::string& path) {
        HANDLE file = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        WriteResult result{};
        SetLastError(0);
        result.ok = WriteFile(file, "0123456789", 10, &result.count, nullptr);
        result.error = GetLastError();
        CloseHandle(file);
        return result;
    }
};

TEST_F(FaultTest, SwappedHostWriteReportsAFullDisk) {
    w32::CurrentHostIo().write = FullAfterOneCall;
    s_calls = 0;
    WriteResult result = WriteTen("R:\\f");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.count, 3u);
    EXPECT_EQ(result.error, ERROR_DISK_FULL);
    EXPECT_EQ(Get("f"), "012");
}

TEST_F(FaultTest, SwappedHostSyncFails) {
    w32::CurrentHostIo().sync = FailingSync;
    HANDLE file = Open("R:\\f", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_FALSE(FlushFileBuffers(file));
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
    CloseHandle(file);
}

TEST_F(FaultTest, EnvironmentWriteLimitPerHandle) {
    setenv("W32_FAULT_WRITE", "victim:4:full:1", 1);
    w32::ReloadEnvironmentFaults();
    WriteResult hit = WriteTen("R:\\victim.bin");
    EXPECT_FALSE(hit.ok);
    EXPECT_EQ(hit.count, 4u);
    EXPECT_EQ(hit.error, ERROR_DISK_FULL);
    EXPECT_EQ(Get("victim.bin"), "0123");
    WriteResult spared = WriteTen("R:\\victim.bin");  // the one hit is used up
    EXPECT_TRUE(spared.ok);
    EXPECT_EQ(spared.count, 10u);
    EXPECT_TRUE(WriteTen("R:\\other.bin").ok);

    setenv("W32_FAULT_WRITE", "victim:12:fail", 1);
    w32::ReloadEnvironmentFaults();
    HANDLE file = Open("R:\\victim.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(file, "0123456789", 10, &count, nullptr));
    EXPECT_FALSE(WriteFile(file, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    CloseHandle(file);
    EXPECT_TRUE(WriteTen("R:\\victim.bin").ok);  // every new handle gets its own 12 bytes
}

TEST_F(FaultTest, EnvironmentOpenFailure) {
    Put("blocked.txt", "x");
    setenv("W32_FAULT_OPEN", "blocked:32:2", 1);
    w32::ReloadEnvironmentFaults();
    EXPECT_EQ(OpenError("R:\\blocked.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(OpenError("R:\\open.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_SUCCESS);
    EXPECT_EQ(OpenError("R:\\blocked.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(OpenError("R:\\blocked.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
}

// A volume handle flushes the whole drive and does nothing else; its fault
// rules match the device name, several rules per variable, the first
// matches skipped when asked.
TEST_F(FaultTest, VolumeHandleFlushesAndTakesSeveralFlushRules) {
    char root[8] = {};
    ASSERT_TRUE(GetVolumePathNameA("R:\\Games\\Quor\\", root, sizeof root));
    EXPECT_STREQ(root, "R:\\");
    EXPECT_EQ(GetDriveTypeA(root), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeA("Q:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(OpenError("\\\\.\\Q:", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              ERROR_FILE_NOT_FOUND);

    setenv("W32_FAULT_FLUSH", "\\\\.\\R:1117:1:1;victim:29", 1);
    w32::ReloadEnvironmentFaults();
    HANDLE volume = Open("\\\\.\\R:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    char byte = 0;
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(volume, &byte, 1, &count, nullptr));
    EXPECT_FALSE(WriteFile(volume, &byte, 1, &count, nullptr));
    EXPECT_TRUE(FlushFileBuffers(volume));  // the first match is let through
    EXPECT_FALSE(FlushFileBuffers(volume));
    EXPECT_EQ(GetLastError(), 1117u);
    EXPECT_TRUE(FlushFileBuffers(volume));  // that rule's one hit is spent
    CloseHandle(volume);
    HANDLE file = Open("R:\\victim.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_FALSE(FlushFileBuffers(file));
    EXPECT_EQ(GetLastError(), 29u);
    CloseHandle(file);
    unsetenv("W32_FAULT_FLUSH");
}

}  // namespace
