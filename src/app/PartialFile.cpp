#include "app/PartialFile.h"

#include <cstring>

#include "file/MountTable.h"
#include "file/PlainFileName.h"

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

bool FlushPartial(const char* partial) {
    CFile* file = g_FileApi.Open(partial, FM_READ | FM_WRITE, nullptr);
    if (!file) return false;
    bool flushed = !file->Flush();
    delete file;
    return flushed;
}

bool MovePartialIn(const char* partial, const char* target, bool writeThrough) {
    // Most targets are replaced as they are; only a refused move looks at
    // the target's attributes (a read-only one refuses) and tries again
    // with normal ones, which are put back when that fails too.
    if (MoveReplacing(partial, target, writeThrough)) return true;
    DWORD old = GetFileAttributesA(target);
    bool guarded = old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_DIRECTORY) && (old & kGuardingAttributes);
    if (guarded && SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL)) {
        if (MoveReplacing(partial, target, writeThrough)) return true;
        SetFileAttributesA(target, old);
    }
    return false;
}

bool ReplaceWithPartial(const char* partial, const char* target, bool writeThrough) {
    if (MovePartialIn(partial, target, writeThrough)) return true;
    RemovePartialFile(partial);
    return false;
}
