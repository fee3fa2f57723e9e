#include "win32/hostio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace w32 {
namespace {

int HostOpen(const char* path, int flags, unsigned mode) { return ::open(path, flags, mode_t(mode)); }
int64_t HostRead(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }
int64_t HostWrite(int fd, const void* buffer, size_t size) { return ::write(fd, buffer, size); }
int64_t HostSeek(int fd, int64_t offset, int whence) { return ::lseek(fd, off_t(offset), whence); }
int HostTruncate(int fd, int64_t length) { return ::ftruncate(fd, off_t(length)); }
int HostSync(int fd) { return ::fsync(fd); }
int HostSyncVolume(int fd) { return ::syncfs(fd); }
int HostClose(int fd) { return ::close(fd); }
int HostMkdir(const char* path, unsigned mode) { return ::mkdir(path, mode_t(mode)); }
int HostRmdir(const char* path) { return ::rmdir(path); }
int HostUnlink(const char* path) { return ::unlink(path); }
int HostRename(const char* from, const char* to) { return std::rename(from, to); }
int HostChmod(const char* path, unsigned mode) { return ::chmod(path, mode_t(mode)); }

const HostIo kDefault = {HostOpen,  HostRead,  HostWrite,  HostSeek,   HostTruncate, HostSync,
                         HostClose, HostMkdir, HostRmdir, HostUnlink, HostRename,   HostChmod, HostSyncVolume};

}  // namespace

const HostIo& DefaultHostIo() { return kDefault; }

HostIo& CurrentHostIo() {
    static HostIo current = kDefault;
    return current;
}

}  // namespace w32
