// CHPFS: finding names in directories, resolving paths, the directory cache.
#include <cstring>

#include "framework/AsciiText.h"
#include "hpfs/FileHandlePool.h"
#include "hpfs/HPFS.h"

// Locks directory and yields its data with the size of that locked copy.
// While a copy is held (the directory cache) the pool's size can differ
// from it: a file entry naming its own directory's handle resizes the
// directory through the file. Walks keep to the copy.
uint8_t* CHPFS::LockDirectory(PoolHandle directory, uint32_t* size) {
    *size = pool->Size(directory);
    auto* data = static_cast<uint8_t*>(pool->Lock(directory));
    if (data && pool->IsKindOf(CFileHandlePool::className))
        *size = static_cast<CFileHandlePool*>(pool)->LockedSize(directory);
    return data;
}

// Walks the entries of a locked copy of directory. *present tells whether
// name was found; a malformed entry fails with "INVALIDFORMAT" instead of
// being read past. *directorySize receives the size the walk covered.
ErrorCode CHPFS::FindInDirectory(PoolHandle directory, const char* name, uint32_t length, Location* found,
                                 bool* present, uint32_t* directorySize) {
    *present = false;
    if (directory == 0) return ERR_UNKNOWN;
    // A directory read afresh is checked whole first.
    if (!pool->PointerOf(directory))
        if (ErrorCode error = CheckHandle(directory)) return error;
    uint32_t size;
    const uint8_t* data = LockDirectory(directory, &size);
    if (!data) return pool->LastError() ? pool->LastError() : ERR_NOTFOUND;
    ErrorCode error = nullptr;
    uint32_t offset = 0;
    // Each entry lies wholly inside [0, size): EntryNameLength checks it.
    // Names are compared in place; only the match is copied out.
    while (offset < size) {
        uint16_t entryLength;
        if ((error = EntryNameLength(data, size, offset, &entryLength))) break;
        if (entryLength == length && length != 0 &&
            CompareNoCaseN(reinterpret_cast<const char*>(data + offset + kEntryHeaderSize), name, length) == 0) {
            error = ParseEntry(data, size, offset, &found->entry);
            found->directory = directory;
            found->offset = offset;
            *present = !error;
            break;
        }
        offset += kEntryHeaderSize + entryLength;
    }
    pool->Unlock(directory, 0);
    if (directorySize) *directorySize = size;
    return error;
}

ErrorCode CHPFS::FindName(PoolHandle directory, const char* name, uint32_t length, Location* found) {
    bool present;
    if (ErrorCode error = FindInDirectory(directory, name, length, found, &present, nullptr)) return error;
    return present ? nullptr : ERR_NOTFOUND;
}

void CHPFS::SetCache(PoolHandle directory, const char* path, uint32_t length) {
    if (directory != cacheHandle) {
        if (cacheHandle) pool->Unlock(cacheHandle, 0);
        cacheHandle = 0;
        // The cache counts as holding a lock only when the lock was had.
        if (directory && pool->Lock(directory)) cacheHandle = directory;
    }
    if (!cacheHandle) length = 0;
    std::memcpy(cachePath, path, length);
    cachePath[length] = 0;
}

void CHPFS::EnableDirectoryCache(bool enable) {
    cacheEnabled = enable;
    if (!enable) DropCache();
}

// A path ending in a separator names the directory before it; the entry
// reported is that directory's own, in its parent, so that Rename and the
// other callers remove and edit the right bytes.
ErrorCode CHPFS::Resolve(const char* path, uint32_t length, Location* found) {
    if (length == kWholeHandle) length = uint32_t(std::strlen(path));
    PoolHandle directory = root;
    uint32_t start = length > 0 && IsPathSeparator(path[0]) ? 1 : 0;
    uint32_t at = start;
    if (at == length) {
        found->directory = 0;
        found->offset = 0;
        found->entry = DirectoryEntry();
        found->entry.handle = uint32_t(root);
        found->entry.flags = kEntryDirectory | kEntryFixed;
        return nullptr;
    }

    uint32_t cached = uint32_t(std::strlen(cachePath));
    if (cacheHandle && cached < length - at - 1 && IsPathSeparator(path[at + cached]) &&
        CompareNoCaseN(path + at, cachePath, cached) == 0) {
        directory = cacheHandle;
        at += cached + 1;
    }

    bool passedSeparator = false;
    uint32_t lastSeparator = 0;
    for (;;) {
        uint32_t end = at;
        while (end < length && !IsPathSeparator(path[end])) ++end;
        if (end == at) return ERR_NOTFOUND;  // an empty component names nothing
        if (ErrorCode error = FindName(directory, path + at, end - at, found)) return error;
        at = end;
        if (at == length) break;
        if (!found->entry.IsDirectory()) return ERR_UNKNOWN;
        directory = found->entry.handle;
        passedSeparator = true;
        lastSeparator = at;
        ++at;
        if (at == length) break;
    }
    if (passedSeparator && cacheEnabled && lastSeparator - start < sizeof cachePath)
        SetCache(directory, path + start, lastSeparator - start);
    return nullptr;
}

ErrorCode CHPFS::ResolveDirectory(const char* path, uint32_t length, PoolHandle* directory) {
    Location location;
    if (ErrorCode error = Resolve(path, length, &location)) return error;
    if (!location.entry.IsDirectory()) return ERR_UNKNOWN;
    *directory = location.entry.handle;
    return nullptr;
}
