// Named mutexes across processes. A named mutex is a lock file in
// W32_MUTEX_DIR (default $TMPDIR or /tmp, then "w32-mutex-<uid>"): every
// handle holds a shared flock on it, so the mutex exists exactly while some
// process holds a handle, and vanishes when the last holder exits. Creation
// tests for an existing mutex by trying an exclusive lock; one creation lock
// for the whole folder makes that test and the change to a shared lock atomic.
// Only existence is modelled: this layer has no waiting on a mutex.
#include "HostTranscript.h"

#include <windows.h>

#include "win32/handles.h"
#include "env_faults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Closing the handle (or the process ending) drops the shared lock.
class MutexObject : public w32::KernelObject {
public:
    explicit MutexObject(int lockFd) : fd(lockFd) {}
    bool Close() override
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
        return true;
    }

private:
    int fd; // -1 for an unnamed mutex
};

std::string MutexDirectory()
{
    if (const char* dir = std::getenv("W32_MUTEX_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return base + "/w32-mutex-" + std::to_string(getuid());
}

// A file name for a mutex name: letters, digits, '_' and '-' stay, every
// other byte becomes %XX (names are case-sensitive, like the host's files).
std::string EncodeName(const char* name)
{
    std::string encoded;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p != 0; ++p) {
        if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || *p == '_' ||
            *p == '-') {
            encoded += static_cast<char>(*p);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", *p);
            encoded += escape;
        }
    }
    return encoded;
}

int OpenLockFile(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        w32host::HostFatal("cannot open the mutex file " + path + ": " + std::strerror(errno));
    return fd;
}

void Lock(int fd, int operation, const std::string& path)
{
    while (flock(fd, operation) != 0) {
        if (errno != EINTR)
            w32host::HostFatal("cannot lock the mutex file " + path + ": " + std::strerror(errno));
    }
}

HANDLE Remember(int fd)
{
    return w32::RegisterHandle(new MutexObject(fd));
}

} // namespace

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name)
{
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_SUCCESS);
        return Remember(-1);
    }
    // As when the mutex belongs to another account (ERROR_ACCESS_DENIED).
    if (const DWORD error = w32::TakeMutexFault(); error != 0) {
        SetLastError(error);
        return nullptr;
    }
    if (std::strlen(name) > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    // The session namespace is the only one below the global one here.
    if (std::strncmp(name, "Local\\", 6) == 0)
        name += 6;
    const std::string encoded = EncodeName(name);
    if (encoded.size() > 240) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    const std::string dir = MutexDirectory();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        w32host::HostFatal("cannot create the mutex folder " + dir + ": " + std::strerror(errno));

    const std::string creationPath = dir + "/creation.lock";
    const int creation = OpenLockFile(creationPath);
    Lock(creation, LOCK_EX, creationPath);

    const std::string path = dir + "/" + encoded + ".mutex";
    const int fd = OpenLockFile(path);
    bool existed = false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            w32host::HostFatal("cannot lock the mutex file " + path + ": " + std::strerror(errno));
        existed = true;
    }
    Lock(fd, LOCK_SH, path);
    close(creation); // releases the creation lock

    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return Remember(fd);
}
