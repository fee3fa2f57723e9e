// Writer of pack files (layout in PackFormat.h), for the tools that build
// patches. Names are stored upper-cased with backslash separators (a slash
// is taken as one), sorted by their unsigned bytes and front-coded; the
// files' bytes follow the date table back to back in directory order.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"

struct PackWriterEntry {
    const char* name;      // e.g. "Patch.ini", "Files\\Data\\a.bin"
    const uint8_t* data;   // size bytes (may be null when size is 0)
    uint32_t size;
    uint32_t dosDateTime;  // MS-DOS date in the high 16 bits, time in the low 16
};

// Refusals, before anything is written:
//   "BADPARAMS"      no entries (a reader refuses an empty directory), or a
//                    name that is empty, begins or ends with a separator or
//                    holds an empty component
//   "OUTOFRANGE"     a name longer than 255 bytes, or a pack past 4 GiB
//   "ALREADYEXISTS"  two names equal after upper-casing, or a file name that
//                    is also the directory of another entry
//   "NOTENOUGHMEM"   no memory for the directory

// Writes the pack from position 0 of target and ends target there.
ErrorCode WritePack(const PackWriterEntry* entries, uint32_t count, CFile* target);

// Builds the pack in one buffer from g_pDefaultPtrPool, which the caller
// frees with g_pDefaultPtrPool->Free.
ErrorCode BuildPackImage(const PackWriterEntry* entries, uint32_t count, uint8_t** image, uint32_t* imageSize);

// As BuildPackImage, plus the checksum entry "PATCH.CRC" (PatchCrc.h) of
// the given format version: its bytes lie last in the image and cover every
// byte before them. Version 1's are filled in; version 2's 24 bytes are left
// zero, for CompressSealedPatch (PatchSeal.h) to fill as it compresses. An
// entry of that name among the given ones is refused with "ALREADYEXISTS".
ErrorCode BuildCheckedPackImage(const PackWriterEntry* entries, uint32_t count, uint8_t** image,
                                uint32_t* imageSize, uint32_t version = 1);

// The layout of the pack BuildCheckedPackImage builds, for a writer that
// streams the files' bytes itself (the entries' data is not read): *head
// receives the header, directory and date table (*headSize bytes from
// g_pDefaultPtrPool, which the caller frees), offsets[k] the data offset of
// entries[k] (count slots), *totalSize the pack's size. The checksum entry's
// bytes (as many as its version's format has) go last and cover every byte
// before them.
ErrorCode PlanCheckedPack(const PackWriterEntry* entries, uint32_t count, uint8_t** head, uint32_t* headSize,
                          uint32_t* offsets, uint32_t* totalSize, uint32_t version = 1);
