// CHPFS: finding names in directories, resolving paths, the directory cache,
// and adding and removing entries.
#include <cstring>

#include "framework/AsciiText.h"
#include "hpfs/FileHandlePool.h"
#include "hpfs/HPFS.h"

namespace {
ErrorCode PoolError(CHandlePool* pool) {
    ErrorCode error = pool->LastError();
    return error ? error : ERR_UNKNOWN;
}
}  // namespace

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

// Names are 1..252 bytes without separators; the directory must not hold
// the name yet. On failure the directory is as it was.
ErrorCode CHPFS::AddEntry(PoolHandle directory, const char* name, uint32_t length, PoolHandle handle,
                          uint16_t flags) {
    if (length == 0 || directory == 0) return ERR_UNKNOWN;
    if (length > kMaxNameLength) return ERR_BADPARAMS;
    for (uint32_t i = 0; i < length; ++i)
        if (IsPathSeparator(name[i])) return ERR_BADPARAMS;
    if (handle > UINT32_MAX) return ERR_BADPARAMS;  // entries hold 32-bit handles
    if (directory == cacheHandle) DropCache();

    Location existing;
    bool present;
    uint32_t oldSize;
    if (ErrorCode error = FindInDirectory(directory, name, length, &existing, &present, &oldSize)) return error;
    if (present) return ERR_UNKNOWN;
    // A size that Size could not deliver would shrink the directory here.
    if (pool->Size(directory) != oldSize) return ERR_UNKNOWN;
    if (oldSize > UINT32_MAX - kEntryHeaderSize - length) return ERR_BADPARAMS;

    DirectoryEntry entry;
    entry.handle = uint32_t(handle);
    entry.flags = flags;
    entry.nameLength = uint16_t(length);
    std::memcpy(entry.name, name, length);
    uint8_t bytes[kEntryHeaderSize + kMaxNameLength];
    StoreEntry(entry, bytes);

    PoolHandle grown = pool->Realloc(directory, oldSize + entry.StoredSize());
    if (!grown) return PoolError(pool);
    if (ErrorCode error = pool->Write(directory, bytes, oldSize, entry.StoredSize())) {
        pool->Realloc(directory, oldSize);  // no half-written entry stays behind
        return error;
    }
    return nullptr;
}

// The parent of a path to be created (the root when it has no separator)
// and the name after its last separator.
ErrorCode CHPFS::CheckNewPath(const char* path, PoolHandle* parent, const char** name, uint32_t* nameLength) {
    uint32_t length = uint32_t(std::strlen(path));
    uint32_t last = length;
    while (last > 0 && !IsPathSeparator(path[last - 1])) --last;
    *name = path + last;
    *nameLength = length - last;
    if (last == 0) {
        *parent = root;
        return nullptr;
    }
    return ResolveDirectory(path, last - 1, parent);
}

ErrorCode CHPFS::CreateByPath(const char* path, PoolHandle handle, uint16_t flags) {
    PoolHandle parent;
    const char* name;
    uint32_t nameLength;
    if (ErrorCode error = CheckNewPath(path, &parent, &name, &nameLength)) return error;
    return AddEntry(parent, name, nameLength, handle, flags);
}

// The directory shrinks first and the entries after the removed one are
// written down after that: a shrink that fails leaves the directory as it
// was, and a write that fails puts the old bytes back. The copy locked here
// is never written back.
ErrorCode CHPFS::RemoveEntry(const Location& location) {
    const PoolHandle directory = location.directory;
    if (directory == 0) return ERR_UNKNOWN;
    // The cache's copy would be stale once the directory changes.
    if (directory == cacheHandle) DropCache();
    uint32_t size;
    uint8_t* data = LockDirectory(directory, &size);
    if (!data) return ERR_UNKNOWN;
    const uint32_t offset = location.offset, entrySize = location.entry.StoredSize();
    // The entry must still be there, byte for byte, where it was found.
    uint8_t stored[kEntryHeaderSize + kMaxNameLength];
    StoreEntry(location.entry, stored);
    if (offset > size || size - offset < entrySize || std::memcmp(data + offset, stored, entrySize) != 0) {
        pool->Unlock(directory, 0);
        return ERR_INVALIDFORMAT;
    }
    const uint32_t after = size - offset - entrySize;
    ErrorCode error = nullptr;
    bool restore = false;
    if (!pool->Realloc(directory, size - entrySize)) {
        error = PoolError(pool);
        restore = pool->Size(directory) != size;  // the shrink failed part-way
    } else if (after && (error = pool->Write(directory, data + offset + entrySize, offset, after))) {
        restore = true;
    }
    if (restore && pool->Realloc(directory, size)) pool->Write(directory, data, 0, size);
    pool->Unlock(directory, 0);
    return error;
}
