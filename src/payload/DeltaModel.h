// The adaptive binary models and the range decoder of the delta stream
// (Delta.h). The tool's encoder mirrors them bit for bit.
//
// Bits are coded against 12-bit probabilities of a 0, moved 1/32 of the way
// to each outcome. A number n is coded as its bit length L (0 for n = 0; a
// 6-bit tree, high bit first) then n's L - 1 bits below its top bit, high
// first, each with a probability of its own per (L, bit index). A byte is an
// 8-bit tree under a context. Contexts: the diff byte of an add under the
// diff byte just before it when the zero run between them is empty, else 0;
// a literal under the byte produced before it.
#pragma once

#include <cstdint>

constexpr unsigned kDeltaProbBits = 12;
constexpr uint16_t kDeltaProbInit = 1u << (kDeltaProbBits - 1);
constexpr unsigned kDeltaMoveBits = 5;
constexpr uint32_t kDeltaRangeTop = 1u << 24;

struct DeltaNumberModel {
    uint16_t length[64];
    uint16_t bits[33][32];
};

struct DeltaModel {
    DeltaNumberModel seek, add, extra, zeroRun;
    uint16_t seekSign[2];
    uint16_t diff[256][256];
    uint16_t literal[256][256];

    void Init() {
        uint16_t* p = &seek.length[0];
        uint16_t* end = &literal[255][255] + 1;
        while (p != end) *p++ = kDeltaProbInit;
    }
};

// Bit length of a number: 0 for 0, else the index of its top bit plus one.
inline unsigned DeltaBitLength(uint32_t n) {
    unsigned length = 0;
    while (n) {
        ++length;
        n >>= 1;
    }
    return length;
}
