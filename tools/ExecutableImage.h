// The layout of an x86 or x86-64 executable (PE or ELF) as far as the
// delta encoder's reference model needs it: its loaded sections, where each
// lies in the file and in memory, and what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/DeltaRefs.h"

struct ImageSection {
    uint32_t offset = 0;  // in the file
    uint32_t size = 0;    // bytes in the file that are loaded
    uint32_t rva = 0;     // from the image base
    RefKind kind = kRefCode32;
};

struct ExecutableImage {
    uint64_t base = 0;
    uint32_t imageSize = 0;
    std::vector<ImageSection> sections;  // in file order, apart

    // The rva of file offset, or false when no section loads it.
    bool RvaOf(uint32_t offset, uint32_t* rva, uint32_t* left) const;
};

// Reads a PE or ELF image for i386 or x86-64; false for anything else.
bool ReadExecutableImage(const uint8_t* bytes, size_t size, ExecutableImage* image);
