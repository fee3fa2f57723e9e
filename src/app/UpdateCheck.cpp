#include "app/UpdateCheck.h"

#include <cstring>

#include "app/AppState.h"
#include "app/DeltaTarget.h"
#include "app/MeasureQueue.h"
#include "app/Messages.h"
#include "app/Removals.h"
#include "app/SafeFormat.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "payload/PatchNames.h"

namespace {

// What a file's rename needs: no other program may hold it without sharing
// its deletion (as a running game holds its data).
constexpr DWORD kDeleteAccess = 0x00010000;
constexpr uint32_t kFileRecord = 1024;
// An NTFS folder index entry without its name (entry header and file name
// attribute); the name follows in UTF-16.
constexpr uint32_t kIndexEntry = 82;

enum class Fault { kNone, kInUse, kNoMatch, kSpace };

struct Pass {
    Fault fault = Fault::kNone;
    char name[kPathSize] = {};  // the file at fault, below the game folder
    uint64_t need = 0;          // bytes the run writes at its peak
    uint32_t cluster = 4096;
    CMeasureQueue* queue = nullptr;  // the delta keys' files
};

Pass* s_pass = nullptr;

void Fail(Fault fault, const char* relative) {
    if (s_pass->fault != Fault::kNone) return;
    s_pass->fault = fault;
    CopyText(s_pass->name, kPathSize, relative);
}

// A new file beside its old one takes its clusters (a power of two on every
// Windows file system), a file record, one more entry in its folder's index
// (the kept old file's name: ".~qo" added), whose nodes are half full on
// average, so twice the entry, and its journal line.
void Need(uint32_t size, const char* relative) {
    const uint64_t round = s_pass->cluster - 1;
    const char* slash = std::strrchr(relative, '\\');
    const size_t keptName = std::strlen(slash ? slash + 1 : relative) + 4;
    s_pass->need += ((size + round) & ~round) + kFileRecord + 2 * (kIndexEntry + 2 * keptName) +
                    std::strlen(relative) + 6;
}

// An installed file the run changes, opened as the change needs it.
void OpenAsChanged(const char* target, const char* relative) {
    // A file the patch adds has nothing to open; a folder in its place is
    // reported by the copy, as before.
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    HANDLE file = CreateFileA(target, GENERIC_READ | kDeleteAccess, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(Fault::kInUse, relative);
        return;
    }
    CloseHandle(file);
}

void CheckCopies(const char* directory) {
    char folder[kPathSize];
    if (!CopyText(folder, kPathSize, directory) || !AppendText(folder, kPathSize, "\\")) return;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, folder)) {
        do {
            char entry[kPathSize];
            char target[kPathSize];
            if (!CopyText(entry, kPathSize, folder) || !AppendText(entry, kPathSize, record.name)) continue;
            if (record.attributes & FA_DIRECTORY) {
                CheckCopies(entry);
                continue;
            }
            // Names the copy refuses are reported by it, as before.
            if (!TargetPathsOf(entry, target, nullptr)) continue;
            CFile* source = g_FileApi.Open(entry, FM_READ, nullptr);
            const uint32_t size = source ? source->GetSize() : 0;
            delete source;
            const char* relative = target + std::strlen(g_GameFolder);
            Need(size, relative);
            OpenAsChanged(target, relative);
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

// Queues the installed file of a delta folder to be measured (MeasureQueue.h).
void CheckRebuild(const char* deltaFolder, bool fits) {
    if (!fits) return;  // reported by the update, as before
    QueuedFile* slot = s_pass->queue->Slot();
    if (!CopyText(slot->folder, kPathSize, deltaFolder)) return;
    slot->file = OpenKeyedFile(deltaFolder, slot->target, slot->old, &slot->opened);
    s_pass->queue->Push();
}

// A delta folder's installed file, measured: its key, its size and access.
void CheckKey(QueuedFile* slot) {
    uint32_t newSize = 0;
    const char* relative = DeltaRelativePart(slot->folder);
    const int read = slot->file ? MatchKeyedFile(slot->folder, slot->target, slot->old, slot->file, slot->read,
                                                 &slot->content, &newSize)
                                : slot->opened;
    // Closed before it is opened as the change needs it, which shares nothing.
    delete slot->file;
    slot->file = nullptr;
    if (read != 1) {
        // The file at fault: the target, or the source it is rebuilt from.
        Fail(read ? Fault::kInUse : Fault::kNoMatch, slot->old[0] ? slot->old + std::strlen(g_GameFolder) : relative);
        return;
    }
    if (newSize) {
        Need(newSize, relative);
        OpenAsChanged(slot->target, relative);
    }
}

void CheckRemoval(const char* target, const char* relative, bool listed) {
    if (listed) OpenAsChanged(target, relative);
}

bool FreeSpace(uint64_t* bytes, uint32_t* cluster) {
    char root[kPathSize];
    DWORD sectors = 0, sectorBytes = 0, freeClusters = 0, clusters = 0;
    if (!GetVolumePathNameA(g_GameFolder, root, kPathSize) ||
        !GetDiskFreeSpaceA(root, &sectors, &sectorBytes, &freeClusters, &clusters) || !sectors || !sectorBytes)
        return false;
    *cluster = sectors * sectorBytes;
    *bytes = uint64_t(freeClusters) * *cluster;
    return true;
}

void RunPass(Pass* pass) {
    s_pass = pass;
    uint64_t free = 0;
    const bool known = FreeSpace(&free, &pass->cluster);
    CheckCopies(kPatchFilesPath);
    {
        CMeasureQueue queue(kMeasureBlake3, CheckKey);
        pass->queue = &queue;
        WalkDeltaFolders(kDeltasRoot, CheckRebuild);
    }
    VisitRemovals(CheckRemoval);
    if (known && pass->need > free && pass->fault == Fault::kNone) {
        pass->fault = Fault::kSpace;
        pass->need -= free;
    }
    s_pass = nullptr;
}

}  // namespace

int CheckBeforeUpdate() {
    for (;;) {
        Pass pass;
        RunPass(&pass);
        if (pass.fault == Fault::kNone) return 1;
        // The texts for strings files written before these keys existed.
        static const char* const kKeys[] = {"errinuse", "errnomatch", "errspace"};
        static const char* const kTexts[] = {
            "%s is in use by another program or locked. Close that program and choose Retry.",
            "%s is not a file this patch can update: it was changed or damaged. Restore it and choose Retry.",
            "The update needs %d MB more free space on the game's drive. Free some space and choose Retry."};
        const uint64_t megabytes = (pass.need + (1u << 20) - 1) >> 20;
        const int kind = int(pass.fault) - 1;
        const FormatArg argument = pass.fault == Fault::kSpace
                                       ? FormatArg::Integer(int32_t(megabytes < 0x7FFFFFFF ? megabytes : 0x7FFFFFFF))
                                       : FormatArg::String(pass.name);
        if (ShowFormatted(kKeys[kind], kTexts[kind], argument, MB_RETRYCANCEL | MB_ICONEXCLAMATION) != IDRETRY)
            return 0;
    }
}
