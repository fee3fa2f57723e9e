#include "app/Removals.h"

#include <cstring>

#include "app/AppState.h"
#include "app/CopyBatch.h"
#include "app/DeltaTarget.h"
#include "app/Messages.h"
#include "app/RunLog.h"
#include "app/SafeFormat.h"
#include "app/Transaction.h"
#include "app/Update.h"
#include "file/MountTable.h"
#include "file/PlainFileName.h"
#include "payload/RemoveList.h"
#include "pools/DefaultPools.h"

namespace {

// A list longer than this is no list the tool writes (a line per content,
// some 300 bytes at most, for every file of a game).
constexpr uint32_t kMaxListSize = 64u << 20;

char* LoadList(uint32_t* size) {
    CFile* file = g_FileApi.Open(kRemoveListPath, FM_READ, nullptr);
    if (!file) return nullptr;
    *size = file->GetSize();
    char* text = *size && *size <= kMaxListSize ? static_cast<char*>(g_pDefaultPtrPool->Alloc(*size)) : nullptr;
    uint32_t got = 0;
    if (text && (file->Read(text, *size, &got) || got != *size)) {
        g_pDefaultPtrPool->Free(text);
        text = nullptr;
    }
    delete file;
    return text;
}

// The installed files of the list, in its order, as the removal's first
// pass found them: a mark, then the path below the game folder and a NUL.
// Each file has a list line at least two bytes longer than its path, so the
// list's size bounds the whole.
struct Chosen {
    char* text = nullptr;
    uint32_t used = 0, capacity = 0;
};
Chosen g_Chosen;
constexpr char kJournaled = 'J';  // to remove, its line written
constexpr char kUnjournaled = 'U';  // to remove, its line could not be written
constexpr char kChanged = 'K';  // changed by the player: stays

// moveAside: the file's line is on disk and the move may be made; else
// all is done as on a Retry.
void RemoveOne(const char* relative, char mark, bool moveAside) {
    char target[kPathSize];
    if (!CopyText(target, kPathSize, g_GameFolder) || !AppendText(target, kPathSize, relative)) return;
    if (mark == kChanged) {
        ShowFormatted("removekept", "%s was changed since it was installed; the patch leaves it in place.",
                      FormatArg::String(relative), MB_OK | MB_ICONINFORMATION);
        return;
    }
    const uint32_t size = LoggedFileSize(target);
    const bool done = moveAside ? SetAsideJournaled(target, !LeaveMoveToLastFlush()) : SetAsideForRemoval(target);
    if (done || AskUntilDone(relative, SetAsideForRemoval, target)) LogFileAction(FileAction::kRemoved, relative, size);
}

void RemoveNow(const char*, const char* relative, bool listed) {
    if (!UpdateAborted()) RemoveOne(relative, listed ? kUnjournaled : kChanged, false);
}

void Choose(const char* target, const char* relative, bool listed) {
    const uint32_t length = uint32_t(std::strlen(relative)) + 1;
    if (g_Chosen.capacity - g_Chosen.used < length + 1) return RemoveNow(target, relative, listed);
    char* entry = g_Chosen.text + g_Chosen.used;
    entry[0] = !listed ? kChanged : JournalRemoval(target) ? kJournaled : kUnjournaled;
    std::memcpy(entry + 1, relative, length);
    g_Chosen.used += length + 1;
}

void VisitList(const char* text, uint32_t size, void (*visit)(const char* target, const char* relative, bool listed)) {
    const char* cursor = text;
    const char* end = text + size;
    RemoveLine line;
    bool more = NextRemoveLine(&cursor, end, &line);
    while (more) {
        // The lines of one file follow each other.
        char relative[kPathSize];
        char target[kPathSize];
        const bool fits = line.pathLength < kPathSize;
        if (fits) {
            std::memcpy(relative, line.path, line.pathLength);
            relative[line.pathLength] = '\0';
        }
        DeltaContent installedContent;
        const bool named = fits && IsPatchFilePath(relative) && CopyText(target, kPathSize, g_GameFolder) &&
                           AppendText(target, kPathSize, relative);
        const DWORD attributes = named ? GetFileAttributesA(target) : INVALID_FILE_ATTRIBUTES;
        const bool installed = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        const bool measured = installed && MeasureGameContent(target, &installedContent);
        bool listed = false;
        RemoveLine first = line;
        do {
            listed = listed || (measured && line.oldSize == installedContent.size && line.oldCrc == installedContent.crc);
            more = NextRemoveLine(&cursor, end, &line);
        } while (more && line.pathLength == first.pathLength &&
                 std::memcmp(line.path, first.path, first.pathLength) == 0);
        if (installed) visit(target, relative, listed);
    }
}

}  // namespace

void VisitRemovals(void (*visit)(const char* target, const char* relative, bool listed)) {
    uint32_t size = 0;
    char* text = LoadList(&size);
    if (!text) return;
    VisitList(text, size, visit);
    g_pDefaultPtrPool->Free(text);
}

void RemoveListedFiles() {
    uint32_t size = 0;
    char* text = LoadList(&size);
    if (!text) return;
    // Every removal's line first, flushed once; the moves then need no flush
    // of their own: the volume's flush before the commit covers them, or,
    // where the volume cannot be flushed whole, each is written through.
    g_Chosen.text = static_cast<char*>(g_pDefaultPtrPool->Alloc(size));
    g_Chosen.capacity = g_Chosen.text ? size : 0;
    g_Chosen.used = 0;
    // Without room for the list, each file is journaled and set aside in turn.
    VisitList(text, size, g_Chosen.text ? Choose : RemoveNow);
    g_pDefaultPtrPool->Free(text);
    const bool journaled = SecureJournal();
    for (uint32_t at = 0; at < g_Chosen.used && !UpdateAborted();) {
        const char* entry = g_Chosen.text + at;
        RemoveOne(entry + 1, entry[0], journaled && entry[0] == kJournaled);
        at += uint32_t(std::strlen(entry + 1)) + 2;
    }
    if (g_Chosen.text) g_pDefaultPtrPool->Free(g_Chosen.text);
    g_Chosen = Chosen{};
}
