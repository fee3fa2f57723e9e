#include "pools/ReusePtrPool.h"

CReusePtrPool::CReusePtrPool(CPtrPool* source) : source_(source) {}

CReusePtrPool::~CReusePtrPool() {
    for (void* block : kept_)
        if (block) source_->Free(block);
}

void* CReusePtrPool::Alloc(uint32_t size) {
    for (unsigned i = 0; i < kKept; ++i)
        if (kept_[i] && keptSize_[i] == size) {
            void* block = kept_[i];
            kept_[i] = nullptr;
            return block;
        }
    return source_->Alloc(size);
}

// A block in use is never among the kept ones: the source resizes it.
void* CReusePtrPool::Realloc(void* pointer, uint32_t size) { return source_->Realloc(pointer, size); }

void CReusePtrPool::Free(void* pointer) {
    if (!pointer) return;
    const uint32_t size = source_->Size(pointer);
    for (unsigned i = 0; size && i < kKept; ++i)
        if (!kept_[i]) {
            kept_[i] = pointer;
            keptSize_[i] = size;
            return;
        }
    source_->Free(pointer);
}

uint32_t CReusePtrPool::Size(void* pointer) { return source_->Size(pointer); }
