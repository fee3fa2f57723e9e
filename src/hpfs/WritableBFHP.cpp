// CWritableBFHP: Write, Flush, the root handle, and taking and giving back
// blocks through the free list (a stack, BFHPBlocks.cpp), which the
// in-memory set of free blocks mirrors exactly.
#include "hpfs/WritableBFHP.h"

#include <cstring>

static const char kWritableBFHPName[] = "CWritableBFHP";
const char* const CWritableBFHP::className = kWritableBFHPName;

CWritableBFHP::~CWritableBFHP() {
    if (file) Flush();
}

const char* CWritableBFHP::GetClassName() const { return className; }

CObject* CWritableBFHP::IsKindOf(const char* name) {
    if (name == className) return this;
    return CBFHP::IsKindOf(name);
}

ErrorCode CWritableBFHP::Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length) {
    // Transfer only reads from the buffer when writing.
    return Transfer(handle, const_cast<uint8_t*>(static_cast<const uint8_t*>(buffer)), offset, length, true);
}

ErrorCode CWritableBFHP::Flush() {
    if (!file) return lastError = ERR_UNKNOWN;
    // Blocks taken from the end but never written: the file must reach
    // them, or a reader would find it cut short.
    const uint64_t end = uint64_t(header.nextBlock) * blockSize;
    if (header.nextBlock > freshFrom && file->GetSize() < end) {
        const uint8_t zero = 0;
        if (ErrorCode error = file->WriteAt(&zero, uint32_t(end - 1), 1, nullptr)) return lastError = error;
    }
    if (headerDirty) {
        uint8_t bytes[kBlockFileHeaderSize];
        header.Store(bytes);
        if (ErrorCode error = file->WriteAt(bytes, 0, kBlockFileHeaderSize, nullptr)) return lastError = error;
        headerDirty = false;
    }
    ErrorCode first = nullptr;
    for (int i = 0; i < kSlotCount; ++i) {
        ErrorCode error = WriteBackSlot(i);
        if (error && !first) first = error;
    }
    ErrorCode flushed = file->Flush();
    lastError = first ? first : flushed;
    return lastError;
}

void CWritableBFHP::SetRoot(PoolHandle handle) {
    if (uint32_t(handle) != header.rootHandle) headerDirty = true;
    header.rootHandle = uint32_t(handle);
}

// A freed block must not linger in a slot, where a later load of the same
// number would find a stale copy instead of reading it.
void CWritableBFHP::DropSlotsHolding(uint32_t block) {
    for (int i = 0; i < kSlotCount; ++i) {
        if (slots[i].block == block) {
            slots[i].block = 0;
            slots[i].flags = 0;
        }
    }
}

uint64_t CWritableBFHP::AvailableBlocks() const {
    uint64_t fresh = blockLimit > header.nextBlock ? blockLimit - header.nextBlock : 0;
    return uint64_t(header.freeCount) + fresh;
}

// Hands out the last freed block, or a new one from the end of the file.
// On any failure nothing has changed and *block is 0.
ErrorCode CWritableBFHP::AllocBlock(uint32_t* block) {
    *block = 0;
    if (header.freeCount == 0) {
        if (header.nextBlock >= blockLimit) return ERR_ALLOCFAIL;
        *block = header.nextBlock++;
        headerDirty = true;
        return nullptr;
    }
    uint32_t listBlock = header.freeListBlock;
    if (!freeBlocks.Contains(listBlock)) return ERR_INVALIDFORMAT;
    if (ErrorCode error = LoadSlot(kFreeListSlot, listBlock, true)) return error;
    uint32_t i = (header.freeCount - 1) % indexPointers;
    uint32_t taken;
    if (i > 0) {
        taken = Word(kFreeListSlot, i);
        if (!freeBlocks.Contains(taken) || taken == listBlock) return ERR_INVALIDFORMAT;
    } else {
        // The list block itself goes; its predecessor becomes current.
        uint32_t previous = Word(kFreeListSlot, 0);
        if (header.freeCount > 1 && (!freeBlocks.Contains(previous) || previous == listBlock))
            return ERR_INVALIDFORMAT;
        taken = listBlock;
        header.freeListBlock = header.freeCount > 1 ? previous : 0;
        DropSlotsHolding(listBlock);
    }
    freeBlocks.Remove(taken);
    --header.freeCount;
    headerDirty = true;
    *block = taken;
    return nullptr;
}

// Gives a block back: the block just below next block shortens the file,
// any other goes on the free list. On failure nothing has changed.
ErrorCode CWritableBFHP::FreeBlock(uint32_t block) {
    if (!IsBlockNumber(block) || freeBlocks.Contains(block)) return ERR_BADPARAMS;
    DropSlotsHolding(block);
    if (block == header.nextBlock - 1) {
        --header.nextBlock;
        if (freshFrom > header.nextBlock) freshFrom = header.nextBlock;
        headerDirty = true;
        // Only ever shorten: a file already shorter (blocks never written)
        // must not grow here. A failed truncation only leaves spare bytes.
        uint64_t end = uint64_t(header.nextBlock) * blockSize;
        if (file->GetSize() > end && !file->SeekTo(uint32_t(end))) file->Truncate();
        return nullptr;
    }
    if (!freeBlocks.Reserve(block)) return ERR_ALLOCFAIL;
    if (header.freeCount == 0) {
        // The block may never have been written (allocated, then given back):
        // as the list block it is written now, so that the list never reads
        // bytes the file does not have.
        if (ErrorCode error = LoadSlot(kFreeListSlot, block, false)) return error;
        std::memset(slots[kFreeListSlot].buffer, 0, blockSize);
        MarkModified(kFreeListSlot);
        header.freeListBlock = block;
    } else {
        uint32_t i = (header.freeCount - 1) % indexPointers;
        if (i == indexPointers - 1) {
            // The current list block is full: the freed block starts a new one.
            if (ErrorCode error = LoadSlot(kFreeListSlot, block, false)) return error;
            SetWord(kFreeListSlot, 0, header.freeListBlock);
            MarkModified(kFreeListSlot);
            header.freeListBlock = block;
        } else {
            if (ErrorCode error = LoadSlot(kFreeListSlot, header.freeListBlock, true)) return error;
            SetWord(kFreeListSlot, i + 1, block);
            MarkModified(kFreeListSlot);
        }
    }
    freeBlocks.Insert(block);
    ++header.freeCount;
    headerDirty = true;
    return nullptr;
}
