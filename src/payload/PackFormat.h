// The pack file: a read-only archive of named files. Integers are
// little-endian u32; offsets count from the pack's first byte.
//
//   0    18     magic "QVXSYS PackFile", 0x0A, 0x1A, 0x00
//   18   14     reserved, zero
//   32   4      entry count
//   36   4      directory size in bytes
//   40   dir    the directory (layout in PackIndex.h), 8 bytes of data per
//               entry: data offset from the pack's start, data size
//   ...  4 x n  one MS-DOS date and time per entry, in directory order
//               (date in the high 16 bits)
//   ...         the files' bytes, each one contiguous run
//
// Names are upper case, backslash-separated, without a leading backslash;
// directories exist only through the names of their files.
#pragma once

#include <cstdint>

constexpr char kPackMagic[18] = {'Q', 'V', 'X', 'S', 'Y', 'S', ' ', 'P', 'a', 'c',
                                 'k', 'F', 'i', 'l', 'e', 0x0A, 0x1A, 0x00};
constexpr uint32_t kPackHeaderSize = 40;
constexpr uint32_t kPackCountOffset = 32;
constexpr uint32_t kPackDirectorySizeOffset = 36;
constexpr uint16_t kPackEntryDataSize = 8;
constexpr uint16_t kPackSampleInterval = 100;
constexpr uint32_t kPackMaxNameLength = 255;
