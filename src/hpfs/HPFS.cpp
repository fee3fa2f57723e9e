// CHPFS: construction, opening files with the sharing test, and the
// operations that change the tree.
#include "hpfs/HPFS.h"

#include <cstring>

#include "framework/AsciiText.h"
#include "hpfs/BFHP.h"
#include "hpfs/HPFSFile.h"

static const char kHPFSName[] = "CHPFS";
const char* const CHPFS::className = kHPFSName;

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
}  // namespace

CHPFS::CHPFS(CHandlePool* handlePool) : pool(handlePool) {
    root = pool->GetRoot();
    if (root == 0) {
        root = pool->Alloc(0);
        if (root) pool->SetRoot(root);
    }
}

CHPFS::~CHPFS() {
    for (CHPFSFile* file = openFiles; file; file = file->next) file->owner = nullptr;
    DropCache();
    delete pool;
}

const char* CHPFS::GetClassName() const { return className; }

CObject* CHPFS::IsKindOf(const char* name) {
    if (name == className) return this;
    return CFileService::IsKindOf(name);
}

void CHPFS::ForgetOpenFile(CHPFSFile* file) {
    for (CHPFSFile** link = &openFiles; *link; link = &(*link)->next) {
        if (*link == file) {
            *link = file->next;
            file->next = nullptr;
            return;
        }
    }
}

ErrorCode CHPFS::CheckHandle(PoolHandle handle) {
    if (!pool->IsKindOf(CBFHP::className)) return nullptr;
    return static_cast<CBFHP*>(pool)->CheckHandle(handle);
}

bool CHPFS::IsOpen(PoolHandle handle) const {
    for (CHPFSFile* file = openFiles; file; file = file->next)
        if (file->Handle() == handle) return true;
    return false;
}

// Every open file of the handle must share what the new one does, and the
// new one must share what they do.
bool CHPFS::SharingAllows(PoolHandle handle, uint16_t mode) const {
    uint16_t shared = FM_SHARE_READ | FM_SHARE_WRITE, used = 0;
    for (CHPFSFile* file = openFiles; file; file = file->next) {
        if (file->Handle() != handle) continue;
        shared &= file->mode;
        used |= file->mode;
    }
    if ((mode & FM_WRITE) && !(shared & FM_SHARE_WRITE)) return false;
    if ((mode & FM_READ) && !(shared & FM_SHARE_READ)) return false;
    if ((used & FM_WRITE) && !(mode & FM_SHARE_WRITE)) return false;
    if ((used & FM_READ) && !(mode & FM_SHARE_READ)) return false;
    return true;
}

CFile* CHPFS::Open(const char* path, uint16_t mode, ErrorCode* errorOut) {
    Location location;
    PoolHandle handle = 0;
    ErrorCode error = Resolve(path, kWholeHandle, &location);
    if (!error && location.entry.IsDirectory()) {
        error = ERR_UNKNOWN;
    } else if (error && (mode & FM_CREATE)) {
        handle = pool->Alloc(0);
        if (!handle) {
            error = pool->LastError() ? pool->LastError() : ERR_ALLOCFAIL;
        } else if ((error = CreateByPath(path, handle, 0))) {
            pool->Free(handle);
        }
    } else if (!error) {
        handle = location.entry.handle;
        error = CheckHandle(handle);
    }
    if (!error && !SharingAllows(handle, mode)) error = ERR_UNKNOWN;
    if (!error && (mode & (FM_CREATE | FM_TRUNCATE)) && pool->Size(handle) != 0 && !pool->Realloc(handle, 0))
        error = pool->LastError() ? pool->LastError() : ERR_UNKNOWN;
    if (error) {
        if (errorOut) *errorOut = error;
        return nullptr;
    }
    auto* file = new CHPFSFile(pool, handle, mode);
    file->owner = this;
    file->next = openFiles;
    openFiles = file;
    if (errorOut) *errorOut = nullptr;
    return file;
}

int CHPFS::Exists(const char* path) {
    Location location;
    return Resolve(path, kWholeHandle, &location) ? 0 : 1;
}

// The entry goes first and the content after: a failure in between leaves
// unreachable blocks, never an entry naming freed ones. An open file is not
// deleted from under its reader.
ErrorCode CHPFS::Delete(const char* path) {
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
ErrorCode CHPFS::Rename(const char* oldPath, const char* newPath) {
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

ErrorCode CHPFS::MakeDirectory(const char* parentPath, const char* name) {
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

ErrorCode CHPFS::RemoveDirectory(const char* parentPath, const char* name) {
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
