// The process-wide mount table, mapping path prefixes to services, and
// g_FileApi, through which the application reaches every mounted file.
#pragma once

#include <cstdint>

#include "file/FileService.h"

// Creates the table with room for capacity entries. On an allocation
// failure the table stays empty with capacity 0 and the code is returned.
ErrorCode FileLayerInit(uint16_t capacity);
// Destroys every service still mounted and frees the table.
void FileLayerDone();
// Inserts (prefix, service) at its sorted place; the table owns the service
// and keeps prefix by reference. A full (or absent) table refuses the mount
// with "\"Unknown error\"" and the caller keeps the service.
ErrorCode MountService(const char* prefix, CFileService* service);
// Removes the entry whose prefix equals prefix ignoring case and hands its
// service back to the caller; null when there is none.
CFileService* UnmountService(const char* prefix);
// The service of the longest prefix matching the start of *path ignoring
// case; *path is advanced past the prefix. Null (path unchanged) for none.
CFileService* FindService(const char** path);

struct FileApi {
    CFile* (*Open)(const char* path, uint16_t mode, ErrorCode* error);
    ErrorCode (*Delete)(const char* path);
    ErrorCode (*Rename)(const char* oldPath, const char* newPath);
    ErrorCode (*FindFirst)(FindRecord* record, const char* directoryPath);
    ErrorCode (*FindNext)(FindRecord* record);
    ErrorCode (*FindClose)(FindRecord* record);
    ErrorCode (*MakeDirectory)(const char* parentPath, const char* name);
    ErrorCode (*RemoveDirectory)(const char* parentPath, const char* name);
    int (*Exists)(const char* path);
    ErrorCode (*GetPathInfo)(const char* path, uint32_t id, void* value);
    ErrorCode (*SetPathInfo)(const char* path, uint32_t id, void* value);
};

extern const FileApi g_FileApi;
