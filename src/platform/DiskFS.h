// CDiskFS: the file service over the platform's file system. It has no
// fields and no class name of its own (it answers "CFileService").
// DiskFSInit mounts one under the empty prefix, so every path that no other
// service claims is a platform path.
#pragma once

#include "file/FileService.h"

class CDiskFS : public CFileService {
public:
    ~CDiskFS() override;

    // The caller owns the returned CDiskFile. Failures leave the code in
    // *error: the platform's, or "ALLOCFAIL" when the file object cannot be
    // made (the platform file is closed again).
    CFile* Open(const char* path, uint16_t mode, ErrorCode* error) override;
    int Exists(const char* path) override;  // files only; directories test as absent
    ErrorCode Delete(const char* path) override;
    ErrorCode Rename(const char* oldPath, const char* newPath) override;  // fails on an existing target
    // One level: name must not contain '\' or ':', and parentPath joined
    // with name must fit in 255 characters ("BADPARAMS" otherwise).
    ErrorCode MakeDirectory(const char* parentPath, const char* name) override;
    ErrorCode RemoveDirectory(const char* parentPath, const char* name) override;
    // Lists directoryPath (at most 507 characters), never reporting "." or
    // "..". The record's state is a platform find-data block; call FindClose
    // after every FindFirst, whatever its result.
    ErrorCode FindFirst(FindRecord* record, const char* directoryPath) override;
    ErrorCode FindNext(FindRecord* record) override;
    ErrorCode FindClose(FindRecord* record) override;  // zeroes the record
    // PATHINFO_FULL_PATH: value is a buffer of 256 characters.
    ErrorCode GetPathInfo(const char* path, uint32_t id, void* value) override;
};

// Asks the platform for 64 file handles and mounts a CDiskFS under the empty
// prefix; call right after FileLayerInit. Fails (nothing mounted) with
// "ALLOCFAIL" or the mount table's code.
ErrorCode DiskFSInit();
// Unmounts the empty prefix and destroys its service; call before
// FileLayerDone.
void DiskFSDone();
