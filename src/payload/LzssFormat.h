// The block-compressed container ("LZSS"). All integers little-endian;
// offsets count from the container's first byte.
//
//   0   4          magic "LZSS"
//   4   4          uncompressed size of the contents
//   8   4          block size: uncompressed bytes per block
//   12  1          bit-lengths byte: high nibble O offset bits, low nibble N length bits
//   13  1          reserved, 0
//   14  4 x count  block-offset table: where each block's stored bytes begin
//   table[0] ...   the stored blocks, back to back in block order
//
// count = (size - 1) / blockSize + 1, or 1 for an empty container. Block k's
// stored bytes run to table[k + 1], the last block's to the container's end.
// A block whose stored length is below its uncompressed length is an LZSS
// stream (length 0: all zeros); otherwise its first bytes are the data, raw.
//
// The stream is read most significant bit first, as tokens:
//   1, 8-bit value             literal
//   0, O-bit F, N-bit L        match of L + 2 bytes from distance 2^O - F;
//                              F = 0 skips L + 2 output bytes unwritten
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"

constexpr char kLzssMagic[4] = {'L', 'Z', 'S', 'S'};
constexpr uint32_t kLzssHeaderSize = 14;     // magic, size, block size, bit lengths, reserved
constexpr uint32_t kLzssTableOffset = 14;    // the block-offset table follows the header
constexpr uint32_t kLzssPatchBlockSize = 0x8000;
constexpr uint8_t kLzssPatchBitLengths = 0xC4;

// Block sizes this library opens and creates. A larger header value is
// refused as corrupt: no writer makes such blocks, and honouring one would
// mean allocating whatever a damaged header says.
constexpr uint32_t kLzssMaxBlockSize = 0x1000000;

// Offset bits and length bits of a bit-lengths byte.
inline unsigned LzssOffsetBits(uint8_t bitLengths) { return bitLengths >> 4; }
inline unsigned LzssLengthBits(uint8_t bitLengths) { return bitLengths & 0x0F; }

// The 15 supported bytes: 0xA1..0xA5, 0xB1..0xB5, 0xC1..0xC5.
inline bool LzssBitLengthsSupported(uint8_t bitLengths) {
    unsigned o = LzssOffsetBits(bitLengths), n = LzssLengthBits(bitLengths);
    return o >= 10 && o <= 12 && n >= 1 && n <= 5;
}

// Number of blocks of a container with this size and block size (> 0).
inline uint32_t LzssBlockCount(uint32_t size, uint32_t blockSize) {
    return size == 0 ? 1 : (size - 1) / blockSize + 1;
}

// Where the first stored block begins when the table holds count entries.
inline uint64_t LzssDataStart(uint32_t count) { return kLzssTableOffset + 4ull * count; }

// Uncompressed length of block index of a container.
inline uint32_t LzssBlockLength(uint32_t size, uint32_t blockSize, uint32_t index) {
    uint32_t count = LzssBlockCount(size, blockSize);
    return index + 1 < count ? blockSize : size - (count - 1) * blockSize;
}

// Work buffer of a block: the block, plus the margin that lets a stream be
// decoded in place from the buffer's end.
inline uint64_t LzssWorkBufferSize(uint32_t blockSize) { return uint64_t(blockSize) + blockSize / 8 + 2; }

// Decodes one stored stream. On entry *destinationLength is the most bytes
// the block may produce (its block size); on success it is the count
// produced. The destination may be the start of the buffer whose end holds
// the source (in-place decoding: output never overtakes the unread input of
// a sound stream). Only the produced bytes are written; bytes a skip token
// passes keep what the destination held.
// Errors: "NOSUCHBITLENGTHS" for an unsupported byte (only when there is a
// stream), "INVALIDFORMAT" for a copy from before the block's start, output
// past the capacity, or a token that runs past the stored bytes;
// "BADPARAMS" for a stream of 512 MiB or more.
ErrorCode DecodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t* destinationLength, uint8_t bitLengths);

// DecodeBlock's result faster, for a destination apart from the source: the
// bytes a skip token passes become zeros, and the bytes from the produced
// end to the capacity may be overwritten with anything. Same errors.
ErrorCode DecodeBlockScribbling(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                                uint32_t* destinationLength, uint8_t bitLengths);

// Greedy LZSS coder over a binary search tree of the last 2^O - 1 positions.
// On entry *destinationLength is the destination's capacity; on success the
// bytes written. "BUFFERTOOSMALL" when the capacity runs out (the length is
// left as it was), "NOSUCHBITLENGTHS" for an unsupported byte,
// "NOTENOUGHMEM" when the tree cannot be allocated. With a reference (as
// long as the source), runs equal to the reference at the same position
// become skip tokens (F = 0), which a decoder into a copy of the reference
// leaves in place.
ErrorCode EncodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                      uint32_t* destinationLength, uint8_t bitLengths, const uint8_t* reference);

// Bytes of the coder's scratch state (its search tree) for a bit-lengths
// byte, 0 for an unsupported one. EncodeBlock takes it from the default
// pool on every call; a caller that encodes many blocks, or on several
// threads, keeps one scratch area per thread and uses EncodeBlockWithScratch.
uint32_t LzssEncoderScratchSize(uint8_t bitLengths);

// EncodeBlock over caller-owned scratch memory of LzssEncoderScratchSize
// bytes, aligned to 16 bytes ("BADPARAMS" when null for a non-empty
// source). The output is the same as EncodeBlock's; a thread may encode
// blocks concurrently with others as long as each uses its own scratch.
ErrorCode EncodeBlockWithScratch(const uint8_t* source, uint32_t sourceLength, uint8_t* destination,
                                 uint32_t* destinationLength, uint8_t bitLengths, const uint8_t* reference,
                                 void* scratch);
