// Mounting the disk service for the run.
#include <new>

#include "file/MountTable.h"
#include "platform/DiskFS.h"
#include "platform/Win32.h"

ErrorCode DiskFSInit() {
    SetHandleCount(64);
    CDiskFS* service = new (std::nothrow) CDiskFS;
    if (!service) return ERR_ALLOCFAIL;
    if (ErrorCode error = MountService("", service)) {
        delete service;
        return error;
    }
    return nullptr;
}

void DiskFSDone() { delete UnmountService(""); }
