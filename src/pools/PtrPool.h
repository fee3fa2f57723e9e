// Pointer pools: blocks addressed by a pointer, like a heap. Every buffer,
// table and record of the library comes from one of these, so a container
// can be handed the allocator it is to use.
#pragma once

#include <cstddef>
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
// so that Size can answer without asking the platform. A size whose block,
// header included, does not fit in 32 bits is refused with a null result,
// in every build: the 32-bit sum would wrap to a tiny block.
class CHeapPtrPool : public CPtrPool {
public:
    // The header, padded to the strictest alignment so the caller's data is
    // aligned like malloc's.
    static constexpr uint32_t kHeaderSize = alignof(std::max_align_t);

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
