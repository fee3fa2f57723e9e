#include "file/MountTable.h"

#include <cstring>

#include "framework/AsciiText.h"
#include "pools/DefaultPools.h"

namespace {

struct MountEntry {
    const char* prefix;
    CFileService* service;
};

MountEntry* s_entries = nullptr;
uint16_t s_capacity = 0;
uint16_t s_count = 0;

}  // namespace

ErrorCode FileLayerInit(uint16_t capacity) {
    s_count = 0;
    s_capacity = 0;
    s_entries = nullptr;
    if (capacity == 0) return nullptr;
    s_entries = static_cast<MountEntry*>(g_pDefaultPtrPool->Alloc(uint32_t(capacity) * sizeof(MountEntry)));
    if (!s_entries) return ERR_ALLOCFAIL;
    std::memset(s_entries, 0, capacity * sizeof(MountEntry));
    s_capacity = capacity;
    return nullptr;
}

void FileLayerDone() {
    for (uint16_t i = 0; i < s_count; ++i) delete s_entries[i].service;
    if (s_entries) g_pDefaultPtrPool->Free(s_entries);
    s_entries = nullptr;
    s_capacity = 0;
    s_count = 0;
}

ErrorCode MountService(const char* prefix, CFileService* service) {
    if (!prefix || !service || s_count >= s_capacity) return ERR_UNKNOWN;
    // After every entry that compares less than or equal.
    uint16_t at = 0;
    while (at < s_count && CompareNoCase(s_entries[at].prefix, prefix) <= 0) ++at;
    std::memmove(s_entries + at + 1, s_entries + at, (s_count - at) * sizeof(MountEntry));
    s_entries[at] = MountEntry{prefix, service};
    ++s_count;
    return nullptr;
}

namespace {

// Index of the entry with the longest prefix matching the start of path,
// the first in table order among equals; -1 for none.
int FindEntry(const char* path, size_t* prefixLength) {
    int chosen = -1;
    size_t best = 0;
    for (uint16_t i = 0; i < s_count; ++i) {
        size_t n = std::strlen(s_entries[i].prefix);
        if (n > 0 && CompareNoCaseN(path, s_entries[i].prefix, uint32_t(n)) != 0) continue;
        if (chosen >= 0 && n <= best) continue;
        best = n;
        chosen = i;
    }
    *prefixLength = best;
    return chosen;
}

}  // namespace

CFileService* FindService(const char** path) {
    size_t n;
    int at = FindEntry(*path, &n);
    if (at < 0) return nullptr;
    *path += n;
    return s_entries[at].service;
}

CFileService* UnmountService(const char* prefix) {
    size_t n;
    int at = FindEntry(prefix, &n);
    if (at < 0 || prefix[n] != '\0') return nullptr;
    CFileService* service = s_entries[at].service;
    std::memmove(s_entries + at, s_entries + at + 1, (s_count - at - 1) * sizeof(MountEntry));
    --s_count;
    s_entries[s_count] = MountEntry{nullptr, nullptr};
    return service;
}

// --- g_FileApi: pick the service, pass the rest of the path on -------------
namespace {

CFile* ApiOpen(const char* path, uint16_t mode, ErrorCode* error) {
    CFileService* service = FindService(&path);
    return service ? service->Open(path, mode, error) : nullptr;
}

ErrorCode ApiDelete(const char* path) {
    CFileService* service = FindService(&path);
    return service ? service->Delete(path) : ERR_FILE;
}

ErrorCode ApiRename(const char* oldPath, const char* newPath) {
    CFileService* from = FindService(&oldPath);
    CFileService* to = FindService(&newPath);
    if (!from || from != to) return ERR_NOTIMPLEMENTED;
    return from->Rename(oldPath, newPath);
}

ErrorCode ApiFindFirst(FindRecord* record, const char* directoryPath) {
    record->service = nullptr;
    CFileService* service = FindService(&directoryPath);
    return service ? service->FindFirst(record, directoryPath) : ERR_FILE;
}

ErrorCode ApiFindNext(FindRecord* record) {
    return record->service ? record->service->FindNext(record) : ERR_FILE;
}

ErrorCode ApiFindClose(FindRecord* record) {
    return record->service ? record->service->FindClose(record) : ERR_FILE;
}

ErrorCode ApiMakeDirectory(const char* parentPath, const char* name) {
    CFileService* service = FindService(&parentPath);
    return service ? service->MakeDirectory(parentPath, name) : ERR_FILE;
}

ErrorCode ApiRemoveDirectory(const char* parentPath, const char* name) {
    CFileService* service = FindService(&parentPath);
    return service ? service->RemoveDirectory(parentPath, name) : ERR_FILE;
}

int ApiExists(const char* path) {
    CFileService* service = FindService(&path);
    return service ? service->Exists(path) : 0;
}

ErrorCode ApiGetPathInfo(const char* path, uint32_t id, void* value) {
    CFileService* service = FindService(&path);
    return service ? service->GetPathInfo(path, id, value) : ERR_FILE;
}

ErrorCode ApiSetPathInfo(const char* path, uint32_t id, void* value) {
    CFileService* service = FindService(&path);
    return service ? service->SetPathInfo(path, id, value) : ERR_FILE;
}

}  // namespace

const FileApi g_FileApi = {
    ApiOpen,         ApiDelete,          ApiRename, ApiFindFirst, ApiFindNext,    ApiFindClose,
    ApiMakeDirectory, ApiRemoveDirectory, ApiExists, ApiGetPathInfo, ApiSetPathInfo,
};
