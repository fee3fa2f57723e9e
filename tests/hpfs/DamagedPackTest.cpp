// Damaged copies of packs written by the library: every head field of every
// handle, the pointers of head and index blocks, the header words, and
// truncations. A damaged pack refuses to attach, or refuses the damaged item
// with an error, or reads true: never empty, short or with other bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "BlockFileTestSupport.h"
#include "hpfs/HPFSFile.h"
#include "hpfs/WritableHPFS.h"

namespace {


struct Item {
    std::string path;            // "" for the root
    bool directory = false;
    uint32_t handle = 0;
    std::vector<uint8_t> data;   // a file's bytes
    std::vector<std::string> listing;  // a directory's names, "/" after subdirectories
};

struct Pack {
    std::vector<uint8_t> bytes;
    uint32_t blockSize = 0;
    std::vector<Item> items;
    std::vector<uint32_t> freeBlocks;
};

// Bytes whose every aligned word names no block of a small file.
std::vector<uint8_t> HighBytes(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(0x80 | ((i * 37 + seed) % 127));
    return bytes;
}

std::vector<uint8_t> Text(size_t size) {
    const std::string line = "[system]\r\nlanguage=english\r\npeon=peasant\r\n";
    std::string text;
    while (text.size() < size) text += line;
    return std::vector<uint8_t>(text.begin(), text.begin() + long(size));
}

std::vector<std::string> Listing(CHPFS& fs, const std::string& path, ErrorCode* error) {
    std::vector<std::string> names;
    FindRecord record = {};
    *error = fs.FindFirst(&record, path.c_str());
    while (!*error) {
        names.push_back(std::string(record.name) + (record.attributes & FA_DIRECTORY ? "/" : ""));
        *error = fs.FindNext(&record);
    }
    fs.FindClose(&record);
    if (*error == ERR_NOMOREFILES) *error = nullptr;
    return names;
}

// A pack of two directories, files of several depths, and free blocks.
Pack BuildPack(uint32_t blockSize, uint32_t pointerOffset) {
    Pack pack;
    pack.blockSize = blockSize;
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"LOCAL\\strings3.ini", Text(300)}, {"gone1", HighBytes(2000, 1)},
        {"LOCAL\\strings.ini", Text(1500)}, {"big.bin", HighBytes(70000, 2)},
        {"gone2", HighBytes(700, 3)},       {"tiny", HighBytes(5, 4)},
    };
    {
        auto* file = new MemoryFile(&pack.bytes);
        EXPECT_EQ(WriteEmptyBlockFile(file, blockSize, pointerOffset, 0xFFFFFFFF), nullptr);
        auto* pool = new CWritableBFHP;
        EXPECT_EQ(pool->Attach(file), nullptr);
        CWritableHPFS fs(pool);
        EXPECT_EQ(fs.MakeDirectory("", "LOCAL"), nullptr);
        EXPECT_EQ(fs.MakeDirectory("", "empty"), nullptr);
        for (auto& [path, data] : files) {
            auto* f = static_cast<CHPFSFile*>(fs.Open(path.c_str(), FM_READ | FM_WRITE | FM_CREATE, nullptr));
            EXPECT_EQ(f->Write(data.data(), uint32_t(data.size()), nullptr), nullptr);
            Item item;
            item.path = path;
            item.handle = uint32_t(f->Handle());
            item.data = data;
            if (path.rfind("gone", 0) != 0) pack.items.push_back(item);
            delete f;
        }
        EXPECT_EQ(fs.Delete("gone1"), nullptr);
        EXPECT_EQ(fs.Delete("gone2"), nullptr);
        for (std::string dir : {"", "LOCAL", "empty"}) {
            Item item;
            item.path = dir;
            item.directory = true;
            ErrorCode error;
            item.listing = Listing(fs, dir, &error);
            EXPECT_EQ(error, nullptr);
            pack.items.push_back(item);
        }
    }
    BlockFileHeader header;
    header.Load(pack.bytes.data());
    // Directory handles from the raw entries.
    auto entries = [&](uint32_t handle) {
        std::map<std::string, uint32_t> named;
        std::vector<uint8_t> data = ReadRawData(pack.bytes, handle);
        for (size_t at = 0; at + 8 <= data.size(); at += 8 + LoadU16(&data[at + 6]))
            named[std::string(data.begin() + long(at) + 8, data.begin() + long(at) + 8 + LoadU16(&data[at + 6]))] =
                LoadU32(&data[at]);
        return named;
    };
    auto rootEntries = entries(header.rootHandle);
    for (Item& item : pack.items)
        if (item.directory) item.handle = item.path.empty() ? header.rootHandle : rootEntries[item.path];
    // The free blocks, list blocks included.
    uint32_t list = header.freeListBlock, k = blockSize / 4;
    for (uint32_t remaining = header.freeCount; remaining > 0;) {
        pack.freeBlocks.push_back(list);
        uint32_t count = (remaining - 1) % k;
        for (uint32_t i = 1; i <= count; ++i) pack.freeBlocks.push_back(RawWord(pack.bytes, uint64_t(list) * blockSize + 4 * i));
        remaining -= count + 1;
        list = RawWord(pack.bytes, uint64_t(list) * blockSize);
    }
    EXPECT_FALSE(pack.freeBlocks.empty());
    return pack;
}

