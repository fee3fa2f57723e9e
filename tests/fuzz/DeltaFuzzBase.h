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

// A reference model (payload/DeltaRefs.h) for that old file, the seeds with
// predicted references encoded against: its code a 32-bit region at rva
// 0x1000 (its call operands read as relative targets inside the image),
// its text a table of addresses; the map moves the upper half by 0x40.
inline std::vector<uint8_t> DeltaFuzzRefModel() {
    std::vector<uint8_t> m = {0, 0, 0x40, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 2};
    const uint32_t regions[2][3] = {{0, 4000, 0x1000}, {4000, 2000, 0x1000 + 4000}};
    for (int r = 0; r < 2; ++r) {
        for (uint32_t field : regions[r])
            for (int i = 0; i < 4; ++i) m.push_back(uint8_t(field >> (8 * i)));
        m.push_back(uint8_t(r ? 2 : 0));
    }
    // Two pieces, LEB128: 0 from 0x1000, 0x40 (zigzag 0x80) from 0x1000 + 3000.
    const uint8_t pieces[] = {2, 0x80, 0x20, 0, 0xB8, 0x17, 0x80, 0x01};
    m.insert(m.end(), pieces, pieces + sizeof(pieces));
    return m;
}
