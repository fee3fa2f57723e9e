// The delta encoder (format in src/payload/Delta.h): the new file as edits
// of the old one, found by hashed matching with approximate extension and
// range coded. Holds both files in memory; threads 0 uses every core. Flags
// other than the default only write the older streams a patcher still reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/Delta.h"

std::vector<uint8_t> EncodeDelta(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                 unsigned threads = 0, uint32_t flags = kDeltaRawLiterals | kDeltaFastCoding);
