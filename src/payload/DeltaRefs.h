// The references of machine code, predicted: a delta with kDeltaReferences
// is made against the old file with every reference it finds rewritten to
// the value the new file is expected to hold there (the old target moved by
// an address map the encoder estimated). Recompiled code whose functions
// and data moved then matches the old bytes where a byte diff would pay for
// every call and address that points across a move. Only the old file is
// rewritten (a prediction: the new file is rebuilt as ever, the same rule on
// both sides is all that is needed), so the rebuild only rewrites each old
// block it reads.
//
// The model, all integers little-endian:
//   0   8   image base (the address of rva 0)
//   8   4   image size (addresses above base + this are not the image's)
//   12  1   region count R (1 to kRefMaxRegions), then R regions of 13 bytes
//           0 4 file offset, 4 4 size (not 0), 8 4 rva of its first byte,
//           12 1 kind (RefKind); in file order, apart, inside the old file
//       ... piece count P, then P pieces, each the distance from the last
//           piece's old rva where it starts (from 0; rising: at least 1
//           after the first) and the change of what it adds (from 0; two's
//           complement, zigzag: 2n for n, 2n - 1 for -n), all unsigned
//           LEB128 of at most 32 bits
// Old rva x maps to x plus the displacement of the last piece starting at or
// below it (x itself below the first). The old file is read in windows of
// kRefChunk bytes (from offset 0; the last ends at the file's end), each
// region's part of a window scanned on its own: an operand lies wholly in
// one window.
//
// Code (kinds 0 and 1) is scanned byte by byte. At E8/E9 (call, jmp) and
// 0F 80-8F (jcc) the 4 bytes after are a relative target; at an opcode of
// DeltaRefs.cpp's list followed by a ModRM of [disp32] (mod 0, rm 5; FF only as
// call/jmp/push) the 4 bytes after the ModRM are, in 64-bit code, a target
// relative to them and in 32-bit code an address. A relative operand at rva
// r of value v becomes map(r + 4 + v) - map(r + 4); an address a inside the
// image becomes base + map(a - base). Either way the scan resumes past it.
// Tables (kinds 2 to 4) are read in aligned entries from the region's start:
// 4-byte addresses, 8-byte addresses, 4-byte rvas (at least kRefMinRva),
// each mapped when it lies inside the image.
#pragma once

#include <cstdint>

constexpr uint32_t kRefChunk = 4096;
constexpr uint32_t kRefMaxRegions = 64;
constexpr uint32_t kRefMinRva = 0x1000;
// The longest model a patcher reads (the map of a very much moved file).
constexpr uint32_t kRefMaxModel = 1u << 20;
// The map is looked up through at most kRefBuckets buckets of the image
// (each the pieces starting before it): a reference costs a short search.
constexpr uint32_t kRefBuckets = 4096;
// The words a model of n bytes needs read: its pieces (each takes at least
// two bytes of it, and two words) and the buckets.
constexpr uint32_t RefWorkWords(uint32_t n) { return n + kRefBuckets + 1; }

enum RefKind : uint8_t {
    kRefCode32 = 0,
    kRefCode64 = 1,
    kRefAddress32 = 2,
    kRefAddress64 = 3,
    kRefRva32 = 4,
    kRefKinds = 5,
};

// A model read by ParseRefModel: views into its bytes, which it outlives.
struct RefModel {
    uint64_t base = 0;
    uint32_t imageSize = 0;
    uint32_t regionCount = 0;
    const uint8_t* regions = nullptr;
    uint32_t pieceCount = 0;
    const uint32_t* pieces = nullptr;  // each piece's start and displacement
    uint32_t shift = 0;                // rva >> shift is its bucket
    uint32_t buckets = 0;
    const uint32_t* first = nullptr;   // buckets + 1: the pieces starting before each
};

// Reads the model of size bytes for an old file of oldSize bytes, its
// pieces and buckets into work (RefWorkWords(size) words); false when it
// breaks any rule above.
bool ParseRefModel(const uint8_t* bytes, uint32_t size, uint32_t oldSize, uint32_t* work, RefModel* model);

// Rewrites the references in bytes, the old file's [offset, offset + size);
// offset a multiple of kRefChunk, and the end one too or the file's end.
void PredictReferences(const RefModel& model, uint8_t* bytes, uint32_t offset, uint32_t size);

// The same for one window (offset a multiple of kRefChunk, size kRefChunk or
// the rest of the file) a part at a time, as a rebuild needs its bytes: the
// scan goes on from done (0 at first, then the last return) until it has
// passed need (at most size). Returns where it stopped, at least need: the
// window's bytes below it are final.
uint32_t PredictWindow(const RefModel& model, uint8_t* window, uint32_t offset, uint32_t size, uint32_t done,
                       uint32_t need);
