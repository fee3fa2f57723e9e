// The journal of a patch run and what it lets a run undo or finish (see
// Transaction.h).
#include "app/Transaction.h"

#include <cstring>

#include "app/AppState.h"
#include "app/GameChecks.h"
#include "app/GameVolume.h"
#include "app/HelperThread.h"
#include "app/HexNumber.h"
#include "app/PartialFile.h"
#include "app/Registry.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "framework/AsciiText.h"
#include "pools/DefaultPools.h"

const char kJournalName[] = "QuorPatch.~qj";
const char kKeptFileSuffix[] = ".~qo";

namespace {

// A journaled path as the log names it: below the game folder.
const char* GameRelativePart(const char* target) {
    const size_t length = std::strlen(g_GameFolder);
    return CompareNoCaseN(target, g_GameFolder, uint32_t(length)) == 0 ? target + length : target;
}

CFile* g_Journal = nullptr;
bool g_JournalDirty = false;  // lines written that no flush of the journal covered
// A replay's moves are written through one by one: its volume cannot be
// flushed whole once they are made.
bool g_ReplayWriteThrough = true;

bool JournalPath(char* path) {
    return CopyText(path, kPathSize, g_GameFolder) && AppendText(path, kPathSize, kJournalName);
}

// target followed by suffix, in a buffer of kPartialPathSize bytes.
bool WithSuffix(const char* target, const char* suffix, char* path) {
    return CopyText(path, kPartialPathSize, target) && AppendText(path, kPartialPathSize, suffix);
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool Append(const char* kind, const char* path) {
    const char* relative = GameRelativePart(path);
    char line[kPathSize + 8];
    if (!CopyText(line, sizeof line, kind) || !AppendText(line, sizeof line, relative) ||
        !AppendText(line, sizeof line, "\r\n"))
        return false;
    // Written at once (not flushed): a killed run's journal names every
    // temporary file it made.
    const uint32_t length = uint32_t(std::strlen(line));
    uint32_t put = 0;
    if (!g_Journal || g_Journal->Write(line, length, &put) || put != length) return false;
    g_JournalDirty = true;
    return true;
}

bool FlushJournal() {
    if (!g_JournalDirty) return true;
    g_JournalDirty = false;
    return !g_Journal->Flush();
}

// Deletes a kept old file, a read-only one too.
void DeleteKept(const char* kept) {
    if (!DeleteFileA(kept)) RemovePartialFile(kept);
}

// The journal's text, NUL-terminated, from the pool; null when there is none.
char* LoadJournal() {
    char path[kPathSize];
    if (!JournalPath(path)) return nullptr;
    CFile* file = g_FileApi.Open(path, FM_READ, nullptr);
    if (!file) return nullptr;
    const uint32_t size = file->GetSize();
    char* text = static_cast<char*>(g_pDefaultPtrPool->Alloc(size + 1));
    uint32_t got = 0;
    if (text && file->Read(text, size, &got)) got = 0;
    if (text) text[got] = '\0';
    delete file;
    return text;
}

void RemoveEmptyFoldersAbove(const char* target) {
    char folder[kPathSize];
    if (!CopyText(folder, kPathSize, target)) return;
    const size_t root = std::strlen(g_GameFolder);
    for (char* cut = std::strrchr(folder, '\\'); cut && size_t(cut - folder) > root; cut = std::strrchr(folder, '\\')) {
        *cut = '\0';
        if (!RemoveDirectoryA(folder)) return;
    }
}

// Undoes one line: the kept old file back in place, a file that was missing
// gone again, a folder made removed when empty.
void Undo(char kind, char existed, const char* target) {
    char kept[kPartialPathSize];
    char partial[kPartialPathSize];
    if (kind == 'D') {
        RemoveDirectoryA(target);
        return;
    }
    if (!WithSuffix(target, kKeptFileSuffix, kept) || !PartialPathOf(target, partial)) return;
    bool undone = false;
    if (Exists(kept)) {
        const DWORD flags = g_ReplayWriteThrough ? MOVEFILE_WRITE_THROUGH : 0;
        undone = MoveFileExA(kept, target, MOVEFILE_REPLACE_EXISTING | flags) != 0;
    } else if (kind == 'F' && existed == '0' && Exists(target)) {
        // Journaled before its move: only a file that was moved in is undone.
        RemovePartialFile(target);
        undone = true;
    }
    if (kind == 'F') RemovePartialFile(partial);
    if (undone) LogFileAction(FileAction::kUndone, GameRelativePart(target), 0);
}

// Sweeps after one line of a finished run: its kept old file, and the
// folders a removal emptied. (No temporary file is left by then: a failed
// file's goes at once, and every move comes before the commit.)
void Sweep(char kind, char, const char* target) {
    char kept[kPartialPathSize];
    if (kind == 'D') return;
    if (WithSuffix(target, kKeptFileSuffix, kept)) DeleteKept(kept);
    if (kind == 'X') RemoveEmptyFoldersAbove(target);
}

bool Committed(const char* text) {
    for (const char* line = text; line; line = std::strchr(line, '\n'), line = line ? line + 1 : nullptr)
        if (line[0] == 'C' && line[1] == '\r') return true;
    // Killed between the version's record and the "C" line: the registry
    // tells, unless the patch records the version that was there before.
    uint32_t installed = 0;
    if (std::strncmp(text, "QPJ ", 4) != 0 || std::strlen(text) < 21) return false;
    char number[9] = {};
    std::memcpy(number, text + 4, 8);
    const uint32_t from = uint32_t(ParseHexNumber(number));
    std::memcpy(number, text + 13, 8);
    const uint32_t to = uint32_t(ParseHexNumber(number));
    HKEY key;
    if (from == to || !OpenGameKey(KEY_READ, &key)) return false;
    const bool read = ReadRegistryNumber(key, kValueGameVersion, &installed);
    RegCloseKey(key);
    return read && installed == to;
}

using Step = void (*)(char kind, char existed, const char* target);

// Calls step for every line of text, last first.
void StepLines(char* text, Step step) {
    for (char* end = text + std::strlen(text); end > text;) {
        char* line = end - 1;
        while (line > text && line[-1] != '\n') --line;
        char* stop = end;
        while (stop > line && (stop[-1] == '\n' || stop[-1] == '\r')) --stop;
        *stop = '\0';
        end = line;
        const char kind = line[0];
        const bool twoLetters = kind == 'F';
        const char* relative = line + (twoLetters ? 3 : 2);
        if ((kind != 'F' && kind != 'D' && kind != 'X') || stop - line < (twoLetters ? 4 : 3)) continue;
        // Only a path the patch could have written is followed: a damaged or
        // planted journal never reaches outside the game folder.
        char name[kPathSize];
        if (!CopyText(name, kPathSize, relative)) continue;
        for (size_t n = std::strlen(name); n && name[n - 1] == '\\';) name[--n] = '\0';
        char target[kPathSize];
        if (IsPatchFilePath(name) && CopyText(target, kPathSize, g_GameFolder) && AppendText(target, kPathSize, name))
            step(kind, line[1], target);
    }
}

void SweepLines(void* text) { StepLines(static_cast<char*>(text), Sweep); }

// The sweep's lines do not depend on each other, and the folders their
// removals empty go whichever thread deletes last there: the lines are cut
// into kSweepParts runs (mostly other folders each, as the walk wrote them),
// each on a helper thread but the first, which this one takes. Deleting a
// file waits on the disk more than on a processor (a volume that trims what
// it frees waits for each trim), so more threads than processors keep the
// disk busy. The step uses no pool and shows nothing.
constexpr int kSweepParts = kParkedHelperThreads + 1;

void SweepOnThreads(char* text) {
    char* parts[kSweepParts] = {text};
    int count = 1;
    const size_t length = std::strlen(text);
    for (int i = 1; i < kSweepParts; ++i) {
        char* cut = text + length * size_t(i) / kSweepParts;
        if (cut <= parts[count - 1]) continue;
        while (*cut && cut[-1] != '\n') ++cut;
        if (!*cut) break;
        cut[-1] = '\0';
        parts[count++] = cut;
    }
    void* helpers[kSweepParts] = {};
    for (int i = 1; i < count; ++i) helpers[i] = StartHelperThread(SweepLines, parts[i]);
    StepLines(parts[0], Sweep);
    for (int i = 1; i < count; ++i) {
        if (helpers[i])
            WaitHelperThread(helpers[i]);
        else
            StepLines(parts[i], Sweep);
    }
}

// Calls step for every journal line, last first (a sweep's on several threads),
// then makes the steps durable and removes the journal. The steps' moves are
// made durable by one flush of the volume after them, or, where it cannot be
// flushed whole, each written through; the journal goes after them, and a
// cut that keeps its removal keeps every change made before it (metadata
// reaches the disk in order), even where that flush was refused.
void Replay(char* text, Step step) {
    const bool wasOpen = GameVolumeOpen();
    const bool volume = wasOpen || OpenGameVolume(g_GameFolder);
    g_ReplayWriteThrough = !volume;
    if (step == Sweep)
        SweepOnThreads(text);
    else
        StepLines(text, step);
    // The journal goes last, once what it undid is on disk.
    if (volume) FlushGameVolume();
    if (volume && !wasOpen) CloseGameVolume();
    g_ReplayWriteThrough = true;
    delete g_Journal;
    g_Journal = nullptr;
    g_JournalDirty = false;
    char path[kPathSize];
    if (JournalPath(path)) RemovePartialFile(path);
}

void ReplayJournal(Step step) {
    // Closed first: it is read back through a handle of its own.
    delete g_Journal;
    g_Journal = nullptr;
    char* text = LoadJournal();
    if (!text) return;
    Replay(text, step);
    g_pDefaultPtrPool->Free(text);
}

void InstalledVersion(uint32_t* version) {
    HKEY key;
    *version = 0;
    if (!OpenGameKey(KEY_READ, &key)) return;
    ReadRegistryNumber(key, kValueGameVersion, version);
    RegCloseKey(key);
}

}  // namespace

bool BeginTransaction() {
    char path[kPathSize];
    if (!JournalPath(path)) return false;
    g_Journal = g_FileApi.Open(path, FM_READ | FM_WRITE | FM_CREATE | FM_TRUNCATE, nullptr);
    if (!g_Journal) return false;
    uint32_t from = 0;
    InstalledVersion(&from);
    char header[32];
    const FormatArg versions[] = {FormatArg::Integer(int32_t(from)), FormatArg::Integer(int32_t(PatchVersion()))};
    FormatText(header, sizeof header, "QPJ %08X %08X\r\n", versions, 2);
    uint32_t put = 0;
    const uint32_t length = uint32_t(std::strlen(header));
    if (g_Journal->Write(header, length, &put) || put != length) {
        ReplayJournal(Undo);
        return false;
    }
    g_JournalDirty = true;
    return true;
}

bool InTransaction() { return g_Journal != nullptr; }

bool JournalTarget(const char* target) {
    if (!g_Journal) return true;
    return Append(Exists(target) ? "F1 " : "F0 ", target);
}

bool JournalFolder(const char* folder) { return !g_Journal || Append("D ", folder); }

bool SecureJournal() { return !g_Journal || FlushJournal(); }

bool MoveInKeepingOld(const char* partial, const char* target, bool writeThrough) {
    char kept[kPartialPathSize];
    if (!WithSuffix(target, kKeptFileSuffix, kept)) return false;
    if (writeThrough && g_Journal && !FlushJournal()) return false;
    // A kept file there already holds the old bytes: the target is a new
    // file of this run (copied whole, now rebuilt), replaced as it is.
    // A missing target has nothing to keep; a folder is never moved aside.
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const bool setAside = MoveFileExA(target, kept, writeThrough ? MOVEFILE_WRITE_THROUGH : 0) != FALSE;
    const DWORD error = setAside ? 0 : GetLastError();
    if (!setAside && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS &&
        error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        return false;
    if (MovePartialIn(partial, target, writeThrough)) return true;
    if (setAside) MoveFileExA(kept, target, MOVEFILE_WRITE_THROUGH);
    return false;
}

bool ReplaceKeepingOld(const char* partial, const char* target, bool writeThrough) {
    if (MoveInKeepingOld(partial, target, writeThrough)) return true;
    RemovePartialFile(partial);
    return false;
}

bool JournalRemoval(const char* target) { return Append("X ", target); }

bool SetAsideJournaled(const char* target, bool writeThrough) {
    char kept[kPartialPathSize];
    return WithSuffix(target, kKeptFileSuffix, kept) &&
           MoveFileExA(target, kept, writeThrough ? MOVEFILE_WRITE_THROUGH : 0) != FALSE;
}

bool SetAsideForRemoval(const char* target) {
    return JournalRemoval(target) && FlushJournal() && SetAsideJournaled(target, true);
}

void RollBack() {
    if (g_Journal) ReplayJournal(Undo);
}

void FinishTransaction() {
    if (!g_Journal) return;
    Append("C", "");
    FlushJournal();
    ReplayJournal(Sweep);
}

int CommitUpdate() {
    if (!WriteGameVersion()) {
        RollBack();
        return 0;
    }
    FinishTransaction();
    return 1;
}

void RecoverInterruptedRun() {
    if (!FindGameFolder()) return;
    char* text = LoadJournal();
    if (!text) return;
    Replay(text, Committed(text) ? Sweep : Undo);
    g_pDefaultPtrPool->Free(text);
}
