#include "app/PartialFile.h"

#include <cstring>

#include "file/MountTable.h"
#include "file/PlainFileName.h"

namespace {

// Attributes that stop a file from being replaced, or from being emptied by
// an open that does not ask for them.
constexpr DWORD kGuardingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool MoveReplacing(const char* from, const char* to) {
    // Write-through: the move is on disk when the call returns, so the old
    // file is never replaced by a name whose new bytes a power cut loses.
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
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

void RemovePartialFile(const char* partial) {
    DWORD attributes = GetFileAttributesA(partial);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & kGuardingAttributes) SetFileAttributesA(partial, FILE_ATTRIBUTE_NORMAL);
    g_FileApi.Delete(partial);
}

bool ReplaceWithPartial(const char* partial, const char* target) {
    DWORD old = GetFileAttributesA(target);
    bool guarded = old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_DIRECTORY) && (old & kGuardingAttributes);
    if (guarded) SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    if (MoveReplacing(partial, target)) return true;
    if (guarded) SetFileAttributesA(target, old);
    RemovePartialFile(partial);
    return false;
}
