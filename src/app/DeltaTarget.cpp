// Rebuilding game files from deltas. The installed file is read through the
// file layer twice, once for its size and digest and once by the
// delta's copies (through a second handle too, for the segments a helper
// thread decodes), never whole in memory; the result goes to the temporary
// file, which is put in place as a copied file is.
#include "app/DeltaTarget.h"

#include <cstring>

#include "app/AppState.h"
#include "app/CopyBatch.h"
#include "app/HelperThread.h"
#include "app/PartialFile.h"
#include "app/Progress.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "framework/AsciiText.h"
#include "payload/Delta.h"
#include "payload/DeltaContent.h"
#include "payload/DeltaKey.h"
#include "pools/DefaultPools.h"
#include "pools/ReusePtrPool.h"

namespace {

constexpr uint32_t kReadSize = 32768;

// While a delta tree is patched, the memory of one file's rebuild is kept for
// the next: a package of many changed files does not take (and touch) fresh
// pages for each. The default pool otherwise.
CPtrPool* s_rebuildPool = nullptr;
CPtrPool* RebuildPool() { return s_rebuildPool ? s_rebuildPool : g_pDefaultPtrPool; }

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

// The size of a whole file and what measures asks for, read once from its
// start.
bool MeasureFile(CFile* file, unsigned measures, DeltaContent* content) {
    void* buffer = RebuildPool()->Alloc(kReadSize);
    if (!buffer) return false;
    const bool read = !MeasureContent(file, static_cast<uint8_t*>(buffer), kReadSize, measures, content);
    RebuildPool()->Free(buffer);
    return read;
}

enum class Match { kNone, kAlreadyNew, kDelta };

// Looks through the folder's deltas for the installed content: kAlreadyNew
// when it is the new content (only when mayBeNew: the file is the target
// itself), kDelta with the path of the delta keyed by it (by its digest
// alone when the delta carries digests). Without content it only reads the
// headers. source (null: not asked) gets the path below the game folder that
// the deltas rebuild from, when it is another than the target's (none when
// the deltas name different ones). Entries
// whose name or header does not read, or whose header contradicts the name,
// are passed over. *lacking (null: not asked): the measures a delta asked
// for that content lacks.
Match FindDelta(const char* deltaFolder, const DeltaContent* content, bool mayBeNew, char* deltaPath,
                uint32_t* newSize, char* source, unsigned* lacking) {
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
            // The deltas of one file read it at one old path: where they
            // disagree the patch is damaged and none of them is used.
            if (source && header.source[0] && source[0] && std::strcmp(source, header.source) != 0) {
                source[0] = '\0';
                break;
            }
            if (source && header.source[0]) CopyText(source, kPathSize, header.source);
            if (!content) continue;
            if (lacking) *lacking |= MeasureFor(header) & ~content->measured;
            if (mayBeNew && IsDeltaNew(header, *content)) {
                match = Match::kAlreadyNew;
                break;
            }
            if (IsDeltaOld(header, *content) && match == Match::kNone) {
                CopyText(deltaPath, kPathSize, entry);
                if (newSize) *newSize = header.newSize;
                match = Match::kDelta;
            }
        } while (!g_FileApi.FindNext(&record));
    }
    g_FileApi.FindClose(&record);
    return match;
}

// FindDelta for an installed file measured (read) for every delta written
// today: its BLAKE3. The file is measured again, with what they lack, only
// for a folder holding a delta keyed by the CRC-32 alone or by a SHA-256.
Match MatchInstalled(const char* deltaFolder, CFile* file, bool read, bool mayBeNew, DeltaContent* content,
                     char* deltaPath, uint32_t* newSize) {
    unsigned lacking = 0;
    if (!read) return Match::kNone;
    const Match match = FindDelta(deltaFolder, content, mayBeNew, deltaPath, newSize, nullptr, &lacking);
    if (!lacking || match == Match::kAlreadyNew) return match;
    if (!MeasureFile(file, content->measured | lacking, content)) return Match::kNone;
    return FindDelta(deltaFolder, content, mayBeNew, deltaPath, newSize, nullptr, &lacking);
}

