// CBFHP: the handle pool over a block file (format in BlockFileFormat.h).
// A handle is the number of its head block; a per-handle index tree of up to
// five levels maps data offsets to data blocks; free blocks sit in chained
// free-list blocks. Seven block buffers cache the blocks in use, with fixed
// roles: slot 0 the current free-list block, slot 1 the head block of the
// handle being worked on, slots 2..6 the index blocks of levels 1..5 on the
// path to the data block last located. Data blocks never pass through the
// cache; each run of consecutive data blocks moves in one file operation.
//
// This class reads, which is all the patcher does with the game's pack:
// Alloc, Realloc, Free and Write refuse with "\"Not implemented yet\"".
// CWritableBFHP (WritableBFHP.h), for the tool and the tests, writes.
//
// Nothing read from the file is trusted: every block below next block must
// begin inside the file, every stored block number must lie in
// 1 .. next block - 1, depths above 5, sizes the tree cannot address and
// sizes needing more blocks than are in use are refused with
// "INVALIDFORMAT", and the free list is checked once on Attach (no block
// listed twice) and tracked in memory afterwards. So whatever the headers
// claim, memory and time stay within the file's real size.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "hpfs/BlockFileFormat.h"
#include "hpfs/FileHandlePool.h"
#include "hpfs/FreeBlockSet.h"

class CBFHP : public CFileHandlePool {
public:
    static const char* const className;  // "CBFHP"

    explicit CBFHP(CPtrPool* nodePool = nullptr, bool ownsNodePool = false);
    // Destroys the attached file.
    ~CBFHP() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    PoolHandle Alloc(uint32_t size) override;
    PoolHandle Realloc(PoolHandle handle, uint32_t size) override;
    void Free(PoolHandle handle) override;
    uint32_t Size(PoolHandle handle) override;
    ErrorCode Read(PoolHandle handle, void* buffer, uint32_t offset, uint32_t length) override;
    ErrorCode Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length) override;
    // Flushes the file.
    ErrorCode Flush() override;
    PoolHandle GetRoot() override;

    // Flushes and drops any previous file (refused, keeping it, when that
    // flush fails), checks the new file's header, free list and root handle
    // (CheckHandle) and takes the file. On failure the caller keeps the new
    // file.
    ErrorCode Attach(CFile* file);

    // Walks the whole tree of handle: its head must be sound, every index
    // and data block a block in use, and no block may appear twice in it.
    // "INVALIDFORMAT" (recorded) otherwise. Costs one read per index block.
    ErrorCode CheckHandle(PoolHandle handle);

    const BlockFileHeader& Header() const { return header; }

protected:
    static constexpr int kSlotCount = 7;
    static constexpr int kFreeListSlot = 0;
    static constexpr int kHeadSlot = 1;
    static constexpr uint16_t kSlotModified = 1;

    struct CacheSlot {
        uint8_t* buffer;
        uint16_t flags;
        uint32_t block;  // 0: none
    };

    // Cache.
    ErrorCode LoadSlot(int slot, uint32_t block, bool read);
    ErrorCode WriteBackSlot(int slot);
    void MarkModified(int slot) { slots[slot].flags |= kSlotModified; }
    uint32_t Word(int slot, uint32_t index) const { return LoadU32(slots[slot].buffer + 4 * index); }
    void SetWord(int slot, uint32_t index, uint32_t value) { StoreU32(slots[slot].buffer + 4 * index, value); }
    void ReleaseFile();

    // Blocks and the free list.
    bool IsBlockNumber(uint32_t block) const { return block != 0 && block < header.nextBlock; }
    uint64_t BlocksInUse() const { return uint64_t(header.nextBlock) - 1 - header.freeCount; }
    ErrorCode LoadFreeList();

    // Handles and their trees.
    ErrorCode LoadHead(PoolHandle handle);
    uint32_t HeadSize() const { return Word(kHeadSlot, 0); }
    uint32_t HeadDepth() const { return depth; }
    uint64_t BlocksFor(uint64_t size) const { return (size + blockSize - 1) / blockSize; }
    uint64_t Capacity(uint32_t atDepth) const;
    uint64_t IndexBlocksFor(uint64_t dataBlocks, uint32_t atDepth) const;
    ErrorCode Locate(uint32_t offset, uint32_t* dataBlock);
    // Steps to the next data block; within the same lowest index block (the
    // common case) no other slot is touched.
    ErrorCode Advance(uint32_t* dataBlock) {
        if (path[depth] == indexPointers - 1) return AdvanceAcross(dataBlock);
        ++path[depth];
        return DataBlockAtPath(dataBlock);
    }
    ErrorCode AdvanceAcross(uint32_t* dataBlock);
    ErrorCode LoadPathFrom(uint32_t level);
    // The data block the path points at: a block number, not free, and not
    // the head or an index block on its own path.
    ErrorCode DataBlockAtPath(uint32_t* dataBlock) {
        uint32_t block = Word(int(depth + 1), path[depth]);
        if (!IsBlockNumber(block) || freeBlocks.Contains(block) || IsOnPath(block, depth + 1))
            return ERR_INVALIDFORMAT;
        *dataBlock = block;
        return nullptr;
    }
    bool IsOnPath(uint32_t block, uint32_t lastSlot) const {
        for (uint32_t s = kHeadSlot; s <= lastSlot; ++s)
            if (slots[s].block == block) return true;
        return false;
    }

    // Data.
    ErrorCode Transfer(PoolHandle handle, uint8_t* buffer, uint32_t offset, uint32_t length, bool write);
    ErrorCode MoveRun(uint8_t* buffer, uint32_t position, uint32_t length, bool write);

    CacheSlot* slots = nullptr;       // kSlotCount descriptors from g_pDefaultPtrPool
    uint8_t* buffers = nullptr;       // kSlotCount * B bytes from g_pDefaultPtrPool
    BlockFileHeader header;
    bool headerDirty = false;
    CFile* file = nullptr;
    uint32_t blockSize = 0;           // B
    uint32_t headPointers = 0;        // H0 = (B - P) / 4
    uint32_t indexPointers = 0;       // K = B / 4
    uint32_t blockLimit = 0;          // header limit, capped at the addressable blocks
    CFreeBlockSet freeBlocks;

    // Path of the handle in slot 1: digits a0..ad of the data block last
    // located, a0 already offset by P / 4 to index the head block's words.
    uint32_t depth = 0;
    uint32_t path[kMaxIndexDepth + 1] = {};
    uint64_t fileBytes = 0;           // size of the file while a Read runs
    // Blocks from this one on were taken from the end of the file since
    // Attach and may not be written yet; they read as zeros. Any other block
    // lies in the file, so bytes of it past the end are missing.
    uint32_t freshFrom = 0;
};
