// The copy worker's file work: every pack path below "DATA\Files\" maps to
// the same relative path below the game folder.
#include <cstring>

#include "app/AppState.h"
#include "app/CopyBatch.h"
#include "app/DeltaTarget.h"
#include "app/MadeFolders.h"
#include "app/Messages.h"
#include "app/PartialFile.h"
#include "app/Progress.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "payload/PatchNames.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kTransferSize = 32768;

// Set and read by the worker alone: the player chose Abort. The main thread
// learns it from the dialog's result.
bool s_aborted = false;

// The path below the game folder of a copied file or of a rebuilt one (its
// delta folder); empty for "DATA\Files" itself and for a path outside both
// trees, which is no patch file path and so is never written.
const char* RelativePart(const char* sourcePath) {
    const char* relative = PatchFilesRelativePart(sourcePath);
    if (!relative) relative = DeltaRelativePart(sourcePath);
    return relative ? relative : "";
}

// A folder entry that is copied as a folder: one whose name would lead out
// of the game folder, or that Windows would not create as named, fails like
// a file.
bool IsFolderToCopy(const FindRecord& record, const char* entry) {
    return (record.attributes & FA_DIRECTORY) && IsPatchFilePath(RelativePart(entry));
}

// The entry's file made and put in place on its own, flushed and moved in
// written through.
int ProduceOneFile(const char* entryPath) {
    return DeltaRelativePart(entryPath) ? PatchOneFile(entryPath) : CopyOneFile(entryPath);
}

// Copies the entry: queued in the batch, or on its own when the volume
// cannot be flushed whole. A failure is reported once the files before it
// are in place, so that an Abort leaves them there, as when each file was
// copied alone.
void CopyFileAsking(const char* entryPath, bool pathFits) {
    if (s_aborted) return;
    if (pathFits && (Batching() ? QueueOneFile(entryPath) : CopyOneFile(entryPath))) return;
    CommitBatch();
    ReportCopyFailure(entryPath, pathFits);
}

}  // namespace

