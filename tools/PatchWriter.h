// Writes a patch as a stream. The pack image is assembled 32768 bytes at a
// time from the source files (never held whole), its blocks are compressed
// on several threads, each with the coder's scratch state of its own, and
// written in block order into the container behind the stub; the checksum
// entry is computed on the way and goes last. Memory stays bounded whatever
// the size of the patch. The bytes are those of the in-memory build: the
// checked pack image with a version-2 entry (BuildCheckedPackImage), the
// container of CompressSealedPatch and the layout of LayOutPatch.
#pragma once

#include "OutputFile.h"
#include "PatchSources.h"
#include "Progress.h"

#include "payload/PatchLimits.h"

#include <cstdint>
#include <vector>

struct PatchWriteResult {
    uint64_t patchSize = 0;
    uint64_t payloadOffset = 0;
    uint32_t packSize = 0;
};

// Refuses, before anything is written, a patch the patcher could not read
// back from its own file (payload/PatchLimits.h): a pack past its limit, or
// a patch file past maxPatchSize. Where only compression tells the file's
// size, the pack is compressed once without writing. Throws ToolError
// naming the file that passes the limit, and the limit.
void CheckPatchFits(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources, unsigned threads,
                    uint64_t maxPatchSize = kMaxPatchFileSize);

// threads: how many blocks are compressed at once (1: on the calling thread
// alone). Throws ToolError when a source cannot be read or changed size, or
// the stub holds a container header the patcher's scan would take.
PatchWriteResult WritePatch(const std::vector<uint8_t>& stub, const std::vector<PatchSource>& sources,
                            unsigned threads, OutputStream* out, Progress* progress);
