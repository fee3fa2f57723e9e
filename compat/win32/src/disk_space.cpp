// GetDiskFreeSpaceA over the host file system that holds the path: its
// block size as the cluster (in 512-byte sectors) and its blocks free to
// an unprivileged user. W32_FAULT_SPACE=<bytes> makes every volume report
// that many bytes free (rounded down to clusters).
#include <sys/statvfs.h>

#include <cstdlib>

#include "host_paths.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/lasterror.h"

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR rootPathName, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector,
                              LPDWORD freeClusters, LPDWORD totalClusters) {
    w32::HostPath root;
    struct statvfs info;
    if (!rootPathName || !w32::ResolvePath(rootPathName, &root) || statvfs(root.host.c_str(), &info) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const unsigned long cluster = info.f_frsize ? info.f_frsize : 4096;
    unsigned long long available = (unsigned long long)info.f_bavail;
    if (const char* fault = std::getenv("W32_FAULT_SPACE"); fault && *fault)
        available = std::strtoull(fault, nullptr, 10) / cluster;
    const unsigned long long most = 0xFFFFFFFFull;
    if (sectorsPerCluster) *sectorsPerCluster = DWORD(cluster / 512 ? cluster / 512 : 1);
    if (bytesPerSector) *bytesPerSector = 512;
    if (freeClusters) *freeClusters = DWORD(available < most ? available : most);
    if (totalClusters) *totalClusters = DWORD(info.f_blocks < most ? info.f_blocks : most);
    return TRUE;
}
