#include "platform/DiskFS.h"

#include <cstring>
#include <new>

#include "platform/DiskFile.h"
#include "platform/DiskOpenMode.h"
#include "platform/PlatformError.h"
#include "platform/Win32.h"

namespace {

// The attribute bits a FindRecord reports; the platform's others are dropped.
constexpr uint32_t kRecordAttributes =
    FA_READONLY | FA_HIDDEN | FA_SYSTEM | FA_DIRECTORY | FA_ARCHIVE | FA_NORMAL | FA_TEMPORARY | FA_COMPRESSED;

constexpr size_t kJoinedPathSize = 256;
constexpr size_t kPatternSize = 512;

bool NeedsSeparator(const char* path, size_t length) { return length > 0 && path[length - 1] != '\\'; }

// parentPath, a backslash unless it is empty or ends in one, then name, into
// out (kJoinedPathSize bytes). False when name is not a single component or
// the result does not fit.
bool JoinDirectoryPath(const char* parentPath, const char* name, char* out) {
    if (!parentPath || !name || std::strpbrk(name, "\\:")) return false;
    size_t parentLength = std::strlen(parentPath);
    size_t separator = NeedsSeparator(parentPath, parentLength) ? 1 : 0;
    size_t nameLength = std::strlen(name);
    if (parentLength + separator + nameLength >= kJoinedPathSize) return false;
    std::memcpy(out, parentPath, parentLength);
    if (separator) out[parentLength] = '\\';
    std::memcpy(out + parentLength + separator, name, nameLength + 1);
    return true;
}

bool IsDotEntry(const char* name) { return !std::strcmp(name, ".") || !std::strcmp(name, ".."); }

HANDLE SearchHandle(const FindRecord* record) { return reinterpret_cast<HANDLE>(record->cookie); }

}  // namespace

CDiskFS::~CDiskFS() = default;

CFile* CDiskFS::Open(const char* path, uint16_t mode, ErrorCode* error) {
    if (error) *error = nullptr;
    if (!path) {
        if (error) *error = ERR_BADPARAMS;
        return nullptr;
    }
    DiskOpenParameters parameters = TranslateOpenMode(mode);
    HANDLE handle = CreateFileA(path, parameters.desiredAccess, parameters.shareMode, nullptr,
                                parameters.creationDisposition, parameters.flagsAndAttributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        if (error) *error = LastPlatformFailure(ERR_OPENFAIL);
        return nullptr;
    }
    CDiskFile* file = new (std::nothrow) CDiskFile(handle, mode);
    if (!file) {
        // Nobody else would ever close the platform file.
        CloseHandle(handle);
        if (error) *error = ERR_ALLOCFAIL;
        return nullptr;
    }
    return file;
}

int CDiskFS::Exists(const char* path) {
    if (!path) return 0;
    // The existence test keeps the path in a record of OFS_MAXPATHNAME
    // characters and cannot test longer ones; those are asked by attributes.
    if (std::strlen(path) >= OFS_MAXPATHNAME) {
        DWORD attributes = GetFileAttributesA(path);
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    }
    OFSTRUCT record;
    return OpenFile(path, &record, OF_EXIST) != HFILE_ERROR ? 1 : 0;
}

ErrorCode CDiskFS::Delete(const char* path) {
    if (!path) return ERR_BADPARAMS;
    return DeleteFileA(path) ? nullptr : LastPlatformFailure(ERR_FILE);
}

ErrorCode CDiskFS::Rename(const char* oldPath, const char* newPath) {
    if (!oldPath || !newPath) return ERR_BADPARAMS;
    return MoveFileA(oldPath, newPath) ? nullptr : LastPlatformFailure(ERR_FILE);
}

ErrorCode CDiskFS::MakeDirectory(const char* parentPath, const char* name) {
    char path[kJoinedPathSize];
    if (!JoinDirectoryPath(parentPath, name, path)) return ERR_BADPARAMS;
    return CreateDirectoryA(path, nullptr) ? nullptr : LastPlatformFailure(ERR_FILE);
}

ErrorCode CDiskFS::RemoveDirectory(const char* parentPath, const char* name) {
    char path[kJoinedPathSize];
    if (!JoinDirectoryPath(parentPath, name, path)) return ERR_BADPARAMS;
    return RemoveDirectoryA(path) ? nullptr : LastPlatformFailure(ERR_FILE);
}

ErrorCode CDiskFS::FindFirst(FindRecord* record, const char* directoryPath) {
    if (!record || !directoryPath) return ERR_BADPARAMS;
    std::memset(record, 0, sizeof(*record));

    char pattern[kPatternSize];
    size_t length = std::strlen(directoryPath);
    size_t separator = NeedsSeparator(directoryPath, length) ? 1 : 0;
    if (length + separator + sizeof("*.*") > kPatternSize) return ERR_BADPARAMS;
    std::memcpy(pattern, directoryPath, length);
    if (separator) pattern[length] = '\\';
    std::memcpy(pattern + length + separator, "*.*", sizeof("*.*"));

    // The find-data block comes from the general allocator, not a pool.
    auto* data = new (std::nothrow) WIN32_FIND_DATAA;
    if (!data) return ERR_ALLOCFAIL;
    HANDLE search = FindFirstFileA(pattern, data);
    if (search == INVALID_HANDLE_VALUE) {
        ErrorCode error = LastPlatformFailure(ERR_FILE);
        delete data;
        return error;
    }
    record->service = this;
    record->cookie = reinterpret_cast<uintptr_t>(search);
    record->state = data;
    record->attributes = data->dwFileAttributes & kRecordAttributes;
    record->name = data->cFileName;
    // A drive's root lists no "." or "..", so they are skipped, not assumed.
    return IsDotEntry(record->name) ? FindNext(record) : nullptr;
}

ErrorCode CDiskFS::FindNext(FindRecord* record) {
    if (!record || !record->state) return ERR_BADPARAMS;
    auto* data = static_cast<WIN32_FIND_DATAA*>(record->state);
    do {
        if (!FindNextFileA(SearchHandle(record), data)) return LastPlatformFailure(ERR_FILE);
        record->attributes = data->dwFileAttributes & kRecordAttributes;
    } while (IsDotEntry(data->cFileName));
    return nullptr;
}

ErrorCode CDiskFS::FindClose(FindRecord* record) {
    if (!record || !record->state) return ERR_BADPARAMS;
    ErrorCode error = ::FindClose(SearchHandle(record)) ? nullptr : LastPlatformFailure(ERR_FILE);
    delete static_cast<WIN32_FIND_DATAA*>(record->state);
    std::memset(record, 0, sizeof(*record));
    return error;
}

ErrorCode CDiskFS::GetPathInfo(const char* path, uint32_t id, void* value) {
    if (id != PATHINFO_FULL_PATH) return ERR_NOTIMPLEMENTED;
    if (!path || !value) return ERR_BADPARAMS;
    auto* fullPath = static_cast<char*>(value);
    DWORD length = GetFullPathNameA(path, DWORD(kJoinedPathSize), fullPath, nullptr);
    if (length == 0) {
        fullPath[0] = '\0';
        return LastPlatformFailure(ERR_FILE);
    }
    // A length of the buffer's size or more is the size the path would need:
    // it does not fit, and the buffer holds nothing.
    if (length >= kJoinedPathSize) return ERR_UNKNOWN;
    fullPath[length] = '\0';
    return nullptr;
}
