// Write paths of CBFHP and CHPFS that once lost or damaged data: blocks
// never written, a directory whose copy and size disagree, two open files on
// one handle, the size that means "none", and removals that fail half-way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../platform/DiskTestDir.h"
#include "BlockFileTestSupport.h"
#include "hpfs/HPFSFile.h"
#include "hpfs/WritableHPFS.h"
#include "platform/DiskFS.h"

namespace {

constexpr uint16_t kShared = FM_READ | FM_WRITE | FM_SHARE_READ | FM_SHARE_WRITE;

std::vector<std::string> List(CHPFS& fs, const char* path) {
    std::vector<std::string> names;
    FindRecord record = {};
    for (ErrorCode error = fs.FindFirst(&record, path); !error; error = fs.FindNext(&record))
        names.push_back(record.name);
    fs.FindClose(&record);
    return names;
}

// Every handle of the tree below directory, read through the service.
void CollectHandles(CHPFS& fs, CBFHP& pool, const std::string& directory, PoolHandle handle,
                    std::vector<uint32_t>* handles) {
    handles->push_back(uint32_t(handle));
    std::vector<uint8_t> data(pool.Size(handle));
    if (!data.empty()) {
        ASSERT_EQ(pool.Read(handle, data.data(), 0, kWholeHandle), nullptr);
    }
    for (size_t at = 0; at + 8 <= data.size(); at += 8 + LoadU16(&data[at + 6])) {
        std::string name(data.begin() + long(at) + 8, data.begin() + long(at) + 8 + LoadU16(&data[at + 6]));
        if (LoadU16(&data[at + 4]) & kEntryDirectory)
            CollectHandles(fs, pool, directory + name + "\\", LoadU32(&data[at]), handles);
        else
            handles->push_back(LoadU32(&data[at]));
    }
}

std::string Resize(CHPFS& fs, const char* path, uint32_t size) {
    CFile* file = fs.Open(path, kShared, nullptr);
    if (!file) return "no file";
    file->Seek(int32_t(size), ORIGIN_BEGIN);
    ErrorCode error = file->Truncate();
    uint32_t now = file->GetSize();
    delete file;
    if (error) return ErrorText(error);
    return now == size ? "" : "size " + std::to_string(now);
}

// A block freed while the free list is empty starts the list. A block that
// was allocated but never written (a handle grown by Truncate and shrunk
// again) must be written then, or the next list operation reads past the
// end of the file.
class NeverWrittenBlocks : public DiskTestDir {};

TEST_F(NeverWrittenBlocks, AFreedBlockThatWasNeverWrittenStartsTheFreeList) {
    CDiskFS disk;
    const std::string path = Path("local.wdt");
    {
        CFile* file = disk.Open(path.c_str(), FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr);
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(WriteEmptyBlockFile(file, 512, 8, 0xFFFFFFFF), nullptr);
        auto* pool = new CWritableBFHP;
        ASSERT_EQ(pool->Attach(file), nullptr);
        CWritableHPFS fs(pool);
        delete fs.Open("f", kShared | FM_CREATE, nullptr);
        delete fs.Open("g", kShared | FM_CREATE, nullptr);
        EXPECT_EQ(Resize(fs, "f", 5120), "");
        EXPECT_EQ(Resize(fs, "g", 512), "");
        EXPECT_EQ(Resize(fs, "f", 4608), "");  // its last block starts the free list
        EXPECT_EQ(Resize(fs, "f", 4096), "");  // adds to that list block
        EXPECT_EQ(fs.Delete("g"), nullptr);
        EXPECT_EQ(List(fs, ""), std::vector<std::string>{"f"});
    }
    std::vector<uint32_t> handles;
    {
        CFile* file = disk.Open(path.c_str(), FM_READ | FM_WRITE, nullptr);
        ASSERT_NE(file, nullptr);
        auto* pool = new CWritableBFHP;
        ErrorCode attached = pool->Attach(file);
        if (attached) delete file;
        ASSERT_EQ(attached, nullptr);
        CWritableHPFS fs(pool);
        EXPECT_EQ(List(fs, ""), std::vector<std::string>{"f"});
        CFile* f = fs.Open("f", kShared, nullptr);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->GetSize(), 4096u);
        delete f;
        CollectHandles(fs, *pool, "", fs.RootHandle(), &handles);
        ASSERT_EQ(pool->Flush(), nullptr);
    }
    // Read once the pack is closed: Windows shares no open block file.
    const std::string stored = ReadHostFile("local.wdt");
    ExpectBlockAccounting(std::vector<uint8_t>(stored.begin(), stored.end()), handles);
}

