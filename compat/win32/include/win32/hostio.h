// The one seam between the host layer and the host's file I/O: a table of
// POSIX-style functions (return -1 and set errno on failure) that tests swap
// to inject faults such as a write that stops after N bytes or a full disk.
//
// Faults can also be injected into a whole process through the environment,
// read once at first use (ReloadEnvironmentFaults reads them again):
//   W32_FAULT_WRITE="<substring>:<bytes>:<full|fail>[:<times>]"
//     handles opened on a host path containing <substring> accept <bytes>
//     bytes of writes in all; the WriteFile that crosses the limit writes
//     what fits and fails with ERROR_DISK_FULL (full) or ERROR_WRITE_FAULT
//     (fail). <times> limits how many opened handles are hit (default all).
//   W32_FAULT_OPEN="<substring>:<win32-error-number>[:<times>]"
//     CreateFileA of a host path containing <substring> fails with that
//     error, the first <times> times (default always). A volume handle's
//     path is its device name, "\\.\C:" (so "\\.\C" matches it).
//   W32_FAULT_OPEN, _KILL, _MOVE and _FLUSH take several rules separated
//   by ';'; the first that matches a path applies. A fourth field <skip>
//   lets that many matches through before the first hit.
//   W32_FAULT_KILL="<substring>:<bytes>[:<times>]"
//     handles opened on a host path containing <substring> accept <bytes>
//     bytes of writes; the WriteFile that crosses the limit writes what fits
//     and then kills the process (SIGKILL), as a crash or a power cut would
//     leave the file. Checked before W32_FAULT_WRITE.
//   W32_FAULT_MOVE="<substring>:<win32-error-number|kill>[:<times>]"
//     MoveFileExA (and MoveFileA) to a host path containing <substring>
//     fails with that error; with "kill" the process is killed instead,
//     before the move.
//   W32_FAULT_FLUSH="<substring>:<win32-error-number|kill>[:<times>]"
//     FlushFileBuffers of a handle on a host path containing <substring>
//     (or of a volume handle whose device name contains it) fails with that
//     error (a write the disk refused after accepting it); with "kill" the
//     flush is done and then the process is killed.
//   W32_FAULT_POWER="<n>[:drop]"
//     the power goes at the n-th durability event (FlushFileBuffers, a move,
//     the close of a handle that wrote): unflushed bytes read as zeros, and
//     every change of names is kept, or with "drop" those not yet durable are
//     undone; then the process is killed (the model: power_cut.cpp).
//   W32_FAULT_THREAD="<times>[:<skip>]"
//     after <skip> calls let through, <times> CreateThread calls fail
//     (ERROR_NOT_ENOUGH_MEMORY).
//   W32_FAULT_DIALOG="<times>"
//     the first <times> DialogBoxParamA calls fail (-1, ERROR_NOT_ENOUGH_MEMORY)
//     before the dialog appears: its procedure is never called.
//   W32_FAULT_MUTEX="<win32-error-number>"
//     CreateMutexA of every named mutex fails with that error (no handle).
//   W32_FAULT_REGISTRY="<open|set>:<win32-error-number>[:<times>]"
//     open: RegOpenKeyExA asking for write access (KEY_SET_VALUE or
//     KEY_CREATE_SUB_KEY) fails with that error; set: RegSetValueExA fails
//     with it, leaving the registry file as it was.
#pragma once

#include <cstddef>
#include <cstdint>

namespace w32 {

struct HostIo {
    int (*open)(const char* path, int flags, unsigned mode);
    int64_t (*read)(int fd, void* buffer, size_t size);
    int64_t (*write)(int fd, const void* buffer, size_t size);
    int64_t (*seek)(int fd, int64_t offset, int whence);
    int (*truncate)(int fd, int64_t length);
    int (*sync)(int fd);
    int (*close)(int fd);
    int (*mkdir)(const char* path, unsigned mode);
    int (*rmdir)(const char* path);
    int (*unlink)(const char* path);
    int (*rename)(const char* from, const char* to);
    int (*chmod)(const char* path, unsigned mode);
    int (*syncVolume)(int fd);  // every file of fd's file system to disk
};

// The host's own functions.
const HostIo& DefaultHostIo();
// The table in use; assign to it to swap functions, DefaultHostIo() restores.
HostIo& CurrentHostIo();

// Forgets the parsed W32_FAULT_* variables so that the next open reads the
// environment again.
void ReloadEnvironmentFaults();

}  // namespace w32
