// Recognising a delta's old and new file (Delta.h): an installed file is
// measured in one pass, and the measure is set against a delta's header.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/Delta.h"

struct DeltaContent {
    uint32_t size = 0;
    uint32_t crc = 0;
    bool digested = false;
    uint8_t digest[kSha256Size] = {};
};

// Reads file from its start to its end through buffer, taking its size and
// CRC-32, and with digest its SHA-256 on the way. A read error as the file
// gives it; "EOF" when it ends before its size.
ErrorCode MeasureContent(CFile* file, uint8_t* buffer, uint32_t bufferSize, bool digest, DeltaContent* content);

// Whether content is the delta's old file (new file): size and CRC-32, and,
// when the header carries digests, the SHA-256 (never without one measured).
bool IsDeltaOld(const DeltaHeader& header, const DeltaContent& content);
bool IsDeltaNew(const DeltaHeader& header, const DeltaContent& content);
