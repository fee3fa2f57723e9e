// CWritableBFHP: growing and shrinking handles: Alloc, Realloc, Free.
//
// Tree shape: a handle with n > 0 data blocks at depth d has exactly
// ceil(n / K^m) index blocks at height m = 1..d above the data, filled from
// the left, so the blocks any resize needs are known before it starts.
#include "hpfs/WritableBFHP.h"

#include <cstring>

void CWritableBFHP::SetHeadSize(uint32_t size) {
    StoreU32(slots[kHeadSlot].buffer + kHeadSizeOffset, size);
    MarkModified(kHeadSlot);
}

void CWritableBFHP::SetHeadDepth(uint32_t newDepth) {
    depth = newDepth;
    StoreU16(slots[kHeadSlot].buffer + kHeadDepthOffset, uint16_t(newDepth));
    MarkModified(kHeadSlot);
}

// Appends one data block after the one the path points at, and points the
// path at it. Every block the step needs is taken, and every slot it will
// reuse written back, before anything changes, so a failure leaves the tree
// as it was.
ErrorCode CWritableBFHP::GrowOne() {
    uint32_t level = depth;
    while (level >= 1 && path[level] == indexPointers - 1) --level;
    const bool deepen = level == 0 && path[0] == indexPointers - 1;
    if (deepen && depth == kMaxIndexDepth) return ERR_SIZEOUTOFRANGE;
    const uint32_t newIndexBlocks = (depth - level) + (deepen ? 1 : 0);

    for (uint32_t l = level + 1; l <= depth; ++l)
        if (ErrorCode error = WriteBackSlot(int(l + 1))) return error;
    if (deepen)
        if (ErrorCode error = WriteBackSlot(int(depth + 2))) return error;

    uint32_t taken[kMaxIndexDepth + 2];
    uint32_t count = 0;
    for (; count < 1 + newIndexBlocks; ++count) {
        if (ErrorCode error = AllocBlock(&taken[count])) {
            while (count > 0) FreeBlock(taken[--count]);
            return error;
        }
    }

    uint32_t pending = taken[0];
    uint32_t next = 1;
    uint32_t l = depth;
    for (;;) {
        if (path[l] != indexPointers - 1) {
            ++path[l];
            SetWord(int(l + 1), path[l], pending);
            MarkModified(int(l + 1));
            return nullptr;
        }
        if (l >= 1) {
            // The level-l block is full: a new one takes the pending block.
            uint32_t block = taken[next++];
            LoadSlot(int(l + 1), block, false);  // written back above: no I/O
            std::memset(slots[l + 1].buffer, 0, blockSize);
            SetWord(int(l + 1), 0, pending);
            MarkModified(int(l + 1));
            pending = block;
            path[l] = 0;
            --l;
            continue;
        }
        // The head is full: a new level-1 block takes over its pointers.
        CacheSlot spare = slots[depth + 2];
        for (uint32_t s = depth + 2; s >= 3; --s) slots[s] = slots[s - 1];
        slots[2] = spare;
        for (uint32_t d = depth + 1; d >= 2; --d) path[d] = path[d - 1];
        uint32_t block = taken[next++];
        LoadSlot(2, block, false);  // written back above: no I/O
        std::memset(slots[2].buffer, 0, blockSize);
        std::memcpy(slots[2].buffer, slots[kHeadSlot].buffer + header.pointerOffset, blockSize - header.pointerOffset);
        MarkModified(2);
        SetWord(kHeadSlot, header.pointerOffset / 4, block);
        path[0] = header.pointerOffset / 4;
        path[1] = headPointers - 1;
        SetHeadDepth(depth + 1);
        l = 1;
    }
}

// Removes the data block the path points at, with the index blocks it
// leaves empty, and points the path at the one before. On failure the tree
// holds *dataBlocks blocks, consistently.
ErrorCode CWritableBFHP::ShrinkOne(uint64_t* dataBlocks) {
    uint32_t data;
    if (ErrorCode error = DataBlockAtPath(&data)) return error;
    if (ErrorCode error = FreeBlock(data)) return error;
    --*dataBlocks;
    uint32_t l = depth;
    while (l >= 1 && path[l] == 0) {
        if (ErrorCode error = FreeBlock(slots[l + 1].block)) return error;  // leaks that one block
        path[l] = indexPointers - 1;
        --l;
    }
    if (*dataBlocks == 0) {
        SetHeadDepth(0);
        return nullptr;
    }
    --path[l];
    return LoadPathFrom(l + 1);
}

