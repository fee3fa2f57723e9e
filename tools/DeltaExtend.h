// How far an approximate match reaches: bytes are compared pairwise, each
// agreeing pair scores +1 and each other -1, and the reach is the shortest
// length with the highest running score above zero (0 when none is).
#pragma once

#include <cstdint>
#include <cstring>

// Eight bytes in the host's order (unaligned).
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Compares a[i] with b[i] for i = 0 .. n-1.
int64_t ReachForward(const uint8_t* a, const uint8_t* b, int64_t n);

// Compares a[-i] with b[-i] for i = 1 .. n.
int64_t ReachBackward(const uint8_t* a, const uint8_t* b, int64_t n);
