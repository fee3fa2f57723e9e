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
// byte before it; in a stream flagged kDeltaFastCoding, that tree is reached
// only after a bit says the diff is not the last distinct one seen under the
// same context and another that it is not the one before (each bit sent only
// once there is such a diff; DeltaRememberDiff): relinked code repeats a few
// diffs, which then take one or two bits to decode, not eight. A literal's bits are coded with two models mixed
// in the logistic domain (DeltaModel::Mix): one under the byte produced before it,
// one under a hash of the two bytes before it (kDeltaLiteralHashBits wide,
// kDeltaFastLiteralHashBits in a stream flagged kDeltaFastCoding: a quarter
// of the trees, fewer of them out of the processor's caches).
// An extra's raw flag (Delta.h) is one bit of its own.
// This state runs on across commands, from zeros.
#pragma once

#include <cstdint>
#include <cstring>

#include "payload/Delta.h"

constexpr unsigned kDeltaProbBits = 16;
constexpr uint32_t kDeltaGroup = 256;
constexpr uint32_t kDeltaRangeTop = 1u << 24;
constexpr unsigned kDeltaRateLimit = 30;
constexpr uint32_t kDeltaProbMin = 64, kDeltaProbMax = 65536 - 64;

// A model bit: the probability of a 0 in the high 16 bits, the count of bits
// seen (up to the limit) in the low ones.
typedef uint32_t DeltaProb;
constexpr uint32_t kDeltaEvenOdds = 32768;  // the chance of a 0 of an unmodelled bit
constexpr DeltaProb kDeltaProbInit = DeltaProb(1) << 31;

struct DeltaRates {
    uint16_t rate[kDeltaRateLimit + 1];
    constexpr DeltaRates() : rate() {
        for (unsigned n = 0; n <= kDeltaRateLimit; ++n) rate[n] = uint16_t(131072 / (2 * n + 3));
    }
};
constexpr DeltaRates kDeltaRates{};

inline uint32_t DeltaChanceOfZero(DeltaProb prob) { return prob >> 16; }

// Both moves are computed and one kept, so that a caller decoding bits near
// even odds can do without a branch on the bit.
inline void DeltaLearn(DeltaProb* prob, unsigned bit) {
    uint32_t p = *prob >> 16, n = *prob & 0xFF, rate = kDeltaRates.rate[n];
    uint32_t down = p - ((p * rate) >> 16), up = p + (((65536 - p) * rate) >> 16);
    down = down < kDeltaProbMin ? kDeltaProbMin : down;
    up = up > kDeltaProbMax ? kDeltaProbMax : up;
    *prob = (bit ? down : up) << 16 | (n + (n < kDeltaRateLimit));
}

constexpr unsigned kDeltaLiteralHashBits = 13;
constexpr unsigned kDeltaFastLiteralHashBits = 11;

// The mixing of two models (DeltaModel::Mix) as two table steps: stretch,
// the inverse of squashing (DeltaMix.cpp) per chance of 12 bits; mixed, the
// chance of a 0 for each sum of two stretches (at sum + 4094), their log-odds
// weighted 5/8, squashed back and kept within the limits. A literal's bit
// waits on this chain, so it is kept short. Filled once, when the program
// starts (not at compile time: 24 KB that every patch would carry).
struct DeltaMixTables {
    DeltaMixTables();
    int16_t stretch[4096];
    uint16_t mixed[2 * 4094 + 1];
};
extern const DeltaMixTables kDeltaMixTables;


struct DeltaNumberModel {
    DeltaProb length[64];
    DeltaProb bits[33][32];
};

// A byte's tree of 255 bits stored as nibble trees of 15 nodes at [1, 16) in
// a cache line each, so a byte touches two lines, not five: line 0 of a tree
// the high nibble's, line h + 1 the low nibble's under high nibble h.
constexpr unsigned kDeltaTreeLines = 17;

struct DeltaModel {
    DeltaNumberModel seek, add, extra;
    DeltaProb seekSign;
    DeltaProb extraRaw;
    DeltaProb group[16 << 3];
    DeltaProb diffHit[512][2];  // per diff context: is it the last diff seen, the one before
    DeltaProb changed[1u << 15];
    uint8_t diffSeen[512][2];   // per diff context: the last two distinct diffs, 0 for none