// Opens, measures and matches the file at path; *unread: it is there but
// could not be read.
Match MatchPath(const char* deltaFolder, const char* path, bool mayBeNew, DeltaContent* content, char* deltaPath,
                uint32_t* newSize, bool* unread) {
    CFile* file = g_FileApi.Open(path, FM_READ | FM_SHARE_READ, nullptr);
    *unread = !file && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    if (!file) return Match::kNone;
    const bool read = MeasureFile(file, kMeasureBlake3, content);
    *unread = !read;
    const Match match = MatchInstalled(deltaFolder, file, read, mayBeNew, content, deltaPath, newSize);
    delete file;
    return match;
}

// The source's files a delta folder's deltas from another path rebuild from,
// tried in turn once the target matched none: a source that this run has
// already replaced or removed has its old bytes kept beside it
// (Transaction.h), so that copy goes first and the rebuild reads the old
// bytes in whatever order the run touches the files. oldPath gets the file
// matched (failing, the source; empty without one); unread: the source is
// there but could not be read.
Match FindSourceFile(const char* deltaFolder, char* oldPath, char* deltaPath, uint32_t* newSize,
                     DeltaContent* content, bool* unread) {
    char source[kPathSize] = "";
    FindDelta(deltaFolder, nullptr, false, nullptr, nullptr, source, nullptr);
    Match match = Match::kNone;
    oldPath[0] = '\0';
    for (int kept = 1; match == Match::kNone && source[0] && kept >= 0; --kept) {
        if (!CopyText(oldPath, kPathSize, g_GameFolder) || !AppendText(oldPath, kPathSize, source) ||
            (kept && !AppendText(oldPath, kPathSize, kKeptFileSuffix)))
            return Match::kNone;
        bool keptUnread = false;
        match = MatchPath(deltaFolder, oldPath, false, content, deltaPath, newSize, kept ? &keptUnread : unread);
    }
    return match;
}

// Finds the installed file a delta folder rebuilds from, measuring it into
// content: the target itself, or the source that deltas from another path
// name (FindSourceFile). oldPath gets the file matched (failing, the target
// or the source); unread: a file there could not be read.
Match FindOldFile(const char* deltaFolder, const char* target, char* oldPath, char* deltaPath, uint32_t* newSize,
                  DeltaContent* content, bool* unread) {
    CopyText(oldPath, kPathSize, target);
    const Match match = MatchPath(deltaFolder, target, true, content, deltaPath, newSize, unread);
    if (match != Match::kNone || *unread) return match;
    char source[kPathSize];
    const Match fromSource = FindSourceFile(deltaFolder, source, deltaPath, newSize, content, unread);
    if (source[0]) CopyText(oldPath, kPathSize, source);
    return fromSource;
}

// Writes the new file into partial from the old file and the delta, flushed
// when asked; false (partial removed) on any failure. *size: the new size.
bool Rebuild(CFile* old, const char* oldPath, const char* deltaPath, const char* partial, bool flush,
             uint32_t* size) {
    CFile* delta = g_FileApi.Open(deltaPath, FM_READ, nullptr);
    if (!delta) return false;
    DeltaHeader header{};
    bool made = !ReadDeltaHeader(delta, &header) && !delta->Seek(0, ORIGIN_BEGIN);
    *size = header.newSize;
    // A second reader of the installed file for the segments a helper thread
    // decodes; without one, this thread decodes them all. A delta in one
    // stream needs none.
    CFile* secondOld =
        made && (header.flags & kDeltaSegments) ? g_FileApi.Open(oldPath, FM_READ | FM_SHARE_READ, nullptr) : nullptr;
    const DeltaHelper helper{{StartHelperThread, WaitHelperThread}, secondOld};
    CFile* out = made ? CreatePartialFile(partial) : nullptr;
    // The applier checks the new size, CRC-32 and digest of what it wrote;
    // the size on disk and the flush are checked here.
    made = out && !ApplyDelta(old, delta, out, &helper, RebuildPool()) && out->GetSize() == header.newSize &&
           (!flush || !out->Flush());
    delete secondOld;
    delete delta;
    delete out;  // closed before it is moved
    if (!made) RemovePartialFile(partial);
    return made;
}

