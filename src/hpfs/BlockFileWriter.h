// Writing a new, empty block file. The system itself only reads and updates
// block files made elsewhere; tests, the sample installation and the patch
// tool need fresh ones to build on.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"

// Writes block 0 of an empty block file at the start of file: the "HPFS"
// header with block size blockSize (B), pointer offset pointerOffset (P),
// block limit blockLimit, next block 1, no free blocks and no root, padded
// with zeros to B bytes; then ends the file at B bytes. Nothing else is
// created: attach a CBFHP (which allocates handles) and, for a directory
// tree, construct a CHPFS on it, which makes the root directory.
//
// Returns "BADPARAMS" for a null file or a geometry that CBFHP would refuse
// (B not a multiple of 4 or outside 32 .. 1 MiB, P not a multiple of 4 or
// outside 8 .. B - 4), "NOTENOUGHMEM" when the block buffer cannot be had,
// and otherwise the file's error. The usual geometry is B = 512, P = 8.
ErrorCode WriteEmptyBlockFile(CFile* file, uint32_t blockSize, uint32_t pointerOffset, uint32_t blockLimit);
