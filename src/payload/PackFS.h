// CPackFS: the file service of a pack file (layout in PackFormat.h), read
// through any CFile. Read-only: entries open as CPackFSFile objects, which
// must be destroyed before the service. Names are looked up upper-cased.
#pragma once

#include <cstdint>

#include "file/FileService.h"
#include "payload/PackIndex.h"

class CPackFS : public CFileService {
public:
    static const char* const className;  // "CPackFS"

    CPackFS() = default;
    ~CPackFS() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    // Takes packFile over (owned whatever the result) after dropping any
    // previous pack, reads its header and directory and builds the index.
    ErrorCode Attach(CFile* packFile);

    // With FM_WRITE the error is ERR_NUMERIC_8001.
    CFile* Open(const char* path, uint16_t mode, ErrorCode* error) override;
    // True for any leading part of a stored name that does not end in a
    // backslash (so also for directory names).
    int Exists(const char* path) override;
    ErrorCode FindFirst(FindRecord* record, const char* directoryPath) override;
    ErrorCode FindNext(FindRecord* record) override;
    ErrorCode FindClose(FindRecord* record) override;
    uint32_t GetFileOffset(const char* path, ErrorCode* error) override;

    CFile* packFile = nullptr;
    CPackIndex* index = nullptr;

private:
    void ReportItem(FindRecord* record);
};