// As a copied file: a failure is reported once the files queued before it
// are in place, so that an Abort leaves them there.
void PatchAsking(const char* deltaFolder, bool fits) {
    if (UpdateAborted()) return;
    if (fits && (Batching() ? QueueOnePatch(deltaFolder) : PatchOneFile(deltaFolder))) return;
    CommitBatch();
    ReportCopyFailure(deltaFolder, fits);
}

enum class Outcome { kFailed, kAlreadyNew, kRebuilt };

// The game file of a delta folder and its temporary name; false for a name
// that would be written elsewhere, or not as named: it is never written.
bool TargetOfDelta(const char* deltaFolder, char* target, char* partial) {
    const char* relative = DeltaRelativePart(deltaFolder);
    return relative && IsPatchFilePath(relative) && CopyText(target, kPathSize, g_GameFolder) &&
           AppendText(target, kPathSize, relative) && PartialPathOf(target, partial);
}

// The folders of a target from another path (its old file lies elsewhere,
// its folder may be new) are those of the delta folder's parent, into
// parent (kPathSize bytes).
bool ParentOf(const char* deltaFolder, char* parent) {
    if (!CopyText(parent, kPathSize, deltaFolder)) return false;
    char* cut = std::strrchr(parent, '\\');
    if (cut) *cut = '\0';
    return cut != nullptr;
}

void MakeFolderOf(const char* deltaFolder) {
    char parent[kPathSize];
    if (ParentOf(deltaFolder, parent)) MakeTargetDir(parent);
}

// Rebuilds the game file of the delta folder into its temporary file,
// flushed when asked.
Outcome RebuildPartial(const char* deltaFolder, bool flush, char* target, char* partial, uint32_t* size) {
    const char* relative = DeltaRelativePart(deltaFolder);
    char deltaPath[kPathSize];
    char oldPath[kPathSize];
    if (!TargetOfDelta(deltaFolder, target, partial)) return Outcome::kFailed;
    DeltaContent content;
    bool unread = false;
    const Match match = FindOldFile(deltaFolder, target, oldPath, deltaPath, nullptr, &content, &unread);
    if (match == Match::kAlreadyNew) {
        LogFileAction(FileAction::kAlreadyNew, relative, content.size);
        AddProgress(content.size);
        return Outcome::kAlreadyNew;
    }
    if (match != Match::kDelta) return Outcome::kFailed;
    if (std::strcmp(oldPath, target) != 0) MakeFolderOf(deltaFolder);
    CFile* old = g_FileApi.Open(oldPath, FM_READ | FM_SHARE_READ, nullptr);
    const bool made = old && Rebuild(old, oldPath, deltaPath, partial, flush, size);
    delete old;  // closed before it is replaced
    if (made) AddProgress(*size);
    return made ? Outcome::kRebuilt : Outcome::kFailed;
}

// Set by JournalTargetOf when a line cannot be written.
bool s_journalFailed = false;

// A missing target's folders come first: a target from another path may go
// to a folder the rebuild makes, which is undone after the target.
void JournalTargetOf(const char* deltaFolder, bool fits) {
    char target[kPathSize];
    char partial[kPartialPathSize];
    char parent[kPathSize];
    if (s_journalFailed || !fits || !TargetOfDelta(deltaFolder, target, partial)) return;
    const bool missing = GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES;
    if ((missing && ParentOf(deltaFolder, parent) && !JournalTargetDir(parent)) || !JournalTarget(target))
        s_journalFailed = true;
}

}  // namespace

