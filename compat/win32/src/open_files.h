// The files this process holds open, for the share-mode checks that
// Windows makes between handles and that POSIX does not.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>

#include "env_faults.h"
#include "win32/base.h"
#include "win32/errors.h"
#include "win32/handles.h"

namespace w32 {

// The file calls' failure: the last error set, FALSE returned.
inline BOOL FailBool(DWORD error) {
    SetLastError(error);
    return FALSE;
}

class FileObject : public KernelObject {
public:
    FileObject(int fd, const struct stat& info, DWORD access, DWORD share, const std::string& hostPath);
    ~FileObject() override;
    bool Close() override;

    int fd;
    dev_t device;
    ino_t inode;
    DWORD access;  // GENERIC_READ / GENERIC_WRITE
    DWORD share;   // FILE_SHARE_*
    std::string hostPath;
    WriteFault writeFault;
    bool isVolume = false;  // a whole volume ("\\.\X:"): only FlushFileBuffers works
    bool wrote = false;     // wrote through this handle while the power-loss model runs
    bool writeThrough = false;  // opened with FILE_FLAG_WRITE_THROUGH
};

// Held by an open from its sharing check to the new file's registration, so
// that two opens cannot both pass the check. Closes and DeleteSharingAllows
// do not take it: a handle closing meanwhile, or a move checked meanwhile,
// counts as before or after the open, as it would a moment earlier or later.
std::mutex& OpenFilesLock();
// Whether a new opener with access and share may join the handles already
// open on the file (device, inode). Call with OpenFilesLock held.
bool SharingAllows(dev_t device, ino_t inode, DWORD access, DWORD share);
// Whether the file may be deleted or renamed: every open handle shares delete.
bool DeleteSharingAllows(dev_t device, ino_t inode);

}  // namespace w32
