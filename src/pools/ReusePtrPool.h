// A pointer pool that keeps the blocks freed to it and hands them out again
// for allocations of the same size: a caller that takes the same large blocks
// over and over (a rebuild per changed file) uses memory the system has
// already given it, instead of fresh pages it zeroes again on first touch.
#pragma once

#include "pools/PtrPool.h"

class CReusePtrPool : public CPtrPool {
public:
    // Blocks come from source, which must answer Size; at most kKept blocks
    // are kept, the rest go back to source at once.
    static constexpr unsigned kKept = 6;

    explicit CReusePtrPool(CPtrPool* source);
    ~CReusePtrPool() override;  // gives the kept blocks back to source

    void* Alloc(uint32_t size) override;
    void* Realloc(void* pointer, uint32_t size) override;
    void Free(void* pointer) override;
    uint32_t Size(void* pointer) override;

    CReusePtrPool(const CReusePtrPool&) = delete;
    CReusePtrPool& operator=(const CReusePtrPool&) = delete;

private:
    CPtrPool* source_;
    void* kept_[kKept] = {};
    uint32_t keptSize_[kKept] = {};
};
