// CHPFS: directory listings. FindFirst takes a snapshot of the directory's
// data (one byte more, for the NUL after the last name); each entry's name
// is presented in place, NUL-terminated over the first byte of the next
// entry, which the listing never needs.
#include "hpfs/BlockFileFormat.h"
#include "hpfs/HPFS.h"
#include "pools/DefaultPools.h"

ErrorCode CHPFS::PresentEntry(FindRecord* record, uint32_t offset) {
    auto* data = static_cast<uint8_t*>(record->state);
    DirectoryEntry entry;
    if (ErrorCode error = ParseEntry(data, uint32_t(record->cookie), offset, &entry)) return error;
    record->attributes = entry.IsDirectory() ? FA_DIRECTORY : 0;
    record->name = reinterpret_cast<char*>(data + offset + kEntryHeaderSize);
    record->name[entry.nameLength] = 0;
    return nullptr;
}

ErrorCode CHPFS::FindFirst(FindRecord* record, const char* directoryPath) {
    if (!record) return ERR_BADPARAMS;
    PoolHandle directory;
    if (ErrorCode error = ResolveDirectory(directoryPath, kWholeHandle, &directory)) return error;
    record->service = this;
    record->state = nullptr;
    record->name = nullptr;
    // A damaged directory must not list as empty.
    if (ErrorCode error = CheckHandle(directory)) return error;
    uint32_t size = pool->Size(directory);
    record->cookie = size;
    if (size == 0) return ERR_NOMOREFILES;
    if (size == UINT32_MAX) return ERR_ALLOCFAIL;
    record->state = g_pDefaultPtrPool->Alloc(size + 1);
    if (!record->state) return ERR_ALLOCFAIL;
    if (ErrorCode error = pool->Read(directory, record->state, 0, size)) return error;
    return PresentEntry(record, 0);
}

ErrorCode CHPFS::FindNext(FindRecord* record) {
    if (!record || !record->state || !record->name) return ERR_BADPARAMS;
    auto* data = static_cast<uint8_t*>(record->state);
    uint32_t offset = uint32_t(reinterpret_cast<uint8_t*>(record->name) - data) - kEntryHeaderSize;
    uint32_t next = offset + kEntryHeaderSize + LoadU16(data + offset + 6);
    if (next >= record->cookie) return ERR_NOMOREFILES;
    return PresentEntry(record, next);
}

ErrorCode CHPFS::FindClose(FindRecord* record) {
    if (!record) return ERR_BADPARAMS;
    if (record->state) g_pDefaultPtrPool->Free(record->state);
    record->state = nullptr;
    record->name = nullptr;
    return nullptr;
}
