#include "DeltaExtend.h"

#include <array>
#include <cstring>

namespace {

// The running score over 8 compared pairs, by the mask of those that agree
// (bit k: the k-th pair compared): its highest value after 1 to 8 pairs,
// the first count of pairs reaching it, and its value after all 8.
struct Step {
    int8_t best;
    uint8_t reach;
    int8_t total;
};

constexpr std::array<Step, 256> MakeSteps() {
    std::array<Step, 256> steps{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        int score = 0, best = -9, reach = 0;
        for (unsigned k = 0; k < 8; ++k) {
            score += (mask >> k & 1) ? 1 : -1;
            if (score > best) best = score, reach = int(k + 1);
        }
        steps[mask] = {int8_t(best), uint8_t(reach), int8_t(score)};
    }
    return steps;
}

constexpr std::array<Step, 256> kSteps = MakeSteps();

// Bit k set when byte k (in memory order) of the two words is equal.
unsigned EqualBytes(uint64_t x, uint64_t y) {
    const uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
    uint64_t diff = x ^ y;
    uint64_t nonzero = ((diff & low7) + low7) | diff;  // high bit of each byte
    uint64_t zero = ~nonzero & 0x8080808080808080ull;
    return unsigned(((zero >> 7) * 0x0102040810204080ull) >> 56);
}

unsigned Reversed(unsigned mask) {
    mask = (mask & 0xF0) >> 4 | (mask & 0x0F) << 4;
    mask = (mask & 0xCC) >> 2 | (mask & 0x33) << 2;
    return (mask & 0xAA) >> 1 | (mask & 0x55) << 1;
}

// The reach over pairs given 8 at a time by next(k), a mask in compared
// order, then one at a time by agree(i) for the last n % 8.
template <typename Masks, typename Agree>
int64_t Reach(int64_t n, Masks next, Agree agree) {
    int64_t score = 0, best = 0, reach = 0, i = 0;
    for (; i + 8 <= n; i += 8) {
        const Step& step = kSteps[next(i)];
        if (score + step.best > best) best = score + step.best, reach = i + step.reach;
        score += step.total;
    }
    for (; i < n; ++i) {
        score += agree(i) ? 1 : -1;
        if (score > best) best = score, reach = i + 1;
    }
    return reach;
}

}  // namespace

int64_t ReachForward(const uint8_t* a, const uint8_t* b, int64_t n) {
    return Reach(
        n, [&](int64_t i) { return EqualBytes(Load64(a + i), Load64(b + i)); },
        [&](int64_t i) { return a[i] == b[i]; });
}

int64_t ReachBackward(const uint8_t* a, const uint8_t* b, int64_t n) {
    return Reach(
        n, [&](int64_t i) { return Reversed(EqualBytes(Load64(a - i - 8), Load64(b - i - 8))); },
        [&](int64_t i) { return a[-i - 1] == b[-i - 1]; });
}
