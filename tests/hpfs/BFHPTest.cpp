// CBFHP behaviour: the tree shape, runs of consecutive blocks, the free
// list, locks, Flush and write-back failures, and the unsettled cases.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "BlockFileTestSupport.h"
#include "SparseDiskFile.h"
#include "hpfs/HPFile.h"

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 1) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + i / 251);
    return bytes;
}

uint32_t HeadDepth(const MemoryFile* file, PoolHandle h) { return RawWord(file->data, h * 512 + 4) & 0xFFFF; }

TEST(BFHP, ClassNamesAndKinds) {
    CBFHP pool;
    EXPECT_EQ(pool.GetClassName(), CBFHP::className);
    EXPECT_STREQ(pool.GetClassName(), "CBFHP");
    EXPECT_STREQ(CFileHandlePool::className, "CFileHandlePool");
    EXPECT_NE(pool.IsKindOf(CFileHandlePool::className), nullptr);
    EXPECT_NE(pool.IsKindOf(CHandlePool::className), nullptr);
    EXPECT_NE(pool.IsKindOf(CObject::className), nullptr);
    EXPECT_EQ(pool.IsKindOf(CPtrPool::className), nullptr);
}

TEST(BFHP, AttachRefusesOtherFilesAndLeavesThemToTheCaller) {
    CWritableBFHP pool;
    EXPECT_EQ(pool.Attach(nullptr), ERR_BADPARAMS);
    MemoryFile notHpfs(std::vector<uint8_t>(64, 'x'));
    EXPECT_EQ(pool.Attach(&notHpfs), ERR_INVALIDFORMAT);
    EXPECT_EQ(pool.LastError(), ERR_INVALIDFORMAT);
    MemoryFile tooShort(std::vector<uint8_t>{'H', 'P', 'F', 'S'});
    EXPECT_EQ(pool.Attach(&tooShort), ERR_EOF);
    EXPECT_EQ(pool.Flush(), ERR_UNKNOWN);  // still unattached
    EXPECT_EQ(pool.Alloc(10), 0u);
}

TEST(BFHP, DepthGrowsWhenTheHeadIsFullAndDropsOnlyAtZero) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    const uint32_t full = 126 * 512;
    PoolHandle h = pool->Alloc(full);
    ASSERT_NE(h, 0u);
    std::vector<uint8_t> data = Pattern(full + 1);
    ASSERT_EQ(pool->Write(h, data.data(), 0, full), nullptr);
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(HeadDepth(file, h), 0u);
    std::vector<uint32_t> pointers;
    for (uint32_t i = 0; i < 126; ++i) pointers.push_back(RawWord(file->data, h * 512 + 8 + 4 * i));

    ASSERT_EQ(pool->Realloc(h, full + 1), h);
    ASSERT_EQ(pool->Write(h, data.data() + full, full, 1), nullptr);
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(HeadDepth(file, h), 1u);
    uint32_t index = RawWord(file->data, h * 512 + 8);
    for (uint32_t i = 0; i < 126; ++i) EXPECT_EQ(RawWord(file->data, index * 512 + 4 * i), pointers[i]);
    uint32_t added = RawWord(file->data, index * 512 + 4 * 126);
    EXPECT_EQ(file->data[added * 512], data[full]);
    ExpectBlockAccounting(file->data, {uint32_t(h)});

    ASSERT_EQ(pool->Realloc(h, full), h);
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(HeadDepth(file, h), 1u);
    std::vector<uint8_t> got(full);
    ASSERT_EQ(pool->Read(h, got.data(), 0, full), nullptr);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    ExpectBlockAccounting(file->data, {uint32_t(h)});

    ASSERT_EQ(pool->Realloc(h, 0), h);
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(HeadDepth(file, h), 0u);
    ExpectBlockAccounting(file->data, {uint32_t(h)});
}