bool IsBelow(const Item& item, const Item& directory) {
    if (directory.path.empty()) return true;
    return item.path == directory.path || item.path.rfind(directory.path + "\\", 0) == 0;
}

// What reading the whole pack gave: attached or not, and the items that
// failed with an error. An item that reads other bytes, or that fails
// without an error code, is a test failure here.
struct Reading {
    bool attached = false;
    std::vector<std::string> failed;
};

Reading ReadEverything(const std::vector<uint8_t>& bytes, const Pack& pack, const std::string& what) {
    Reading reading;
    auto* file = new MemoryFile(bytes);
    auto* pool = new CWritableBFHP;
    if (pool->Attach(file)) {
        delete pool;
        delete file;
        return reading;
    }
    reading.attached = true;
    CWritableHPFS fs(pool);
    for (const Item& item : pack.items) {
        if (item.directory) {
            ErrorCode error;
            std::vector<std::string> names = Listing(fs, item.path, &error);
            if (error)
                reading.failed.push_back(item.path);
            else
                EXPECT_EQ(names, item.listing) << what << ": listing of '" << item.path << "'";
            continue;
        }
        ErrorCode error = nullptr;
        CFile* f = fs.Open(item.path.c_str(), kReadShared, &error);
        if (!f) {
            EXPECT_NE(error, nullptr) << what << ": " << item.path;
            reading.failed.push_back(item.path);
            continue;
        }
        std::vector<uint8_t> got(f->GetSize());
        error = got.empty() ? nullptr : f->Read(got.data(), uint32_t(got.size()), nullptr);
        delete f;
        if (error)
            reading.failed.push_back(item.path);
        else
            EXPECT_EQ(got, item.data) << what << ": " << item.path << " reads other bytes";
    }
    std::sort(reading.failed.begin(), reading.failed.end());
    return reading;
}


class DamagedPack : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {
protected:
    void SetUp() override { pack = BuildPack(GetParam().first, GetParam().second); }

    // Damage confined to the tree of target: the root refuses the pack, any
    // other item fails with everything below it, and the rest reads true.
    void ExpectOnlyTargetFails(const std::vector<uint8_t>& bytes, const Item& target, const std::string& what) {
        Reading reading = ReadEverything(bytes, pack, what);
        if (target.path.empty() && target.directory) {
            EXPECT_FALSE(reading.attached) << what;
            return;
        }
        ASSERT_TRUE(reading.attached) << what;
        std::vector<std::string> expected;
        for (const Item& item : pack.items)
            if (target.directory ? IsBelow(item, target) : item.path == target.path) expected.push_back(item.path);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(reading.failed, expected) << what;
    }

    Pack pack;
};

TEST_P(DamagedPack, TheUndamagedPackReadsTrue) {
    Reading reading = ReadEverything(pack.bytes, pack, "undamaged");
    EXPECT_TRUE(reading.attached);
    EXPECT_TRUE(reading.failed.empty());
}