void CopyTree(const char* sourcePath) {
    char directory[kPathSize];
    if (!CopyText(directory, kPathSize, sourcePath)) return;
    MakeTargetDir(sourcePath);
    size_t length = std::strlen(directory);
    if ((length == 0 || directory[length - 1] != '\\') && !AppendText(directory, kPathSize, "\\")) return;

    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            char entry[kPathSize];
            bool fits = CopyText(entry, kPathSize, directory) && AppendText(entry, kPathSize, record.name);
            if (fits && IsFolderToCopy(record, entry))
                CopyTree(entry);
            else
                CopyFileAsking(entry, fits);
        } while (!s_aborted && !g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

bool UpdateAborted() { return s_aborted; }

bool AskUntilDone(const char* relative, bool (*retry)(const char* argument), const char* argument) {
    for (uint32_t asked = 0; !s_aborted; ++asked) {
        char text[kPathSize];
        const FormatArg args[] = {FormatArg::String(relative)};
        FormatText(text, kPathSize, LookupText("errcopy"), args, 1);
        int answer = AskCopyFailure(text, asked);
        if (answer == IDABORT) {
            AbortUpdate();
            return false;
        }
        if (answer == IDRETRY) {
            if (retry(argument)) return true;
            continue;
        }
        // Ignore skips the file. So does a box that failed to appear, and the
        // file is just as missing then: both leave the update incomplete.
        g_UpdateFailed = 1;
        LogFileAction(FileAction::kSkipped, relative, 0);
        return false;
    }
    return false;
}

void ReportCopyFailure(const char* entryPath, bool pathFits) {
    // A path that does not fit the buffers never gets written: Retry cannot help.
    const auto produce = [](const char* entry) { return ProduceOneFile(entry) != 0; };
    const auto never = [](const char*) { return false; };
    AskUntilDone(RelativePart(entryPath), pathFits ? +produce : +never, entryPath);
}

void AbortUpdate() { s_aborted = true; }

namespace {

// Every missing level of a pack directory's target folder, from the game
// folder down, journaled (journal) or made: one level at a time, as the disk
// service makes a single folder per call. Only names that stay inside the
// game folder. False when a line cannot be written.
bool VisitMissingLevels(const char* sourcePath, bool journal) {
    const char* rest = RelativePart(sourcePath);
    if (*rest && !IsPatchFilePath(rest)) return true;
    char parent[kPathSize];
    if (!CopyText(parent, kPathSize, g_GameFolder)) return true;
    while (*rest) {
        const char* end = std::strchr(rest, '\\');
        size_t length = end ? size_t(end - rest) : std::strlen(rest);
        if (length >= kPathSize) return true;
        if (length) {
            char name[kPathSize];
            std::memcpy(name, rest, length);
            name[length] = '\0';
            char folder[kPathSize];
            if (!CopyText(folder, kPathSize, parent) || !AppendText(folder, kPathSize, name) ||
                !AppendText(folder, kPathSize, "\\"))
                return true;
            // Existing levels fail harmlessly.
            if (GetFileAttributesA(folder) == INVALID_FILE_ATTRIBUTES) {
                if (journal && !JournalFolder(folder)) return false;
                if (!journal && !g_FileApi.MakeDirectory(parent, name)) NoteMadeFolder(folder);
            }
            CopyText(parent, kPathSize, folder);
        }
        rest += length;
        if (*rest == '\\') ++rest;
    }
    return true;
}

}  // namespace

// The folders of the pack directory and of every directory below it, each
// followed by the targets of the files it holds.
bool JournalCopyTargets(const char* sourcePath) {
    char directory[kPathSize];
    if (!VisitMissingLevels(sourcePath, true)) return false;
    if (!CopyText(directory, kPathSize, sourcePath) || !AppendText(directory, kPathSize, "\\")) return true;
    bool written = true;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            char entry[kPathSize];
            char target[kPathSize];
            if (!CopyText(entry, kPathSize, directory) || !AppendText(entry, kPathSize, record.name)) continue;
            if (IsFolderToCopy(record, entry))
                written = JournalCopyTargets(entry);
            else if (TargetPathsOf(entry, target, nullptr))
                written = JournalTarget(target);
        } while (written && !g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
    return written;
}

bool JournalTargetDir(const char* sourcePath) { return VisitMissingLevels(sourcePath, true); }

void MakeTargetDir(const char* sourcePath) { VisitMissingLevels(sourcePath, false); }

bool TargetPathsOf(const char* sourcePath, char* target, char* partial) {
    const char* relative = RelativePart(sourcePath);
    if (!IsPatchFilePath(relative)) return false;  // would be written elsewhere, or not as named
    return CopyText(target, kPathSize, g_GameFolder) && AppendText(target, kPathSize, relative) &&
           (!partial || PartialPathOf(target, partial));
}

bool ProducePartial(const char* sourcePath, const char* partial, bool flush, uint32_t* size) {
    void* buffer = g_pDefaultPtrPool->Alloc(kTransferSize);
    if (!buffer) return false;
    CFile* source = g_FileApi.Open(sourcePath, FM_READ, nullptr);
    if (!source) {
        g_pDefaultPtrPool->Free(buffer);
        return false;
    }
    // The bytes go to the temporary file; the target is not touched until
    // they are all there. The journal on disk names the target already.
    CFile* destination = CreatePartialFile(partial);
    if (!destination) {
        delete source;
        g_pDefaultPtrPool->Free(buffer);
        return false;
    }

    // Every piece must arrive whole: a short read or a failed or short write
    // (a full disk) fails the file, which is then reported and can be retried.
    bool copied = true;
    *size = source->GetSize();
    for (uint32_t remaining = *size; remaining && copied;) {
        uint32_t chunk = remaining < kTransferSize ? remaining : kTransferSize;
        uint32_t got = 0;
        uint32_t put = 0;
        copied = !source->Read(buffer, chunk, &got) && got == chunk && !destination->Write(buffer, chunk, &put) &&
                 put == chunk;
        remaining -= chunk;
        AddProgress(chunk);
    }
    // Flushed here, a write the disk refuses late fails this file.
    copied = copied && (!flush || !destination->Flush());
    delete source;
    delete destination;  // closed before it is moved
    g_pDefaultPtrPool->Free(buffer);
    if (!copied) RemovePartialFile(partial);
    return copied;
}

int CopyOneFile(const char* sourcePath) {
    char target[kPathSize];
    char partial[kPartialPathSize];
    uint32_t size = 0;
    // The bytes reach the disk before the old file is replaced, and the move
    // before this returns: a power cut finds the old file or the new one.
    if (!TargetPathsOf(sourcePath, target, partial) || !ProducePartial(sourcePath, partial, true, &size))
        return 0;
    if (!ReplaceKeepingOld(partial, target, true)) return 0;
    LogPutInPlace(sourcePath, target);
    return 1;
}

bool QueueOneFile(const char* sourcePath) {
    char target[kPathSize];
    char partial[kPartialPathSize];
    uint32_t size = 0;
    if (!TargetPathsOf(sourcePath, target, partial) || !ProducePartial(sourcePath, partial, false, &size))
        return false;
    AddToBatch(sourcePath, size);
    return true;
}
