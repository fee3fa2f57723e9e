// Block files that lie: every fault gives an error code, never a read or
// write outside a buffer, an endless loop or damage to other blocks.
#include <gtest/gtest.h>

#include "BlockFileTestSupport.h"
#include "hpfs/WritableHPFS.h"

namespace {

std::vector<uint8_t> EmptyFile(uint32_t blockSize = 512, uint32_t pointerOffset = 8) {
    MemoryFile file;
    EXPECT_EQ(WriteEmptyBlockFile(&file, blockSize, pointerOffset, 0xFFFFFFFF), nullptr);
    return file.data;
}


// Attaches a pool to a copy of bytes; null when Attach refuses (the copy is then freed here).
std::unique_ptr<CBFHP> AttachTo(const std::vector<uint8_t>& bytes, ErrorCode* error = nullptr) {
    auto pool = std::make_unique<CWritableBFHP>();
    auto* file = new MemoryFile(bytes);
    ErrorCode result = pool->Attach(file);
    if (error) *error = result;
    if (result) {
        delete file;
        return nullptr;
    }
    return pool;
}

TEST(MalformedFile, HeaderGeometryIsChecked) {
    struct Case {
        uint32_t offset, value;
    } cases[] = {
        {4, 0},           // B = 0
        {4, 30},          // B not a multiple of 4
        {4, 16},          // B too small for the header
        {24, 512},        // P = B
        {24, 600},        // P beyond B
        {24, 4},          // P inside the head's own fields
        {24, 10},         // P not a word offset
        {8, 0},           // next block 0
        {8, 0x00900000},  // blocks past 4 GiB
        {16, 1},          // free count above next - 1
        {28, 7},          // root beyond the file
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = EmptyFile();
        SetWord(bytes, c.offset, c.value);
        ErrorCode error;
        EXPECT_EQ(AttachTo(bytes, &error), nullptr) << c.offset << "=" << c.value;
        EXPECT_EQ(error, ERR_INVALIDFORMAT);
    }
    std::vector<uint8_t> fine = EmptyFile();
    SetWord(fine, 12, 0);  // a block limit below next block only stops growth
    auto pool = AttachTo(fine);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->Alloc(0), 0u);
}

// A B = 32 file (K = 8) with 12 free blocks: two free-list blocks.
std::vector<uint8_t> FileWithFreeList(std::vector<PoolHandle>* kept) {
    MemoryFile* file;
    auto pool = NewPool(&file, 32, 8);
    std::vector<PoolHandle> handles;
    for (int i = 0; i < 14; ++i) handles.push_back(pool->Alloc(0));
    for (int i = 0; i < 12; ++i) pool->Free(handles[i]);
    kept->assign(handles.begin() + 12, handles.end());
    EXPECT_EQ(pool->Flush(), nullptr);
    EXPECT_EQ(pool->Header().freeCount, 12u);
    return file->data;
}

TEST(MalformedFile, FreeListCyclesAndBadEntriesAreRefused) {
    std::vector<PoolHandle> kept;
    const std::vector<uint8_t> good = FileWithFreeList(&kept);
    ASSERT_NE(AttachTo(good), nullptr);
    BlockFileHeader header;
    header.Load(good.data());
    const uint32_t current = header.freeListBlock;
    const uint32_t previous = RawWord(good, current * 32);

    std::vector<uint8_t> cycle = good;
    SetWord(cycle, current * 32, current);  // the list leads back to itself
    std::vector<uint8_t> twice = good;
    SetWord(twice, current * 32 + 8, RawWord(good, current * 32 + 4));
    std::vector<uint8_t> listed = good;
    SetWord(listed, previous * 32 + 4, kept[0]);  // a block in use and on the list
    SetWord(listed, previous * 32 + 8, kept[0]);
    std::vector<uint8_t> zero = good;
    SetWord(zero, current * 32 + 4, 0);
    std::vector<uint8_t> beyond = good;
    SetWord(beyond, previous * 32 + 4, header.nextBlock);
    for (auto* bytes : {&cycle, &twice, &listed, &zero, &beyond}) {
        ErrorCode error;
        EXPECT_EQ(AttachTo(*bytes, &error), nullptr);
        EXPECT_EQ(error, ERR_INVALIDFORMAT);
    }
}

