// CBFHP: construction, the block cache, Attach and the root handle.
#include "hpfs/BFHP.h"

#include <cstring>

#include "pools/DefaultPools.h"

static const char kBFHPName[] = "CBFHP";
const char* const CBFHP::className = kBFHPName;

CBFHP::CBFHP(CPtrPool* lockNodePool, bool ownsLockNodePool) : CFileHandlePool(lockNodePool, ownsLockNodePool) {
    slots = static_cast<CacheSlot*>(g_pDefaultPtrPool->Alloc(sizeof(CacheSlot) * kSlotCount));
    if (slots) std::memset(slots, 0, sizeof(CacheSlot) * kSlotCount);
}

CBFHP::~CBFHP() {
    ReleaseFile();
    if (slots) g_pDefaultPtrPool->Free(slots);
}

const char* CBFHP::GetClassName() const { return className; }

CObject* CBFHP::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFileHandlePool::IsKindOf(name);
}

void CBFHP::ReleaseFile() {
    if (buffers) g_pDefaultPtrPool->Free(buffers);
    buffers = nullptr;
    if (slots) std::memset(slots, 0, sizeof(CacheSlot) * kSlotCount);
    freeBlocks.Clear();
    delete file;
    file = nullptr;
    headerDirty = false;
}

// --- Block cache ------------------------------------------------------------

ErrorCode CBFHP::WriteBackSlot(int slot) {
    CacheSlot& s = slots[slot];
    if (!(s.flags & kSlotModified) || s.block == 0) return nullptr;
    if (ErrorCode error = file->WriteAt(s.buffer, s.block * blockSize, blockSize, nullptr)) return error;
    s.flags &= uint16_t(~kSlotModified);
    return nullptr;
}

// A modified block is written back before its slot takes another; when that
// write fails the slot keeps its block and changes, and the load fails.
ErrorCode CBFHP::LoadSlot(int slot, uint32_t block, bool read) {
    CacheSlot& s = slots[slot];
    if (s.block == block && read) return nullptr;
    if (s.block != block)
        if (ErrorCode error = WriteBackSlot(slot)) return error;
    s.block = block;
    s.flags = 0;
    if (block == 0 || !read) return nullptr;
    if (ErrorCode error = file->ReadAt(s.buffer, block * blockSize, blockSize, nullptr)) {
        s.block = 0;  // the buffer holds no block now
        return error;
    }
    return nullptr;
}

// --- Attach, root ------------------------------------------------------------

ErrorCode CBFHP::Attach(CFile* newFile) {
    if (!newFile) return lastError = ERR_BADPARAMS;
    if (!slots) return lastError = ERR_ALLOCFAIL;
    if (file) {
        // Dropping a file whose changes could not be stored would lose them.
        if (ErrorCode error = Flush()) return error;
        ReleaseFile();
    }

    uint8_t bytes[kBlockFileHeaderSize];
    if (ErrorCode error = newFile->ReadAt(bytes, 0, kBlockFileHeaderSize, nullptr)) return lastError = error;
    header.Load(bytes);
    if (ErrorCode error = CheckBlockFileHeader(header)) return lastError = error;
    // A file cut short: blocks it claims are not there.
    if (uint64_t(header.nextBlock - 1) * header.blockSize >= newFile->GetSize()) return lastError = ERR_INVALIDFORMAT;

    blockSize = header.blockSize;
    indexPointers = blockSize / 4;
    headPointers = (blockSize - header.pointerOffset) / 4;
    uint32_t addressable = AddressableBlocks(blockSize);
    blockLimit = header.blockLimit < addressable ? header.blockLimit : addressable;
    buffers = static_cast<uint8_t*>(g_pDefaultPtrPool->Alloc(blockSize * kSlotCount));
    if (!buffers) return lastError = ERR_ALLOCFAIL;
    for (int i = 0; i < kSlotCount; ++i) slots[i] = CacheSlot{buffers + i * blockSize, 0, 0};
    file = newFile;
    headerDirty = false;
    depth = 0;
    freshFrom = header.nextBlock;

    ErrorCode error = LoadFreeList();
    if (!error && header.rootHandle) error = CheckHandle(header.rootHandle);
    if (error) {
        file = nullptr;  // not taken: the caller keeps it
        ReleaseFile();
        return lastError = error;
    }
    return nullptr;
}

PoolHandle CBFHP::GetRoot() { return header.rootHandle; }

// A reader changes nothing, so it has nothing to store: its file (a reading
// container, say) is not asked to flush.
ErrorCode CBFHP::Flush() { return lastError = file ? nullptr : ERR_UNKNOWN; }

// --- Writing: only CWritableBFHP writes -----------------------------------

PoolHandle CBFHP::Alloc(uint32_t) {
    lastError = ERR_NOTIMPLEMENTED;
    return 0;
}

PoolHandle CBFHP::Realloc(PoolHandle, uint32_t) {
    lastError = ERR_NOTIMPLEMENTED;
    return 0;
}

void CBFHP::Free(PoolHandle) { lastError = ERR_NOTIMPLEMENTED; }

ErrorCode CBFHP::Write(PoolHandle, const void*, uint32_t, uint32_t) { return lastError = ERR_NOTIMPLEMENTED; }
