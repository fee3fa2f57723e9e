// Pointer pools: blocks addressed by a pointer, like a heap. Every buffer,
// table and record of the library comes from one of these, so a container
// can be handed the allocator it is to use.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"
#include "framework/Object.h"

class CPtrPool : public virtual CObject {
public:
    static const char* const className;  // "CPtrPool"

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;
    ~CPtrPool() override;

    virtual void* Alloc(uint32_t size) = 0;
    virtual void* Realloc(void* pointer, uint32_t size) = 0;
    virtual void Free(void* pointer) = 0;
    virtual uint32_t Size(void* pointer);
    virtual ErrorCode LastError();
    virtual ErrorCode Reserved(uint32_t, uint32_t);  // "\"Not implemented yet\""

protected:
    ErrorCode lastError = nullptr;
};

// The process heap. Each block carries a small header with its requested size
// so that Size can answer without asking the platform.
class CHeapPtrPool : public CPtrPool {
public:
    void* Alloc(uint32_t size) override;
    void* Realloc(void* pointer, uint32_t size) override;
    void Free(void* pointer) override;
    uint32_t Size(void* pointer) override;
};

// Blocks of the default pointer pool preceded by a word holding the size the
// caller asked for. The prefix is pointer-sized so that the data stays
// aligned for the records that containers keep in it.
class CSizedPtrPool : public CPtrPool {
public:
    static constexpr uint32_t kPrefixSize = sizeof(void*) > 4 ? sizeof(void*) : 4;

    void* Alloc(uint32_t size) override;
    void* Realloc(void* pointer, uint32_t size) override;
    void Free(void* pointer) override;
    uint32_t Size(void* pointer) override;
};