ErrorCode CWritableBFHP::ShrinkTo(uint64_t* dataBlocks, uint64_t target) {
    while (*dataBlocks > target)
        if (ErrorCode error = ShrinkOne(dataBlocks)) return error;
    return nullptr;
}

PoolHandle CWritableBFHP::Realloc(PoolHandle handle, uint32_t size) {
    if (size == kWholeHandle) size = 0;
    if (ErrorCode error = LoadHead(handle)) {
        lastError = error;
        return 0;
    }
    const uint32_t oldSize = HeadSize();
    if (size == oldSize) return handle;
    const uint64_t oldBlocks = BlocksFor(oldSize), newBlocks = BlocksFor(size);

    if (newBlocks > oldBlocks) {
        const uint32_t startDepth = oldBlocks == 0 ? 0 : depth;
        uint32_t newDepth = startDepth;
        while (Capacity(newDepth) < newBlocks) ++newDepth;
        if (newDepth > kMaxIndexDepth) {
            lastError = ERR_SIZEOUTOFRANGE;  // a sixth index level
            return 0;
        }
        uint64_t need = (newBlocks - oldBlocks) + IndexBlocksFor(newBlocks, newDepth) -
                        IndexBlocksFor(oldBlocks, startDepth);
        if (need > AvailableBlocks()) {
            lastError = ERR_ALLOCFAIL;
            return 0;
        }
    }
    if (newBlocks == oldBlocks) {
        SetHeadSize(size);
        return handle;
    }

    uint64_t count = oldBlocks;
    uint32_t lastData;
    ErrorCode error = nullptr;
    if (newBlocks > oldBlocks) {
        if (oldBlocks == 0) {
            uint32_t first;
            if ((error = AllocBlock(&first))) {
                lastError = error;
                return 0;
            }
            SetHeadDepth(0);
            path[0] = header.pointerOffset / 4;
            SetWord(kHeadSlot, path[0], first);
            MarkModified(kHeadSlot);
            count = 1;
        } else if ((error = Locate(oldSize - 1, &lastData))) {
            lastError = error;
            return 0;
        }
        while (count < newBlocks && !(error = GrowOne())) ++count;
        // A step that failed changed nothing; take back the steps before it.
        if (error) ShrinkTo(&count, oldBlocks);
    } else {
        if ((error = Locate(oldSize - 1, &lastData))) {
            lastError = error;
            return 0;
        }
        error = ShrinkTo(&count, newBlocks);
    }
    if (error) {
        // The tree holds count blocks; the size must agree with it.
        SetHeadSize(count == oldBlocks ? oldSize : uint32_t(count * blockSize));
        lastError = error;
        return 0;
    }
    SetHeadSize(size);
    return handle;
}

PoolHandle CWritableBFHP::Alloc(uint32_t size) {
    if (!file) {
        lastError = ERR_UNKNOWN;
        return 0;
    }
    if (size == kWholeHandle) size = 0;
    const uint64_t dataBlocks = BlocksFor(size);
    uint32_t newDepth = 0;
    while (Capacity(newDepth) < dataBlocks) ++newDepth;
    if (newDepth > kMaxIndexDepth) {
        lastError = ERR_SIZEOUTOFRANGE;
        return 0;
    }
    if (1 + dataBlocks + IndexBlocksFor(dataBlocks, newDepth) > AvailableBlocks()) {
        lastError = ERR_ALLOCFAIL;
        return 0;
    }
    if (ErrorCode error = WriteBackSlot(kHeadSlot)) {
        lastError = error;
        return 0;
    }
    uint32_t head;
    if (ErrorCode error = AllocBlock(&head)) {
        lastError = error;
        return 0;
    }
    LoadSlot(kHeadSlot, head, false);  // written back above: no I/O
    std::memset(slots[kHeadSlot].buffer, 0, blockSize);
    MarkModified(kHeadSlot);
    depth = 0;
    if (size == 0) return head;
    if (!Realloc(head, size)) {
        FreeBlock(head);
        return 0;
    }
    return head;
}

void CWritableBFHP::Free(PoolHandle handle) {
    if (!Realloc(handle, 0)) return;  // the handle keeps what it could not give back
    if (ErrorCode error = FreeBlock(uint32_t(handle))) lastError = error;
}
