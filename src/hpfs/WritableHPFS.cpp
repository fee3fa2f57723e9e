// CWritableHPFS: the operations that change the tree, and adding and
// removing directory entries.
#include "hpfs/WritableHPFS.h"

#include <cstring>

#include "framework/AsciiText.h"
#include "hpfs/FileHandlePool.h"

static const char kWritableHPFSName[] = "CWritableHPFS";
const char* const CWritableHPFS::className = kWritableHPFSName;

namespace {
// Next non-empty component of path from *at: its start and length, or false.
bool NextComponent(const char* path, uint32_t* at, const char** start, uint32_t* length) {
    while (path[*at] && IsPathSeparator(path[*at])) ++*at;
    if (!path[*at]) return false;
    *start = path + *at;
    uint32_t end = *at;
    while (path[end] && !IsPathSeparator(path[end])) ++end;
    *length = end - *at;
    *at = end;
    return true;
}

// Whether inner names something below outer (component by component,
// ignoring case): moving outer there would cut it off in a cycle.
bool IsBelow(const char* inner, const char* outer) {
    uint32_t atInner = 0, atOuter = 0;
    const char *a, *b;
    uint32_t lengthA, lengthB;
    while (NextComponent(outer, &atOuter, &b, &lengthB)) {
        if (!NextComponent(inner, &atInner, &a, &lengthA)) return false;
        if (lengthA != lengthB || CompareNoCaseN(a, b, lengthA) != 0) return false;
    }
    return NextComponent(inner, &atInner, &a, &lengthA);
}

ErrorCode PoolError(CHandlePool* pool) {
    ErrorCode error = pool->LastError();
    return error ? error : ERR_UNKNOWN;
}
}  // namespace

CWritableHPFS::CWritableHPFS(CHandlePool* handlePool) : CHPFS(handlePool) {
    if (root == 0) {
        root = pool->Alloc(0);
        if (root) pool->SetRoot(root);
    }
}

const char* CWritableHPFS::GetClassName() const { return className; }

CObject* CWritableHPFS::IsKindOf(const char* name) {
    if (name == className) return this;
    return CHPFS::IsKindOf(name);
}

ErrorCode CWritableHPFS::MakeFile(const char* path, PoolHandle* handle) {
    *handle = pool->Alloc(0);
    if (!*handle) return pool->LastError() ? pool->LastError() : ERR_ALLOCFAIL;
    ErrorCode error = CreateByPath(path, *handle, 0);
    if (error) pool->Free(*handle);
    return error;
}

ErrorCode CWritableHPFS::EmptyFile(PoolHandle handle) { return pool->Realloc(handle, 0) ? nullptr : PoolError(pool); }

// The entry goes first and the content after: a failure in between leaves
// unreachable blocks, never an entry naming freed ones. An open file is not
// deleted from under its reader.
ErrorCode CWritableHPFS::Delete(const char* path) {
    Location location;
    if (ErrorCode error = Resolve(path, kWholeHandle, &location)) return error;
    if (location.entry.IsDirectory()) return ERR_UNKNOWN;
    if (IsOpen(location.entry.handle)) return ERR_SHARING;
    // A file entry naming its own directory or the root is damage: freeing
    // it would leave that directory's entry naming a free block.
    if (location.entry.handle == location.directory || location.entry.handle == root) return ERR_INVALIDFORMAT;
    // Freeing a damaged tree would give away blocks of other handles.
    if (ErrorCode error = CheckHandle(location.entry.handle)) return error;
    if (ErrorCode error = RemoveEntry(location)) return error;
    pool->Free(location.entry.handle);
    return nullptr;
}

// The new place is checked, and the new entry added, before the old one is
// removed, so a refused or failed Rename leaves the entry where it was. A
// directory cannot move below itself.
ErrorCode CWritableHPFS::Rename(const char* oldPath, const char* newPath) {
    Location location;
    if (ErrorCode error = Resolve(oldPath, kWholeHandle, &location)) return error;
    if (location.entry.flags & kEntryFixed) return ERR_UNKNOWN;
    if (location.entry.IsDirectory() && IsBelow(newPath, oldPath)) return ERR_UNKNOWN;

    PoolHandle parent;
    const char* name;
    uint32_t nameLength;
    Location clash;
    if (CheckNewPath(newPath, &parent, &name, &nameLength) || nameLength == 0 || nameLength > kMaxNameLength)
        return ERR_UNKNOWN;
    ErrorCode lookup = FindName(parent, name, nameLength, &clash);
    bool sameEntry = !lookup && clash.directory == location.directory && clash.offset == location.offset;
    if (!lookup && !sameEntry) return ERR_UNKNOWN;

    // Paths cached through the moved entry would name the old place.
    DropCache();
    const DirectoryEntry& moved = location.entry;
    if (sameEntry) {
        // To its own name (in any letter case): the entry moves to the end.
        if (ErrorCode error = RemoveEntry(location)) return error;
        if (AddEntry(parent, name, nameLength, moved.handle, moved.flags)) {
            AddEntry(location.directory, moved.name, moved.nameLength, moved.handle, moved.flags);
            return ERR_UNKNOWN;
        }
        return nullptr;
    }
    // The new entry first: when anything fails, the old one is where it was.
    if (AddEntry(parent, name, nameLength, moved.handle, moved.flags)) return ERR_UNKNOWN;
    if (ErrorCode error = RemoveEntry(location)) {
        Location added;
        if (!FindName(parent, name, nameLength, &added)) RemoveEntry(added);
        return error;
    }
    return nullptr;
}

ErrorCode CWritableHPFS::MakeDirectory(const char* parentPath, const char* name) {
    PoolHandle parent;
    if (ErrorCode error = ResolveDirectory(parentPath, kWholeHandle, &parent)) return error;
    uint32_t length = uint32_t(std::strlen(name));
    if (length == 0) return ERR_UNKNOWN;
    if (length > kMaxNameLength) return ERR_BADPARAMS;
    PoolHandle handle = pool->Alloc(0);
    if (!handle) return pool->LastError() ? pool->LastError() : ERR_ALLOCFAIL;
    if (ErrorCode error = AddEntry(parent, name, length, handle, kEntryDirectory)) {
        pool->Free(handle);
        return error;
    }
    return nullptr;
}

ErrorCode CWritableHPFS::RemoveDirectory(const char* parentPath, const char* name) {
    PoolHandle parent;
    if (ErrorCode error = ResolveDirectory(parentPath, kWholeHandle, &parent)) return error;
    Location location;
    if (ErrorCode error = FindName(parent, name, uint32_t(std::strlen(name)), &location)) return error;
    // A damaged size must not pass for empty.
    if (ErrorCode error = CheckHandle(location.entry.handle)) return error;
    if (pool->Size(location.entry.handle) != 0) return ERR_UNKNOWN;
    if (IsOpen(location.entry.handle)) return ERR_SHARING;
    // The cache may hold the directory being removed.
    DropCache();
    if (ErrorCode error = RemoveEntry(location)) return error;
    pool->Free(location.entry.handle);
    return nullptr;
}

// Names are 1..252 bytes without separators; the directory must not hold
// the name yet. On failure the directory is as it was.
ErrorCode CWritableHPFS::AddEntry(PoolHandle directory, const char* name, uint32_t length, PoolHandle handle,
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
ErrorCode CWritableHPFS::CheckNewPath(const char* path, PoolHandle* parent, const char** name, uint32_t* nameLength) {
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

ErrorCode CWritableHPFS::CreateByPath(const char* path, PoolHandle handle, uint16_t flags) {
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
ErrorCode CWritableHPFS::RemoveEntry(const Location& location) {
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
