// The adaptive binary models and the range decoder of the delta stream
// (Delta.h). The tool's encoder mirrors them bit for bit.
//
// Bits are coded against 16-bit probabilities of a 0, each moved towards an
// outcome by 1/(n + 1.5) of the way after its n-th bit, 1/(kDeltaRateLimit +
// 1.5) from then on: a context learns fast and then settles. A number n is coded as its bit length L (0 for n = 0; a
// 6-bit tree, high bit first) then n's L - 1 bits below its top bit, high
// first, each with a probability of its own per (L, bit index). A byte is an
// 8-bit tree under a context.
//
// An add is read in groups of kDeltaGroup bytes from its start (the last one
// shorter). Each group first says whether any of its diffs is nonzero, under
// the count of unchanged groups just before it (0 to 15) and the distance
// below; an unchanged group is a plain copy. In a changed group, each byte
// says whether its diff is nonzero, under the old
// byte before it, the high half of the one before that and the distance since
// the last nonzero diff (0 to 7): the places where relinked code changes (the
// displacement after an opcode) cost little and unchanged stretches almost
// nothing. A nonzero diff is a byte under the previous diff when that was
// nonzero (a carry into the next byte of an address), else under the old
// byte before it. A literal is a byte under the byte produced before it.
// This state runs on across commands, from zeros.
#pragma once

#include <cstdint>

constexpr unsigned kDeltaProbBits = 16;
constexpr uint32_t kDeltaGroup = 256;
constexpr uint32_t kDeltaRangeTop = 1u << 24;
constexpr unsigned kDeltaRateLimit = 30;
constexpr uint32_t kDeltaProbMin = 64, kDeltaProbMax = 65536 - 64;

// A model bit: the probability of a 0 in the high 16 bits, the count of bits
// seen (up to the limit) in the low ones.
typedef uint32_t DeltaProb;
constexpr DeltaProb kDeltaProbInit = DeltaProb(1) << 31;

struct DeltaRates {
    uint16_t rate[kDeltaRateLimit + 1];
    constexpr DeltaRates() : rate() {
        for (unsigned n = 0; n <= kDeltaRateLimit; ++n) rate[n] = uint16_t(131072 / (2 * n + 3));
    }
};
constexpr DeltaRates kDeltaRates{};

inline uint32_t DeltaChanceOfZero(DeltaProb prob) { return prob >> 16; }

inline void DeltaLearn(DeltaProb* prob, unsigned bit) {
    uint32_t p = *prob >> 16, n = *prob & 0xFF, rate = kDeltaRates.rate[n];
    if (bit) {
        p -= (p * rate) >> 16;
        if (p < kDeltaProbMin) p = kDeltaProbMin;
    } else {
        p += ((65536 - p) * rate) >> 16;
        if (p > kDeltaProbMax) p = kDeltaProbMax;
    }
    *prob = p << 16 | (n < kDeltaRateLimit ? n + 1 : n);
}

struct DeltaNumberModel {
    DeltaProb length[64];
    DeltaProb bits[33][32];
};

struct DeltaModel {
    DeltaNumberModel seek, add, extra;
    DeltaProb seekSign;
    DeltaProb group[16 << 3];
    DeltaProb changed[1u << 15];
    DeltaProb diff[2][256][256];
    DeltaProb literal[256][256];

    void Init() {
        DeltaProb* p = &seek.length[0];
        DeltaProb* end = &literal[255][255] + 1;
        while (p != end) *p++ = kDeltaProbInit;
    }
};

// Where the add's coding stands: the old bytes before the current one, the
// bytes since the last nonzero diff (capped at 7), that diff, and the
// unchanged groups in a row (capped at 15).
struct DeltaAddState {
    uint8_t old1 = 0, old2 = 0;
    uint8_t since = 7;
    uint8_t lastDiff = 0;
    uint8_t quietGroups = 0;

    uint32_t GroupContext() const { return uint32_t(quietGroups) << 3 | since; }
    // After a group of n bytes at old; changed tells whether it had a nonzero diff.
    void NextGroup(const uint8_t* old, uint32_t n, bool changed) {
        if (changed) {
            quietGroups = 0;
            return;
        }
        if (quietGroups < 15) ++quietGroups;
        since = uint8_t(since + n < 7 ? since + n : 7);
        old2 = n >= 2 ? old[n - 2] : old1;
        old1 = old[n - 1];
    }

    uint32_t ChangedContext() const { return (uint32_t(old2 >> 4) << 8 | old1) << 3 | since; }
    // The diff tree of the model for the current byte.
    DeltaProb* DiffTree(DeltaModel* m) const { return since == 0 ? m->diff[1][lastDiff] : m->diff[0][old1]; }
    // After a byte whose old value is old and whose diff is diff.
    void Next(uint8_t old, uint8_t diff) {
        if (diff) {
            since = 0;
            lastDiff = diff;
        } else if (since < 7) {
            ++since;
        }
        old2 = old1;
        old1 = old;
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
