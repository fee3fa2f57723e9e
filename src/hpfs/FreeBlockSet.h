// The set of free block numbers of an attached block file, one bit per
// block, kept beside the on-disk free list. It catches what the list alone
// cannot: a block listed twice (a cycle in the list), a block freed twice,
// and operations on a handle whose head block is free.
#pragma once

#include <cstdint>

class CFreeBlockSet {
public:
    CFreeBlockSet() = default;
    ~CFreeBlockSet();
    CFreeBlockSet(const CFreeBlockSet&) = delete;
    CFreeBlockSet& operator=(const CFreeBlockSet&) = delete;

    bool Contains(uint32_t block) const {
        uint32_t index = block >> 3;
        return index < byteCount && (bits[index] >> (block & 7) & 1) != 0;
    }
    // Makes room for block; false when memory runs out (nothing changes).
    bool Reserve(uint32_t block);
    // Reserve must have succeeded for block first.
    void Insert(uint32_t block);
    void Remove(uint32_t block);
    void Clear();

private:
    uint8_t* bits = nullptr;  // from g_pDefaultPtrPool
    uint32_t byteCount = 0;
};