// Lock nodes with a pattern behind them: a write past a locked copy's end
// is found when the node is freed.
struct GuardedNodePool : CPtrPool {
    static constexpr uint32_t kPrefix = 16;  // keeps the node aligned
    static constexpr uint32_t kGuard = 4096;
    void* Alloc(uint32_t size) override {
        auto* block = static_cast<uint8_t*>(std::malloc(kPrefix + size + kGuard));
        std::memcpy(block, &size, 4);
        for (uint32_t i = 0; i < kGuard; ++i) block[kPrefix + size + i] = uint8_t(i * 13 + 7);
        return block + kPrefix;
    }
    void* Realloc(void*, uint32_t) override { return nullptr; }
    void Free(void* pointer) override {
        auto* block = static_cast<uint8_t*>(pointer) - kPrefix;
        uint32_t size;
        std::memcpy(&size, block, 4);
        for (uint32_t i = 0; i < kGuard; ++i)
            if (block[kPrefix + size + i] != uint8_t(i * 13 + 7)) damaged = true;
        std::free(block);
    }
    bool damaged = false;
};

// A pack with d\file, where another entry names d's handle as a file: the
// root's "alias", or d's own "file". Writing through that file resizes d
// while the directory cache holds its old copy; walks over the copy must
// keep to the copy's own size.
std::vector<uint8_t> PackWithAnEntryNamingItsDirectory(bool alias, uint32_t* directory) {
    std::vector<uint8_t> bytes;
    {
        auto* pool = NewKeptPool(&bytes);
        CWritableHPFS fs(pool);
        EXPECT_EQ(fs.MakeDirectory("", "d"), nullptr);
        for (const char* path : {"d\\file", "alias"}) {
            CFile* f = fs.Open(path, kShared | FM_CREATE, nullptr);
            EXPECT_EQ(f->Write("x", 1, nullptr), nullptr);
            delete f;
        }
        std::vector<uint8_t> root(pool->Size(fs.RootHandle()));
        EXPECT_EQ(pool->Read(fs.RootHandle(), root.data(), 0, kWholeHandle), nullptr);
        *directory = LoadU32(root.data());  // d comes first, "alias" after it
    }
    const uint32_t rootData = ReadRawTree(bytes, RawWord(bytes, 28)).dataBlocks.at(0);
    const uint32_t data = ReadRawTree(bytes, *directory).dataBlocks.at(0);
    if (alias)
        StoreU32(bytes.data() + uint64_t(rootData) * 512 + 9, *directory);
    else
        StoreU32(bytes.data() + uint64_t(data) * 512, *directory);
    return bytes;
}

TEST(WritePaths, ADirectoryResizedUnderItsCachedCopyIsWalkedWithinTheCopy) {
    uint32_t directory;
    std::vector<uint8_t> bytes = PackWithAnEntryNamingItsDirectory(true, &directory);
    GuardedNodePool nodes;
    {
        auto* pool = new CWritableBFHP(&nodes, false);
        ASSERT_EQ(pool->Attach(new MemoryFile(bytes)), nullptr);
        CWritableHPFS fs(pool);
        CFile* alias = fs.Open("alias", kShared, nullptr);
        ASSERT_NE(alias, nullptr);
        EXPECT_EQ(fs.Exists("d\\file"), 1);  // caches d
        std::vector<uint8_t> junk(2000, 0x41);
        ASSERT_EQ(alias->Write(junk.data(), 2000, nullptr), nullptr);
        EXPECT_EQ(pool->Size(directory), 2000u);
        EXPECT_EQ(fs.Exists("d\\missing"), 0);  // walks the whole cached copy
        fs.Delete("d\\file");                   // removes from the cached copy
        delete alias;
        EXPECT_EQ(fs.Exists("d"), 1);
    }
    EXPECT_FALSE(nodes.damaged);

    // The entry naming its own directory: deleting it would free d.
    bytes = PackWithAnEntryNamingItsDirectory(false, &directory);
    auto* pool = new CWritableBFHP;
    ASSERT_EQ(pool->Attach(new MemoryFile(bytes)), nullptr);
    CWritableHPFS fs(pool);
    EXPECT_EQ(fs.Delete("d\\file"), ERR_INVALIDFORMAT);
    EXPECT_EQ(pool->Size(directory), 8u + 4);  // still holds "file"
}

