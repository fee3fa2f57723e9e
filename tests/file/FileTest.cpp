#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "MemoryFile.h"
#include "file/File.h"
#include "payload/LzssFile.h"
#include "payload/LzssFormat.h"
#include "payload/LzssWriter.h"
#include "payload/PackFS.h"
#include "payload/PackWriter.h"
#include "pools/DefaultPools.h"

namespace {

std::vector<uint8_t> Iota(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0));
    return bytes;
}

// Counts destructions so that a chain can be checked for "each exactly once".
struct CountingFile : CFile {
    CountingFile(CFile* below, bool owns, int* counter) : CFile(below, owns), destroyed(counter) {}
    ~CountingFile() override { ++*destroyed; }
    int* destroyed;
};

// A memory file whose positions end at limit, counting its seeks; its
// ORIGIN_BEGIN takes no negative offset, as a disk file's.
struct SeekLimitedFile : MemoryFile {
    SeekLimitedFile(std::vector<uint8_t> bytes, uint32_t last) : MemoryFile(std::move(bytes)), limit(last) {}
    ErrorCode Seek(int32_t offset, int16_t origin) override {
        ++seeks;
        int64_t to = (origin == ORIGIN_CURRENT ? int64_t(position) : 0) + offset;
        if (origin > ORIGIN_CURRENT || to < 0 || to > int64_t(limit)) return ERR_SEEKFAIL;
        return MemoryFile::Seek(offset, origin);
    }
    uint32_t limit;
    int seeks = 0;
};

}  // namespace

