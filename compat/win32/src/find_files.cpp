// FindFirstFileA / FindNextFileA / FindClose over a directory snapshot.
// Entries come in case-insensitive name order (as on the usual Windows file
// systems), preceded by "." and ".." except in a root directory.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "host_paths.h"
#include "win32/errors.h"
#include "win32/files.h"
#include "win32/handles.h"

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c; }

// '*' matches any run, '?' any one character, letters without regard to
// case. A pattern ending in ".*" also matches names without an extension, so
// "*.*" matches every name.
bool Matches(const char* pattern, const char* name) {
    if (!*pattern) return !*name;
    if (*pattern == '*') {
        for (const char* rest = name;; ++rest) {
            if (Matches(pattern + 1, rest)) return true;
            if (!*rest) return false;
        }
    }
    if (!std::strcmp(pattern, ".*") && !*name) return true;
    if (!*name) return false;
    if (*pattern != '?' && FoldAscii(*pattern) != FoldAscii(*name)) return false;
    return Matches(pattern + 1, name + 1);
}

bool LessNoCase(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = FoldAscii(a[i]), y = FoldAscii(b[i]);
        if (x != y) return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

class FindSearch : public w32::KernelObject {
public:
    bool ClosedByCloseHandle() const override { return false; }

    std::string directory;           // host path of the listed directory
    std::vector<std::string> names;  // matching entries, in listing order
    size_t next = 0;                 // index of the entry FindNextFileA reports
};

FILETIME ToFileTime(const struct timespec& time) {
    // 100 ns units since 1601; 11644473600 s lie between 1601 and 1970.
    uint64_t units = (uint64_t(time.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(time.tv_nsec) / 100;
    return FILETIME{DWORD(units), DWORD(units >> 32)};
}

// Fills data for the next entry that still exists; false at the end.
bool Report(FindSearch* search, LPWIN32_FIND_DATAA data) {
    while (search->next < search->names.size()) {
        const std::string& name = search->names[search->next++];
        struct stat info;
        std::string host = name == "." ? search->directory
                           : name == ".." ? search->directory + "/.."
                                          : search->directory + "/" + name;
        if (stat(host.c_str(), &info) != 0) continue;  // gone since the snapshot
        std::memset(data, 0, sizeof(*data));
        data->dwFileAttributes = w32::AttributesOf(host, info);
        data->ftCreationTime = ToFileTime(info.st_ctim);
        data->ftLastAccessTime = ToFileTime(info.st_atim);
        data->ftLastWriteTime = ToFileTime(info.st_mtim);
        if (!S_ISDIR(info.st_mode)) {
            data->nFileSizeHigh = DWORD(uint64_t(info.st_size) >> 32);
            data->nFileSizeLow = DWORD(uint64_t(info.st_size));
        }
        std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
        return true;
    }
    return false;
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findFileData) {
    w32::HostPath path;
    if (!w32::ResolvePath(fileName, &path, true)) return INVALID_HANDLE_VALUE;
    if (!findFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (path.isRoot || path.lastName.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (!path.parentExists || stat(path.parentHost.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DIR* listing = opendir(path.parentHost.c_str());
    if (!listing) {
        SetLastError(w32::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    auto* search = new FindSearch;
    search->directory = path.parentHost;
    while (dirent* entry = readdir(listing)) {
        const char* name = entry->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
        // A name that does not fit the record cannot be reported whole.
        if (std::strlen(name) < MAX_PATH && Matches(path.lastName.c_str(), name)) search->names.push_back(name);
    }
    closedir(listing);
    std::sort(search->names.begin(), search->names.end(), LessNoCase);
    if (!path.parentIsRoot) {
        std::vector<std::string> dots;
        if (Matches(path.lastName.c_str(), ".")) dots.push_back(".");
        if (Matches(path.lastName.c_str(), "..")) dots.push_back("..");
        search->names.insert(search->names.begin(), dots.begin(), dots.end());
    }
    if (!Report(search, findFileData)) {
        delete search;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return w32::RegisterHandle(search);
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findFileData) {
    FindSearch* search = w32::LookupHandleAs<FindSearch>(findFile);
    if (!search || !findFileData) {
        SetLastError(search ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Report(search, findFileData)) return TRUE;
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL WINAPI FindClose(HANDLE findFile) {
    if (!w32::LookupHandleAs<FindSearch>(findFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return w32::ReleaseHandle(findFile) ? TRUE : FALSE;
}
