#include "host_paths.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "win32/errors.h"
#include "win32/files.h"

namespace w32 {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasDrive(const char* path) {
    char c = path[0];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

// Characters Windows refuses in a name; the wildcards only where allowed.
bool ValidName(const std::string& name, bool allowWildcards) {
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("<>:\"|", c)) return false;
        if ((c == '*' || c == '?') && !allowWildcards) return false;
    }
    return true;
}

std::vector<std::string> SplitHost(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

bool CurrentDirectory(std::string* out) {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) {
            SetLastError(ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    *out = buffer.data();
    return true;
}

// A path taken apart: where it starts and its components, "." and ".."
// already applied (".." stops at the start of a drive or of the host).
struct Parsed {
    char drive = 0;  // the drive letter as given, or 0
    std::vector<std::string> components;
    bool trailingSeparator = false;
};

// With validate, names with characters Windows refuses fail with
// ERROR_INVALID_NAME; wildcards pass only in the last name, and only when
// allowWildcards is set.
bool Parse(const char* path, Parsed* out, bool validate, bool allowWildcards) {
    if (!path || !*path) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    const char* rest = path;
    if (HasDrive(path)) {
        out->drive = path[0];
        rest = path + 2;
    } else if (!IsSeparator(path[0])) {
        std::string cwd;
        if (!CurrentDirectory(&cwd)) return false;
        out->components = SplitHost(cwd);
    }
    std::string name;
    bool afterWildcard = false;
    for (const char* p = rest;; ++p) {
        if (*p && !IsSeparator(*p)) {
            name += *p;
            continue;
        }
        if (validate && !name.empty()) {
            if (afterWildcard || !ValidName(name, allowWildcards)) {
                SetLastError(ERROR_INVALID_NAME);
                return false;
            }
            afterWildcard = name.find_first_of("*?") != std::string::npos;
        }
        if (name == "..") {
            if (!out->components.empty()) out->components.pop_back();
        } else if (!name.empty() && name != ".") {
            out->components.push_back(name);
        }
        name.clear();
        if (!*p) break;
    }
    size_t length = std::strlen(rest);
    out->trailingSeparator = length > 0 && IsSeparator(rest[length - 1]);
    return true;
}

std::string Join(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') return directory + name;
    return directory + "/" + name;
}

// The entry of directory (info: its stat) named name, or failing that the
// first (in byte order) whose name differs only in ASCII case; empty when
// there is none.
std::string FindEntry(const std::string& directory, const struct stat& info, const std::string& name) {
    struct stat entry;
    if (stat(Join(directory, name).c_str(), &entry) == 0) return name;
    return FindCaseVariant(directory, name, info);
}

}  // namespace

bool ResolvePath(const char* path, HostPath* out, bool allowWildcards) {
    Parsed parsed;
    if (!Parse(path, &parsed, true, allowWildcards)) return false;
    std::string current = "/";
    if (parsed.drive) {
        char variable[] = "W32_DRIVE_?";
        variable[10] = char(parsed.drive & ~0x20);
        const char* root = std::getenv(variable);
        if (!root || !*root) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        current = root;
        while (current.size() > 1 && current.back() == '/') current.pop_back();
    }
    const std::vector<std::string>& names = parsed.components;
    *out = HostPath{};
    out->isRoot = names.empty();
    out->parentIsRoot = names.size() == 1;
    out->parentExists = true;
    out->parentHost = current;
    // Most paths name their folders exactly as they are: when the folder
    // part exists as given, only the last name needs the case-blind search.
    // The result is the one the walk below gives, at a fraction of the calls.
    // An entry that exists exactly as named settles it in one host call.
    if (names.size() > 1) {
        std::string parent = current;
        for (size_t i = 0; i + 1 < names.size(); ++i) parent = Join(parent, names[i]);
        std::string exact = Join(parent, names.back());
        struct stat entry = {};
        const bool exists = !allowWildcards && stat(exact.c_str(), &entry) == 0;
        const int exactError = errno;
        struct stat info = {};
        if (exists || (stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode))) {
            out->parentHost = parent;
            out->lastName = names.back();
            out->host = exact;
            if (allowWildcards) return true;
            std::string found = exists ? std::string() : FindCaseVariant(parent, names.back(), info);
            if (!found.empty()) {
                out->host = Join(parent, found);
            } else {
                // Found as named, or missing in any letter case: that stat stands.
                out->statTaken = true;
                out->statError = exists ? 0 : exactError;
                out->info = exists ? entry : out->info;
            }
            return true;
        }
    }
    bool resolving = true;  // every component so far names an existing directory
    struct stat info;       // of current, when listed is set
    bool listed = stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    for (size_t i = 0; i < names.size(); ++i) {
        bool last = i + 1 == names.size();
        std::string name = names[i];
        if (resolving && listed && !(last && allowWildcards)) {
            std::string found = FindEntry(current, info, name);
            if (!found.empty()) name = found;
        }
        if (last) {
            out->parentHost = current;
            out->lastName = names[i];
        }
        current = Join(current, name);
        if (!last && resolving) listed = resolving = stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    out->parentExists = resolving;
    out->host = current;
    return true;
}

bool StatResolved(const HostPath& path, struct stat* info) {
    if (!path.statTaken) return stat(path.host.c_str(), info) == 0;
    if (path.statError == 0) {
        *info = path.info;
        return true;
    }
    errno = path.statError;
    return false;
}

bool FullWindowsPath(const char* path, std::string* out) {
    Parsed parsed;
    if (!Parse(path, &parsed, false, false)) return false;
    std::string full;
    if (parsed.drive) {
        full = parsed.drive;
        full += ':';
    }
    for (const std::string& name : parsed.components) full += "\\" + name;
    if (parsed.components.empty() || parsed.trailingSeparator) full += '\\';
    *out = full;
    return true;
}

DWORD ErrorFromErrno(int error, DWORD fallback) {
    switch (error) {
        case ENOENT: return ERROR_FILE_NOT_FOUND;
        case ENOTDIR: return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR: return ERROR_ACCESS_DENIED;
        case EMFILE:
        case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return ERROR_DISK_FULL;
        case EROFS: return ERROR_WRITE_PROTECT;
        case ETXTBSY:
        case EBUSY: return ERROR_SHARING_VIOLATION;
        case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
        case EXDEV: return ERROR_NOT_SAME_DEVICE;
        case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        default: return fallback;
    }
}

bool IsReadOnly(const struct stat& info) { return (info.st_mode & S_IWUSR) == 0; }

namespace {
const char kDosAttributeName[] = "user.DOSATTRIB";
constexpr DWORD kStoredBits = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
}  // namespace

DWORD StoredDosAttributes(const std::string& hostPath) {
    char text[32];
    ssize_t length = getxattr(hostPath.c_str(), kDosAttributeName, text, sizeof text - 1);
    if (length <= 0) return 0;
    text[length] = '\0';
    return DWORD(std::strtoul(text, nullptr, 16)) & kStoredBits;
}

bool StoreDosAttributes(const std::string& hostPath, DWORD attributes) {
    attributes &= kStoredBits;
    if (!attributes) {
        if (removexattr(hostPath.c_str(), kDosAttributeName) == 0 || errno == ENODATA || errno == ENOTSUP) return true;
        return false;
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "0x%x", unsigned(attributes));
    return setxattr(hostPath.c_str(), kDosAttributeName, text, size_t(length), 0) == 0;
}

DWORD AttributesOf(const std::string& hostPath, const struct stat& info) {
    DWORD attributes = IsReadOnly(info) ? FILE_ATTRIBUTE_READONLY : 0;
    if (S_ISDIR(info.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    attributes |= StoredDosAttributes(hostPath);
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

DWORD MissingEntryError(const HostPath& path) {
    return path.parentExists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace w32