// An operation a class does not provide fails and changes nothing: a file
// class that forgets Flush must not report its bytes on disk.
TEST(FileBase, OperationsNotProvidedFailAndChangeNothing) {
    CFile file;
    char buffer[4] = {};
    uint32_t count = 77;
    EXPECT_EQ(file.Read(buffer, 4, &count), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(count, 77u) << "the base Read leaves the count untouched";
    EXPECT_EQ(file.Write(buffer, 4, &count), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(file.Seek(10, ORIGIN_BEGIN), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(file.ReadAt(buffer, 0, 4, &count), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(file.WriteAt(buffer, 0, 4, &count), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(file.Tell(), 0u);
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_EQ(file.Flush(), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(file.Truncate(), ERR_NOTIMPLEMENTED);
    EXPECT_EQ(file.Reserved1(), 0u);
    EXPECT_EQ(file.Reserved2(), 0u);
    void* handle = nullptr;
    EXPECT_EQ(file.GetProperty(PID_NATIVE_HANDLE, &handle, 0), ERR_UNKNOWNPID);
    EXPECT_EQ(file.SetProperty(PID_NATIVE_HANDLE, &handle, 0), ERR_UNKNOWNPID);
    EXPECT_FALSE(file.isOpen);
}

TEST(FileBase, ReadAtStopsAtAFailedSeek) {
    SeekLimitedFile file(Iota(8), 0x80000000u);
    uint8_t byte = 0;
    EXPECT_EQ(file.ReadAt(&byte, 0x80000001u, 1, nullptr), ERR_SEEKFAIL);
    EXPECT_EQ(file.WriteAt(&byte, 0x80000001u, 1, nullptr), ERR_SEEKFAIL);
    EXPECT_EQ(file.readCalls, 0);
    EXPECT_EQ(file.writeCalls, 0);
    EXPECT_EQ(file.ReadAt(&byte, 5, 1, nullptr), nullptr);
    EXPECT_EQ(byte, 5);
}

// Seek's offset is signed: SeekTo reaches every position below 4 GiB, in at
// most three steps, and ReadAt and WriteAt go through it.
TEST(FileBase, SeekToReachesEveryPositionBelow4GiB) {
    SeekLimitedFile file(Iota(8), UINT32_MAX);
    const uint32_t positions[] = {0, 5, 0x7FFFFFFEu, 0x7FFFFFFFu, 0x80000000u, 0xC0000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (uint32_t position : positions) {
        file.seeks = 0;
        EXPECT_EQ(file.SeekTo(position), nullptr);
        EXPECT_EQ(file.Tell(), position);
        EXPECT_EQ(file.seeks, position <= 0x7FFFFFFFu ? 1 : position <= 0xFFFFFFFEu ? 2 : 3) << position;
    }
    uint8_t byte = 0;
    EXPECT_EQ(file.ReadAt(&byte, 0xC0000000u, 1, nullptr), ERR_EOF);
    EXPECT_EQ(file.Tell(), 0xC0000000u);
    EXPECT_EQ(file.ReadAt(&byte, 7, 1, nullptr), nullptr);
    EXPECT_EQ(byte, 7);
}

TEST(CopyRange, OverlappingRangesCopyInTheSafeDirection) {
    const auto original = Iota(110);
    MemoryFile up(original);
    EXPECT_EQ(up.CopyRange(10, 0, 100, 16, nullptr), nullptr);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 100, up.data.begin() + 10));

    MemoryFile down(original);
    EXPECT_EQ(down.CopyRange(0, 10, 100, 16, nullptr), nullptr);
    EXPECT_TRUE(std::equal(original.begin() + 10, original.end(), down.data.begin()));

    // A caller's buffer is used as it is, with an uneven chunk.
    MemoryFile withBuffer(original);
    uint8_t buffer[7];
    EXPECT_EQ(withBuffer.CopyRange(3, 0, 107, sizeof buffer, buffer), nullptr);
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + 107, withBuffer.data.begin() + 3));
}

TEST(CopyRange, ClipsAtTheEndAndIgnoresEmptyRanges) {
    MemoryFile file(Iota(20));
    EXPECT_EQ(file.CopyRange(0, 21, 5, 4, nullptr), nullptr);
    EXPECT_EQ(file.CopyRange(0, 5, 0, 4, nullptr), nullptr);
    EXPECT_EQ(file.readCalls, 0);
    EXPECT_EQ(file.CopyRange(0, 15, 100, 4, nullptr), nullptr);  // only 5 bytes exist
    EXPECT_EQ(file.data.size(), 20u);
    EXPECT_EQ(file.data[4], 19);
    EXPECT_EQ(file.data[5], 5);
    EXPECT_EQ(file.CopyRange(0, 1, 5, 0, nullptr), ERR_UNKNOWN) << "a zero chunk could never finish";
}

TEST(CopyRange, AReadFailingHalfwayKeepsTheChunksBeforeIt) {
    const auto original = Iota(64);
    MemoryFile file(original);
    file.failReadAfter = 2;  // the third chunk's read fails
    EXPECT_EQ(file.CopyRange(0, 32, 32, 8, nullptr), ERR_READFAIL);
    EXPECT_TRUE(std::equal(original.begin() + 32, original.begin() + 48, file.data.begin()));
    EXPECT_EQ(file.data[16], 16) << "nothing after the failure was written";
}

TEST(LoadRange, HandsOutBuffersAndCountsThem) {
    MemoryFile file(Iota(16));
    void* data = nullptr;
    ASSERT_EQ(file.LoadRange(4, 8, &data), nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(data)[0], 4);
    EXPECT_EQ(file.loadCount, 1);
    EXPECT_EQ(file.FreeRange(data), nullptr);
    EXPECT_EQ(file.loadCount, 0);

    // Past the end: the short read fails, nothing is handed out.
    EXPECT_EQ(file.LoadRange(10, 8, &data), ERR_EOF);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(file.loadCount, 0);
}

TEST(FileChain, DestroyingTheTopDestroysEveryOwnedFileOnce) {
    int destroyed = 0;
    auto* bottom = new CountingFile(nullptr, false, &destroyed);
    auto* middle = new CountingFile(bottom, true, &destroyed);
    auto* top = new CountingFile(middle, true, &destroyed);
    delete static_cast<CFile*>(top);
    EXPECT_EQ(destroyed, 3);

    // A file that does not own its base leaves it alone.
    destroyed = 0;
    CountingFile kept(nullptr, false, &destroyed);
    delete new CountingFile(&kept, false, &destroyed);
    EXPECT_EQ(destroyed, 1);
}

// Each class's short read, turned into all the bytes or an error: a disk-like
// file ("EOF"), the container (success with a short count), a pack entry
// ("EOF" at the end even with a count) and a base that fails.
TEST(ReadExactly, AllTheBytesOrAnErrorWhateverTheClass) {
    const std::vector<uint8_t> bytes = Iota(100);
    MemoryFile disk(bytes);
    uint8_t buffer[100] = {};
    EXPECT_EQ(ReadExactly(&disk, 10, buffer, 90), nullptr);
    EXPECT_EQ(buffer[0], 10);
    EXPECT_EQ(ReadExactly(&disk, 10, buffer, 91), ERR_EOF);

    MemoryFile stored;
    ASSERT_EQ(CompressLzssImage(bytes.data(), 100, &stored, kLzssPatchBlockSize, kLzssPatchBitLengths, nullptr),
              nullptr);
    CLzssFile container(&stored, false);
    ASSERT_TRUE(container.isOpen);
    uint32_t got = 0;
    ASSERT_EQ(container.ReadAt(buffer, 50, 60, &got), nullptr);  // the class's own rule: success, short
    EXPECT_EQ(got, 50u);
    EXPECT_EQ(ReadExactly(&container, 50, buffer, 60), ERR_EOF);
    EXPECT_EQ(ReadExactly(&container, 100, buffer, 1), ERR_EOF);
    EXPECT_EQ(ReadExactly(&container, 0, buffer, 100), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 100), bytes);

    const PackWriterEntry entry{"A.BIN", bytes.data(), 100, 0};
    uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    ASSERT_EQ(BuildPackImage(&entry, 1, &image, &imageSize), nullptr);
    CPackFS pack;
    ASSERT_EQ(pack.Attach(new MemoryFile(std::vector<uint8_t>(image, image + imageSize))), nullptr);
    g_pDefaultPtrPool->Free(image);
    ErrorCode error = nullptr;
    std::unique_ptr<CFile> file(pack.Open("A.BIN", FM_READ, &error));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(ReadExactly(file.get(), 99, buffer, 2), ERR_EOF);
    EXPECT_EQ(ReadExactly(file.get(), 100, buffer, 0), nullptr);
    EXPECT_EQ(ReadExactly(file.get(), 0, buffer, 100), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 100), bytes);

    disk.failReadAfter = 0;
    EXPECT_EQ(ReadExactly(&disk, 0, buffer, 1), ERR_READFAIL);
}
