#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>

#include "DiskTestDir.h"
#include "VectorFile.h"
#include "platform/DiskFS.h"
#include "platform/DiskFile.h"
#include "platform/Win32.h"

#ifndef _WIN32
#include <cerrno>

#include "win32/hostio.h"
#endif

// When set, the next nothrow allocation in this test program fails.
static bool s_failNextNothrowNew = false;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (s_failNextNothrowNew) {
        s_failNextNothrowNew = false;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

class DiskFileTest : public DiskTestDir {
protected:
    std::unique_ptr<CFile> Open(const std::string& relative, uint16_t mode, ErrorCode* error = nullptr) {
        return std::unique_ptr<CFile>(fs.Open(Path(relative).c_str(), mode, error));
    }
    CDiskFS fs;
};

TEST_F(DiskFileTest, OpenModesOverExistingAndMissingFiles) {
    WriteHostFile("old.bin", "0123456789");
    ErrorCode error = ERR_UNKNOWN;
    auto emptied = Open("old.bin", 0x0F, &error);
    ASSERT_TRUE(emptied);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(emptied->GetSize(), 0u);
    EXPECT_TRUE(emptied->isOpen);
    EXPECT_EQ(emptied->mode, 0x0F);
    emptied.reset();

    EXPECT_FALSE(Open("old.bin", 0x07, &error));
    EXPECT_EQ(error, ERR_FILEEXIST);
    EXPECT_FALSE(Open("missing.bin", 0x09, &error));
    EXPECT_EQ(error, ERR_FILENOTFOUND);
    EXPECT_FALSE(Open("missing.bin", FM_READ));
    EXPECT_FALSE(Open("no-such-dir\\x.bin", FM_READ, &error));
    EXPECT_EQ(error, ERR_PATHNOTFOUND);

    EXPECT_TRUE(Open("new.bin", 0x07, &error));
    EXPECT_TRUE(std::filesystem::exists(Host("new.bin")));
}

TEST_F(DiskFileTest, ExclusiveOpenRefusesASecondOpener) {
    WriteHostFile("locked.bin", "x");
    auto first = Open("locked.bin", FM_READ);
    ASSERT_TRUE(first);
    ErrorCode error = nullptr;
    EXPECT_FALSE(Open("locked.bin", FM_READ | FM_SHARE_READ, &error));
    EXPECT_EQ(error, ERR_SHARING);
    first.reset();
    EXPECT_TRUE(Open("locked.bin", FM_READ));
}

TEST_F(DiskFileTest, ReadReportsEofWithTheCountThatArrived) {
    WriteHostFile("data.bin", std::string(50, 'a'));
    auto file = Open("data.bin", FM_READ);
    ASSERT_TRUE(file);
    char buffer[100];
    uint32_t count = 12345;
    ASSERT_EQ(file->Seek(40, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(file->Read(buffer, 100, &count), ERR_EOF);
    EXPECT_EQ(count, 10u);
    ASSERT_EQ(file->Seek(-10, ORIGIN_END), nullptr);
    EXPECT_EQ(file->Read(buffer, 100, nullptr), ERR_EOF);
    ASSERT_EQ(file->Seek(0, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(file->Read(buffer, 50, &count), nullptr);
    EXPECT_EQ(count, 50u);
}

TEST_F(DiskFileTest, SeekRefusesNegativePositionsAndUnknownOrigins) {
    WriteHostFile("data.bin", std::string(20, 'a'));
    auto file = Open("data.bin", FM_READ);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Seek(5, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(file->Seek(-1, ORIGIN_BEGIN), ERR_SEEKFAIL);
    EXPECT_EQ(file->Seek(-6, ORIGIN_CURRENT), ERR_SEEKFAIL);
    EXPECT_EQ(file->Tell(), 5u);
    EXPECT_EQ(file->Seek(0, 7), ERR_SEEKFAIL);
    EXPECT_EQ(file->Seek(-4, ORIGIN_END), nullptr);
    EXPECT_EQ(file->Tell(), 16u);
    EXPECT_EQ(file->Seek(2, ORIGIN_CURRENT), nullptr);
    EXPECT_EQ(file->Tell(), 18u);
}

TEST_F(DiskFileTest, WriteTruncateFlushRoundTrip) {
    auto file = Open("out.bin", 0x0F);
    ASSERT_TRUE(file);
    uint32_t written = 0;
    EXPECT_EQ(file->Write("hello world", 11, &written), nullptr);
    EXPECT_EQ(written, 11u);
    EXPECT_EQ(file->WriteAt("W", 6, 1, nullptr), nullptr);
    ASSERT_EQ(file->Seek(5, ORIGIN_BEGIN), nullptr);
    EXPECT_EQ(file->Truncate(), nullptr);
    EXPECT_EQ(file->Flush(), nullptr);
    EXPECT_EQ(file->GetSize(), 5u);
    file.reset();
    EXPECT_EQ(ReadHostFile("out.bin"), "hello");
}

// Every position below 4 GiB, in a sparse file: Seek's offset is signed,
// the positions and sizes are not.
TEST_F(DiskFileTest, ReadsAndWritesAnywhereBelow4GiB) {
    auto file = Open("big.bin", 0x0F);
    ASSERT_TRUE(file);
    struct Mark {
        uint32_t at;
        const char* bytes;
    } marks[] = {{0x7FFFFFFEu, "acro"}, {0xC0000000u, "3GiB"}, {0xFFFFFFFBu, "last"}};
    for (const Mark& mark : marks) EXPECT_EQ(file->WriteAt(mark.bytes, mark.at, 4, nullptr), nullptr) << mark.at;
    EXPECT_EQ(file->GetSize(), 0xFFFFFFFFu);
    EXPECT_EQ(file->Tell(), 0xFFFFFFFFu);
    for (const Mark& mark : marks) {
        char bytes[5] = {};
        uint32_t got = 0;
        EXPECT_EQ(file->ReadAt(bytes, mark.at, 4, &got), nullptr) << mark.at;
        EXPECT_STREQ(bytes, mark.bytes);
    }
    // The end of the file, from its end; a negative absolute position is still refused.
    ASSERT_EQ(file->Seek(-4, ORIGIN_END), nullptr);
    EXPECT_EQ(file->Tell(), 0xFFFFFFFBu);
    EXPECT_EQ(file->Seek(-1, ORIGIN_BEGIN), ERR_SEEKFAIL);
    EXPECT_EQ(file->Tell(), 0xFFFFFFFBu);
    char two[2];
    EXPECT_EQ(file->ReadAt(two, 0xFFFFFFFEu, 2, nullptr), ERR_EOF);
    // Cut back past 2 GiB.
    ASSERT_EQ(file->SeekTo(0x80000001u), nullptr);
    EXPECT_EQ(file->Truncate(), nullptr);
    EXPECT_EQ(file->GetSize(), 0x80000001u);
    file.reset();
    EXPECT_EQ(std::filesystem::file_size(Host("big.bin")), 0x80000001u);
    std::ifstream in(Host("big.bin"), std::ios::binary);
    in.seekg(std::streamoff(0x7FFFFFFE));
    char onDisk[4] = {};
    in.read(onDisk, 3);
    EXPECT_EQ(std::string(onDisk, 3), "acr");
}

// A file of 4 GiB or more has no 32-bit size: it must not pass for a small one.
TEST_F(DiskFileTest, AFileOf4GiBOrMoreHasNoSize) {
    {
        std::ofstream out(Host("huge.bin"), std::ios::binary);
        out.seekp(std::streamoff(0x100000010ll));
        out << "x";
    }
    auto file = Open("huge.bin", FM_READ);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 0xFFFFFFFFu);
    char byte = 1;
    EXPECT_EQ(file->ReadAt(&byte, 0xFFFFFFF0u, 1, nullptr), nullptr);
    EXPECT_EQ(byte, 0);
}

TEST_F(DiskFileTest, ReadOnlyHandleRefusesWrites) {
    WriteHostFile("in.bin", "abc");
    auto file = Open("in.bin", FM_READ);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Write("x", 1, nullptr), ERR_ACCESSDENIED);
    EXPECT_EQ(file->Truncate(), ERR_ACCESSDENIED);
    file.reset();
    EXPECT_EQ(ReadHostFile("in.bin"), "abc");
}

TEST_F(DiskFileTest, NativeHandlePropertyAndClassName) {
    WriteHostFile("in.bin", "abc");
    auto file = Open("in.bin", FM_READ);
    ASSERT_TRUE(file);
    void* handle = nullptr;
    EXPECT_EQ(file->GetProperty(PID_NATIVE_HANDLE, &handle, 0), nullptr);
    EXPECT_EQ(handle, static_cast<CDiskFile*>(file.get())->handle);
    EXPECT_EQ(file->GetProperty(PID_NATIVE_HANDLE + 1, &handle, 0), ERR_UNKNOWNPID);
    EXPECT_EQ(file->SetProperty(PID_NATIVE_HANDLE, &handle, 0), ERR_UNKNOWNPID);
    EXPECT_EQ(file->GetClassName(), CFile::className);
    EXPECT_EQ(fs.GetClassName(), CFileService::className);
}

TEST_F(DiskFileTest, WrapsAHandleOpenedDirectly) {
    WriteHostFile("self.exe", "MZ....");
    HANDLE handle = CreateFileA(Path("self.exe").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CDiskFile file(handle, FM_READ);
    EXPECT_TRUE(file.isOpen);
    EXPECT_EQ(file.base, nullptr);
    EXPECT_EQ(file.GetSize(), 6u);
    void* loaded = nullptr;
    ASSERT_EQ(file.LoadRange(0, 2, &loaded), nullptr);
    EXPECT_EQ(std::memcmp(loaded, "MZ", 2), 0);
    file.FreeRange(loaded);
    EXPECT_EQ(file.LoadRange(4, 10, &loaded), ERR_EOF);
    EXPECT_EQ(loaded, nullptr);
    EXPECT_EQ(file.loadCount, 0);
}

TEST_F(DiskFileTest, FailedFileAllocationClosesTheHandle) {
    WriteHostFile("in.bin", "abc");
    ErrorCode error = nullptr;
    s_failNextNothrowNew = true;
    EXPECT_FALSE(Open("in.bin", FM_READ, &error));
    s_failNextNothrowNew = false;
    EXPECT_EQ(error, ERR_ALLOCFAIL);
    // An exclusive open succeeds only if the first platform file was closed.
    EXPECT_TRUE(Open("in.bin", FM_READ | FM_WRITE));
}

// The tools' and tests' in-memory file stands in for a disk file: the same
// random reads (with and without a count, past the end too), seeks (every
// origin, negative, unknown), writes past the end and truncations give the
// same answers, positions, sizes and bytes on both.
TEST_F(DiskFileTest, InMemoryFileAnswersAsTheDiskFile) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        const std::string name = "model" + std::to_string(seed) + ".bin";
        auto disk = Open(name, FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE);
        ASSERT_TRUE(disk);
        CVectorFile memory;
        auto pick = [&](uint32_t n) { return uint32_t(random() % n); };
        for (int step = 0; step < 200; ++step) {
            const std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
            switch (pick(4)) {
            case 0: {
                char onDisk[64], inMemory[64];
                const uint32_t size = pick(64);
                uint32_t diskCount = 999, memoryCount = 999;
                const bool counted = pick(2) == 0;
                const ErrorCode d = disk->Read(onDisk, size, counted ? &diskCount : nullptr);
                const ErrorCode m = memory.Read(inMemory, size, counted ? &memoryCount : nullptr);
                ASSERT_EQ(m, d) << where << ": read " << size;
                ASSERT_EQ(memoryCount, diskCount) << where;
                ASSERT_EQ(std::memcmp(onDisk, inMemory, counted ? diskCount : 0), 0) << where;
                break;
            }
            case 1: {
                const int16_t origin = int16_t(pick(10) == 0 ? 3 : pick(3));
                const int32_t offset = int32_t(pick(300)) - 100;
                ASSERT_EQ(memory.Seek(offset, origin), disk->Seek(offset, origin))
                    << where << ": seek " << offset << " from " << origin;
                break;
            }
            case 2: {
                const std::string bytes(pick(40), char('a' + pick(26)));
                uint32_t diskCount = 0, memoryCount = 0;
                ASSERT_EQ(memory.Write(bytes.data(), uint32_t(bytes.size()), &memoryCount),
                          disk->Write(bytes.data(), uint32_t(bytes.size()), &diskCount))
                    << where;
                ASSERT_EQ(memoryCount, diskCount) << where;
                break;
            }
            default:
                if (pick(8) == 0) {
                    ASSERT_EQ(memory.Truncate(), disk->Truncate()) << where;
                }
                break;
            }
            ASSERT_EQ(memory.Tell(), disk->Tell()) << where;
            ASSERT_EQ(memory.GetSize(), disk->GetSize()) << where;
        }
        disk.reset();
        EXPECT_EQ(std::string(memory.data.begin(), memory.data.end()), ReadHostFile(name)) << "seed " << seed;
    }
}

#ifndef _WIN32
// Faults injected beneath the platform calls, through the host layer's I/O.
class DiskFileFaultTest : public DiskFileTest {
protected:
    void TearDown() override {
        w32::CurrentHostIo() = w32::DefaultHostIo();
        DiskFileTest::TearDown();
    }
    static inline int64_t s_budget = 0;
    static inline int s_errno = 0;
    // Writes until the budget is spent, then fails with s_errno.
    static int64_t LimitedWrite(int fd, const void* buffer, size_t size) {
        if (s_budget <= 0) {
            errno = s_errno;
            return -1;
        }
        size_t n = size < size_t(s_budget) ? size : size_t(s_budget);
        s_budget -= int64_t(n);
        return w32::DefaultHostIo().write(fd, buffer, n);
    }
};

TEST_F(DiskFileFaultTest, ShortWritesAreReported) {
    auto file = Open("out.bin", 0x0F);
    ASSERT_TRUE(file);
    w32::CurrentHostIo().write = LimitedWrite;
    s_budget = 4;
    s_errno = ENOSPC;
    uint32_t written = 0;
    EXPECT_EQ(file->Write("0123456789", 10, &written), ERR_DISKFULL);
    EXPECT_EQ(written, 4u);
    s_budget = 0;
    s_errno = EIO;
    EXPECT_EQ(file->Write("0123456789", 10, &written), ERR_WRITEFAIL);
    EXPECT_EQ(written, 0u);
}
#endif

}  // namespace