TEST_P(DamagedPack, EveryHeadFieldThatLiesIsAnError) {
    BlockFileHeader header;
    header.Load(pack.bytes.data());
    const uint32_t b = pack.blockSize, k = b / 4, h0 = (b - header.pointerOffset) / 4;
    for (const Item& item : pack.items) {
        RawTree tree = ReadRawTree(pack.bytes, item.handle);
        ASSERT_TRUE(tree.ok);
        const uint64_t head = uint64_t(item.handle) * b;
        uint64_t capacity = h0;
        for (uint32_t d = 0; d < tree.depth; ++d) capacity *= k;
        std::vector<std::pair<std::string, std::pair<uint64_t, uint32_t>>> cases = {
            {"depth 6", {head + 4, (RawWord(pack.bytes, head + 4) & 0xFFFF0000) | 6}},
            {"depth -1", {head + 4, RawWord(pack.bytes, head + 4) | 0xFFFF}},
            {"depth 0x8000", {head + 4, (RawWord(pack.bytes, head + 4) & 0xFFFF0000) | 0x8000}},
            {"size -1", {head, 0xFFFFFFFF}},
            {"size 2 GiB", {head, 0x80000000}},
            {"size of every block", {head, header.nextBlock * b}},
            {"size past the depth", {head, uint32_t(std::min<uint64_t>(capacity * b + 1, 0xFFFFFFFF))}},
            {"size two blocks more", {head, tree.size + 2 * b}},
        };
        if (!item.directory)  // a file's data words name no block: one level more reads them as pointers
            cases.push_back({"depth one more", {head + 4, RawWord(pack.bytes, head + 4) + 1}});
        if (tree.depth > 0) cases.push_back({"depth one less", {head + 4, RawWord(pack.bytes, head + 4) - 1}});
        if (tree.size == 0) continue;  // an empty item has no tree to contradict (the empty folder)
        for (auto& [name, change] : cases) {
            std::vector<uint8_t> bytes = pack.bytes;
            SetWord(bytes, change.first, change.second);
            ExpectOnlyTargetFails(bytes, item, "'" + item.path + "' " + name);
        }
    }
}

TEST_P(DamagedPack, EveryTreePointerOutsideTheTreeIsAnError) {
    BlockFileHeader header;
    header.Load(pack.bytes.data());
    for (const Item& item : pack.items) {
        RawTree tree = ReadRawTree(pack.bytes, item.handle);
        // All pointers of small trees; a sample of the large one.
        const size_t step = tree.pointerPositions.size() > 40 ? 23 : 1;
        for (size_t i = 0; i < tree.pointerPositions.size(); i += (i + 1 == tree.pointerPositions.size() ? 1 : step)) {
            const uint64_t at = tree.pointerPositions[i];
            const uint32_t old = RawWord(pack.bytes, at);
            std::vector<std::pair<std::string, uint32_t>> values = {
                {"0", 0}, {"next block", header.nextBlock}, {"far", header.nextBlock + 1000},
                {"-1", 0xFFFFFFFF}, {"its head", item.handle}, {"a free block", pack.freeBlocks[i % pack.freeBlocks.size()]},
            };
            if (i > 0) values.push_back({"the pointer before", RawWord(pack.bytes, tree.pointerPositions[i - 1])});
            if (i + 1 < tree.pointerPositions.size())
                values.push_back({"the pointer after", RawWord(pack.bytes, tree.pointerPositions[i + 1])});
            for (auto& [name, value] : values) {
                if (value == old) continue;
                std::vector<uint8_t> bytes = pack.bytes;
                SetWord(bytes, at, value);
                ExpectOnlyTargetFails(bytes, item,
                                      "'" + item.path + "' pointer " + std::to_string(i) + " set to " + name);
            }
        }
    }
}

TEST_P(DamagedPack, HeaderWordsThatLieNeverGiveOtherBytes) {
    for (uint32_t word = 0; word < 8; ++word) {
        const uint32_t old = RawWord(pack.bytes, 4 * word);
        for (uint32_t value : {0u, 0xFFFFFFFFu, old + 1, old - 1, old + 4, old - 4, old ^ 0x80000000u}) {
            // Another handle as the root, or none (a new root is made), is a
            // sound pack of other content.
            if (word == 7 && value < RawWord(pack.bytes, 8)) continue;
            std::vector<uint8_t> bytes = pack.bytes;
            SetWord(bytes, 4 * word, value);
            ReadEverything(bytes, pack, "header word " + std::to_string(word) + " = " + std::to_string(value));
        }
    }
    // Next block beyond the file's blocks: the file was cut short.
    std::vector<uint8_t> bytes = pack.bytes;
    BlockFileHeader header;
    header.Load(bytes.data());
    SetWord(bytes, 8, uint32_t((bytes.size() + pack.blockSize - 1) / pack.blockSize + 1));
    EXPECT_FALSE(ReadEverything(bytes, pack, "next block past the file").attached);
}

