// CreateFileA and the calls on an open file handle.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "env_faults.h"
#include "host_paths.h"
#include "open_files.h"
#include "power_cut.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/hostio.h"

using w32::FileObject;

namespace {

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

using w32::FailBool;

FileObject* LookupFile(HANDLE handle) {
    FileObject* file = w32::LookupHandleAs<FileObject>(handle);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

int OpenFlags(DWORD access) {
    bool reading = access & GENERIC_READ, writing = access & GENERIC_WRITE;
    int flags = writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;
    return flags | O_CLOEXEC;
}

// "\\.\X:" names volume X; its drive letter, or 0 for any other name.
char VolumeLetter(LPCSTR name) {
    if (!name || name[0] != '\\' || name[1] != '\\' || name[2] != '.' || name[3] != '\\') return 0;
    char letter = char(name[4] & ~0x20);
    return letter >= 'A' && letter <= 'Z' && name[5] == ':' && name[6] == '\0' ? letter : 0;
}

// A handle on a whole volume, as an administrator opens it: no reads or
// writes here, only FlushFileBuffers, which writes every file of the volume
// to disk (the host syncs the file system of the drive's folder). Its path
// for the fault rules is the device name itself.
HANDLE OpenVolume(LPCSTR name, char letter, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition) {
    if (creationDisposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER);
    char variable[] = "W32_DRIVE_?";
    variable[10] = letter;
    const char* root = std::getenv(variable);
    if (!root || !*root) return Fail(ERROR_FILE_NOT_FOUND);
    if (DWORD injected = w32::TakeOpenFault(name)) return Fail(injected);
    std::lock_guard<std::mutex> guard(w32::OpenFilesLock());
    int fd = w32::CurrentHostIo().open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    struct stat info;
    if (fd < 0) return Fail(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    if (fstat(fd, &info) != 0) {
        DWORD error = w32::ErrorFromErrno(errno, ERROR_GEN_FAILURE);
        w32::CurrentHostIo().close(fd);
        return Fail(error);
    }
    auto* volume = new FileObject(fd, info, desiredAccess & (GENERIC_READ | GENERIC_WRITE), shareMode, name);
    volume->isVolume = true;
    SetLastError(ERROR_SUCCESS);
    return w32::RegisterHandle(volume);
}

// A handle on a folder (backup semantics): it reads and writes nothing.
HANDLE OpenFolder(const std::string& hostPath, const struct stat& info, DWORD desiredAccess, DWORD shareMode) {
    int fd = w32::CurrentHostIo().open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return Fail(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    auto* folder = new FileObject(fd, info, desiredAccess & GENERIC_READ, shareMode, hostPath);
    SetLastError(ERROR_SUCCESS);
    return w32::RegisterHandle(folder);
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    if (creationDisposition < CREATE_NEW || creationDisposition > TRUNCATE_EXISTING || templateFile)
        return Fail(ERROR_INVALID_PARAMETER);
    if (creationDisposition == TRUNCATE_EXISTING && !(desiredAccess & GENERIC_WRITE))
        return Fail(ERROR_INVALID_PARAMETER);
    if (char letter = VolumeLetter(fileName))
        return OpenVolume(fileName, letter, desiredAccess, shareMode, creationDisposition);
    w32::HostPath path;
    if (!w32::ResolvePath(fileName, &path)) return INVALID_HANDLE_VALUE;
    if (DWORD injected = w32::TakeOpenFault(path.host)) return Fail(injected);

    w32::PowerCall power;
    std::lock_guard<std::mutex> guard(w32::OpenFilesLock());
    struct stat info;
    bool existed = w32::StatResolved(path, &info);
    if (!existed) {
        if (!path.parentExists || path.isRoot) return Fail(ERROR_PATH_NOT_FOUND);
        if (creationDisposition == OPEN_EXISTING || creationDisposition == TRUNCATE_EXISTING)
            return Fail(ERROR_FILE_NOT_FOUND);
    } else {
        if (creationDisposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
        // A folder opens only with backup semantics, to be asked about.
        if (S_ISDIR(info.st_mode))
            return (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) && !(desiredAccess & GENERIC_WRITE) &&
                           creationDisposition == OPEN_EXISTING
                       ? OpenFolder(path.host, info, desiredAccess, shareMode)
                       : Fail(ERROR_ACCESS_DENIED);
        bool replaces = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
        if (w32::IsReadOnly(info) && ((desiredAccess & GENERIC_WRITE) || replaces))
            return Fail(ERROR_ACCESS_DENIED);
        // Windows empties a hidden or system file only for a caller that
        // asks for the same bits.
        DWORD kept = w32::StoredDosAttributes(path.host);
        if (replaces && (kept & ~flagsAndAttributes) != 0) return Fail(ERROR_ACCESS_DENIED);
        // Checked before anything is truncated.
        if (!w32::SharingAllows(info.st_dev, info.st_ino, desiredAccess, shareMode))
            return Fail(ERROR_SHARING_VIOLATION);
    }

    int flags = OpenFlags(desiredAccess);
    unsigned createMode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    if (!existed) flags |= O_CREAT | O_EXCL;
    bool truncate = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING);
    // O_TRUNC needs write access; a handle without it empties the file
    // through a second descriptor.
    if (truncate && (desiredAccess & GENERIC_WRITE)) flags |= O_TRUNC;
    const w32::HostIo& io = w32::CurrentHostIo();
    int fd = io.open(path.host.c_str(), flags, createMode);
    // A file made since the path was resolved (by another thread or
    // process) exists, as the call would have found it a moment later.
    if (fd < 0 && errno == EEXIST) return Fail(ERROR_FILE_EXISTS);
    if (fd < 0) return Fail(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    if (truncate && !(desiredAccess & GENERIC_WRITE)) {
        int emptier = io.open(path.host.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC, 0);
        if (emptier < 0) {
            DWORD error = w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED);
            io.close(fd);
            return Fail(error);
        }
        io.close(emptier);
    }
    if (fstat(fd, &info) != 0) {
        DWORD error = w32::ErrorFromErrno(errno, ERROR_GEN_FAILURE);
        io.close(fd);
        return Fail(error);
    }
    if (!existed && (flagsAndAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        w32::StoreDosAttributes(path.host, flagsAndAttributes);
    if (!existed) w32::PowerNoteCreated(path.host);
    auto* file = new FileObject(fd, info, desiredAccess & (GENERIC_READ | GENERIC_WRITE), shareMode, path.host);
    file->writeFault = w32::TakeWriteFault(path.host);
    file->writeThrough = (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0;
    bool reopened = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetLastError(reopened ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return w32::RegisterHandle(file);
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPVOID overlapped) {
    FileObject* file = LookupFile(handle);
    if (!file) return FALSE;
    if (!bytesRead || overlapped) return FailBool(ERROR_INVALID_PARAMETER);
    *bytesRead = 0;
    if (file->isVolume) return FailBool(ERROR_INVALID_FUNCTION);
    if (!(file->access & GENERIC_READ)) return FailBool(ERROR_ACCESS_DENIED);
    auto* out = static_cast<char*>(buffer);
    // Invariant: *bytesRead bytes have arrived; a 0 from the host is the end.
    while (*bytesRead < bytesToRead) {
        int64_t n = w32::CurrentHostIo().read(file->fd, out + *bytesRead, bytesToRead - *bytesRead);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailBool(w32::ErrorFromErrno(errno, ERROR_READ_FAULT));
        if (n == 0) break;
        *bytesRead += DWORD(n);
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                      LPVOID overlapped) {
    FileObject* file = LookupFile(handle);
    if (!file) return FALSE;
    if (!bytesWritten || overlapped) return FailBool(ERROR_INVALID_PARAMETER);
    *bytesWritten = 0;
    if (file->isVolume) return FailBool(ERROR_INVALID_FUNCTION);
    if (!(file->access & GENERIC_WRITE)) return FailBool(ERROR_ACCESS_DENIED);
    DWORD allowed = bytesToWrite;
    w32::WriteFault& fault = file->writeFault;
    if (fault.active && fault.budget < allowed) allowed = DWORD(fault.budget);
    const auto* in = static_cast<const char*>(buffer);
    // The power-loss model learns which bytes are not yet on disk.
    w32::PowerCall power;
    const int64_t start = power ? w32::CurrentHostIo().seek(file->fd, 0, SEEK_CUR) : 0;
    auto noteWritten = [&] {
        if (!power || *bytesWritten == 0) return;
        file->wrote = true;
        w32::PowerNoteWrite(file->fd, file->device, file->inode, file->hostPath, start, *bytesWritten);
        if (file->writeThrough) w32::PowerNoteFileFlushed(file->device, file->inode, file->hostPath);
    };
    // Invariant: *bytesWritten bytes are in the file.
    while (*bytesWritten < allowed) {
        int64_t n = w32::CurrentHostIo().write(file->fd, in + *bytesWritten, allowed - *bytesWritten);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            noteWritten();
            if (fault.active) fault.budget -= *bytesWritten;
            return FailBool(n < 0 ? w32::ErrorFromErrno(errno, ERROR_WRITE_FAULT) : ERROR_WRITE_FAULT);
        }
        *bytesWritten += DWORD(n);
    }
    if (file->writeThrough && !power && *bytesWritten > 0 && w32::CurrentHostIo().sync(file->fd) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    noteWritten();
    if (fault.active) {
        fault.budget -= allowed;
        // A process killed in the middle of a file: what was written stays.
        if (allowed < bytesToWrite && fault.kill) w32::KillProcessNow();
        if (allowed < bytesToWrite) return FailBool(fault.error);
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
    FileObject* file = LookupFile(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    int64_t distance = distanceToMoveHigh
                           ? int64_t((uint64_t(uint32_t(*distanceToMoveHigh)) << 32) | uint32_t(distanceToMove))
                           : int64_t(distanceToMove);
    const w32::HostIo& io = w32::CurrentHostIo();
    int64_t from;
    struct stat info;
    switch (moveMethod) {
        case FILE_BEGIN: from = 0; break;
        case FILE_CURRENT: from = io.seek(file->fd, 0, SEEK_CUR); break;
        case FILE_END: from = fstat(file->fd, &info) == 0 ? int64_t(info.st_size) : -1; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
    }
    if (from < 0) {
        SetLastError(w32::ErrorFromErrno(errno, ERROR_GEN_FAILURE));
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = from + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high word the position must fit in 32 bits.
    if (!distanceToMoveHigh && target > int64_t(UINT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (io.seek(file->fd, target, SEEK_SET) < 0) {
        SetLastError(w32::ErrorFromErrno(errno, ERROR_GEN_FAILURE));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh) *distanceToMoveHigh = LONG(uint64_t(target) >> 32);
    // A position whose low word reads as the failure value is told apart by
    // a cleared last error.
    if (uint32_t(target) == INVALID_SET_FILE_POINTER) SetLastError(NO_ERROR);
    return DWORD(uint32_t(target));
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD fileSizeHigh) {
    FileObject* file = LookupFile(handle);
    if (!file) return INVALID_FILE_SIZE;
    struct stat info;
    if (fstat(file->fd, &info) != 0) {
        SetLastError(w32::ErrorFromErrno(errno, ERROR_GEN_FAILURE));
        return INVALID_FILE_SIZE;
    }
    uint64_t size = uint64_t(info.st_size);
    if (fileSizeHigh) *fileSizeHigh = DWORD(size >> 32);
    if (uint32_t(size) == INVALID_FILE_SIZE) SetLastError(NO_ERROR);
    return DWORD(uint32_t(size));
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
    FileObject* file = LookupFile(handle);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_WRITE)) return FailBool(ERROR_ACCESS_DENIED);
    w32::PowerCall power;
    w32::PowerEvent();
    bool killAfter = false;
    if (DWORD injected = w32::TakeFlushFault(file->hostPath, &killAfter)) return FailBool(injected);
    // The power-loss model keeps its own account of what is on disk; the
    // host's sync would only cost time then.
    const w32::HostIo& io = w32::CurrentHostIo();
    if (!power && (file->isVolume ? io.syncVolume(file->fd) : io.sync(file->fd)) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    if (file->isVolume)
        w32::PowerNoteVolumeFlushed(char(file->hostPath[4] & ~0x20));
    else
        w32::PowerNoteFileFlushed(file->device, file->inode, file->hostPath);
    // Killed once the bytes are on disk, before the caller learns it.
    if (killAfter) w32::KillProcessNow();
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
    FileObject* file = LookupFile(handle);
    if (!file) return FALSE;
    if (!(file->access & GENERIC_WRITE)) return FailBool(ERROR_ACCESS_DENIED);
    const w32::HostIo& io = w32::CurrentHostIo();
    int64_t position = io.seek(file->fd, 0, SEEK_CUR);
    if (position < 0 || io.truncate(file->fd, position) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_WRITE_FAULT));
    return TRUE;
}
