// The registry over one registry-export text file, W32_REGISTRY_FILE, which
// holds keys of any of the predefined roots (the program uses only
// HKEY_LOCAL_MACHINE). Every call reads the file afresh; a change rewrites it
// atomically through a temporary file and a rename, leaving all other lines
// exactly as they were. Without the variable, or without the file, the
// registry is empty; a change then needs the variable and creates the file.
// A file that is not a registry export fails every call with ERROR_BADDB.
//
// HKEY_LOCAL_MACHINE\SOFTWARE is split into two views as on a 64-bit Windows:
// the 32-bit view of a key SOFTWARE\X is stored as SOFTWARE\WOW6432Node\X.
#include "HostRegistryHive.h"
#include "env_faults.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct KeyHandle {
    std::string root;
    std::string path; // below the root, components separated by '\'
    REGSAM access;
};

// Guards the handle list and serialises every read-modify-write of the file.
std::mutex g_Mutex;
std::vector<std::unique_ptr<KeyHandle>>* g_Handles = new std::vector<std::unique_ptr<KeyHandle>>;

const char* PredefinedRoot(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS)
        return "HKEY_USERS";
    return nullptr;
}

// The key a handle names; false for an unknown or closed handle.
bool ResolveHandle(HKEY key, KeyHandle* out)
{
    if (const char* root = PredefinedRoot(key)) {
        *out = {root, "", KEY_ALL_ACCESS};
        return true;
    }
    for (const auto& handle : *g_Handles) {
        if (reinterpret_cast<HKEY>(handle.get()) == key) {
            *out = *handle;
            return true;
        }
    }
    return false;
}

std::string JoinPath(const std::string& parent, const char* subKey)
{
    std::string child = subKey != nullptr ? subKey : "";
    while (!child.empty() && child.back() == '\\')
        child.pop_back();
    if (child.empty())
        return parent;
    return parent.empty() ? child : parent + "\\" + child;
}

const char* HiveFile()
{
    const char* path = std::getenv("W32_REGISTRY_FILE");
    return path != nullptr && *path != '\0' ? path : nullptr;
}

// Loads the hive; a missing file is an empty hive.
LSTATUS LoadHive(w32host::RegistryHive* hive)
{
    hive->InitEmpty();
    const char* path = HiveFile();
    if (path == nullptr)
        return ERROR_SUCCESS;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    std::string text;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return ERROR_ACCESS_DENIED;
    if (!hive->Parse(text)) {
        std::fprintf(stderr, "w32: %s is not a registry-export file\n", path);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

LSTATUS ErrorOfErrno(int error)
{
    return error == ENOSPC ? ERROR_DISK_FULL : error == EACCES || error == EROFS ? ERROR_ACCESS_DENIED
                                                                                   : ERROR_WRITE_FAULT;
}

// Writes the hive to a temporary file beside the registry file and renames it
// over the registry file, so a reader sees the old or the new file, whole.
LSTATUS SaveHive(const w32host::RegistryHive& hive)
{
    const char* path = HiveFile();
    if (path == nullptr)
        return ERROR_ACCESS_DENIED;
    const std::string text = hive.Text();
    mode_t mode = 0644;
    struct stat info;
    if (stat(path, &info) == 0)
        mode = info.st_mode & 07777;
    static unsigned s_Counter = 0;
    const std::string temporary =
        std::string(path) + ".tmp." + std::to_string(getpid()) + "." + std::to_string(++s_Counter);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return ErrorOfErrno(errno);
    size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), path) != 0)
        error = errno;
    if (error != 0) {
        unlink(temporary.c_str());
        return ErrorOfErrno(error);
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(const std::string& root, const std::string& path, REGSAM access)
{
    g_Handles->push_back(std::unique_ptr<KeyHandle>(new KeyHandle{root, path, access}));
    return reinterpret_cast<HKEY>(g_Handles->back().get());
}

bool EqualNoCase(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// The view an open or create uses: the one asked for, else the process's own
// (a 32-bit program sees the 32-bit view, a 64-bit program the 64-bit one).
bool UsesThirtyTwoBitView(REGSAM access)
{
    if ((access & KEY_WOW64_32KEY) != 0)
        return true;
    if ((access & KEY_WOW64_64KEY) != 0)
        return false;
    return sizeof(void*) == 4;
}

// The stored path of the key named by subKey below parent. The view is chosen
// where the path passes through HKEY_LOCAL_MACHINE\SOFTWARE; below that a
// handle already lies in one view and its subkeys stay there. A path that
// names WOW6432Node itself is taken as it stands. (Windows shares a few keys
// below SOFTWARE between the views; none of them is modelled.)
std::string ViewPath(const KeyHandle& parent, const char* subKey, REGSAM access)
{
    const std::string path = JoinPath(parent.path, subKey);
    if (parent.root != "HKEY_LOCAL_MACHINE" || !UsesThirtyTwoBitView(access))
        return path;
    if (!parent.path.empty() && !EqualNoCase(parent.path, "SOFTWARE"))
        return path;
    const size_t first = path.find('\\');
    if (first == std::string::npos || !EqualNoCase(path.substr(0, first), "SOFTWARE"))
        return path;
    const size_t second = path.find('\\', first + 1);
    if (EqualNoCase(path.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1),
                    "WOW6432Node"))
        return path;
    return path.substr(0, first) + "\\WOW6432Node" + path.substr(first);
}

bool KeyPresent(const w32host::RegistryHive& hive, const KeyHandle& key)
{
    return key.path.empty() || hive.KeyExists(key.root, key.path);
}

} // namespace

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> lock(g_Mutex);
    KeyHandle parent;
    if (!ResolveHandle(key, &parent))
        return ERROR_INVALID_HANDLE;
    w32host::RegistryHive hive;
    if (const LSTATUS status = LoadHive(&hive); status != ERROR_SUCCESS)
        return status;
    const KeyHandle wanted{parent.root, ViewPath(parent, subKey, access), access};
    if (!KeyPresent(hive, wanted))
        return ERROR_FILE_NOT_FOUND;
    // A key that may be read but not written (another account's, a locked hive).
    if ((access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0)
        if (const DWORD error = w32::TakeRegistryFault("open"); error != 0)
            return static_cast<LSTATUS>(error);
    *result = NewHandle(wanted.root, wanted.path, access);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    if (result == nullptr || reserved != 0)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> lock(g_Mutex);
    KeyHandle parent;
    if (!ResolveHandle(key, &parent))
        return ERROR_INVALID_HANDLE;
    w32host::RegistryHive hive;
    if (const LSTATUS status = LoadHive(&hive); status != ERROR_SUCCESS)
        return status;
    const KeyHandle wanted{parent.root, ViewPath(parent, subKey, access), access};
    const bool existed = KeyPresent(hive, wanted);
    if (!existed) {
        if ((parent.access & KEY_CREATE_SUB_KEY) == 0)
            return ERROR_ACCESS_DENIED;
        hive.AddKey(wanted.root, wanted.path);
        if (const LSTATUS status = SaveHive(hive); status != ERROR_SUCCESS)
            return status;
    }
    if (disposition != nullptr)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = NewHandle(wanted.root, wanted.path, access);
    return ERROR_SUCCESS;
}

