// Binary deltas: a new file described as edits of an old one. All integers
// of the header little-endian.
//
//   0   4   magic "QDLT"
//   4   4   old file's size
//   8   4   old file's CRC-32 (PatchCrc.h)
//   12  4   new file's size
//   16  4   new file's CRC-32
//   20  4   flags: kDeltaRawLiterals, kDeltaFastCoding, kDeltaSegments,
//           kDeltaDigests, kDeltaReferences, kDeltaSource, kDeltaBlake3
//           (below; segments only with fast coding, a source and BLAKE3
//           only with digests); any other bit or combination is refused
//   24  ... the command stream, range coded (DeltaModel.h) to the delta's end
//
// With kDeltaDigests (every delta written today) the fixed fields go on:
//   24  32  old file's digest
//   56  32  new file's digest
// the digest being BLAKE3-256 (Blake3.h) with kDeltaBlake3 (every delta
// written today), SHA-256 (Sha256.h) without it (deltas written before);
// MeasureFor (DeltaContent.h) reads which.
// A CRC-32 can be matched on purpose (four bytes fixed up after an edit keep
// it, and the edit passes through the rebuild into a result with the new
// CRC-32 too); the digests cannot. An installed file is taken for the old
// file, and a rebuild for the new one, only when the digests match as well.
//
// With kDeltaSource (a file whose old version lies at another path) the
// digests are followed by a 1-byte length L (at least 1) and L bytes: the
// old file's path below the game folder, backslash-separated, a path a
// patch may write (IsPatchFilePath, PlainFileName.h); any other path makes
// the delta damaged. The old file is then read from there, not from the new
// file's own path (a file renamed or moved between versions). Whatever
// follows the digests below follows this field instead.
//
// With kDeltaReferences (machine code) the fixed fields (digests and source
// included) are followed by a 4-byte length N, at most kRefMaxModel, and N bytes of a
// reference model (DeltaRefs.h), then the stream or segments as below: the
// old file is read with the model's references predicted, its old bytes
// being those rewritten ones. A model that breaks its rules makes the delta
// damaged.
//
// With kDeltaSegments the new file is instead made by segments in turn, until
// its size is reached, each
//   0   4   the new bytes it makes, 1 to kDeltaMaxSegment
//   4   4   its coded length L, at most DeltaMaxCoded of those bytes
//   8   L   its command stream, as above
// Each segment starts afresh (models, coder, old position 0, no bytes
// produced before it), so that threads decode segments side by side; its
// stream ends with its L bytes.
//
// The stream is a series of commands, each read as
//   seek    signed distance the old position moves by (it starts at 0)
//   add     count A of bytes made from the old file: new byte = old byte +
//           diff byte (mod 256), the diff bytes sent as runs of zeros each
//           followed by one coded byte, a run reaching A's end ending it
//   extra   count E of literal bytes, then the E bytes. With the flag
//           kDeltaRawLiterals, an E of at least kDeltaRawMin first says in
//           one bit whether its bytes are sent as they are (8 bits each at
//           even odds, the literal models neither used nor taught): noise-like
//           data (compressed entries) costs no more than its size. With
//           kDeltaFastCoding, each such byte is instead one symbol of 256
//           equal chances (the range split in 256: one step to decode).
// until the new file's size is produced. A command producing nothing, a seek
// leaving [0, old size], an add reading past the old file's end, or a count
// passing the new file's size makes the delta damaged.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/HelperThreads.h"
#include "payload/Blake3.h"
#include "payload/Sha256.h"
#include "pools/PtrPool.h"

constexpr char kDeltaMagic[4] = {'Q', 'D', 'L', 'T'};
constexpr uint32_t kDeltaHeaderSize = 24;
constexpr uint32_t kDeltaRawLiterals = 1;
// A stream laid out for decoding speed (DeltaModel.h, and raw bytes above).
constexpr uint32_t kDeltaFastCoding = 2;
// The new file in segments that decode independently (above).
constexpr uint32_t kDeltaSegments = 4;
// The old and new file's digests after the header's fixed fields (above).
constexpr uint32_t kDeltaDigests = 8;
// The old file's machine-code references predicted (above).
constexpr uint32_t kDeltaReferences = 16;
// The old file read from another path, named in the header (above).
constexpr uint32_t kDeltaSource = 32;
// The digests are BLAKE3-256, not SHA-256 (above).
constexpr uint32_t kDeltaBlake3 = 64;
constexpr uint32_t kDeltaKnownFlags = kDeltaRawLiterals | kDeltaFastCoding | kDeltaSegments | kDeltaDigests |
                                      kDeltaReferences | kDeltaSource | kDeltaBlake3;
