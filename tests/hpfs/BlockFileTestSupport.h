// Helpers for the block-file tests: fresh files, re-attaching, and the
// independent raw reader with its block accounting.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "BlockFileRaw.h"
#include "MemoryFile.h"
#include "hpfs/BlockFileFormat.h"
#include "hpfs/BlockFileWriter.h"
#include "hpfs/WritableBFHP.h"

// Read access that lets others read and write meanwhile.
constexpr uint16_t kReadShared = FM_READ | FM_SHARE_READ | FM_SHARE_WRITE;

// Writes a little-endian word into a file's bytes, growing them to hold it.
inline void SetWord(std::vector<uint8_t>& bytes, uint64_t position, uint32_t value) {
    if (bytes.size() < position + 4) bytes.resize(size_t(position + 4));
    StoreU32(bytes.data() + position, value);
}

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
    auto pool = std::make_unique<CWritableBFHP>();
    MemoryFile* file = NewBlockFile(blockSize, pointerOffset, blockLimit);
    EXPECT_EQ(pool->Attach(file), nullptr);
    if (fileOut) *fileOut = file;
    return pool;
}

// A pool attached to a fresh block file that leaves its bytes in *bytes when
// the pool (or the service owning it) goes.
inline CBFHP* NewKeptPool(std::vector<uint8_t>* bytes, uint32_t blockSize = 512, uint32_t pointerOffset = 8) {
    bytes->clear();
    auto* file = new MemoryFile(bytes);
    EXPECT_EQ(WriteEmptyBlockFile(file, blockSize, pointerOffset, 0xFFFFFFFF), nullptr);
    auto* pool = new CWritableBFHP;
    EXPECT_EQ(pool->Attach(file), nullptr);
    return pool;
}

// Block accounting of the raw bytes (BlockFileRaw.h), reported through gtest.
inline void ExpectBlockAccounting(const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& handles) {
    EXPECT_EQ(CheckBlockAccounting(bytes, handles), "");
}
