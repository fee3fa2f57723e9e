// Handle pools: blocks addressed by an opaque handle whose data is reached by
// locking it. Handle 0 means none. A handle is wide enough to hold a pointer,
// since the heap handle pool hands out block addresses.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"
#include "framework/Object.h"
#include "pools/PtrPool.h"

typedef uintptr_t PoolHandle;

// A Read or Write length of all bits set at offset 0 means the whole data.
constexpr uint32_t kWholeHandle = 0xFFFFFFFFu;

class CHandlePool : public virtual CObject {
public:
    static const char* const className;  // "CHandlePool"

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;
    ~CHandlePool() override;

    virtual PoolHandle Alloc(uint32_t size) = 0;
    // The result replaces the argument; 0 means failure and the old handle stays valid.
    virtual PoolHandle Realloc(PoolHandle handle, uint32_t size) = 0;
    virtual void Free(PoolHandle handle) = 0;
    virtual void* Lock(PoolHandle handle) = 0;
    virtual void Unlock(PoolHandle handle, uint32_t dirty) = 0;
    virtual void* PointerOf(PoolHandle handle);
    virtual PoolHandle HandleOf(void* pointer);
    virtual uint32_t Size(PoolHandle handle);
    virtual ErrorCode Read(PoolHandle handle, void* buffer, uint32_t offset, uint32_t length);
    virtual ErrorCode Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length);
    virtual ErrorCode LastError();
    virtual ErrorCode Reserved();  // "\"Not implemented yet\""
    virtual ErrorCode Flush();
    virtual void SetRoot(PoolHandle handle);
    virtual PoolHandle GetRoot();

protected:
    ErrorCode lastError = nullptr;
};

// The process heap; the handle is the block's address.
class CHeapHandlePool : public CHandlePool {
public:
    PoolHandle Alloc(uint32_t size) override;
    PoolHandle Realloc(PoolHandle handle, uint32_t size) override;
    void Free(PoolHandle handle) override;
    void* Lock(PoolHandle handle) override;
    void Unlock(PoolHandle handle, uint32_t dirty) override;
    void* PointerOf(PoolHandle handle) override;
    PoolHandle HandleOf(void* pointer) override;
    uint32_t Size(PoolHandle handle) override;

private:
    CHeapPtrPool heap;
};