TEST(BFHP, ConsecutiveDataBlocksMoveInOneFileRead) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle h = pool->Alloc(1024);  // head 1, data 2 and 3
    std::vector<uint8_t> data = Pattern(1024);
    ASSERT_EQ(pool->Write(h, data.data(), 0, 1024), nullptr);
    ASSERT_EQ(pool->Size(h), 1024u);  // head now cached
    file->readCalls = 0;
    uint8_t got[10];
    ASSERT_EQ(pool->Read(h, got, 510, 10), nullptr);
    EXPECT_EQ(file->readCalls, 1);
    EXPECT_EQ(std::memcmp(got, data.data() + 510, 10), 0);

    // A second handle takes block 5, so the first one's next block is 6.
    PoolHandle split = pool->Alloc(512);
    ASSERT_EQ(split, 4u);
    PoolHandle other = pool->Alloc(1);
    ASSERT_NE(other, 0u);
    ASSERT_EQ(pool->Realloc(split, 1024), split);
    ASSERT_EQ(pool->Write(split, data.data(), 0, 1024), nullptr);
    ASSERT_EQ(pool->Size(split), 1024u);
    file->readCalls = 0;
    ASSERT_EQ(pool->Read(split, got, 510, 10), nullptr);
    EXPECT_EQ(file->readCalls, 2);
    EXPECT_EQ(std::memcmp(got, data.data() + 510, 10), 0);
}

TEST(BFHP, ReadsAtTheEndAreRefusedAndLongReadsClipped) {
    auto pool = NewPool(nullptr);
    PoolHandle h = pool->Alloc(100);
    std::vector<uint8_t> data = Pattern(100);
    ASSERT_EQ(pool->Write(h, data.data(), 0, 100), nullptr);
    std::vector<uint8_t> got(300, 0xEE);
    EXPECT_EQ(pool->Read(h, got.data(), 100, 1), ERR_BADPARAMS);
    EXPECT_EQ(pool->LastError(), nullptr);  // not recorded
    ASSERT_EQ(pool->Read(h, got.data(), 90, 200), nullptr);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 10, data.begin() + 90));
    EXPECT_EQ(got[10], 0xEE);
    EXPECT_EQ(pool->Realloc(h, 100), h);
}

TEST(BFHP, UnwrittenBlocksAtTheEndReadAsZeros) {
    auto pool = NewPool(nullptr);
    PoolHandle h = pool->Alloc(2000);
    std::vector<uint8_t> got(2000, 0xEE);
    ASSERT_EQ(pool->Read(h, got.data(), 0, 2000), nullptr);
    EXPECT_EQ(std::count(got.begin(), got.end(), 0), 2000);
}

TEST(BFHP, FreeListIsLastFreedFirstAndTheLastBlockShortensTheFile) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle a = pool->Alloc(0), b = pool->Alloc(0), c = pool->Alloc(0);
    ASSERT_EQ(pool->Flush(), nullptr);
    ASSERT_EQ(file->data.size(), 4u * 512);
    pool->Free(c);
    EXPECT_EQ(pool->Header().nextBlock, 3u);
    EXPECT_EQ(file->data.size(), 3u * 512);
    pool->Free(a);
    EXPECT_EQ(pool->Header().freeCount, 1u);
    EXPECT_EQ(pool->Header().freeListBlock, uint32_t(a));
    EXPECT_EQ(pool->Alloc(0), a);
    EXPECT_EQ(pool->Header().freeCount, 0u);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {uint32_t(a), uint32_t(b)});
}

TEST(BFHP, AFullFreeListBlockIsFollowedByTheNextFreedBlock) {
    MemoryFile* file;
    auto pool = NewPool(&file, 32, 8);  // K = 8
    std::vector<PoolHandle> handles;
    for (int i = 0; i < 12; ++i) handles.push_back(pool->Alloc(0));
    for (int i = 0; i < 8; ++i) pool->Free(handles[i]);  // free count 8 = K: list block full
    uint32_t fullList = pool->Header().freeListBlock;
    EXPECT_EQ(pool->Header().freeCount, 8u);
    pool->Free(handles[8]);
    EXPECT_EQ(pool->Header().freeListBlock, uint32_t(handles[8]));
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(RawWord(file->data, handles[8] * 32), fullList);
    ExpectBlockAccounting(file->data, {uint32_t(handles[9]), uint32_t(handles[10]), uint32_t(handles[11])});
    // Taking them back hands out the newest list block last of its group.
    EXPECT_EQ(pool->Alloc(0), handles[8]);
    EXPECT_EQ(pool->Alloc(0), handles[7]);
}

