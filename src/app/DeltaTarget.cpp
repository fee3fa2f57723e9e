// Rebuilding game files from deltas. The installed file is read through the
// file layer twice, once for its size and CRC-32 and once by the delta's
// copies (through a second handle too, for the segments a helper thread
// decodes), never whole in memory; the result goes to the temporary file.
#include "app/DeltaTarget.h"

#include <cstring>

#include "app/AppState.h"
#include "app/HelperThread.h"
#include "app/PartialFile.h"
#include "app/SafeFormat.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "payload/Delta.h"
#include "payload/DeltaKey.h"
#include "payload/PatchCrc.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kReadSize = 32768;

const char* DeltaRelativePart(const char* deltaFolder) {
    return std::strlen(deltaFolder) > kDeltasPrefixLength ? deltaFolder + kDeltasPrefixLength : "";
}

// Calls visit for every folder of the tree that holds delta entries, and
// for every folder whose path does not fit the buffers (fits false): it can
// never be rebuilt and is reported.
void WalkDeltaTree(const char* sourcePath, void (*visit)(const char* deltaFolder, bool fits)) {
    char directory[kPathSize];
    if (!CopyText(directory, kPathSize, sourcePath) || !AppendText(directory, kPathSize, "\\")) {
        visit(sourcePath, false);
        return;
    }
    bool holdsDeltas = false;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            char entry[kPathSize];
            if (!(record.attributes & FA_DIRECTORY))
                holdsDeltas = true;
            else if (CopyText(entry, kPathSize, directory) && AppendText(entry, kPathSize, record.name))
                WalkDeltaTree(entry, visit);
            else
                visit(entry, false);
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
    if (holdsDeltas) visit(sourcePath, true);
}

// The size and CRC-32 of a whole file, read from its start.
bool MeasureFile(CFile* file, uint32_t* size, uint32_t* crc) {
    void* buffer = g_pDefaultPtrPool->Alloc(kReadSize);
    if (!buffer) return false;
    *size = file->GetSize();
    *crc = 0;
    bool read = !file->Seek(0, ORIGIN_BEGIN);
    for (uint32_t remaining = *size; remaining && read;) {
        uint32_t chunk = remaining < kReadSize ? remaining : kReadSize;
        uint32_t got = 0;
        read = !file->Read(buffer, chunk, &got) && got == chunk;
        *crc = Crc32Update(*crc, buffer, chunk);
        remaining -= chunk;
    }
    g_pDefaultPtrPool->Free(buffer);
    return read;
}

enum class Match { kNone, kAlreadyNew, kDelta };

// Looks through the folder's deltas for the installed content (size, crc):
// kAlreadyNew when it is the new content, kDelta with the path of the delta
// keyed by it. Entries whose name or header does not read, or whose header
// contradicts the name, are passed over.
Match FindDelta(const char* deltaFolder, uint32_t size, uint32_t crc, char* deltaPath) {
    char directory[kPathSize];
    if (!CopyText(directory, kPathSize, deltaFolder) || !AppendText(directory, kPathSize, "\\")) return Match::kNone;
    Match match = Match::kNone;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            uint32_t oldSize = 0, oldCrc = 0;
            char entry[kPathSize];
            if ((record.attributes & FA_DIRECTORY) || !ParseDeltaKey(record.name, &oldSize, &oldCrc) ||
                !CopyText(entry, kPathSize, directory) || !AppendText(entry, kPathSize, record.name))
                continue;
            CFile* delta = g_FileApi.Open(entry, FM_READ, nullptr);
            if (!delta) continue;
            DeltaHeader header{};
            bool sound = !ReadDeltaHeader(delta, &header) && header.oldSize == oldSize && header.oldCrc == oldCrc;
            delete delta;
            if (!sound) continue;
            if (header.newSize == size && header.newCrc == crc) {
                match = Match::kAlreadyNew;
                break;
            }
            if (oldSize == size && oldCrc == crc && match == Match::kNone) {
                CopyText(deltaPath, kPathSize, entry);
                match = Match::kDelta;
            }
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
    return match;
}

// Writes the new file into partial from the old file and the delta, and
// flushes it; false (partial removed) on any failure.
bool Rebuild(CFile* old, const char* target, const char* deltaPath, const char* partial) {
    CFile* delta = g_FileApi.Open(deltaPath, FM_READ, nullptr);
    if (!delta) return false;
    // A second reader of the installed file for the segments a helper thread
    // decodes; without one, this thread decodes them all.
    CFile* secondOld = g_FileApi.Open(target, FM_READ | FM_SHARE_READ, nullptr);
    const DeltaHelper helper{{StartHelperThread, WaitHelperThread}, secondOld};
    DeltaHeader header{};
    bool made = !ReadDeltaHeader(delta, &header) && !delta->Seek(0, ORIGIN_BEGIN);
    RemovePartialFile(partial);
    CFile* out = made ? g_FileApi.Open(partial, FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr) : nullptr;
    // The applier checks the new size and CRC-32 of what it wrote; the size
    // on disk and the flush are checked here.
    made = out && !ApplyDelta(old, delta, out, &helper) && out->GetSize() == header.newSize && !out->Flush();
    delete secondOld;
    delete delta;
    delete out;  // closed before it is moved
    if (!made) RemovePartialFile(partial);
    return made;
}

void PatchAsking(const char* deltaFolder, bool fits) {
    while (!(fits && PatchOneFile(deltaFolder)) && AskRetryAfterFailure(DeltaRelativePart(deltaFolder))) {
    }
}

void RemovePartialOf(const char* deltaFolder, bool fits) {
    if (!fits) return;
    char target[kPathSize];
    char partial[kPartialPathSize];
    const char* relative = DeltaRelativePart(deltaFolder);
    if (IsPatchFilePath(relative) && CopyText(target, kPathSize, g_GameFolder) &&
        AppendText(target, kPathSize, relative) && PartialPathOf(target, partial))
        RemovePartialFile(partial);
}

}  // namespace

void PatchDeltaTree(const char* sourcePath) { WalkDeltaTree(sourcePath, PatchAsking); }

void RemoveDeltaPartials(const char* sourcePath) { WalkDeltaTree(sourcePath, RemovePartialOf); }

int PatchOneFile(const char* deltaFolder) {
    const char* relative = DeltaRelativePart(deltaFolder);
    if (!IsPatchFilePath(relative)) return 0;  // would be written elsewhere, or not as named
    char target[kPathSize];
    char partial[kPartialPathSize];
    char deltaPath[kPathSize];
    if (!CopyText(target, kPathSize, g_GameFolder) || !AppendText(target, kPathSize, relative) ||
        !PartialPathOf(target, partial))
        return 0;
    CFile* old = g_FileApi.Open(target, FM_READ | FM_SHARE_READ, nullptr);
    if (!old) return 0;
    uint32_t size = 0, crc = 0;
    Match match = MeasureFile(old, &size, &crc) ? FindDelta(deltaFolder, size, crc, deltaPath) : Match::kNone;
    bool made = match == Match::kDelta && Rebuild(old, target, deltaPath, partial);
    delete old;  // closed before it is replaced
    if (match == Match::kAlreadyNew) return 1;
    // Rebuilt files are few and large: each is flushed on its own (Rebuild)
    // and moved in written through, outside the batches.
    return made && ReplaceWithPartial(partial, target, true) ? 1 : 0;
}
