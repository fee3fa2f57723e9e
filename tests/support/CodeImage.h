// Test inputs of machine code: a program as a linker lays it out, whose
// references a delta with predicted references should find.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace testcode {

using Bytes = std::vector<uint8_t>;

inline void PutLittle(Bytes* v, size_t at, uint64_t value, unsigned width) {
    if (v->size() < at + width) v->resize(at + width);
    for (unsigned i = 0; i < width; ++i) (*v)[at + i] = uint8_t(value >> (8 * i));
}

// A program as a linker lays it out: functions of fixed bodies (bytes of
// their own seed) that call and branch to one another and read globals, and
// a table of the functions' addresses. gaps[f] is the padding before
// function f; another version of the program moves its functions by other
// gaps. Returned as a PE image (32- or 64-bit).
inline Bytes CodeImage(bool wide, const std::vector<uint32_t>& gaps, uint32_t seed) {
    constexpr uint32_t kBody = 400, kCodeRva = 0x1000, kBase = 0x400000;
    const uint32_t functions = uint32_t(gaps.size());
    std::vector<uint32_t> at(functions);
    uint32_t codeSize = 0;
    for (uint32_t f = 0; f < functions; ++f) {
        codeSize += gaps[f];
        at[f] = kCodeRva + codeSize;
        codeSize += kBody;
    }
    const uint32_t dataRva = (kCodeRva + codeSize + 0xFFF) & ~0xFFFu, dataSize = functions * 8 + 64;
    Bytes code(codeSize, 0xCC);
    for (uint32_t f = 0; f < functions; ++f) {
        std::mt19937 rng(seed + f);
        uint8_t* body = code.data() + (at[f] - kCodeRva);
        for (uint32_t i = 0; i < kBody; ++i) body[i] = uint8_t(rng() % 0xE0);  // no stray calls
        for (uint32_t i = 8; i + 12 < kBody; i += 24 + rng() % 24) {
            const uint32_t rva = at[f] + i, other = at[rng() % functions], global = dataRva + 8 * (rng() % functions);
            switch (rng() % 4) {
            case 0: body[i] = 0xE8; PutLittle(&code, rva - kCodeRva + 1, other - (rva + 5), 4); break;
            case 1: body[i] = 0x0F; body[i + 1] = 0x85; PutLittle(&code, rva - kCodeRva + 2, other - (rva + 6), 4); break;
            case 2:  // call [global]
                body[i] = 0xFF; body[i + 1] = 0x15;
                PutLittle(&code, rva - kCodeRva + 2, wide ? global - (rva + 6) : kBase + global, 4);
                break;
            default:  // mov eax, [global]
                body[i] = 0x8B; body[i + 1] = 0x05;
                PutLittle(&code, rva - kCodeRva + 2, wide ? global - (rva + 6) : kBase + global, 4);
            }
        }
    }
    Bytes image(0x400);
    image[0] = 'M', image[1] = 'Z';
    PutLittle(&image, 0x3C, 0x40, 4);
    PutLittle(&image, 0x40, 0x4550, 4);
    PutLittle(&image, 0x44, wide ? 0x8664 : 0x14C, 2);
    PutLittle(&image, 0x46, 2, 2);
    PutLittle(&image, 0x54, wide ? 0xF0 : 0xE0, 2);
    const uint32_t optional = 0x58, sections = optional + (wide ? 0xF0 : 0xE0);
    PutLittle(&image, optional, wide ? 0x20B : 0x10B, 2);
    PutLittle(&image, optional + (wide ? 24 : 28), kBase, wide ? 8 : 4);
    PutLittle(&image, optional + 56, dataRva + 0x1000, 4);
    const uint32_t codeFile = 0x400, dataFile = (codeFile + codeSize + 0x1FF) & ~0x1FFu;
    const uint32_t fields[2][5] = {{codeSize, kCodeRva, codeSize, codeFile, 0x60000020},
                                   {dataSize, dataRva, dataSize, dataFile, 0x40000040}};
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < 4; ++i) PutLittle(&image, sections + 40 * k + 8 + 4 * i, fields[k][i], 4);
    for (int k = 0; k < 2; ++k) PutLittle(&image, sections + 40 * k + 36, fields[k][4], 4);
    image.resize(codeFile);
    image.insert(image.end(), code.begin(), code.end());
    image.resize(dataFile + dataSize);
    for (uint32_t f = 0; f < functions; ++f) PutLittle(&image, dataFile + 8 * f, kBase + at[f], wide ? 8 : 4);
    return image;
}

}  // namespace testcode
