#include "hpfs/FreeBlockSet.h"

#include <cstring>

#include "pools/DefaultPools.h"

CFreeBlockSet::~CFreeBlockSet() { Clear(); }

bool CFreeBlockSet::Reserve(uint32_t block) {
    uint32_t need = (block >> 3) + 1;
    if (need <= byteCount) return true;
    // Grow by at least half again so that a growing file does not
    // reallocate on every freed block.
    uint32_t grown = byteCount + byteCount / 2;
    uint32_t size = need > grown ? need : grown;
    if (size < 64) size = 64;
    auto* larger = static_cast<uint8_t*>(g_pDefaultPtrPool->Realloc(bits, size));
    if (!larger) return false;
    std::memset(larger + byteCount, 0, size - byteCount);
    bits = larger;
    byteCount = size;
    return true;
}

void CFreeBlockSet::Insert(uint32_t block) { bits[block >> 3] |= uint8_t(1u << (block & 7)); }

void CFreeBlockSet::Remove(uint32_t block) {
    if (block >> 3 < byteCount) bits[block >> 3] &= uint8_t(~(1u << (block & 7)));
}

void CFreeBlockSet::Clear() {
    if (bits) g_pDefaultPtrPool->Free(bits);
    bits = nullptr;
    byteCount = 0;
}
