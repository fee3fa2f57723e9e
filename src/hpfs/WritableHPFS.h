// CWritableHPFS: a CHPFS that also changes the tree: Open makes and empties
// files, and files and directories are deleted, renamed, made and removed.
// For the tool and the tests; the patcher only reads the game's pack.
#pragma once

#include "hpfs/HPFS.h"

class CWritableHPFS : public CHPFS {
public:
    static const char* const className;  // "CWritableHPFS"

    // Takes ownership of pool. Makes the root directory when the pool has none.
    explicit CWritableHPFS(CHandlePool* pool);

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    ErrorCode Delete(const char* path) override;
    ErrorCode Rename(const char* oldPath, const char* newPath) override;
    ErrorCode MakeDirectory(const char* parentPath, const char* name) override;
    ErrorCode RemoveDirectory(const char* parentPath, const char* name) override;

protected:
    ErrorCode MakeFile(const char* path, PoolHandle* handle) override;
    ErrorCode EmptyFile(PoolHandle handle) override;

private:
    ErrorCode AddEntry(PoolHandle directory, const char* name, uint32_t length, PoolHandle handle, uint16_t flags);
    ErrorCode CheckNewPath(const char* path, PoolHandle* parent, const char** name, uint32_t* nameLength);
    ErrorCode CreateByPath(const char* path, PoolHandle handle, uint16_t flags);
    ErrorCode RemoveEntry(const Location& location);
};