TEST(BFHP, NestedLocksWriteBackOnceOnTheLastDirtyUnlock) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle h = pool->Alloc(16);
    std::vector<uint8_t> data = Pattern(16);
    ASSERT_EQ(pool->Write(h, data.data(), 0, 16), nullptr);
    auto* p = static_cast<uint8_t*>(pool->Lock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::memcmp(p, data.data(), 16), 0);
    EXPECT_EQ(pool->Lock(h), p);
    EXPECT_EQ(pool->PointerOf(h), p);
    EXPECT_EQ(pool->HandleOf(p), h);
    p[0] = 0x55;
    int writes = file->writeCalls;
    pool->Unlock(h, 0);
    EXPECT_EQ(file->writeCalls, writes);
    pool->Unlock(h, 1);
    EXPECT_EQ(file->writeCalls, writes + 1);
    EXPECT_EQ(pool->PointerOf(h), nullptr);
    uint8_t first;
    ASSERT_EQ(pool->Read(h, &first, 0, 1), nullptr);
    EXPECT_EQ(first, 0x55);
    pool->Unlock(h, 1);  // not locked: nothing happens
    EXPECT_EQ(file->writeCalls, writes + 1);
}

TEST(BFHP, LockOfAnEmptyHandleWorksAndOfABrokenOneFails) {
    auto pool = NewPool(nullptr);
    PoolHandle empty = pool->Alloc(0);
    void* p = pool->Lock(empty);
    EXPECT_NE(p, nullptr);
    pool->Unlock(empty, 1);  // nothing to write back
    EXPECT_EQ(pool->PointerOf(empty), nullptr);
    EXPECT_EQ(pool->Lock(0), nullptr);
    EXPECT_EQ(pool->LastError(), ERR_BADPARAMS);
    EXPECT_EQ(pool->Lock(999), nullptr);
}

TEST(BFHP, FileHandlePoolReadAndWriteWorkOnTheLockedCopy) {
    // CFileHandlePool's own Read and Write serve a pool that keeps them.
    struct CopyPool : CFileHandlePool {
        PoolHandle Alloc(uint32_t) override { return 0; }
        PoolHandle Realloc(PoolHandle, uint32_t) override { return 0; }
        void Free(PoolHandle) override {}
        uint32_t Size(PoolHandle) override { return 8; }
        // Stands in for the stored data while Lock makes its copy.
        ErrorCode Read(PoolHandle h, void* buffer, uint32_t offset, uint32_t length) override {
            if (!PointerOf(h)) {
                std::memset(buffer, 0, length == kWholeHandle ? 8 : length);
                return nullptr;
            }
            return CFileHandlePool::Read(h, buffer, offset, length);
        }
    } pool;
    uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(pool.Write(7, bytes, 0, 4), ERR_NOTLOCKED);
    auto* p = static_cast<uint8_t*>(pool.Lock(7));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pool.Write(7, bytes, 6, 4), nullptr);  // clipped to 2 bytes
    EXPECT_EQ(p[6], 1);
    EXPECT_EQ(p[7], 2);
    uint8_t out[4];
    EXPECT_EQ(pool.Read(7, out, 8, 1), ERR_OVERMAXSIZE);
    EXPECT_EQ(pool.LastError(), ERR_OVERMAXSIZE);
}

TEST(BFHP, FlushReportsAFailedWriteBackAndKeepsTheSlotModified) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle h = pool->Alloc(700);
    ASSERT_NE(h, 0u);
    file->failWriteAfter = file->writeCalls + 1;  // the header goes, the head block does not
    EXPECT_EQ(pool->Flush(), ERR_WRITEFAIL);
    EXPECT_EQ(pool->LastError(), ERR_WRITEFAIL);
    file->failWriteAfter = -1;
    ASSERT_EQ(pool->Flush(), nullptr);
    std::vector<uint8_t> bytes = file->data;
    CWritableBFHP reopened;
    ASSERT_EQ(reopened.Attach(new MemoryFile(bytes)), nullptr);
    EXPECT_EQ(reopened.Size(h), 700u);
    ExpectBlockAccounting(bytes, {uint32_t(h)});
}

