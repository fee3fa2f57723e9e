// CFileHandlePool: a handle pool whose data lives outside memory. Lock copies
// a handle's whole data into a lock node; the last Unlock that follows any
// dirty Unlock writes the copy back. Concrete pools provide Size, Read and
// Write of the stored data, and Alloc, Realloc and Free.
#pragma once

#include <cstdint>

#include "pools/HandlePool.h"
#include "pools/PtrPool.h"

class CFileHandlePool : public CHandlePool {
public:
    static const char* const className;  // "CFileHandlePool"

    // Without a node pool a CSizedPtrPool is made and owned.
    explicit CFileHandlePool(CPtrPool* nodePool = nullptr, bool ownsNodePool = false);
    // Frees every remaining lock node without writing it back.
    ~CFileHandlePool() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    void* Lock(PoolHandle handle) override;
    void Unlock(PoolHandle handle, uint32_t dirty) override;
    void* PointerOf(PoolHandle handle) override;
    PoolHandle HandleOf(void* pointer) override;
    // The size of the locked copy of handle (0 when it is not locked): the
    // handle's size when it was locked, which a resize since does not change.
    uint32_t LockedSize(PoolHandle handle);
    // Size (handle) with its failure told apart from size 0; the last error
    // is left as it was on success.
    ErrorCode SizeOf(PoolHandle handle, uint32_t* size);
    // On the locked copy: "NOTLOCKED" when not locked, "OVERMAXSIZE" at or
    // past its end; the length is clipped to the copy.
    ErrorCode Read(PoolHandle handle, void* buffer, uint32_t offset, uint32_t length) override;
    ErrorCode Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length) override;

private:
    // A lock node: this header, then the copy of the handle's data.
    struct LockNode {
        PoolHandle handle;
        uint32_t count;   // nested locks
        uint32_t dirty;   // OR of every dirty argument given to Unlock
        uint32_t size;    // bytes in the copy (the handle's size when locked)
        LockNode* next;   // newer to older
        uint8_t* Copy() { return reinterpret_cast<uint8_t*>(this + 1); }
    };

    LockNode* FindNode(PoolHandle handle);
    void UnlinkAndFree(LockNode* node);
    ErrorCode CopyCheck(PoolHandle handle, uint32_t offset, uint32_t* length, uint8_t** at);

    bool ownsNodePool;
    CPtrPool* nodePool;
    LockNode* lockList = nullptr;
};
