// The old file the delta fuzz target applies its inputs to, and its seeds
// were encoded against: code-like records with call addresses, then text.
#pragma once

#include <cstdint>
#include <vector>

inline std::vector<uint8_t> DeltaFuzzOld() {
    std::vector<uint8_t> v(6000);
    uint32_t address = 0x401000;
    for (size_t i = 0; i < 4000; ++i) {
        if (i % 11 == 0 && i + 5 <= 4000) {
            v[i] = 0xE8;
            address += uint32_t(i % 37);
            for (int k = 0; k < 4; ++k) v[i + 1 + k] = uint8_t(address >> (8 * k));
            i += 4;
        } else {
            v[i] = uint8_t((i * i) >> 3);
        }
    }
    const char words[] = "patch file game version folder ";
    for (size_t i = 4000; i < v.size(); ++i) v[i] = uint8_t(words[(i * 7) % (sizeof(words) - 1)]);
    return v;
}
