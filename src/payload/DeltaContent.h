// Recognising a delta's old and new file (Delta.h): an installed file is
// measured in one pass, and the measure is set against a delta's header.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/Delta.h"

// What a measure takes besides the size.
constexpr unsigned kMeasureCrc = 1;
constexpr unsigned kMeasureDigest = 2;

struct DeltaContent {
    uint32_t size = 0;
    uint32_t crc = 0;
    unsigned measured = 0;  // kMeasureCrc, kMeasureDigest: what crc and digest hold
    uint8_t digest[kSha256Size] = {};
};

// Reads file from its start to its end through buffer, taking its size and
// what measures asks for. A read error as the file gives it; "EOF" when it
// ends before its size.
ErrorCode MeasureContent(CFile* file, uint8_t* buffer, uint32_t bufferSize, unsigned measures, DeltaContent* content);

// What tells the delta's files besides their size: the SHA-256 when the
// header carries digests (it decides alone: bytes with the same SHA-256 have
// the same CRC-32 too), the CRC-32 otherwise.
unsigned MeasureFor(const DeltaHeader& header);

// Whether content is the delta's old file (new file) by MeasureFor(header);
// never when content lacks that measure.
bool IsDeltaOld(const DeltaHeader& header, const DeltaContent& content);
bool IsDeltaNew(const DeltaHeader& header, const DeltaContent& content);
