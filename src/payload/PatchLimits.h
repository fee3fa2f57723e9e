// The largest patch the patcher reads back from its own executable.
//
// Every position of the file layer is unsigned 32-bit, and the patcher reads
// its payload through one disk file: the stub, the padding and the container
// behind it (and, once the patch is signed, the certificate table) must all
// lie below 4 GiB, so a patch file holds at most 4 GiB - 1 bytes. The pack
// inside the container is addressed the same way (its size, its entries'
// offsets and sizes are 32-bit) and holds at most 4 GiB - 1 bytes too; it
// may be larger than the patch file, which carries it compressed.
#pragma once

#include <cstdint>

constexpr uint64_t kMaxPatchFileSize = 0xFFFFFFFFull;
constexpr uint64_t kMaxPackSize = 0xFFFFFFFFull;
