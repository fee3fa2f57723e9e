// CFileService: a tree of named files. Opens files as CFile objects, tests
// for them, deletes and renames them, makes and removes directories, lists.
#pragma once

#include <cstdint>

#include "file/File.h"
#include "framework/ErrorCode.h"
#include "framework/Object.h"

class CFileService;

// Attribute flags; the values coincide with the platform's attribute bits.
constexpr uint32_t FA_READONLY = 0x001;
constexpr uint32_t FA_HIDDEN = 0x002;
constexpr uint32_t FA_SYSTEM = 0x004;
constexpr uint32_t FA_DIRECTORY = 0x010;
constexpr uint32_t FA_ARCHIVE = 0x020;
constexpr uint32_t FA_NORMAL = 0x080;
constexpr uint32_t FA_TEMPORARY = 0x100;
constexpr uint32_t FA_COMPRESSED = 0x800;

// Path query: the absolute form of a path (disk service only). The value is
// a buffer of 256 characters.
constexpr uint32_t PATHINFO_FULL_PATH = 0x02DF88EF;

// One directory listing, owned by the caller. Idle while service is null.
struct FindRecord {
    CFileService* service;  // set by FindFirst
    uintptr_t cookie;       // the service's own word (search handle, path length, size)
    void* state;            // working block from FindFirst, freed by FindClose
    uint32_t attributes;    // FA_* of the current entry
    char* name;             // current entry's name, points into state
};

class CFileService : public CObject {
public:
    static const char* const className;  // "CFileService"

    ~CFileService() override;
    const char* GetClassName() const override;
    CObject* IsKindOf(const char* name) override;

    // error may be null; it receives null or the failure code.
    virtual CFile* Open(const char* path, uint16_t mode, ErrorCode* error);
    virtual int Exists(const char* path);  // 1 for a file (not a directory)
    virtual ErrorCode Delete(const char* path);
    virtual ErrorCode Rename(const char* oldPath, const char* newPath);
    virtual ErrorCode MakeDirectory(const char* parentPath, const char* name);
    virtual ErrorCode RemoveDirectory(const char* parentPath, const char* name);
    virtual ErrorCode FindFirst(FindRecord* record, const char* directoryPath);
    virtual ErrorCode FindNext(FindRecord* record);
    virtual ErrorCode FindClose(FindRecord* record);
    virtual ErrorCode GetPathInfo(const char* path, uint32_t id, void* value);
    virtual ErrorCode SetPathInfo(const char* path, uint32_t id, void* value);
    virtual uint32_t GetFileOffset(const char* path, ErrorCode* error);
};
