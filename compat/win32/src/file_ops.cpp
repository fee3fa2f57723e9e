// Calls by path: delete, move, directories, attributes, full paths and the
// existence test.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "env_faults.h"
#include "host_paths.h"
#include "open_files.h"
#include "power_cut.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/hostio.h"

namespace {

using w32::FailBool;

// Resolves path and stats it; false with the last error set when either fails.
bool StatPath(LPCSTR path, w32::HostPath* resolved, struct stat* info) {
    if (!w32::ResolvePath(path, resolved)) return false;
    if (w32::StatResolved(*resolved, info)) return true;
    SetLastError(errno == ENOENT || errno == ENOTDIR ? w32::MissingEntryError(*resolved)
                                                    : w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    return false;
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
    w32::HostPath path;
    struct stat info;
    if (!StatPath(fileName, &path, &info)) return FALSE;
    if (S_ISDIR(info.st_mode) || w32::IsReadOnly(info)) return FailBool(ERROR_ACCESS_DENIED);
    if (!w32::DeleteSharingAllows(info.st_dev, info.st_ino)) return FailBool(ERROR_SHARING_VIOLATION);
    w32::PowerCall power;
    w32::PowerKept kept = w32::PowerKeep(path.host);
    if (w32::CurrentHostIo().unlink(path.host.c_str()) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    w32::PowerNoteDeleted(path.host, std::move(kept));
    return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
    return MoveFileExA(existingFileName, newFileName, 0);
}

BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (flags & ~DWORD(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return FailBool(ERROR_INVALID_PARAMETER);
    w32::HostPath from, to;
    struct stat fromInfo, toInfo;
    if (!StatPath(existingFileName, &from, &fromInfo)) return FALSE;
    if (!w32::ResolvePath(newFileName, &to)) return FALSE;
    if (to.isRoot) return FailBool(ERROR_ACCESS_DENIED);
    if (DWORD injected = w32::TakeMoveFault(to.host)) return FailBool(injected);
    std::string target = to.host;
    if (w32::StatResolved(to, &toInfo)) {
        if (toInfo.st_dev == fromInfo.st_dev && toInfo.st_ino == fromInfo.st_ino) {
            // A change of letter case only.
            target = to.parentHost + "/" + to.lastName;
        } else {
            if (!(flags & MOVEFILE_REPLACE_EXISTING)) return FailBool(ERROR_ALREADY_EXISTS);
            // As on Windows: a folder or a read-only file is never replaced,
            // nor a file open without delete sharing.
            if (S_ISDIR(toInfo.st_mode) || S_ISDIR(fromInfo.st_mode) || w32::IsReadOnly(toInfo))
                return FailBool(ERROR_ACCESS_DENIED);
            if (!w32::DeleteSharingAllows(toInfo.st_dev, toInfo.st_ino)) return FailBool(ERROR_SHARING_VIOLATION);
        }
    } else if (!to.parentExists) {
        return FailBool(ERROR_PATH_NOT_FOUND);
    }
    if (!w32::DeleteSharingAllows(fromInfo.st_dev, fromInfo.st_ino)) return FailBool(ERROR_SHARING_VIOLATION);
    w32::PowerCall power;
    w32::PowerEvent();
    w32::PowerKept replaced = w32::PowerKeep(target);
    if (w32::CurrentHostIo().rename(from.host.c_str(), target.c_str()) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    if ((flags & MOVEFILE_WRITE_THROUGH) && !power) {
        // The move is on disk before the call returns: the folder that now
        // names the file is synced.
        const std::string folder = target.substr(0, target.rfind('/') + 1);
        int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool synced = fd >= 0 && w32::CurrentHostIo().sync(fd) == 0;
        if (fd >= 0) close(fd);
        if (!synced) return FailBool(ERROR_WRITE_FAULT);
    }
    w32::PowerNoteMoved(from.host, target, std::move(replaced), flags & MOVEFILE_WRITE_THROUGH);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES) {
    w32::HostPath path;
    if (!w32::ResolvePath(pathName, &path)) return FALSE;
    struct stat info;
    if (w32::StatResolved(path, &info)) return FailBool(path.isRoot ? ERROR_ACCESS_DENIED : ERROR_ALREADY_EXISTS);
    if (!path.parentExists) return FailBool(ERROR_PATH_NOT_FOUND);
    w32::PowerCall power;
    if (w32::CurrentHostIo().mkdir(path.host.c_str(), 0777) != 0)
        return FailBool(errno == EEXIST ? ERROR_ALREADY_EXISTS : w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    w32::PowerNoteFolder(path.host, true);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName) {
    w32::HostPath path;
    struct stat info;
    if (!StatPath(pathName, &path, &info)) return FALSE;
    if (!S_ISDIR(info.st_mode)) return FailBool(ERROR_DIRECTORY);
    if (path.isRoot) return FailBool(ERROR_ACCESS_DENIED);
    w32::PowerCall power;
    if (w32::CurrentHostIo().rmdir(path.host.c_str()) != 0)
        return FailBool(errno == EEXIST || errno == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY
                                                              : w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    w32::PowerNoteFolder(path.host, false);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
    w32::HostPath path;
    struct stat info;
    if (!StatPath(fileName, &path, &info)) return INVALID_FILE_ATTRIBUTES;
    return w32::AttributesOf(path.host, info);
}

// The read-only bit is the owner's write permission; hidden and system are
// kept in the entry's DOS attribute record; the other bits are accepted and
// not kept.
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD fileAttributes) {
    w32::HostPath path;
    struct stat info;
    if (!StatPath(fileName, &path, &info)) return FALSE;
    w32::PowerCall power;
    w32::PowerKept before = w32::PowerKeep(path.host);
    mode_t permissions = info.st_mode & 07777;
    permissions = (fileAttributes & FILE_ATTRIBUTE_READONLY) ? (permissions & ~mode_t(0222))
                                                             : (permissions | S_IWUSR);
    if (w32::CurrentHostIo().chmod(path.host.c_str(), permissions) != 0)
        return FailBool(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    if (!w32::StoreDosAttributes(path.host, fileAttributes))
        return FailBool(w32::ErrorFromErrno(errno, ERROR_ACCESS_DENIED));
    w32::PowerNoteAttributes(path.host, std::move(before));
    return TRUE;
}

DWORD WINAPI GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart) {
    // As on Windows, an ANSI name of MAX_PATH characters or more is refused
    // outright rather than answered with the buffer size it would need.
    if (fileName && std::strlen(fileName) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    std::string full;
    if (!w32::FullWindowsPath(fileName, &full)) return 0;
    if (full.size() + 1 > bufferLength) return DWORD(full.size() + 1);
    std::memcpy(buffer, full.c_str(), full.size() + 1);
    if (filePart) {
        char* lastSeparator = std::strrchr(buffer, '\\');
        *filePart = lastSeparator && lastSeparator[1] ? lastSeparator + 1 : nullptr;
    }
    return DWORD(full.size());
}

HFILE WINAPI OpenFile(LPCSTR fileName, LPOFSTRUCT reOpenBuff, UINT style) {
    if (!reOpenBuff || !(style & OF_EXIST)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    std::memset(reOpenBuff, 0, sizeof(*reOpenBuff));
    reOpenBuff->cBytes = BYTE(sizeof(*reOpenBuff));
    std::string full;
    DWORD error = ERROR_SUCCESS;
    if (!w32::FullWindowsPath(fileName, &full)) {
        error = GetLastError();
    } else if (full.size() >= OFS_MAXPATHNAME) {
        // The record holds at most 127 characters of path, so longer paths
        // cannot be opened through this call at all.
        error = ERROR_FILENAME_EXCED_RANGE;
    } else {
        HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = GetLastError();
        } else {
            CloseHandle(file);
            std::memcpy(reOpenBuff->szPathName, full.c_str(), full.size() + 1);
            reOpenBuff->fFixedDisk = 1;
            return 1;
        }
    }
    reOpenBuff->nErrCode = WORD(error);
    SetLastError(error);
    return HFILE_ERROR;
}

// Descriptors are limited by the host, not by a per-process table here.
UINT WINAPI SetHandleCount(UINT number) { return number; }

namespace {

// The drive letter of a path "X:..." whose drive is mapped, or 0.
char MappedDrive(LPCSTR path) {
    if (!path) return 0;
    char letter = char(path[0] & ~0x20);
    if (letter < 'A' || letter > 'Z' || path[1] != ':') return 0;
    char variable[] = "W32_DRIVE_?";
    variable[10] = letter;
    const char* root = std::getenv(variable);
    return root && *root ? letter : 0;
}

}  // namespace

BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength) {
    if (!fileName || !*fileName || !volumePathName) return FailBool(ERROR_INVALID_PARAMETER);
    char root[4] = {0, ':', '\\', '\0'};
    root[0] = MappedDrive(fileName);
    const char* answer = root[0] ? root : "\\";
    if (std::strlen(answer) + 1 > bufferLength) return FailBool(ERROR_FILENAME_EXCED_RANGE);
    std::memcpy(volumePathName, answer, std::strlen(answer) + 1);
    return TRUE;
}

UINT WINAPI GetDriveTypeA(LPCSTR rootPathName) {
    char letter = MappedDrive(rootPathName);
    return letter && rootPathName[2] == '\\' && rootPathName[3] == '\0' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}
