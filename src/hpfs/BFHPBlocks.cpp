// CBFHP: the free list, read and checked once on Attach.
//
// The free list is a stack: the current free-list block (slot 0) holds the
// previous list block at word 0 and (free count - 1) mod K free blocks after
// it. The in-memory set of free blocks mirrors it exactly.
#include "hpfs/BFHP.h"

// Reads the whole free list once: every listed block must be a block number
// and appear only once, so a cycle or a shared entry cannot hand a block out
// twice later.
ErrorCode CBFHP::LoadFreeList() {
    if (header.freeCount == 0) return nullptr;
    uint32_t chainLength = (header.freeCount - 1) / indexPointers + 1;
    uint32_t listBlock = header.freeListBlock;
    for (uint32_t link = 0; link < chainLength; ++link) {
        if (!IsBlockNumber(listBlock) || freeBlocks.Contains(listBlock)) return ERR_INVALIDFORMAT;
        if (!freeBlocks.Reserve(listBlock)) return ERR_ALLOCFAIL;
        freeBlocks.Insert(listBlock);
        if (ErrorCode error = LoadSlot(kFreeListSlot, listBlock, true)) return error;
        uint32_t entries = link == 0 ? (header.freeCount - 1) % indexPointers : indexPointers - 1;
        for (uint32_t i = 1; i <= entries; ++i) {
            uint32_t block = Word(kFreeListSlot, i);
            if (!IsBlockNumber(block) || freeBlocks.Contains(block)) return ERR_INVALIDFORMAT;
            if (!freeBlocks.Reserve(block)) return ERR_ALLOCFAIL;
            freeBlocks.Insert(block);
        }
        listBlock = Word(kFreeListSlot, 0);
    }
    return nullptr;
}
