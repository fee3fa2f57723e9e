// A file's BLAKE3 on two threads: this thread reads and hashes the file's
// first half, a helper thread its second half through a second reader of
// the same file, and the second half's tree is joined to the first's
// (CBlake3::Join). Each thread reads into its own buffer, which stays in its
// own processor's cache. The check before the first change takes a large
// key file this way.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "payload/DeltaContent.h"
#include "payload/HelperThreads.h"

// MeasureContent (DeltaContent.h) for kMeasureBlake3 alone: file read from
// its start through buffers[0] here, and other (a second reader of it) from
// the middle through buffers[1] on a helper thread from threads (here,
// after the first half, when none can be had); bufferSize bytes each. A read
// error as a file gives it (the first half's first); "EOF" when one ends
// before file's size.
ErrorCode MeasureBlake3Halves(CFile* file, CFile* other, uint8_t* const buffers[2], uint32_t bufferSize,
                              const HelperThreads& threads, DeltaContent* content);
