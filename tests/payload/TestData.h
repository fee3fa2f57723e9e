// Deterministic sample data for the payload tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "framework/LittleEndian.h"

namespace testdata {

// The little-endian word at a byte offset.
inline uint32_t Le32(const std::vector<uint8_t>& v, size_t at) { return LoadU32(v.data() + at); }

inline std::vector<uint8_t> Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

// Word salad with a skewed vocabulary, lines and punctuation.
inline std::vector<uint8_t> Text(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"the", "of", "and", "to", "a", "in", "is", "that", "for", "it",
                                         "patch", "file", "game", "version", "folder", "copy", "shortcut",
                                         "registry", "language", "block", "container", "directory"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        uint32_t r = rng() % 100;
        size_t w = r < 50 ? r % 6 : r < 85 ? 6 + r % 6 : 12 + r % 10;
        s += kWords[w];
        s += (rng() % 11 == 0) ? ".\r\n" : " ";
    }
    return std::vector<uint8_t>(s.begin(), s.begin() + long(n));
}

// Instruction-like records: small opcodes, repeated little-endian addresses, zero padding.
inline std::vector<uint8_t> Binary(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    uint32_t address = 0x401000;
    while (v.size() < n) {
        switch (rng() % 5) {
        case 0: v.insert(v.end(), {0x55, 0x8B, 0xEC}); break;
        case 1: {
            v.push_back(0xE8);
            address += rng() % 64;
            for (int i = 0; i < 4; ++i) v.push_back(uint8_t(address >> (8 * i)));
            break;
        }
        case 2: v.insert(v.end(), size_t(rng() % 12), 0); break;
        case 3: v.push_back(uint8_t(rng())); break;
        default: v.insert(v.end(), {0x8B, 0x45, uint8_t(rng() % 32), 0xC3}); break;
        }
    }
    v.resize(n);
    return v;
}

// Long runs of a few values.
inline std::vector<uint8_t> Runs(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v;
    while (v.size() < n) v.insert(v.end(), size_t(1 + rng() % 300), uint8_t(rng() % 4));
    v.resize(n);
    return v;
}

}  // namespace testdata
