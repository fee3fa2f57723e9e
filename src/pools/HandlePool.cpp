#include "pools/HandlePool.h"

static const char kHandlePoolName[] = "CHandlePool";
const char* const CHandlePool::className = kHandlePoolName;

const char* CHandlePool::GetClassName() const { return className; }

CObject* CHandlePool::IsKindOf(const char* name) {
    if (name == className) return this;
    return CObject::IsKindOf(name);
}

CHandlePool::~CHandlePool() = default;

void* CHandlePool::PointerOf(PoolHandle) { return nullptr; }
PoolHandle CHandlePool::HandleOf(void*) { return 0; }
uint32_t CHandlePool::Size(PoolHandle) { return 0; }
ErrorCode CHandlePool::Read(PoolHandle, void*, uint32_t, uint32_t) { return nullptr; }
ErrorCode CHandlePool::Write(PoolHandle, const void*, uint32_t, uint32_t) { return nullptr; }
ErrorCode CHandlePool::LastError() { return lastError; }
ErrorCode CHandlePool::Reserved() { return ERR_NOTIMPLEMENTED; }
ErrorCode CHandlePool::Flush() { return nullptr; }
void CHandlePool::SetRoot(PoolHandle) {}
PoolHandle CHandlePool::GetRoot() { return 0; }

// --- CHeapHandlePool: the handle is the block's address ------------------

PoolHandle CHeapHandlePool::Alloc(uint32_t size) { return reinterpret_cast<PoolHandle>(heap.Alloc(size)); }

PoolHandle CHeapHandlePool::Realloc(PoolHandle handle, uint32_t size) {
    return reinterpret_cast<PoolHandle>(heap.Realloc(reinterpret_cast<void*>(handle), size));
}

void CHeapHandlePool::Free(PoolHandle handle) { heap.Free(reinterpret_cast<void*>(handle)); }
void* CHeapHandlePool::Lock(PoolHandle handle) { return reinterpret_cast<void*>(handle); }
void CHeapHandlePool::Unlock(PoolHandle, uint32_t) {}
void* CHeapHandlePool::PointerOf(PoolHandle handle) { return reinterpret_cast<void*>(handle); }
PoolHandle CHeapHandlePool::HandleOf(void* pointer) { return reinterpret_cast<PoolHandle>(pointer); }
uint32_t CHeapHandlePool::Size(PoolHandle handle) { return heap.Size(reinterpret_cast<void*>(handle)); }