TEST(BFHP, AFailedEvictionFailsTheOperationAndLosesNothing) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle a = pool->Alloc(10);
    ASSERT_EQ(pool->Flush(), nullptr);
    PoolHandle b = pool->Alloc(20);  // head b modified in slot 1
    file->failWriteAfter = file->writeCalls;
    EXPECT_EQ(pool->Size(a), 0u);  // would evict b's head
    EXPECT_EQ(pool->LastError(), ERR_WRITEFAIL);
    file->failWriteAfter = -1;
    EXPECT_EQ(pool->Size(a), 10u);
    EXPECT_EQ(pool->Size(b), 20u);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {uint32_t(a), uint32_t(b)});
}

TEST(BFHP, DestructionWritesEverythingBack) {
    std::vector<uint8_t> bytes;
    PoolHandle h;
    {
        auto* file = new MemoryFile(&bytes);
        ASSERT_EQ(WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF), nullptr);
        CWritableBFHP pool;
        ASSERT_EQ(pool.Attach(file), nullptr);
        h = pool.Alloc(3000);
        pool.SetRoot(h);
        ASSERT_EQ(pool.Flush(), nullptr);
        ASSERT_EQ(pool.Realloc(h, 70000), h);  // head and index block only in the cache
    }
    CWritableBFHP reopened;
    ASSERT_EQ(reopened.Attach(new MemoryFile(bytes)), nullptr);
    EXPECT_EQ(reopened.GetRoot(), h);
    EXPECT_EQ(reopened.Size(h), 70000u);
    ExpectBlockAccounting(bytes, {uint32_t(h)});
}

TEST(BFHP, ASixthIndexLevelIsRefusedAndTheHandleKept) {
    MemoryFile* file;
    auto pool = NewPool(&file, 32, 8);  // H0 = 6, K = 8: five levels hold 6 * 8^5 blocks
    const uint32_t maximum = 6u * 32768u * 32u;
    PoolHandle h = pool->Alloc(100);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(pool->Realloc(h, maximum + 1), 0u);
    EXPECT_EQ(pool->LastError(), ERR_SIZEOUTOFRANGE);
    EXPECT_EQ(pool->Size(h), 100u);
    EXPECT_EQ(pool->Alloc(maximum + 1), 0u);
    ASSERT_EQ(pool->Realloc(h, maximum), h);
    ASSERT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(RawWord(file->data, h * 32 + 4) & 0xFFFF, 5u);
    ExpectBlockAccounting(file->data, {uint32_t(h)});
}

TEST(BFHP, GrowthCountsTheIndexBlocksItNeedsBeforeStarting) {
    // 1 header + 1 head + 126 data blocks fit exactly; one more data block
    // would also need an index block, which is not there.
    MemoryFile* file;
    auto pool = NewPool(&file, 512, 8, 1 + 1 + 127);
    PoolHandle h = pool->Alloc(126 * 512);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(pool->Realloc(h, 126 * 512 + 1), 0u);
    EXPECT_EQ(pool->LastError(), ERR_ALLOCFAIL);
    EXPECT_EQ(pool->Size(h), 126u * 512);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {uint32_t(h)});
    EXPECT_EQ(pool->Alloc(1), 0u);  // head + data: 2 blocks, 1 left
    EXPECT_NE(pool->Alloc(0), 0u);
}

TEST(BFHP, GrowthFailingPartWayIsTakenBack) {
    // Growth takes blocks from a free list of three list blocks (K = 8); the
    // read of the second list block fails, and every step before is undone.
    MemoryFile* file;
    auto pool = NewPool(&file, 32, 8);
    PoolHandle h = pool->Alloc(32);
    std::vector<uint8_t> data = Pattern(32);
    ASSERT_EQ(pool->Write(h, data.data(), 0, 32), nullptr);
    std::vector<PoolHandle> spare;
    for (int i = 0; i < 21; ++i) spare.push_back(pool->Alloc(0));
    PoolHandle last = pool->Alloc(0);
    for (PoolHandle s : spare) pool->Free(s);
    ASSERT_EQ(pool->Flush(), nullptr);
    ASSERT_EQ(pool->Header().freeCount, 21u);

    auto* copy = new MemoryFile(file->data);
    pool = std::make_unique<CWritableBFHP>();
    ASSERT_EQ(pool->Attach(copy), nullptr);
    copy->failReadAfter = copy->readCalls + 2;  // the head and the current list block
    EXPECT_EQ(pool->Realloc(h, 32 * 20), 0u);
    EXPECT_EQ(pool->LastError(), ERR_READFAIL);
    copy->failReadAfter = -1;
    EXPECT_EQ(pool->Size(h), 32u);
    EXPECT_EQ(pool->Header().freeCount, 21u);
    std::vector<uint8_t> got(32);
    ASSERT_EQ(pool->Read(h, got.data(), 0, 32), nullptr);
    EXPECT_EQ(got, data);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(copy->data, {uint32_t(h), uint32_t(last)});
}

