// The mixing tables of the delta models (DeltaModel.h), filled at start-up.
#include "payload/DeltaModel.h"

namespace {

// 4096 / (1 + e^-(x / 256)) for x in [-2047, 2047], interpolated from a table
// in integers only, so every build computes the same values.
unsigned Squash(int x) {
    static const unsigned short kPoints[33] = {1,    2,    3,    6,    10,   16,   27,   45,   73,   120,  194,
                                               310,  488,  747,  1101, 1546, 2047, 2549, 2994, 3348, 3607, 3785,
                                               3901, 3975, 4022, 4050, 4068, 4079, 4085, 4089, 4092, 4093, 4094};
    if (x > 2047) return 4095;
    if (x < -2047) return 1;
    unsigned e = unsigned(x + 2048), i = e >> 7, w = e & 127;
    return (kPoints[i] * (128 - w) + kPoints[i + 1] * w + 64) >> 7;
}

}  // namespace

DeltaMixTables::DeltaMixTables() {
    unsigned next = 0;
    for (int x = -2047; x <= 2047; ++x)
        for (unsigned v = Squash(x); next <= v; ++next) stretch[next] = int16_t(x);
    while (next < 4096) stretch[next++] = 2047;
    for (int sum = -4094; sum <= 4094; ++sum) {
        int x = sum * 5 / 8;
        x = x < -2048 ? -2048 : x > 2048 ? 2048 : x;
        uint32_t p = Squash(x) << 4;
        mixed[sum + 4094] = uint16_t(p < kDeltaProbMin ? kDeltaProbMin : p > kDeltaProbMax ? kDeltaProbMax : p);
    }
}

const DeltaMixTables kDeltaMixTables;