// Sizes come from the pool: two files open on one handle see each other's
// growth and shrinking.
TEST(WritePaths, TwoOpenFilesOnOneHandleShareItsSize) {
    auto pool = NewPool(nullptr);
    CBFHP* raw = pool.release();
    CWritableHPFS fs(raw);
    delete fs.Open("f", kShared | FM_CREATE, nullptr);
    CFile* a = fs.Open("f", kShared, nullptr);
    CFile* b = fs.Open("f", kShared, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<uint8_t> many(900, 0x62);
    ASSERT_EQ(b->Seek(100, ORIGIN_BEGIN), nullptr);
    ASSERT_EQ(b->Write(many.data(), 900, nullptr), nullptr);
    ASSERT_EQ(a->Seek(100, ORIGIN_BEGIN), nullptr);
    ASSERT_EQ(a->Write("aaaa", 4, nullptr), nullptr);
    EXPECT_EQ(a->GetSize(), 1000u);
    EXPECT_EQ(b->GetSize(), 1000u);
    std::vector<uint8_t> got(900);
    a->Seek(100, ORIGIN_BEGIN);
    ASSERT_EQ(a->Read(got.data(), 900, nullptr), nullptr);
    EXPECT_EQ(std::string(got.begin(), got.begin() + 4), "aaaa");
    EXPECT_TRUE(std::all_of(got.begin() + 4, got.end(), [](uint8_t c) { return c == 0x62; }));

    // Shrunk through b: a reads to the new end only, and grows from it.
    b->Seek(500, ORIGIN_BEGIN);
    ASSERT_EQ(b->Truncate(), nullptr);
    EXPECT_EQ(a->GetSize(), 500u);
    uint32_t count = 0;
    a->Seek(400, ORIGIN_BEGIN);
    ASSERT_EQ(a->Read(got.data(), 900, &count), nullptr);
    EXPECT_EQ(count, 100u);
    a->Seek(0, ORIGIN_END);
    EXPECT_EQ(a->Tell(), 500u);
    ASSERT_EQ(a->Write("z", 1, nullptr), nullptr);
    EXPECT_EQ(b->GetSize(), 501u);
    delete a;
    delete b;
}

// 0xFFFFFFFF is the pool's "none" size (it counts as 0): a write ending
// there or a resize to it would empty the file.
TEST(WritePaths, TheLargestSizeIsRefusedAndTheFileKept) {
    auto pool = NewPool(nullptr);
    CWritableHPFS fs(pool.release());
    CFile* f = fs.Open("f", kShared | FM_CREATE, nullptr);
    ASSERT_EQ(f->Write("hello", 5, nullptr), nullptr);
    uint32_t put = 99;
    f->Seek(int32_t(0xFFFFFFFBu), ORIGIN_BEGIN);
    EXPECT_EQ(f->Write("abcd", 4, &put), ERR_SIZEOUTOFRANGE);
    EXPECT_EQ(put, 0u);
    f->Seek(int32_t(0xFFFFFFFCu), ORIGIN_BEGIN);
    EXPECT_EQ(f->Write("abcd", 4, &put), ERR_SIZEOUTOFRANGE);  // ends past 4 GiB
    f->Seek(int32_t(0xFFFFFFFFu), ORIGIN_BEGIN);
    EXPECT_EQ(f->Truncate(), ERR_SIZEOUTOFRANGE);
    EXPECT_EQ(f->GetSize(), 5u);
    char got[5];
    f->Seek(0, ORIGIN_BEGIN);
    ASSERT_EQ(f->Read(got, 5, nullptr), nullptr);
    EXPECT_EQ(std::string(got, 5), "hello");
    delete f;
}

// A file whose reads fail in one byte range, and whose next writes fail.
struct FaultyFile : MemoryFile {
    using MemoryFile::MemoryFile;
    ErrorCode Read(void* buffer, uint32_t size, uint32_t* got) override {
        if (position < failTo && position + size > failFrom) return ERR_READFAIL;
        return MemoryFile::Read(buffer, size, got);
    }
    ErrorCode Write(const void* buffer, uint32_t size, uint32_t* put) override {
        if (failWrites > 0) {
            --failWrites;
            return ERR_WRITEFAIL;
        }
        return MemoryFile::Write(buffer, size, put);
    }
    uint64_t failFrom = 0, failTo = 0;
    int failWrites = 0;
};

// A root of four entries (files a, b, c and an empty directory s) over two
// 32-byte blocks, and a free list of two list blocks whose current one is
// not in the cache after Attach: removing an entry from the root, or adding
// one to s, needs that list block.
class FailingRemoval : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes;
        {
            auto* writer = NewKeptPool(&bytes, 32);
            CWritableHPFS service(writer);
            for (const char* name : {"a", "b", "c"}) {
                CFile* f = service.Open(name, kShared | FM_CREATE, nullptr);
                ASSERT_EQ(f->Write(name, 1, nullptr), nullptr);
                delete f;
            }
            ASSERT_EQ(service.MakeDirectory("", "s"), nullptr);
            std::vector<PoolHandle> spare;
            for (int i = 0; i < 13; ++i) spare.push_back(writer->Alloc(0));
            for (int i = 0; i < 12; ++i) writer->Free(spare[i]);
            last = uint32_t(spare[12]);
            ASSERT_EQ(writer->Header().freeCount, 12u);
        }
        file = new FaultyFile(bytes);
        pool = new CWritableBFHP;
        ASSERT_EQ(pool->Attach(file), nullptr);
        fs = std::make_unique<CWritableHPFS>(pool);
        ASSERT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "b", "c", "s"}));
    }

    void ExpectSoundAfterReopen(const std::vector<std::string>& names) {
        ASSERT_EQ(pool->Flush(), nullptr);
        std::vector<uint32_t> handles;
        CollectHandles(*fs, *pool, "", fs->RootHandle(), &handles);
        handles.push_back(last);
        ExpectBlockAccounting(file->data, handles);
        auto* copy = new CWritableBFHP;
        ASSERT_EQ(copy->Attach(new MemoryFile(file->data)), nullptr);
        CWritableHPFS reopened(copy);
        EXPECT_EQ(List(reopened, ""), names);
        for (const std::string& name : names) {
            if (name == "s") continue;
            CFile* f = reopened.Open(name.c_str(), kShared, nullptr);
            ASSERT_NE(f, nullptr) << name;
            char c = 0;
            EXPECT_EQ(f->Read(&c, 1, nullptr), nullptr);
            EXPECT_EQ(std::string(1, c), name);
            delete f;
        }
    }

    FaultyFile* file = nullptr;
    CBFHP* pool = nullptr;
    std::unique_ptr<CHPFS> fs;
    uint32_t last = 0;
};

