// The block accounting of a block file ("HPFS"), read straight from its
// bytes: every block 1 .. next - 1 in exactly one place (a head, an index or
// a data block of a handle, or the free list). qptool verify checks packs
// with it, and the tests check what the library writes; it shares nothing
// with the library's reader but the header layout and the byte helpers.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hpfs/BlockFileFormat.h"

// A raw u32 of the file (bytes past its end read as zero).
inline uint32_t RawWord(const std::vector<uint8_t>& bytes, uint64_t position) {
    uint8_t b[4] = {};
    for (int i = 0; i < 4; ++i)
        if (position + i < bytes.size()) b[i] = bytes[position + i];
    return LoadU32(b);
}

// Where a handle's tree lies: the position of every block pointer in use
// (head first, then index blocks, in walking order), the index blocks and
// the data blocks in order. Stops (ok false) at a pointer outside the file.
struct RawTree {
    uint32_t size = 0, depth = 0;
    std::vector<uint64_t> pointerPositions;
    std::vector<uint32_t> indexBlocks;
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
    if (tree.depth > 5) {
        tree.ok = false;
        return tree;
    }
    const uint64_t blocks = (uint64_t(tree.size) + b - 1) / b;
    std::set<uint64_t> seen;
    std::set<uint32_t> indexes;
    for (uint64_t j = 0; j < blocks && tree.ok; ++j) {
        uint32_t digits[6];
        uint64_t rest = j;
        for (int l = int(tree.depth); l >= 1; --l) {
            digits[l] = uint32_t(rest % k);
            rest /= k;
        }
        digits[0] = uint32_t(rest) + p / 4;
        if (digits[0] >= k) {
            tree.ok = false;
            break;
        }
        uint32_t block = handle;
        for (uint32_t l = 0; l <= tree.depth; ++l) {
            uint64_t at = uint64_t(block) * b + 4 * digits[l];
            if (seen.insert(at).second) tree.pointerPositions.push_back(at);
            block = RawWord(bytes, at);
            if (block == 0 || block >= header.nextBlock) {
                tree.ok = false;
                break;
            }
            if (l < tree.depth && indexes.insert(block).second) tree.indexBlocks.push_back(block);
        }
        if (tree.ok) tree.dataBlocks.push_back(block);
    }
    return tree;
}

// Checks from the raw bytes (after a Flush) that every block 1 .. next - 1
// is in exactly one place: the head, an index or a data block of one of
// handles, or on the free list; and that empty handles keep no index
// levels. Returns "" or the first fault found.
inline std::string CheckBlockAccounting(const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& handles) {
    if (bytes.size() < kBlockFileHeaderSize) return "no block file header in " + std::to_string(bytes.size()) + " bytes";
    BlockFileHeader header;
    header.Load(bytes.data());
    const uint32_t b = header.blockSize, k = b / 4;
    if (k == 0) return "block size " + std::to_string(b);
    std::map<uint32_t, std::string> owner;
    std::string fault;
    auto claim = [&](uint32_t block, const std::string& what) {
        if (!fault.empty()) return;
        if (block == 0 || block >= header.nextBlock) {
            fault = what + " is block " + std::to_string(block) + ", outside 1.." + std::to_string(header.nextBlock - 1);
            return;
        }
        auto [it, fresh] = owner.emplace(block, what);
        if (!fresh) fault = "block " + std::to_string(block) + " is both " + it->second + " and " + what;
    };
    for (uint32_t h : handles) {
        claim(h, "head " + std::to_string(h));
        RawTree tree = ReadRawTree(bytes, h);
        if (!tree.ok) return "handle " + std::to_string(h) + " has a broken tree";
        if (tree.size == 0 && tree.depth != 0) return "empty handle " + std::to_string(h) + " keeps index levels";
        for (uint32_t block : tree.indexBlocks) claim(block, "index of " + std::to_string(h));
        for (uint32_t block : tree.dataBlocks) claim(block, "data of " + std::to_string(h));
    }
    uint32_t list = header.freeListBlock;
    for (uint32_t remaining = header.freeCount; remaining > 0 && fault.empty();) {
        claim(list, "free-list block");
        uint32_t entries = (remaining - 1) % k;
        for (uint32_t i = 1; i <= entries; ++i) claim(RawWord(bytes, uint64_t(list) * b + 4 * i), "free");
        remaining -= entries + 1;
        list = RawWord(bytes, uint64_t(list) * b);
    }
    if (!fault.empty()) return fault;
    if (owner.size() != size_t(header.nextBlock - 1))
        return std::to_string(header.nextBlock - 1 - owner.size()) + " blocks in no place (leaked)";
    if (bytes.size() <= uint64_t(header.nextBlock - 1) * b) return "the file ends before its last block";
    return "";
}
