// Block file ("HPFS"): a file cut into equal blocks of B bytes; block k
// occupies bytes k*B .. k*B+B-1. All numbers are little-endian u32 unless
// stated; block number 0 means "none" wherever a block number is stored.
//
// Block 0 holds only the 32-byte header:
//   0 magic "HPFS"        4 B (block size)       8 next block (lowest never used)
//  12 block limit        16 free count          20 current free-list block
//  24 P (pointer offset) 28 root handle
//
// A handle is the number of its head block:
//   0 data size   4 index depth d (i16, 0..5)   6..P-1 unused   P..B-1 H0 = (B-P)/4 pointers
// An index block holds K = B/4 pointers. Data block j of a handle is found by
// writing j in base K as d+1 digits a0..ad: head pointer a0 leads to the
// level-1 index block, its pointer a1 to level 2, ..., and pointer ad (in the
// head when d = 0) is the data block.
//
// Free list: the current free-list block holds at word 0 the previous
// free-list block and at words 1 .. (free count - 1) mod K free block numbers;
// every earlier free-list block is full (K - 1 entries). Free-list blocks are
// free themselves and counted in the free count.
#pragma once

#include <cstdint>

#include "framework/LittleEndian.h"

#include "framework/ErrorCode.h"

constexpr uint32_t kBlockFileMagic = 0x53465048;  // "HPFS" read as a little-endian u32
constexpr uint32_t kBlockFileHeaderSize = 32;
constexpr uint32_t kMaxIndexDepth = 5;  // cache slots 2..6 hold the index path
constexpr uint32_t kMinBlockSize = 32;  // block 0 must hold the header
constexpr uint32_t kMaxBlockSize = 1u << 20;  // keeps the seven cache buffers modest
constexpr uint32_t kMinPointerOffset = 8;  // data size and depth come first

// Head block fields.
constexpr uint32_t kHeadSizeOffset = 0;
constexpr uint32_t kHeadDepthOffset = 4;

struct BlockFileHeader {
    uint32_t magic = 0;
    uint32_t blockSize = 0;
    uint32_t nextBlock = 0;
    uint32_t blockLimit = 0;
    uint32_t freeCount = 0;
    uint32_t freeListBlock = 0;
    uint32_t pointerOffset = 0;
    uint32_t rootHandle = 0;

    void Load(const uint8_t* bytes);
    void Store(uint8_t* bytes) const;
};

// Number of blocks whose bytes all lie below 4 GiB for block size B.
uint32_t AddressableBlocks(uint32_t blockSize);

// The header is not trusted: "INVALIDFORMAT" unless the magic is right,
// 32 <= B <= 1 MiB with B a multiple of 4, P a multiple of 4 with 8 <= P < B,
// 1 <= next block <= the addressable blocks, free count <= next - 1, the
// free-list block (while anything is free) and the root (when set) name
// blocks 1 .. next - 1. A block limit below next block is accepted: no new
// block is taken from the end then.
ErrorCode CheckBlockFileHeader(const BlockFileHeader& header);
