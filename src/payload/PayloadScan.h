// Where a patch file carries its payload. The patcher scans its own file for
// the container header ("LZSS", then the block size 0x8000 as the word at
// +8) in kScanStep steps, each read overlapping the next by kScanOverlap
// bytes, at starts below L = (file size rounded down to kScanStep) -
// kScanStep, and takes the first match. The patcher, the tool that lays
// patches out and the tests all find a payload with these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file/File.h"

constexpr uint32_t kScanStep = 8192;
constexpr uint32_t kScanOverlap = 18;      // a header starting in a step's last bytes is still read whole
constexpr uint32_t kScanHeaderBytes = 12;  // magic and block-size word
constexpr uint32_t kPayloadBlockSize = 0x8000;

// Whether the kScanHeaderBytes bytes at p are a payload's container header.
bool IsPayloadHeaderAt(const uint8_t* p);

// The limit L of the scan for a file of this size (0 when it scans nothing).
uint64_t PayloadScanLimit(uint64_t fileSize);

// The first start below limit at which bytes (size of them) hold a payload
// header, or size_t(-1) when there is none.
size_t FindPayloadHeader(const uint8_t* bytes, size_t size, size_t limit);

// The patcher's scan of file, read as it reads it. True and the offset of
// the first payload header when there is one.
bool FindPayloadOffset(CFile* file, uint32_t* offset);
