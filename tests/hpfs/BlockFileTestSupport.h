// Helpers for the block-file tests: fresh files, re-attaching, and an
// independent check of the block accounting read straight from the bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "MemoryFile.h"
#include "hpfs/BFHP.h"
#include "hpfs/BlockFileFormat.h"
#include "hpfs/BlockFileWriter.h"

// A file holding an empty block file of the given geometry.
inline MemoryFile* NewBlockFile(uint32_t blockSize = 512, uint32_t pointerOffset = 8,
                                uint32_t blockLimit = 0xFFFFFFFF) {
    auto* file = new MemoryFile;
    EXPECT_EQ(WriteEmptyBlockFile(file, blockSize, pointerOffset, blockLimit), nullptr);
    file->readCalls = file->writeCalls = 0;
    return file;
}

// A pool attached to a fresh block file; the pool owns the file.
inline std::unique_ptr<CBFHP> NewPool(MemoryFile** fileOut, uint32_t blockSize = 512, uint32_t pointerOffset = 8,
                                      uint32_t blockLimit = 0xFFFFFFFF) {
    auto pool = std::make_unique<CBFHP>();
    MemoryFile* file = NewBlockFile(blockSize, pointerOffset, blockLimit);
    EXPECT_EQ(pool->Attach(file), nullptr);
    if (fileOut) *fileOut = file;
    return pool;
}

// A file that leaves its bytes behind when the pool that owns it goes.
struct KeptFile : MemoryFile {
    explicit KeptFile(std::vector<uint8_t>* keep) : kept(keep) {}
    ~KeptFile() override { *kept = data; }
    std::vector<uint8_t>* kept;
};

// Reads a raw u32 of the file (bytes past its end read as zero).
inline uint32_t RawWord(const std::vector<uint8_t>& bytes, uint64_t position) {
    uint8_t b[4] = {};
    for (int i = 0; i < 4; ++i)
        if (position + i < bytes.size()) b[i] = bytes[position + i];
    return LoadU32(b);
}

// Where a handle's tree lies in the raw bytes: the position of every block
// pointer in use (head first, then index blocks, in walking order) and the
// data blocks in order. Stops (ok false) at a pointer outside the file.
struct RawTree {
    uint32_t size = 0, depth = 0;
    std::vector<uint64_t> pointerPositions;
    std::vector<uint32_t> dataBlocks;
    bool ok = true;
};

inline RawTree ReadRawTree(const std::vector<uint8_t>& bytes, uint32_t handle) {
    BlockFileHeader header;
    header.Load(bytes.data());
    const uint32_t b = header.blockSize, k = b / 4, p = header.pointerOffset;
    RawTree tree;
    tree.size = RawWord(bytes, uint64_t(handle) * b);
    tree.depth = RawWord(bytes, uint64_t(handle) * b + 4) & 0xFFFF;
    const uint64_t blocks = (uint64_t(tree.size) + b - 1) / b;
    std::set<uint64_t> seen;
    for (uint64_t j = 0; j < blocks && tree.ok; ++j) {
        uint32_t digits[6];
        uint64_t rest = j;
        for (int l = int(tree.depth); l >= 1; --l) {
            digits[l] = uint32_t(rest % k);
            rest /= k;
        }
        digits[0] = uint32_t(rest) + p / 4;
        uint32_t block = handle;
        for (uint32_t l = 0; l <= tree.depth; ++l) {
            uint64_t at = uint64_t(block) * b + 4 * digits[l];
            if (seen.insert(at).second) tree.pointerPositions.push_back(at);
            block = RawWord(bytes, at);
            if (block == 0 || block >= header.nextBlock) {
                tree.ok = false;
                break;
            }
        }
        if (tree.ok) tree.dataBlocks.push_back(block);
    }
    return tree;
}

// A handle's data read straight from the raw bytes.
inline std::vector<uint8_t> ReadRawData(const std::vector<uint8_t>& bytes, uint32_t handle) {
    BlockFileHeader header;
    header.Load(bytes.data());
    RawTree tree = ReadRawTree(bytes, handle);
    std::vector<uint8_t> data;
    for (uint32_t block : tree.dataBlocks)
        for (uint32_t i = 0; i < header.blockSize && data.size() < tree.size; ++i) {
            uint64_t at = uint64_t(block) * header.blockSize + i;
            data.push_back(at < bytes.size() ? bytes[at] : 0);
        }
    return data;
}

// Checks from the raw bytes (after a Flush) that every block 1 .. next - 1
// is in exactly one place: a head, index or data block of one of handles, or
// on the free list. Reports failures through gtest.
inline void ExpectBlockAccounting(const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& handles) {
    BlockFileHeader header;
    header.Load(bytes.data());
    const uint32_t b = header.blockSize, k = b / 4, p = header.pointerOffset;
    std::map<uint32_t, std::string> owner;
    auto claim = [&](uint32_t block, const std::string& what) {
        ASSERT_GT(block, 0u) << what;
        ASSERT_LT(block, header.nextBlock) << what;
        auto [it, fresh] = owner.emplace(block, what);
        ASSERT_TRUE(fresh) << "block " << block << " is both " << it->second << " and " << what;
    };
    for (uint32_t h : handles) {
        claim(h, "head " + std::to_string(h));
        uint32_t size = RawWord(bytes, uint64_t(h) * b);
        uint32_t depth = RawWord(bytes, uint64_t(h) * b + 4) & 0xFFFF;
        ASSERT_LE(depth, 5u);
        uint64_t blocks = (uint64_t(size) + b - 1) / b;
        if (blocks == 0) {
            EXPECT_EQ(depth, 0u) << "empty handle " << h << " keeps index levels";
        }
        std::set<uint32_t> indexBlocks;
        for (uint64_t j = 0; j < blocks; ++j) {
            uint32_t digits[6];
            uint64_t rest = j;
            for (int l = int(depth); l >= 1; --l) {
                digits[l] = uint32_t(rest % k);
                rest /= k;
            }
            digits[0] = uint32_t(rest) + p / 4;
            uint32_t block = h;
            for (uint32_t l = 0; l <= depth; ++l) {
                block = RawWord(bytes, uint64_t(block) * b + 4 * digits[l]);
                if (l < depth && indexBlocks.insert(block).second)
                    claim(block, "index of " + std::to_string(h));
            }
            claim(block, "data of " + std::to_string(h));
        }
    }
    uint32_t list = header.freeListBlock;
    for (uint32_t remaining = header.freeCount; remaining > 0;) {
        claim(list, "free-list block");
        uint32_t entries = (remaining - 1) % k;
        for (uint32_t i = 1; i <= entries; ++i) claim(RawWord(bytes, uint64_t(list) * b + 4 * i), "free");
        remaining -= entries + 1;
        list = RawWord(bytes, uint64_t(list) * b);
    }
    EXPECT_EQ(owner.size(), size_t(header.nextBlock - 1)) << "blocks in no place";
}
