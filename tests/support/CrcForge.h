// Forging a CRC-32 as mod tools do: after an edit, four bytes at one place
// are set so that the file has the CRC it had before. The CRC is affine in
// the bytes, so the four bytes' effect is a linear map of their 32 bits,
// inverted here by elimination.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "payload/PatchCrc.h"

// Changes bytes[at .. at + 3] so that the CRC-32 of bytes becomes wanted.
inline void ForgeCrc32(std::vector<uint8_t>* bytes, size_t at, uint32_t wanted) {
    // The linear part of the CRC of a tail starting with the four bytes: the
    // bytes before them do not change it.
    std::vector<uint8_t> tail(bytes->size() - at);
    const uint32_t zeros = Crc32(tail.data(), tail.size());
    uint32_t value[32], combination[32];
    for (int bit = 0; bit < 32; ++bit) {
        tail[size_t(bit / 8)] = uint8_t(1u << (bit % 8));
        value[bit] = Crc32(tail.data(), tail.size()) ^ zeros;
        combination[bit] = 1u << bit;
        tail[size_t(bit / 8)] = 0;
    }
    for (int bit = 0; bit < 32; ++bit) {
        int pivot = bit;
        while (!(value[pivot] >> bit & 1)) ++pivot;  // the map is invertible
        std::swap(value[bit], value[pivot]);
        std::swap(combination[bit], combination[pivot]);
        for (int row = 0; row < 32; ++row)
            if (row != bit && (value[row] >> bit & 1)) value[row] ^= value[bit], combination[row] ^= combination[bit];
    }
    const uint32_t change = Crc32(bytes->data(), bytes->size()) ^ wanted;
    uint32_t flip = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (change >> bit & 1) flip ^= combination[bit];
    for (int k = 0; k < 4; ++k) (*bytes)[at + size_t(k)] ^= uint8_t(flip >> (8 * k));
}
