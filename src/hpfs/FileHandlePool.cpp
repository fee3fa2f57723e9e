#include "hpfs/FileHandlePool.h"

#include <cstring>

static const char kFileHandlePoolName[] = "CFileHandlePool";
const char* const CFileHandlePool::className = kFileHandlePoolName;

CFileHandlePool::CFileHandlePool(CPtrPool* pool, bool owns)
    : ownsNodePool(pool ? owns : true), nodePool(pool ? pool : new CSizedPtrPool) {}

CFileHandlePool::~CFileHandlePool() {
    while (lockList) {
        LockNode* next = lockList->next;
        nodePool->Free(lockList);
        lockList = next;
    }
    if (ownsNodePool) delete nodePool;
}

const char* CFileHandlePool::GetClassName() const { return className; }

CObject* CFileHandlePool::IsKindOf(const char* name) {
    if (name == className) return this;
    return CHandlePool::IsKindOf(name);
}

CFileHandlePool::LockNode* CFileHandlePool::FindNode(PoolHandle handle) {
    for (LockNode* node = lockList; node; node = node->next)
        if (node->handle == handle) return node;
    return nullptr;
}

void CFileHandlePool::UnlinkAndFree(LockNode* node) {
    for (LockNode** link = &lockList; *link; link = &(*link)->next) {
        if (*link == node) {
            *link = node->next;
            break;
        }
    }
    nodePool->Free(node);
}

void* CFileHandlePool::Lock(PoolHandle handle) {
    if (LockNode* node = FindNode(handle)) {
        ++node->count;
        return node->Copy();
    }
    // Size records an error for a handle it cannot serve; an empty handle
    // and a broken one must not look alike here.
    lastError = nullptr;
    uint32_t size = Size(handle);
    if (lastError) return nullptr;
    if (size > UINT32_MAX - sizeof(LockNode)) {
        lastError = ERR_LOCKFAIL;
        return nullptr;
    }
    auto* node = static_cast<LockNode*>(nodePool->Alloc(uint32_t(sizeof(LockNode)) + size));
    if (!node) {
        lastError = ERR_LOCKFAIL;
        return nullptr;
    }
    node->handle = handle;
    node->count = 1;
    node->dirty = 0;
    node->size = size;
    node->next = nullptr;
    if (size != 0) {
        // Read is virtual: a concrete pool reads its stored data here.
        lastError = Read(handle, node->Copy(), 0, kWholeHandle);
        if (lastError) {
            nodePool->Free(node);
            return nullptr;
        }
    }
    node->next = lockList;
    lockList = node;
    return node->Copy();
}

void CFileHandlePool::Unlock(PoolHandle handle, uint32_t dirty) {
    LockNode* node = FindNode(handle);
    if (!node) return;
    node->dirty |= dirty;
    if (--node->count > 0) return;
    // The copy's own size bounds the write: a handle resized while locked
    // must not make the write run past the copy.
    if (node->dirty && node->size != 0) {
        if (ErrorCode error = Write(handle, node->Copy(), 0, node->size)) {
            lastError = error;
            ++node->count;  // keep the changes for a later unlock
            return;
        }
    }
    UnlinkAndFree(node);
}

void* CFileHandlePool::PointerOf(PoolHandle handle) {
    LockNode* node = FindNode(handle);
    return node ? node->Copy() : nullptr;
}

uint32_t CFileHandlePool::LockedSize(PoolHandle handle) {
    LockNode* node = FindNode(handle);
    return node ? node->size : 0;
}

ErrorCode CFileHandlePool::SizeOf(PoolHandle handle, uint32_t* size) {
    ErrorCode before = lastError;
    lastError = nullptr;
    *size = Size(handle);
    ErrorCode error = lastError;
    if (!error) lastError = before;
    return error;
}

PoolHandle CFileHandlePool::HandleOf(void* pointer) {
    for (LockNode* node = lockList; node; node = node->next)
        if (node->Copy() == pointer) return node->handle;
    return 0;
}

ErrorCode CFileHandlePool::CopyCheck(PoolHandle handle, uint32_t offset, uint32_t* length, uint8_t** at) {
    LockNode* node = FindNode(handle);
    if (!node) return lastError = ERR_NOTLOCKED;
    if (*length == kWholeHandle && offset == 0) *length = node->size;
    if (offset >= node->size) return lastError = ERR_OVERMAXSIZE;
    if (*length > node->size - offset) *length = node->size - offset;
    *at = node->Copy() + offset;
    return nullptr;
}

ErrorCode CFileHandlePool::Read(PoolHandle handle, void* buffer, uint32_t offset, uint32_t length) {
    uint8_t* at = nullptr;
    if (ErrorCode error = CopyCheck(handle, offset, &length, &at)) return error;
    std::memcpy(buffer, at, length);
    return nullptr;
}

ErrorCode CFileHandlePool::Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length) {
    uint8_t* at = nullptr;
    if (ErrorCode error = CopyCheck(handle, offset, &length, &at)) return error;
    std::memcpy(at, buffer, length);
    return nullptr;
}