    // Resets every model to its start for a stream with these header flags.
    // The byte trees (most of the model's memory) are set up a nibble tree
    // at a time when first used, side by side in the order used: a delta
    // touches only the memory of what it codes, in as few pages as can be
    // (the system zeroes each page on its first touch, which costs more than
    // decoding the bits in it).
    void Init(uint32_t flags) {
        unsigned hashBits = flags & kDeltaFastCoding ? kDeltaFastLiteralHashBits : kDeltaLiteralHashBits;
        literalHashShift_ = 32 - hashBits;
        std::memset(lines_, 0, (kLiteral2Row + (1u << hashBits)) * kDeltaTreeLines * sizeof lines_[0]);
        used_ = 0;
        DeltaProb* p = &seek.length[0];
        DeltaProb* end = &changed[(1u << 15) - 1] + 1;
        while (p != end) *p++ = kDeltaProbInit;
        for (auto& seen : diffSeen) seen[0] = seen[1] = 0;
    }

    // A byte tree (row) is taken by its high nibble's tree, then the low
    // nibble's tree under the high nibble: each nibble tree has nodes [1, 16).
    struct Row {
        uint32_t* lines;  // per line of the tree, 1 + its place in the arena, 0 before its first use
    };
    DeltaProb* HighTree(Row row) { return Nibbles(row, 0); }
    DeltaProb* LowTree(Row row, unsigned high) { return Nibbles(row, high + 1); }
    // Hints, no effect on the bits: the high nibble's tree of row, and the
    // low nibbles' trees under highs [first, first + 4), are fetched into the
    // cache if they are in use.
    void PrefetchHigh(Row row) const { Prefetch(row.lines[0]); }
    void Prefetch4Low(Row row, unsigned first) const {
        for (unsigned high = first; high < first + 4; ++high) Prefetch(row.lines[high + 1]);
    }

    // The diff tree of a diff context (DeltaAddState::DiffContext).
    Row Diff(uint32_t context) { return {&lines_[context * kDeltaTreeLines]}; }
    // The literal trees under the byte before and under the hash of two.
    Row Literal(uint8_t before1) { return {&lines_[(kLiteralRow + before1) * kDeltaTreeLines]}; }
    Row Literal2(uint8_t before1, uint8_t before2) {
        uint32_t hash = ((uint32_t(before2) << 8 | before1) * 0x9E3779B1u) >> literalHashShift_;
        return {&lines_[(kLiteral2Row + hash) * kDeltaTreeLines]};
    }

    // The chance of a 0 from two models: their log-odds summed, weighted 5/8
    // (DeltaMixTables).
    static uint32_t Mix(DeltaProb a, DeltaProb b) {
        const DeltaMixTables& t = kDeltaMixTables;
        return t.mixed[t.stretch[DeltaChanceOfZero(a) >> 4] + t.stretch[DeltaChanceOfZero(b) >> 4] + 4094];
    }

private:
    // Rows of trees: the diff contexts, the literal's byte before, its hash of two.
    static constexpr uint32_t kLiteralRow = 512, kLiteral2Row = kLiteralRow + 256;
    static constexpr uint32_t kTreeRows = kLiteral2Row + (1u << kDeltaLiteralHashBits);
    void Prefetch(uint32_t place) const {
        if (place) __builtin_prefetch(arena_[place - 1]);
    }
    DeltaProb* Nibbles(Row row, unsigned line) {
        uint32_t& place = row.lines[line];
        if (!place) {
            place = ++used_;
            for (DeltaProb& p : arena_[place - 1]) p = kDeltaProbInit;
        }
        return arena_[place - 1];
    }

    unsigned literalHashShift_ = 0;
    uint32_t used_ = 0;
    uint32_t lines_[kTreeRows * kDeltaTreeLines];
    DeltaProb arena_[kTreeRows * kDeltaTreeLines][16];
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
    // The next byte's ChangedContext from this byte's, its old value and the
    // since after it: the decoder's flag loop keeps only this number.
    static uint32_t NextChangedContext(uint32_t context, uint8_t old, uint32_t sinceAfter) {
        return (context << 4 & 0x7800) | uint32_t(old) << 3 | sinceAfter;
    }
    static uint32_t SinceAfter(uint32_t since, uint8_t diff) { return diff ? 0 : since + (since < 7); }
    // The diff context of the current byte: after a nonzero diff (a carry),
    // that diff; else the old byte before.
    uint32_t DiffContext() const { return since == 0 ? 256u + lastDiff : old1; }
    // After a byte whose old value is old and whose diff is diff.
    void Next(uint8_t old, uint8_t diff) {
        since = uint8_t(SinceAfter(since, diff));
        if (diff) lastDiff = diff;
        old2 = old1;
        old1 = old;
    }
};
// After a nonzero diff under a context: the last two distinct diffs seen.
inline void DeltaRememberDiff(uint8_t seen[2], uint8_t diff) {
    if (seen[0] == diff) return;
    seen[1] = seen[0];
    seen[0] = diff;
}

// Bit length of a number: 0 for 0, else the index of its top bit plus one.
inline unsigned DeltaBitLength(uint32_t n) {
    unsigned length = 0;
    while (n) {
        ++length;
        n >>= 1;
    }
    return length;
}