TEST(MalformedFile, BrokenHeadsAndIndexPointersGiveErrors) {
    MemoryFile* file;
    auto pool = NewPool(&file);
    PoolHandle small = pool->Alloc(100);
    PoolHandle big = pool->Alloc(200 * 512);  // depth 1
    PoolHandle other = pool->Alloc(600);
    std::vector<uint8_t> pattern(600, 0x5A);
    ASSERT_EQ(pool->Write(other, pattern.data(), 0, 600), nullptr);
    ASSERT_EQ(pool->Flush(), nullptr);
    const std::vector<uint8_t> good = file->data;
    const uint32_t index = RawWord(good, big * 512 + 8);

    struct Case {
        const char* what;
        uint64_t position;
        uint32_t value;
        PoolHandle handle;
    } cases[] = {
        {"depth 6", small * 512 + 4, 6, small},
        {"negative depth", small * 512 + 4, 0xFFFF, small},
        {"size beyond depth 0", small * 512, 127 * 512, small},
        {"data block 0", small * 512 + 8, 0, small},
        {"data block beyond", small * 512 + 8, 100000, small},
        {"data block is its head", small * 512 + 8, uint32_t(small), small},
        {"index block 0", big * 512 + 8, 0, big},
        {"index block is its head", big * 512 + 8, uint32_t(big), big},
        {"index points at itself", uint64_t(index) * 512, index, big},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        SetWord(bytes, c.position, c.value);
        auto broken = AttachTo(bytes);
        ASSERT_NE(broken, nullptr) << c.what;
        std::vector<uint8_t> got(200 * 512);
        ErrorCode error = broken->Read(c.handle, got.data(), 0, kWholeHandle);
        if (!error) error = broken->LastError();
        EXPECT_NE(error, nullptr) << c.what;
        std::vector<uint8_t> junk(600, 0x11);
        broken->Write(c.handle, junk.data(), 0, 600);
        broken->Realloc(c.handle, 300 * 512);
        broken->Free(c.handle);
        // Whatever happened to the broken handle, the others are untouched.
        std::vector<uint8_t> check(600);
        ASSERT_EQ(broken->Read(other, check.data(), 0, 600), nullptr) << c.what;
        EXPECT_EQ(check, pattern) << c.what;
    }
}

TEST(MalformedFile, DirectoryEntriesRunningPastTheirDataAreRefused) {
    std::vector<uint8_t> bytes;
    const std::string longName(252, 'n');
    {
        auto* pool = NewKeptPool(&bytes);
        CWritableHPFS fs(pool);
        ASSERT_EQ(fs.MakeDirectory("", "dir"), nullptr);
        ASSERT_EQ(fs.MakeDirectory("", longName.c_str()), nullptr);
        delete fs.Open("dir\\file", FM_READ | FM_WRITE | FM_CREATE, nullptr);
    }
    BlockFileHeader header;
    header.Load(bytes.data());
    const uint64_t rootData = uint64_t(RawWord(bytes, header.rootHandle * 512 + 8)) * 512;
    ASSERT_EQ(LoadU16(bytes.data() + rootData + 6), 3u);  // "dir"

    for (uint16_t length : {uint16_t(253), uint16_t(2000), uint16_t(0xFFFF)}) {
        std::vector<uint8_t> broken = bytes;
        StoreU16(broken.data() + rootData + 6, length);
        auto pool = AttachTo(broken);
        ASSERT_NE(pool, nullptr);
        CWritableHPFS fs(pool.release());
        ErrorCode error = nullptr;
        EXPECT_EQ(fs.Open("dir\\file", FM_READ, &error), nullptr);
        EXPECT_EQ(error, ERR_INVALIDFORMAT) << length;
        FindRecord record = {};
        EXPECT_EQ(fs.FindFirst(&record, ""), ERR_INVALIDFORMAT) << length;
        fs.FindClose(&record);
        EXPECT_EQ(fs.MakeDirectory("", "new"), ERR_INVALIDFORMAT);
    }
    // The second entry broken: the listing shows the first and then stops.
    std::vector<uint8_t> broken = bytes;
    StoreU16(broken.data() + rootData + 11 + 6, 253);
    auto pool = AttachTo(broken);
    ASSERT_NE(pool, nullptr);
    CWritableHPFS fs(pool.release());
    FindRecord record = {};
    ASSERT_EQ(fs.FindFirst(&record, ""), nullptr);
    EXPECT_STREQ(record.name, "dir");
    EXPECT_EQ(fs.FindNext(&record), ERR_INVALIDFORMAT);
    fs.FindClose(&record);
    EXPECT_EQ(fs.Exists("dir\\file"), 1);
}

}  // namespace
