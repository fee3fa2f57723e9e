#include "open_files.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "host_paths.h"
#include "power_cut.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/hostio.h"

namespace w32 {
namespace {

// Guarded by ListLock, held only while the list is read or changed: a
// close, or a move's sharing check on another thread, does not wait for an
// open in progress (which holds OpenFilesLock across its host calls).
std::vector<FileObject*>& OpenFiles() {
    static std::vector<FileObject*> files;
    return files;
}

std::mutex& ListLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

std::mutex& OpenFilesLock() {
    static std::mutex lock;
    return lock;
}

FileObject::FileObject(int descriptor, const struct stat& info, DWORD desiredAccess, DWORD shareMode,
                       const std::string& path)
    : fd(descriptor), device(info.st_dev), inode(info.st_ino), access(desiredAccess), share(shareMode),
      hostPath(path) {
    std::lock_guard<std::mutex> guard(ListLock());
    OpenFiles().push_back(this);  // the opener holds OpenFilesLock
}

FileObject::~FileObject() {
    std::lock_guard<std::mutex> guard(ListLock());
    auto& files = OpenFiles();
    files.erase(std::remove(files.begin(), files.end(), this), files.end());
}

bool FileObject::Close() {
    if (wrote) PowerEvent();
    if (CurrentHostIo().close(fd) == 0) return true;
    SetLastError(ErrorFromErrno(errno, ERROR_GEN_FAILURE));
    return false;
}

bool SharingAllows(dev_t device, ino_t inode, DWORD access, DWORD share) {
    std::lock_guard<std::mutex> guard(ListLock());
    for (const FileObject* file : OpenFiles()) {
        if (file->device != device || file->inode != inode) continue;
        if ((access & GENERIC_READ) && !(file->share & FILE_SHARE_READ)) return false;
        if ((access & GENERIC_WRITE) && !(file->share & FILE_SHARE_WRITE)) return false;
        if ((file->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
        if ((file->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    }
    return true;
}

bool DeleteSharingAllows(dev_t device, ino_t inode) {
    std::lock_guard<std::mutex> guard(ListLock());
    for (const FileObject* file : OpenFiles())
        if (file->device == device && file->inode == inode && !(file->share & FILE_SHARE_DELETE)) return false;
    return true;
}

}  // namespace w32
