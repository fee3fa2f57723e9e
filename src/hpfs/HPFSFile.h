// CHPFSFile: a CHPFile opened through a CHPFS, linked into the service's list
// of open files (which the sharing test of Open walks) until destroyed.
#pragma once

#include "hpfs/HPFile.h"

class CHPFS;

class CHPFSFile : public CHPFile {
public:
    static const char* const className;  // "CHPFSFile"

    CHPFSFile(CHandlePool* pool, PoolHandle handle, uint16_t mode);
    // Unlinks itself from its owner's open-file list.
    ~CHPFSFile() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    CHPFSFile* next = nullptr;  // next open file of the same service
    CHPFS* owner = nullptr;     // set by CHPFS::Open
};
