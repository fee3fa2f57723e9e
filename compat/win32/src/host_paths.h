// Windows paths to host paths, and the host facts the file calls share.
#pragma once

#include <sys/stat.h>

#include <string>

#include "win32/base.h"

namespace w32 {

struct HostPath {
    std::string host;        // the host path, resolved as far as entries exist
    std::string parentHost;  // host path of the directory holding the last component
    std::string lastName;    // the last component as given (empty for a root)
    bool isRoot = false;     // names a drive's root or the host root
    bool parentIsRoot = false;  // the last component lies directly in a root
    bool parentExists = false;  // every component before the last is an existing directory
    // The host's stat of host when resolving already took it (statError 0:
    // it exists, info holds it; else the errno). One Windows call asks the
    // host once per name: StatResolved answers from it.
    bool statTaken = false;
    int statError = 0;
    struct stat info = {};
};

// Resolves path (see win32/files.h for the rules). allowWildcards lets the
// last component carry '*' and '?' (it is then left unresolved). False, with
// the last error set, for a null or empty path, an unmapped drive or a name
// with characters Windows refuses.
bool ResolvePath(const char* path, HostPath* out, bool allowWildcards = false);

// stat of path.host, answered from the resolution when it took one; errno
// is set on failure as stat sets it.
bool StatResolved(const HostPath& path, struct stat* info);

// The absolute Windows form of path, purely textual: drive paths keep their
// drive, other paths are expressed from the host root with backslashes.
bool FullWindowsPath(const char* path, std::string* out);

// The Win32 error for a failed host call's errno; fallback when there is no
// closer match.
DWORD ErrorFromErrno(int error, DWORD fallback);

// Win32 attribute word of a host entry: read-only from the owner's write
// permission, hidden and system from the entry's DOS attribute record.
DWORD AttributesOf(const std::string& hostPath, const struct stat& info);
bool IsReadOnly(const struct stat& info);

// The hidden and system bits of a host entry. They are kept where Wine and
// Samba keep them: the extended attribute "user.DOSATTRIB", text "0x<hex>".
DWORD StoredDosAttributes(const std::string& hostPath);
// Records the hidden and system bits of attributes (the others are dropped);
// false with errno set when the host cannot keep a non-zero record.
bool StoreDosAttributes(const std::string& hostPath, DWORD attributes);

// The entry of folder (info: its stat) whose name differs from name only in
// ASCII case, the first in byte order when there are several; empty when
// there is none (folder_entries.cpp).
std::string FindCaseVariant(const std::string& folder, const std::string& name, const struct stat& info);

// The error for a missing entry: ERROR_FILE_NOT_FOUND when its directory
// exists, else ERROR_PATH_NOT_FOUND.
DWORD MissingEntryError(const HostPath& path);

}  // namespace w32