TEST_P(DamagedPack, TruncatedCopiesRefuseToAttachOrFailWhereBytesAreMissing) {
    const uint32_t b = pack.blockSize;
    BlockFileHeader header;
    header.Load(pack.bytes.data());
    // About 300 cuts, at every place within a block over the copies.
    const size_t step = std::max<size_t>(b / 4, pack.bytes.size() / 300) | 1;
    for (size_t cut = 0; cut < pack.bytes.size(); cut += step) {
        std::vector<uint8_t> bytes(pack.bytes.begin(), pack.bytes.begin() + long(cut));
        Reading reading = ReadEverything(bytes, pack, "cut at " + std::to_string(cut));
        // Every block below next block must at least begin inside the file.
        if (cut <= uint64_t(header.nextBlock - 1) * b) {
            EXPECT_FALSE(reading.attached) << cut;
        }
    }
    // Cut inside the last block, which holds the data of "tiny": it fails.
    const Item& tiny = *std::find_if(pack.items.begin(), pack.items.end(), [](const Item& i) { return i.path == "tiny"; });
    const uint64_t tinyData = uint64_t(ReadRawTree(pack.bytes, tiny.handle).dataBlocks.at(0)) * b;
    ASSERT_EQ(tinyData / b, header.nextBlock - 1);
    std::vector<uint8_t> bytes(pack.bytes.begin(), pack.bytes.begin() + long(tinyData + tiny.data.size() - 1));
    Reading reading = ReadEverything(bytes, pack, "last byte of tiny cut");
    ASSERT_TRUE(reading.attached);
    EXPECT_EQ(reading.failed, std::vector<std::string>{"tiny"});
}

INSTANTIATE_TEST_SUITE_P(Geometries, DamagedPack,
                         ::testing::Values(std::make_pair(512u, 8u), std::make_pair(64u, 16u)));

// A pack holding one file whose pointers all name a single block, at a size
// its header claims but its 3.5 KB cannot hold.
std::vector<uint8_t> OneBlockMadeLarge(uint32_t claimedNext, uint32_t fileSize, uint16_t depth, uint32_t* handle) {
    std::vector<uint8_t> bytes;
    {
        auto* pool = NewKeptPool(&bytes);
        CWritableHPFS fs(pool);
        auto* f = static_cast<CHPFSFile*>(fs.Open("f", FM_READ | FM_WRITE | FM_CREATE, nullptr));
        std::vector<uint8_t> data = HighBytes(2000, 5);
        EXPECT_EQ(f->Write(data.data(), uint32_t(data.size()), nullptr), nullptr);
        *handle = uint32_t(f->Handle());
        delete f;
    }
    bytes.resize(3584);
    const uint64_t head = uint64_t(*handle) * 512;
    const uint32_t first = RawWord(bytes, head + 8);
    StoreU32(bytes.data() + head, fileSize);
    StoreU16(bytes.data() + head + 4, depth);
    for (uint32_t i = 0; i < 126; ++i) StoreU32(bytes.data() + head + 8 + 4 * i, first);
    for (uint32_t i = 0; i < 128; ++i) StoreU32(bytes.data() + uint64_t(first) * 512 + 4 * i, first);
    StoreU32(bytes.data() + 8, claimedNext);
    return bytes;
}

// Records the largest allocation asked of it.
struct MeasuringPool : CHeapPtrPool {
    void* Alloc(uint32_t size) override {
        largest = std::max(largest, size);
        return CHeapPtrPool::Alloc(size);
    }
    uint32_t largest = 0;
};

TEST(DamagedPackBounds, ClaimedSizesAreCheckedAgainstTheFilesRealSize) {
    uint32_t handle;
    // A header claiming 8 M blocks for a 3.5 KB file is refused.
    std::vector<uint8_t> claimed = OneBlockMadeLarge(0x7FFFFF, 126 * 512, 0, &handle);
    {
        CWritableBFHP pool;
        auto* file = new MemoryFile(claimed);
        ErrorCode error = pool.Attach(file);
        EXPECT_EQ(error, ERR_INVALIDFORMAT);
        if (error) delete file;  // a refused file stays the caller's
    }
    // With an honest next block, sizes needing more blocks than the file has
    // are refused before anything is allocated for them.
    for (uint16_t depth : {uint16_t(0), uint16_t(1), uint16_t(3)}) {
        for (uint32_t size : {126u * 512, 7u * 512, 3u * 512}) {
            std::vector<uint8_t> bytes = OneBlockMadeLarge(7, size, depth, &handle);
            MeasuringPool nodes;
            auto* pool = new CWritableBFHP(&nodes, false);
            ASSERT_EQ(pool->Attach(new MemoryFile(bytes)), nullptr);
            CWritableHPFS fs(pool);
            ErrorCode error = nullptr;
            EXPECT_EQ(fs.Open("f", kReadShared, &error), nullptr) << depth << " " << size;
            EXPECT_NE(error, nullptr);
            if (pool->Lock(handle)) pool->Unlock(handle, 0);
            EXPECT_LE(nodes.largest, 3584u) << depth << " " << size;
        }
    }
}

}  // namespace
