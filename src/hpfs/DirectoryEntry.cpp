#include "hpfs/DirectoryEntry.h"

#include <cstring>

#include "hpfs/BlockFileFormat.h"

ErrorCode EntryNameLength(const uint8_t* data, uint32_t size, uint32_t offset, uint16_t* length) {
    if (offset > size || size - offset < kEntryHeaderSize) return ERR_INVALIDFORMAT;
    *length = LoadU16(data + offset + 6);
    if (*length > kMaxNameLength || size - offset - kEntryHeaderSize < *length) return ERR_INVALIDFORMAT;
    return nullptr;
}

ErrorCode ParseEntry(const uint8_t* data, uint32_t size, uint32_t offset, DirectoryEntry* entry) {
    uint16_t length;
    if (ErrorCode error = EntryNameLength(data, size, offset, &length)) return error;
    const uint8_t* at = data + offset;
    entry->handle = LoadU32(at);
    entry->flags = LoadU16(at + 4);
    entry->nameLength = length;
    std::memcpy(entry->name, at + kEntryHeaderSize, length);
    return nullptr;
}

void StoreEntry(const DirectoryEntry& entry, uint8_t* out) {
    StoreU32(out, entry.handle);
    StoreU16(out + 4, entry.flags);
    StoreU16(out + 6, entry.nameLength);
    std::memcpy(out + kEntryHeaderSize, entry.name, entry.nameLength);
}
