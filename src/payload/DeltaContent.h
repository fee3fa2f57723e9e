// Recognising a delta's old and new file (Delta.h): an installed file is
// measured in one pass, and the measure is set against a delta's header.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/Delta.h"

// What a measure takes besides the size: the CRC-32, the SHA-256 (deltas
// written before BLAKE3), the BLAKE3-256. A patch may hold deltas of both
// digests.
constexpr unsigned kMeasureCrc = 1;
constexpr unsigned kMeasureDigest = 2;
constexpr unsigned kMeasureBlake3 = 4;

struct DeltaContent {
    uint32_t size = 0;
    uint32_t crc = 0;
    unsigned measured = 0;  // kMeasureCrc, kMeasureDigest, kMeasureBlake3: what the fields hold
    uint8_t digest[kDeltaDigestSize] = {};  // SHA-256
    uint8_t blake3[kDeltaDigestSize] = {};
};

// The digest of a delta's files, kMeasureDigest or kMeasureBlake3 as
// MeasureFor gives it, over bytes given in turn (as CSha256 and CBlake3).
class CDeltaDigest {
public:
    explicit CDeltaDigest(unsigned measure) : blake3_(measure == kMeasureBlake3) {}
    void Update(const void* data, size_t size) {
        if (blake3_)
            blake3Hash_.Update(data, size);
        else
            sha_.Update(data, size);
    }
    void Finish(uint8_t digest[kDeltaDigestSize]) {
        if (blake3_)
            blake3Hash_.Finish(digest);
        else
            sha_.Finish(digest);
    }

private:
    bool blake3_;
    CSha256 sha_;
    CBlake3 blake3Hash_;
};

// Reads file from its start to its end through buffer, taking its size and
// what measures asks for. A read error as the file gives it; "EOF" when it
// ends before its size.
ErrorCode MeasureContent(CFile* file, uint8_t* buffer, uint32_t bufferSize, unsigned measures, DeltaContent* content);

// What tells the delta's files besides their size: the digest when the
// header carries digests (it decides alone: bytes with the same digest have
// the same CRC-32 too), kMeasureBlake3 or kMeasureDigest by kDeltaBlake3;
// the CRC-32 otherwise. The one place that reads which digest a delta has.
unsigned MeasureFor(const DeltaHeader& header);
// The name of that measure, for messages: "CRC-32", "SHA-256", "BLAKE3".
const char* MeasureName(unsigned measure);

// Whether content is the delta's old file (new file) by MeasureFor(header);
// never when content lacks that measure.
bool IsDeltaOld(const DeltaHeader& header, const DeltaContent& content);
bool IsDeltaNew(const DeltaHeader& header, const DeltaContent& content);
