// CRC-32 (the common IEEE one: reflected polynomial 0xEDB88320, initial
// value and final xor 0xFFFFFFFF) and the pack entry that carries it.
//
// The checksum entry is the pack entry "PATCH.CRC" at the pack's top level
// (the update copies only FILES\, so it never reaches the game folder). Its
// 16 bytes, little-endian:
//   0   4   magic "QCRC"
//   4   4   format version, 1
//   8   4   N: how many bytes of the pack image it covers
//   12  4   CRC-32 of the pack image's bytes [0, N)
// Its data is the last 16 bytes of the pack image: its data offset is N and
// N + 16 is the pack's size. So it covers the pack header, the directory
// (every name, offset and size), the date table and every file's bytes, and
// a writer that streams the pack computes it on the way and appends it last.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kPatchCrcName[] = "PATCH.CRC";
constexpr uint32_t kPatchCrcEntrySize = 16;
constexpr char kPatchCrcMagic[4] = {'Q', 'C', 'R', 'C'};
constexpr uint32_t kPatchCrcVersion = 1;

// Continues crc (0 to start, or an earlier result) over size bytes:
// Crc32Update(Crc32Update(0, a, n), b, m) is the CRC of a followed by b.
// On processors with carry-less multiplication long runs fold 64 bytes a
// step; elsewhere, and for what is left, the tables below serve.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// The same result from tables alone (sixteen bytes a step), on any processor.
uint32_t Crc32UpdateByTables(uint32_t crc, const void* data, size_t size);

inline uint32_t Crc32(const void* data, size_t size) { return Crc32Update(0, data, size); }

// The CRC of a followed by b from the CRCs of both and b's length, so that
// the pieces of one stream can be summed apart (on several threads).
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

struct PatchCrcEntry {
    uint32_t version = 0;
    uint32_t coveredSize = 0;  // N
    uint32_t crc = 0;
};

// The 16 bytes of the entry for a pack whose first coveredSize bytes have
// this CRC (version 1).
void MakePatchCrcEntry(uint32_t coveredSize, uint32_t crc, uint8_t out[kPatchCrcEntrySize]);

// Reads the entry's fields from size bytes. False when size is not 16 or
// the magic differs; the version is returned as stored, for the caller to
// judge.
bool ParsePatchCrcEntry(const uint8_t* bytes, uint32_t size, PatchCrcEntry* entry);
