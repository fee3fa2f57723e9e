#include "app/PartialFile.h"

#include <cstring>

#include "app/AppState.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "framework/AsciiText.h"

namespace {

// Attributes that stop a file from being replaced, or from being emptied by
// an open that does not ask for them.
constexpr DWORD kGuardingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool MoveReplacing(const char* from, const char* to, bool writeThrough) {
    // Write-through: the move is on disk when the call returns. Without it
    // the caller flushes the volume before it relies on the move.
    DWORD flags = MOVEFILE_REPLACE_EXISTING | (writeThrough ? MOVEFILE_WRITE_THROUGH : 0);
    if (MoveFileExA(from, to, flags)) return true;
    // Systems without the call (the 9x family) delete, then move.
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES && !DeleteFileA(to)) return false;
    return MoveFileA(from, to) != FALSE;
}

// A guarded target's old file, set aside while the new file takes its
// place: the target's name followed by the suffix twice. No temporary file
// is so named, as no target's name ends in the suffix.
bool KeptPathOf(const char* target, char* kept) {
    if (!PartialPathOf(target, kept)) return false;
    const size_t length = std::strlen(kept);
    const size_t suffix = std::strlen(kPartialFileSuffix);
    if (length + suffix >= kPartialPathSize) return false;
    std::memcpy(kept + length, kPartialFileSuffix, suffix + 1);
    return true;
}

bool IsKeptPath(const char* path, size_t length) {
    const size_t suffix = std::strlen(kPartialFileSuffix);
    return length > 2 * suffix && CompareNoCase(path + length - suffix, kPartialFileSuffix) == 0 &&
           CompareNoCaseN(path + length - 2 * suffix, kPartialFileSuffix, uint32_t(suffix)) == 0;
}

// The path of the existing file target with its last name spelled as on
// disk (the patch may spell it in other letter cases), so that an old file
// set aside comes back under its own name.
bool NamedAsOnDisk(const char* target, char* named) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(target, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    const char* slash = std::strrchr(target, '\\');
    const size_t folder = slash ? size_t(slash + 1 - target) : 0;
    const size_t name = std::strlen(found.cFileName);
    if (folder + name >= kPathSize) return false;
    std::memcpy(named, target, folder);
    std::memcpy(named + folder, found.cFileName, name + 1);
    return true;
}

// Removes a kept old file once the new file is in place. Win32 calls only:
// runs on the flush's helper thread too.
void RemoveKeptFile(const char* kept) {
    SetFileAttributesA(kept, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kept);
}

// A kept old file that a run which died left: back in place when its target
// is missing (the new file never arrived), else removed.
void SettleKeptFile(char* kept, size_t length) {
    char target[kPartialPathSize];
    std::memcpy(target, kept, length - 2 * std::strlen(kPartialFileSuffix));
    target[length - 2 * std::strlen(kPartialFileSuffix)] = '\0';
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES)
        MoveFileA(kept, target);
    else
        RemoveKeptFile(kept);
}

}  // namespace

bool PartialPathOf(const char* target, char* partial) {
    size_t length = std::strlen(target);
    size_t suffix = std::strlen(kPartialFileSuffix);
    if (length + suffix >= kPartialPathSize) return false;
    std::memcpy(partial, target, length);
    std::memcpy(partial + length, kPartialFileSuffix, suffix + 1);
    return true;
}

bool RemovePartialFile(const char* partial) {
    DWORD attributes = GetFileAttributesA(partial);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (attributes & kGuardingAttributes) SetFileAttributesA(partial, FILE_ATTRIBUTE_NORMAL);
    return !g_FileApi.Delete(partial);
}

CFile* CreatePartialFile(const char* partial) {
    const uint16_t mode = FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE;
    CFile* file = g_FileApi.Open(partial, mode, nullptr);
    if (!file && RemovePartialFile(partial)) file = g_FileApi.Open(partial, mode, nullptr);
    return file;
}

void RemovePartialFilesBelow(const char* folder) {
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, folder)) {
        size_t suffix = std::strlen(kPartialFileSuffix);
        do {
            char path[kPartialPathSize];
            size_t folderLength = std::strlen(folder);
            size_t nameLength = std::strlen(record.name);
            if (folderLength + nameLength + 2 > kPartialPathSize) continue;
            std::memcpy(path, folder, folderLength);
            std::memcpy(path + folderLength, record.name, nameLength + 1);
            if (record.attributes & FA_DIRECTORY) {
                path[folderLength + nameLength] = '\\';
                path[folderLength + nameLength + 1] = '\0';
                RemovePartialFilesBelow(path);
            } else if (IsKeptPath(path, folderLength + nameLength)) {
                SettleKeptFile(path, folderLength + nameLength);
            } else if (nameLength > suffix && CompareNoCase(record.name + nameLength - suffix, kPartialFileSuffix) == 0) {
                RemovePartialFile(path);
            }
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

bool FlushPartial(const char* partial) {
    CFile* file = g_FileApi.Open(partial, FM_READ | FM_WRITE, nullptr);
    if (!file) return false;
    bool flushed = !file->Flush();
    delete file;
    return flushed;
}

bool MovePartialIn(const char* partial, const char* target, bool writeThrough) {
    // Most targets are replaced as they are; only a refused move looks at
    // the target's attributes (a read-only one refuses). Such an old file
    // steps aside whole, under its kept name (a read-only file may be
    // renamed, not replaced), before the new one takes its place: a kill
    // at any point leaves it in place or beside it with its bytes and
    // attributes, never in place with its attributes cleared, and the next
    // run's sweep puts it back when its target is missing.
    if (MoveReplacing(partial, target, writeThrough)) return true;
    DWORD old = GetFileAttributesA(target);
    bool guarded = old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_DIRECTORY) && (old & kGuardingAttributes);
    char named[kPathSize];
    char kept[kPartialPathSize];
    if (!guarded || !NamedAsOnDisk(target, named) || !KeptPathOf(named, kept) ||
        !MoveReplacing(named, kept, writeThrough))
        return false;
    if (MoveReplacing(partial, target, writeThrough)) {
        RemoveKeptFile(kept);
        return true;
    }
    MoveReplacing(kept, named, writeThrough);  // back in place, under its own name
    return false;
}

bool ReplaceWithPartial(const char* partial, const char* target, bool writeThrough) {
    if (MovePartialIn(partial, target, writeThrough)) return true;
    RemovePartialFile(partial);
    return false;
}
