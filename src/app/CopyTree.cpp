// The copy worker's file work: every pack path below "DATA\Files\" maps to
// the same relative path below the game folder.
#include <cstring>

#include "app/AppState.h"
#include "app/Messages.h"
#include "app/PartialFile.h"
#include "app/SafeFormat.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "payload/PatchNames.h"
#include "pools/DefaultPools.h"

namespace {

constexpr uint32_t kTransferSize = 32768;

// The path below the game folder; empty for "DATA\Files" itself and for a
// path outside it, which is no patch file path and so is never written.
const char* RelativePart(const char* sourcePath) {
    const char* relative = PatchFilesRelativePart(sourcePath);
    return relative ? relative : "";
}

// Asks Abort/Retry/Ignore until the entry is copied or given up. An entry
// whose path does not fit the buffers can never be copied and is reported.
void CopyFileAsking(const char* entryPath, bool pathFits) {
    for (;;) {
        if (pathFits && CopyOneFile(entryPath)) return;
        char text[kPathSize];
        const FormatArg args[] = {FormatArg::String(RelativePart(entryPath))};
        FormatText(text, kPathSize, LookupText("errcopy"), args, 1);
        int answer = MessageBoxA(nullptr, text, "Error", MB_ABORTRETRYIGNORE | MB_ICONQUESTION);
        if (answer == IDABORT) FatalMessage("errnotcomplete", nullptr);
        if (answer == IDRETRY) continue;
        // Ignore skips the file. So does a box that failed to appear, and the
        // file is just as missing then: both leave the update incomplete.
        g_UpdateFailed = 1;
        return;
    }
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
            // A folder whose name would lead out of the game folder, or that
            // Windows would not create as named, fails like a file.
            if (fits && (record.attributes & FA_DIRECTORY) && IsPatchFilePath(RelativePart(entry)))
                CopyTree(entry);
            else
                CopyFileAsking(entry, fits);
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

void RemovePartialFiles(const char* sourcePath) {
    char directory[kPathSize];
    if (!CopyText(directory, kPathSize, sourcePath) || !AppendText(directory, kPathSize, "\\")) return;
    FindRecord record{};
    if (!g_FileApi.FindFirst(&record, directory)) {
        do {
            char entry[kPathSize];
            char target[kPathSize];
            char partial[kPartialPathSize];
            if (!CopyText(entry, kPathSize, directory) || !AppendText(entry, kPathSize, record.name) ||
                !IsPatchFilePath(RelativePart(entry)))
                continue;
            if (record.attributes & FA_DIRECTORY)
                RemovePartialFiles(entry);
            else if (CopyText(target, kPathSize, g_GameFolder) && AppendText(target, kPathSize, RelativePart(entry)) &&
                     PartialPathOf(target, partial))
                RemovePartialFile(partial);
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
}

void MakeTargetDir(const char* sourcePath) {
    // One level at a time, from the game folder down: the disk service makes
    // a single folder per call. Existing levels fail harmlessly. Only names
    // that stay inside the game folder are made.
    const char* rest = RelativePart(sourcePath);
    if (*rest && !IsPatchFilePath(rest)) return;
    char parent[kPathSize];
    if (!CopyText(parent, kPathSize, g_GameFolder)) return;
    while (*rest) {
        const char* end = std::strchr(rest, '\\');
        size_t length = end ? size_t(end - rest) : std::strlen(rest);
        if (length >= kPathSize) return;
        if (length) {
            char name[kPathSize];
            std::memcpy(name, rest, length);
            name[length] = '\0';
            g_FileApi.MakeDirectory(parent, name);
            if (!AppendText(parent, kPathSize, name) || !AppendText(parent, kPathSize, "\\")) return;
        }
        rest += length;
        if (*rest == '\\') ++rest;
    }
}

int CopyOneFile(const char* sourcePath) {
    const char* relative = RelativePart(sourcePath);
    if (!IsPatchFilePath(relative)) return 0;  // would be written elsewhere, or not as named
    char target[kPathSize];
    char partial[kPartialPathSize];
    if (!CopyText(target, kPathSize, g_GameFolder) || !AppendText(target, kPathSize, relative) ||
        !PartialPathOf(target, partial))
        return 0;
    void* buffer = g_pDefaultPtrPool->Alloc(kTransferSize);
    if (!buffer) return 0;
    CFile* source = g_FileApi.Open(sourcePath, FM_READ, nullptr);
    if (!source) {
        g_pDefaultPtrPool->Free(buffer);
        return 0;
    }
    // The bytes go to the temporary file; the target is not touched until
    // they are all there. A retry starts from nothing.
    RemovePartialFile(partial);
    CFile* destination = g_FileApi.Open(partial, FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr);
    if (!destination) {
        delete source;
        g_pDefaultPtrPool->Free(buffer);
        return 0;
    }

    // Every piece must arrive whole: a short read or a failed or short write
    // (a full disk) fails the file, which is then reported and can be retried.
    bool copied = true;
    for (uint32_t remaining = source->GetSize(); remaining && copied;) {
        uint32_t chunk = remaining < kTransferSize ? remaining : kTransferSize;
        uint32_t got = 0;
        uint32_t put = 0;
        copied = !source->Read(buffer, chunk, &got) && got == chunk && !destination->Write(buffer, chunk, &put) &&
                 put == chunk;
        remaining -= chunk;
    }
    // The bytes reach the disk before the old file is replaced: a write the
    // disk refuses late fails the file here, and a power cut after the
    // move finds the new file whole rather than empty.
    copied = copied && !destination->Flush();
    delete source;
    delete destination;  // closed before it is moved
    g_pDefaultPtrPool->Free(buffer);
    if (!copied) {
        RemovePartialFile(partial);
        return 0;
    }
    return ReplaceWithPartial(partial, target) ? 1 : 0;
}
