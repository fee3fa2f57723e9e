// CRC-32 (the common IEEE one: reflected polynomial 0xEDB88320, initial
// value and final xor 0xFFFFFFFF) and the pack entry that carries it.
//
// The checksum entry is the pack entry "PATCH.CRC" at the pack's top level
// (the update copies only FILES\, so it never reaches the game folder). Its
// data is the last bytes of the pack image: its data offset N is what it
// covers, and N + its size is the pack's size. Little-endian fields.
//
// Version 1, 16 bytes:
//   0   4   magic "QCRC"
//   4   4   format version, 1
//   8   4   N: how many bytes of the pack image it covers
//   12  4   CRC-32 of the pack image's bytes [0, N)
// It covers the pack header, the directory (every name, offset and size),
// the date table and every file's bytes, and a writer that streams the pack
// computes it on the way and appends it last.
//
// Version 2, 24 bytes, for a pack inside a container (LzssFormat.h) whose
// blocks, up to the one holding the entry, can be checked without decoding:
//   0   4   magic "QCRC"
//   4   4   format version, 2
//   8   4   N, as in version 1
//   12  4   CRC-32 of the pack image's bytes [0, N), as in version 1
//   16  4   stored CRC: CRC-32 of the container's header, its block-table
//           entries 0 to k and the stored bytes of blocks 0 to k - 1, in
//           that order, where k = N / block size is the block that holds
//           the entry's first byte
//   20  4   tail CRC: CRC-32 of the pack image's bytes [k x block size,
//           N + 20): the blocks from k on, the entry's own fields before
//           this one included
// Every stored field is known to a writer once block k - 1 is written (the
// header's size is fixed before the first block), so a streaming writer
// computes them before block k, whose bytes hold the entry. A reader checks
// the stored CRC over the raw stored bytes, decodes only blocks k onwards
// for the tail CRC, and so has checked every byte of the image: blocks
// before k are exactly the bytes the writer produced. The field at 12 is
// for a full check (qptool verify), which decodes every block.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char kPatchCrcName[] = "PATCH.CRC";
constexpr uint32_t kPatchCrcEntrySize = 16;  // version 1
constexpr char kPatchCrcMagic[4] = {'Q', 'C', 'R', 'C'};
constexpr uint32_t kPatchCrcVersion = 1;
constexpr uint32_t kPatchCrcStoredVersion = 2;
constexpr uint32_t kPatchCrcStoredEntrySize = 24;
constexpr uint32_t kPatchCrcTailCrcOffset = 20;  // the version-2 field the tail CRC stops before

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
    uint32_t storedCrc = 0;    // version 2
    uint32_t tailCrc = 0;      // version 2
};

// The entry's size in a version's format; 0 for an unknown version.
uint32_t PatchCrcEntrySize(uint32_t version);

// The 16 bytes of the entry for a pack whose first coveredSize bytes have
// this CRC (version 1).
void MakePatchCrcEntry(uint32_t coveredSize, uint32_t crc, uint8_t out[kPatchCrcEntrySize]);

// The first kPatchCrcTailCrcOffset bytes of a version-2 entry: all but the
// tail CRC, which is the CRC over the tail up to and including them.
void MakeStoredPatchCrcFields(uint32_t coveredSize, uint32_t crc, uint32_t storedCrc,
                              uint8_t out[kPatchCrcTailCrcOffset]);

// Reads the entry's fields from size bytes. False when the magic differs
// or size is not 16 (version 1) or 24 (version 2); the version is returned
// as stored, for the caller to judge against the size.
bool ParsePatchCrcEntry(const uint8_t* bytes, uint32_t size, PatchCrcEntry* entry);
