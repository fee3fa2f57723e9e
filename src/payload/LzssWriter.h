// Writers of the block-compressed container (layout in LzssFormat.h).
//
// Both write the container from position 0 of target and end target there
// (Seek and Truncate). To place a container behind other bytes, for example
// behind a program image, hand them a CWindowFile that starts at the
// container's offset. The patch program finds its payload by scanning its own
// file in 8192-byte steps for "LZSS" followed, eight bytes on, by the block
// size 0x8000: a payload container must start at a multiple of 8192 and use
// kLzssPatchBlockSize and kLzssPatchBitLengths.
//
// Layout of what CompressLzssImage writes, for tools that need it:
//   header          kLzssHeaderSize bytes at 0
//   block table     LzssBlockCount(size, blockSize) entries at kLzssTableOffset
//   block k         from table[k] (table[0] = LzssDataStart(count)) to table[k + 1],
//                   the last block to the container's end
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"

// Writes an empty container (size 0, one block of stored length 0) that a
// CLzssFile opened on target can then fill. "BADPARAMS" for a block size of
// 0 or above kLzssMaxBlockSize, "NOSUCHBITLENGTHS" for an unsupported
// bit-lengths byte, else the target's errors.
ErrorCode CreateLzssContainer(CFile* target, uint32_t blockSize, uint8_t bitLengths);

// Writes a container holding the size bytes of image, each block compressed
// on its own or stored raw when compression does not make it shorter.
// containerSize (may be null) receives the container's length. Errors as for
// CreateLzssContainer, "NOTENOUGHMEM", or the target's.
ErrorCode CompressLzssImage(const uint8_t* image, uint32_t size, CFile* target, uint32_t blockSize,
                            uint8_t bitLengths, uint32_t* containerSize);
