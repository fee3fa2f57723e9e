// The writer's side of the version-2 checksum entry (PatchCrc.h): the CRC
// of a container's stored bytes up to the block that holds the entry, summed
// while the container is written in block order, and the in-memory build
// of a sealed patch container.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"

class StoredCrcSum {
public:
    // For the container of a pack of packSize bytes (at least the entry's
    // size) that ends in a version-2 entry.
    StoredCrcSum(uint32_t packSize, uint32_t blockSize, uint8_t bitLengths);

    // k: the block that holds the entry's first byte; the blocks before it
    // are the ones covered by the stored CRC.
    uint32_t EntryBlock() const { return entryBlock_; }
    // Where the tail CRC's bytes begin in the pack image: block k's start.
    uint32_t TailStart() const { return tailStart_; }
    uint32_t CoveredSize() const { return coveredSize_; }

    // The next block in order was stored at offset at of the container
    // (its table entry) with these bytes. Blocks from k on are not covered
    // and are ignored.
    void AddBlock(uint32_t at, const uint8_t* bytes, uint32_t length);

    // Once blocks 0 to k - 1 are added: the stored CRC, given where block k
    // is stored (table entry k).
    uint32_t StoredCrc(uint32_t entryBlockAt) const;

private:
    uint32_t coveredSize_, entryBlock_, tailStart_;
    uint32_t added_ = 0;
    uint32_t headCrc_;          // header and the table entries added so far
    uint32_t blocksCrc_ = 0;    // the stored bytes of the blocks added so far
    uint64_t blocksLength_ = 0;
};

// Compresses a pack image that ends in room for a version-2 entry (as
// BuildCheckedPackImage makes it with version 2) into a container on
// target, as CompressLzssImage does, with the entry's bytes filled in the
// image first. containerSize (may be null) receives the container's length.
// "BADPARAMS" for an image shorter than the entry, else CompressLzssImage's
// errors or target's.
ErrorCode CompressSealedPatch(uint8_t* image, uint32_t imageSize, CFile* target, uint32_t blockSize,
                              uint8_t bitLengths, uint32_t* containerSize);
