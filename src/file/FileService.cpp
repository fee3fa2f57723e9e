#include "file/FileService.h"

static const char kFileServiceName[] = "CFileService";
const char* const CFileService::className = kFileServiceName;

CFileService::~CFileService() = default;

const char* CFileService::GetClassName() const { return className; }

CObject* CFileService::IsKindOf(const char* name) {
    if (name == className) return this;
    return CObject::IsKindOf(name);
}

CFile* CFileService::Open(const char*, uint16_t, ErrorCode*) { return nullptr; }
int CFileService::Exists(const char*) { return 0; }
ErrorCode CFileService::Delete(const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::Rename(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::MakeDirectory(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::RemoveDirectory(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindFirst(FindRecord*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindNext(FindRecord*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindClose(FindRecord*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::GetPathInfo(const char*, uint32_t, void*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::SetPathInfo(const char*, uint32_t, void*) { return ERR_NOTIMPLEMENTED; }

uint32_t CFileService::GetFileOffset(const char*, ErrorCode* error) {
    if (error) *error = nullptr;
    return 0;
}
