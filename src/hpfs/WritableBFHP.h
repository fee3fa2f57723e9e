// CWritableBFHP: a CBFHP that also writes: handles grow and shrink, blocks
// are taken and given back through the free list, and changed blocks and
// the header are written back on Flush. For the tool and the tests; the
// patcher only reads the game's pack.
#pragma once

#include "hpfs/BFHP.h"

class CWritableBFHP : public CBFHP {
public:
    static const char* const className;  // "CWritableBFHP"

    using CBFHP::CBFHP;
    // Flushes (as far as it can: a failing write-back does not stop the
    // others); the base then destroys the attached file.
    ~CWritableBFHP() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    // 0 when the file cannot hold the head block, the data and the index
    // blocks the data needs; nothing is then changed.
    PoolHandle Alloc(uint32_t size) override;
    // The handle never changes. 0 and nothing changed when the space (index
    // blocks included) is lacking or a sixth index level would be needed.
    PoolHandle Realloc(PoolHandle handle, uint32_t size) override;
    void Free(PoolHandle handle) override;
    ErrorCode Write(PoolHandle handle, const void* buffer, uint32_t offset, uint32_t length) override;
    // Writes the header and every modified slot back. A slot whose write
    // fails stays modified and its error is returned.
    ErrorCode Flush() override;
    void SetRoot(PoolHandle handle) override;

private:
    // Blocks and the free list.
    void DropSlotsHolding(uint32_t block);
    uint64_t AvailableBlocks() const;
    ErrorCode AllocBlock(uint32_t* block);
    ErrorCode FreeBlock(uint32_t block);

    // The head in slot 1.
    void SetHeadSize(uint32_t size);
    void SetHeadDepth(uint32_t newDepth);

    ErrorCode GrowOne();
    ErrorCode ShrinkOne(uint64_t* dataBlocks);
    ErrorCode ShrinkTo(uint64_t* dataBlocks, uint64_t target);
};
