// Directory data of the handle-pool file service: the entries of a directory
// packed back to back, with no header, gap or terminator. An entry is 8 + n
// bytes, little-endian:
//   0 u32 handle of the child (a file's content or a subdirectory)
//   4 u16 flags: bit 0 directory, bit 1 Rename refuses to move it, others kept
//   6 u16 name length n (at most 252)
//   8 n name bytes, no terminator, no '\' or '/'
// Names compare without regard to ASCII letter case.
#pragma once

#include <cstdint>

#include "framework/ErrorCode.h"

constexpr uint32_t kEntryHeaderSize = 8;
constexpr uint32_t kMaxNameLength = 252;
constexpr uint16_t kEntryDirectory = 0x0001;
constexpr uint16_t kEntryFixed = 0x0002;

struct DirectoryEntry {
    uint32_t handle = 0;
    uint16_t flags = 0;
    uint16_t nameLength = 0;
    char name[kMaxNameLength] = {};

    bool IsDirectory() const { return (flags & kEntryDirectory) != 0; }
    uint32_t StoredSize() const { return kEntryHeaderSize + nameLength; }
};

// Reads the entry at offset of a directory's data of size bytes into *entry.
// "INVALIDFORMAT" when the header or the name would run past the data or the
// name is longer than 252 bytes.
ErrorCode ParseEntry(const uint8_t* data, uint32_t size, uint32_t offset, DirectoryEntry* entry);
// The name length of the entry at offset, checked as by ParseEntry, without
// copying anything: directory scans read names in place.
ErrorCode EntryNameLength(const uint8_t* data, uint32_t size, uint32_t offset, uint16_t* length);
// Writes entry's 8 + n bytes to out.
void StoreEntry(const DirectoryEntry& entry, uint8_t* out);
// True for '\' and '/'.
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }
