// The delta encoder (format in src/payload/Delta.h): the new file as edits
// of the old one, found by hashed matching with approximate extension and
// range coded. Holds both files in memory; threads 0 uses every core. Flags
// other than the default only write the older streams a patcher still reads.
// Segments are about segmentSize bytes of the new file (less than twice
// that, and at most kDeltaMaxSegment): tests make them small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/Delta.h"

constexpr size_t kDeltaSegmentSize = size_t(1) << 20;

std::vector<uint8_t> EncodeDelta(const uint8_t* old, size_t oldSize, const uint8_t* neu, size_t newSize,
                                 unsigned threads = 0,
                                 uint32_t flags = kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments,
                                 size_t segmentSize = kDeltaSegmentSize);
