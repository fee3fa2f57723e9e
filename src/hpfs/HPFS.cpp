// CHPFS: construction and opening files with the sharing test.
#include "hpfs/HPFS.h"

#include "hpfs/BFHP.h"
#include "hpfs/HPFSFile.h"

static const char kHPFSName[] = "CHPFS";
const char* const CHPFS::className = kHPFSName;

CHPFS::CHPFS(CHandlePool* handlePool) : pool(handlePool) { root = pool->GetRoot(); }

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
        error = MakeFile(path, &handle);
    } else if (!error) {
        handle = location.entry.handle;
        error = CheckHandle(handle);
    }
    if (!error && !SharingAllows(handle, mode)) error = ERR_UNKNOWN;
    if (!error && (mode & (FM_CREATE | FM_TRUNCATE)) && pool->Size(handle) != 0) error = EmptyFile(handle);
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

ErrorCode CHPFS::MakeFile(const char*, PoolHandle*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CHPFS::EmptyFile(PoolHandle) { return ERR_NOTIMPLEMENTED; }