TEST_F(FailingRemoval, AShrinkThatFailsLeavesTheDirectoryAsItWas) {
    const uint32_t current = pool->Header().freeListBlock;
    file->failFrom = uint64_t(current) * 32;
    file->failTo = file->failFrom + 32;
    EXPECT_NE(fs->Delete("b"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "b", "c", "s"}));
    EXPECT_NE(fs->Rename("b", "s\\b"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "b", "c", "s"}));
    EXPECT_EQ(List(*fs, "s"), std::vector<std::string>{});
    file->failTo = 0;
    ExpectSoundAfterReopen({"a", "b", "c", "s"});
    EXPECT_EQ(fs->Delete("b"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "c", "s"}));
    ExpectSoundAfterReopen({"a", "c", "s"});
}

TEST_F(FailingRemoval, AFailedWriteOfTheMovedEntriesLeavesTheDirectoryAsItWas) {
    file->failWrites = 1;
    EXPECT_NE(fs->Delete("b"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "b", "c", "s"}));
    ExpectSoundAfterReopen({"a", "b", "c", "s"});
    file->failWrites = 1;
    EXPECT_NE(fs->Rename("a", "s\\a"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"a", "b", "c", "s"}));
    EXPECT_EQ(List(*fs, "s"), std::vector<std::string>{});
    ExpectSoundAfterReopen({"a", "b", "c", "s"});
    EXPECT_EQ(fs->Rename("a", "s\\a"), nullptr);
    EXPECT_EQ(List(*fs, ""), (std::vector<std::string>{"b", "c", "s"}));
    EXPECT_EQ(List(*fs, "s"), std::vector<std::string>{"a"});
}

}  // namespace