TEST(BFHP, HandleZeroAndFreedHandlesAreRefused) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle a = pool->Alloc(10), b = pool->Alloc(10);
    uint8_t byte = 0;
    EXPECT_EQ(pool->Size(0), 0u);
    EXPECT_EQ(pool->LastError(), ERR_BADPARAMS);
    EXPECT_EQ(pool->Realloc(0, 10), 0u);
    EXPECT_EQ(pool->Read(0, &byte, 0, 1), ERR_BADPARAMS);
    pool->Free(0);
    pool->Free(a);
    EXPECT_EQ(pool->Write(a, &byte, 0, 1), ERR_BADPARAMS);
    EXPECT_EQ(pool->Realloc(a, 5), 0u);
    uint32_t freeCount = pool->Header().freeCount;
    pool->Free(a);  // a second free changes nothing
    EXPECT_EQ(pool->LastError(), ERR_BADPARAMS);
    EXPECT_EQ(pool->Header().freeCount, freeCount);
    ASSERT_EQ(pool->Flush(), nullptr);
    ExpectBlockAccounting(file->data, {uint32_t(b)});
}

// Handles past 2 GiB of data and blocks past 3 GiB of the file, in a sparse
// disk file: only the index blocks and the marks take room.
class BFHPLarge : public SparseDir {};

TEST_F(BFHPLarge, HandlesAndBlocksPast2GiB) {
    const auto path = MakeSparse("local.wdt", 0);
    PoolHandle big = 0, late = 0;
    {
        auto disk = OpenDisk(path);
        ASSERT_TRUE(disk);
        ASSERT_EQ(WriteEmptyBlockFile(disk.get(), 4096, 8, 0xFFFFFFFF), nullptr);
        CWritableBFHP pool;
        ASSERT_EQ(pool.Attach(disk.release()), nullptr);
        big = pool.Alloc(0x90000000u);
        late = pool.Alloc(0x30000000u);
        ASSERT_NE(big, 0u);
        ASSERT_NE(late, 0u);
        CHPFile file(&pool, big, FM_READ | FM_WRITE);
        EXPECT_EQ(file.WriteAt("span", 0x7FFFFFFEu, 4, nullptr), nullptr);
        EXPECT_EQ(file.WriteAt("deep", 0x8FFFFFFCu, 4, nullptr), nullptr);
        EXPECT_EQ(pool.Write(late, "late", 0x2FFFFFFCu, 4), nullptr);
        EXPECT_EQ(pool.Flush(), nullptr);
    }
    EXPECT_GT(std::filesystem::file_size(path), 0xC0000000ull);
    CWritableBFHP pool;
    ASSERT_EQ(pool.Attach(OpenDisk(path, false).release()), nullptr);
    EXPECT_EQ(pool.Size(big), 0x90000000u);
    CHPFile file(&pool, big, FM_READ);
    char bytes[5] = {};
    EXPECT_EQ(file.ReadAt(bytes, 0x7FFFFFFEu, 4, nullptr), nullptr);
    EXPECT_STREQ(bytes, "span");
    ASSERT_EQ(file.Seek(-4, ORIGIN_END), nullptr);
    EXPECT_EQ(file.Tell(), 0x8FFFFFFCu);
    uint32_t got = 0;
    EXPECT_EQ(file.Read(bytes, 8, &got), nullptr);
    EXPECT_EQ(got, 4u);
    EXPECT_STREQ(bytes, "deep");
    EXPECT_EQ(pool.Read(late, bytes, 0x2FFFFFFCu, 4), nullptr);
    EXPECT_STREQ(bytes, "late");
}

}  // namespace