// Either digest's size.
constexpr uint32_t kDeltaDigestSize = 32;
static_assert(kSha256Size == kDeltaDigestSize && kBlake3Size == kDeltaDigestSize, "one field for either digest");
// The longest source path, bounded by its length byte.
constexpr uint32_t kDeltaMaxSource = 255;
constexpr uint32_t kDeltaMaxHeaderSize = kDeltaHeaderSize + 2 * kDeltaDigestSize;
// The size of the fixed fields of a delta with these flags: where its stream
// starts, or its reference model with kDeltaReferences.
constexpr uint32_t DeltaHeaderSize(uint32_t flags) {
    return flags & kDeltaDigests ? kDeltaMaxHeaderSize : kDeltaHeaderSize;
}
constexpr uint32_t kDeltaRawMin = 256;
// The largest segment, and the longest coding of a segment of n bytes: what
// a rebuild holds in memory per segment decoded on a helper thread.
constexpr uint32_t kDeltaMaxSegment = 2u << 20;
constexpr uint32_t DeltaMaxCoded(uint32_t n) { return n + n / 4 + 1024; }
constexpr uint32_t kDeltaPairedFrom = 32768;
// A segment's decoding work in stream bytes: its stream, and with
// kDeltaReferences its new bytes too, as the old bytes they are made from
// are predicted as read (a well-matched segment of code has a short stream,
// yet takes as long as one of plain bytes).
constexpr uint32_t kDeltaPredictedPerWork = 16;
constexpr uint32_t DeltaSegmentWork(uint32_t stream, uint32_t newBytes, uint32_t flags) {
    return stream + (flags & kDeltaReferences ? newBytes / kDeltaPredictedPerWork : 0);
}
// Whether a pair of segments, of this work each, is decoded on two threads
// (the encoder sends segments only when some pair is).
constexpr bool DeltaPairOnTwoThreads(uint32_t first, uint32_t second, uint32_t pairedFrom) {
    return first >= pairedFrom && second >= pairedFrom;
}

struct DeltaHeader {
    uint32_t oldSize = 0;
    uint32_t oldCrc = 0;
    uint32_t newSize = 0;
    uint32_t newCrc = 0;
    uint32_t flags = 0;
    uint8_t oldDigest[kDeltaDigestSize] = {};  // with kDeltaDigests
    uint8_t newDigest[kDeltaDigestSize] = {};
    // With kDeltaSource; else empty once ReadDeltaHeader has begun. Left
    // out of the zeroing: a header is read before it is used.
    char source[kDeltaMaxSource + 1];
};

// The header's DeltaHeaderSize(header.flags) bytes (the source field, when
// there is one, goes after them).
void MakeDeltaHeader(const DeltaHeader& header, uint8_t out[kDeltaMaxHeaderSize]);

// Reads the header (with its digests and source) from the delta's current
// position. "BADDELTA" when it is short, its magic differs, it has a flag
// not known here or a combination refused above, or its source is no patch
// file path; a read error as given.
ErrorCode ReadDeltaHeader(CFile* delta, DeltaHeader* header);

// A second reader of the old file and the threads to decode segments on: with
// both, every second segment of a segmented delta is decoded on a helper
// thread while this one decodes the segment before it, when both segments of
// the pair have a work of at least pairedFrom. Below that a pair decodes faster
// here than a thread's first use of its memory takes.
struct DeltaHelper {
    HelperThreads threads;
    CFile* oldFile;
    uint32_t pairedFrom = kDeltaPairedFrom;
};

// Writes the new file to out (sequentially, from its current position) from
// the old file (read at random, through a 256 KB cache) and the delta (read
// sequentially from its current position). Memory stays about 10.4 MB,
// mostly the byte trees, touched as used (a segmented delta: two segments'
// streams more; with a helper, twice that and a segment's new bytes, about
// 27.5 MB, of which a fast stream touches at most about 15 MB) whatever the
// sizes. "WRONGBASE" when the old file's size is not the header's,
// "BADDELTA" for a damaged stream (nothing is read or written out of bounds:
// out gets at most the header's new size), "BADRESULT" when the produced
// bytes do not have the header's CRC (and digest, with kDeltaDigests),
// "NOTENOUGHMEM", or a read or write error as the files give it. That
// memory comes from pool (null: the default pool) and goes back to it
// before the return.
ErrorCode ApplyDelta(CFile* oldFile, CFile* delta, CFile* out, const DeltaHelper* helper = nullptr,
                     CPtrPool* pool = nullptr);