// The open key behind a handle, with the access it needs, in a freshly read hive.
static LSTATUS LoadKey(HKEY key, REGSAM needed, KeyHandle* handle, w32host::RegistryHive* hive)
{
    if (!ResolveHandle(key, handle))
        return ERROR_INVALID_HANDLE;
    if ((handle->access & needed) == 0)
        return ERROR_ACCESS_DENIED;
    if (const LSTATUS status = LoadHive(hive); status != ERROR_SUCCESS)
        return status;
    if (!KeyPresent(*hive, *handle))
        return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize)
{
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_Mutex);
    KeyHandle handle;
    w32host::RegistryHive hive;
    if (const LSTATUS status = LoadKey(key, KEY_QUERY_VALUE, &handle, &hive); status != ERROR_SUCCESS)
        return status;
    w32host::RegistryValue value;
    if (!hive.FindValue(handle.root, handle.path, valueName != nullptr ? valueName : "", &value))
        return ERROR_FILE_NOT_FOUND;
    if (type != nullptr)
        *type = value.type;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr) {
        if (*dataSize < needed) {
            // Windows leaves the buffer's contents undefined here; this layer
            // fills it with what fits, no terminator, so that a caller that
            // uses it anyway shows.
            std::memcpy(data, value.data.data(), *dataSize);
            *dataSize = needed;
            return ERROR_MORE_DATA;
        }
        if (needed != 0)
            std::memcpy(data, value.data.data(), needed);
    }
    if (dataSize != nullptr)
        *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize)
{
    if (reserved != 0 || (data == nullptr && dataSize != 0))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(g_Mutex);
    KeyHandle handle;
    w32host::RegistryHive hive;
    if (const LSTATUS status = LoadKey(key, KEY_SET_VALUE, &handle, &hive); status != ERROR_SUCCESS)
        return status;
    // A hive that cannot take the change (a full disk, a failing device).
    if (const DWORD error = w32::TakeRegistryFault("set"); error != 0)
        return static_cast<LSTATUS>(error);
    w32host::RegistryValue value;
    value.name = valueName != nullptr ? valueName : "";
    value.type = type;
    if (dataSize != 0)
        value.data.assign(data, data + dataSize);
    hive.SetValue(handle.root, handle.path, value);
    return SaveHive(hive);
}

LSTATUS WINAPI RegCloseKey(HKEY key)
{
    if (PredefinedRoot(key) != nullptr)
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(g_Mutex);
    for (auto it = g_Handles->begin(); it != g_Handles->end(); ++it) {
        if (reinterpret_cast<HKEY>(it->get()) == key) {
            g_Handles->erase(it);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_HANDLE;
}
