// Where the payload goes in a patch file. The patcher scans its own file for
// the container header ("LZSS", then the block size 0x8000 at +8) only at
// starts below L = (file size rounded down to 8192) - 8192, and takes the
// first match. So the container starts at the first multiple of 8192 behind
// the stub (zeros fill the gap), and the file must run at least 16384 bytes
// past that start: a shorter container gets its last block stored raw and
// zeros behind it, which a raw block may carry up to the block size. A
// longer one starts up to 7 bytes later, so that the file's length is a
// multiple of kFileAlignment (a signature's certificate table goes there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "payload/PayloadScan.h"

constexpr size_t kFileAlignment = 8;

// Stub, padding and container as the patch file's bytes; image is the pack
// the container holds (for storing its last block raw). Throws ToolError
// when the stub itself holds a header the scan would find first.
std::vector<uint8_t> LayOutPatch(const std::vector<uint8_t>& stub, std::vector<uint8_t> container,
                                 const uint8_t* image, uint32_t imageSize, size_t* payloadOffset);

// For a writer that streams the container: where a container of
// containerSize bytes starts behind stub, as LayOutPatch places it, when it
// is long enough to need no padding; false when it is shorter (LayOutPatch
// then stores its last block raw and pads it).
bool StreamedContainerStart(const std::vector<uint8_t>& stub, size_t containerSize, size_t* start);
