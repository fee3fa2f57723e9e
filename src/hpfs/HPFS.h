// CHPFS: a file service keeping a tree of named files and directories in a
// handle pool. Every file and directory is one handle; a directory's data is
// its packed entries (DirectoryEntry.h). The pool's root handle is the root
// directory, which has no entry of its own. Paths separate components with
// '\' or '/', one leading separator is ignored, and there is no current
// directory. The last directory a path resolution passed through stays
// locked in the pool (the directory cache), so the next path in the same
// directory skips the walk from the root.
//
// This class reads, which is all the patcher does with the game's pack:
// Delete, Rename, MakeDirectory and RemoveDirectory answer "\"Not
// implemented yet\"", as does Open where it would make or empty a file.
// CWritableHPFS (WritableHPFS.h), for the tool and the tests, changes the
// tree.
//
// A damaged pack is an error, never an empty or short file: a file's tree
// is checked whole when it is opened or deleted, a directory's when it is
// read afresh or listed.
#pragma once

#include <cstdint>

#include "file/FileService.h"
#include "hpfs/DirectoryEntry.h"
#include "pools/HandlePool.h"

class CHPFSFile;

class CHPFS : public CFileService {
public:
    static const char* const className;  // "CHPFS"

    // Takes ownership of pool. A pool without a root handle holds no tree.
    explicit CHPFS(CHandlePool* pool);
    // Open files must be destroyed first; any left are cut loose from it.
    ~CHPFS() override;

    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    CFile* Open(const char* path, uint16_t mode, ErrorCode* error) override;
    int Exists(const char* path) override;  // 1 for a file, a directory or the root
    ErrorCode FindFirst(FindRecord* record, const char* directoryPath) override;
    ErrorCode FindNext(FindRecord* record) override;
    ErrorCode FindClose(FindRecord* record) override;

    // Called by a CHPFSFile being destroyed.
    void ForgetOpenFile(CHPFSFile* file);
    // Turning the directory cache off (for measurements) also drops it.
    void EnableDirectoryCache(bool enable);
    PoolHandle RootHandle() const { return root; }

protected:
    // An entry found by name: its directory, its byte offset there, a copy.
    struct Location {
        PoolHandle directory = 0;
        uint32_t offset = 0;
        DirectoryEntry entry;
    };

    // Directory walking (HPFSDirectory.cpp).
    uint8_t* LockDirectory(PoolHandle directory, uint32_t* size);
    ErrorCode FindInDirectory(PoolHandle directory, const char* name, uint32_t length, Location* found,
                              bool* present, uint32_t* directorySize);
    ErrorCode FindName(PoolHandle directory, const char* name, uint32_t length, Location* found);
    ErrorCode Resolve(const char* path, uint32_t length, Location* found);
    ErrorCode ResolveDirectory(const char* path, uint32_t length, PoolHandle* directory);
    void SetCache(PoolHandle directory, const char* path, uint32_t length);
    void DropCache() { SetCache(0, "", 0); }

    // The pool's check of a handle's whole tree, where the pool has one.
    ErrorCode CheckHandle(PoolHandle handle);
    bool IsOpen(PoolHandle handle) const;
    bool SharingAllows(PoolHandle handle, uint16_t mode) const;
    ErrorCode PresentEntry(FindRecord* record, uint32_t offset);

    // Open's changes to the tree: a missing file made (FM_CREATE), a file
    // emptied (FM_CREATE, FM_TRUNCATE). "\"Not implemented yet\"" here.
    virtual ErrorCode MakeFile(const char* path, PoolHandle* handle);
    virtual ErrorCode EmptyFile(PoolHandle handle);

    CHandlePool* pool;
    PoolHandle root = 0;
    CHPFSFile* openFiles = nullptr;
    char cachePath[256] = {};
    PoolHandle cacheHandle = 0;  // locked once in the pool while nonzero
    bool cacheEnabled = true;
};