void PatchDeltaTree(const char* sourcePath) {
    CReusePtrPool reuse(g_pDefaultPtrPool);
    s_rebuildPool = &reuse;
    WalkDeltaTree(sourcePath, PatchAsking);
    s_rebuildPool = nullptr;
}

CFile* OpenKeyedFile(const char* deltaFolder, char* target, char* oldPath, int* result) {
    char partial[kPartialPathSize];
    *result = 0;
    oldPath[0] = '\0';
    if (!TargetOfDelta(deltaFolder, target, partial)) return nullptr;
    CopyText(oldPath, kPathSize, target);
    // A target not there yet is rebuilt from the source its deltas name, if
    // any: that file is read instead.
    char source[kPathSize] = "";
    if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES &&
        (FindDelta(deltaFolder, nullptr, false, nullptr, nullptr, source, nullptr), source[0]) &&
        !(CopyText(oldPath, kPathSize, g_GameFolder) && AppendText(oldPath, kPathSize, source)))
        return nullptr;
    CFile* file = g_FileApi.Open(oldPath, FM_READ | FM_SHARE_READ, nullptr);
    if (!file) *result = GetFileAttributesA(oldPath) == INVALID_FILE_ATTRIBUTES ? 0 : -1;
    return file;
}

int MatchKeyedFile(const char* deltaFolder, const char* target, char* oldPath, CFile* file, bool read,
                   DeltaContent* content, uint32_t* newSize) {
    char deltaPath[kPathSize];
    *newSize = 0;
    if (!read) return -1;
    const bool isTarget = std::strcmp(oldPath, target) == 0;
    Match match = MatchInstalled(deltaFolder, file, read, isTarget, content, deltaPath, newSize);
    if (match != Match::kNone || !isTarget) return match != Match::kNone;
    // A target there but not keyed: its deltas may come from another path.
    char source[kPathSize];
    bool unread = false;
    match = FindSourceFile(deltaFolder, source, deltaPath, newSize, content, &unread);
    if (source[0]) CopyText(oldPath, kPathSize, source);
    return match != Match::kNone ? 1 : unread ? -1 : 0;
}

bool MeasureGameContent(const char* path, DeltaContent* content) {
    CFile* file = g_FileApi.Open(path, FM_READ | FM_SHARE_READ, nullptr);
    if (!file) return false;
    bool measured = MeasureFile(file, kMeasureCrc, content);
    delete file;
    return measured;
}

void WalkDeltaFolders(const char* sourcePath, void (*visit)(const char* deltaFolder, bool fits)) {
    WalkDeltaTree(sourcePath, visit);
}

bool JournalDeltaTargets(const char* sourcePath) {
    s_journalFailed = false;
    WalkDeltaTree(sourcePath, JournalTargetOf);
    return !s_journalFailed;
}

const char* DeltaRelativePart(const char* path) {
    const size_t root = kDeltasPrefixLength - 1;
    if (!path || CompareNoCaseN(path, kDeltasRoot, uint32_t(root)) != 0 || path[root] != '\\') return nullptr;
    return path + kDeltasPrefixLength;
}

int PatchOneFile(const char* deltaFolder) {
    char target[kPathSize];
    char partial[kPartialPathSize];
    uint32_t size = 0;
    Outcome outcome = RebuildPartial(deltaFolder, true, target, partial, &size);
    if (outcome == Outcome::kAlreadyNew) return 1;
    // Rebuilt on its own, the file is moved in written through.
    if (outcome != Outcome::kRebuilt || !ReplaceKeepingOld(partial, target, true)) return 0;
    LogPutInPlace(deltaFolder, target);
    return 1;
}

bool QueueOnePatch(const char* deltaFolder) {
    char target[kPathSize];
    char partial[kPartialPathSize];
    uint32_t size = 0;
    Outcome outcome = RebuildPartial(deltaFolder, false, target, partial, &size);
    if (outcome == Outcome::kRebuilt) AddToBatch(deltaFolder, size);
    return outcome != Outcome::kFailed;
}
